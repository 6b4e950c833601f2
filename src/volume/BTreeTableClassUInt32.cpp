#include "volume/BTreeTableClassUInt32.h"

// The algorithm is compiled once here for the counted 64-bit set.
template class BTreeNode<NodeTypeUInt32, ItemTypeUInt32>;
template class BTreeTable<BTreeTableClassUInt32, NodeTypeUInt32>;
