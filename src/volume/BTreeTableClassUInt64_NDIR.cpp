#include "volume/BTreeTableClassUInt64_NDIR.h"

// The algorithm is compiled once here for the address-to-folder map.
template class BTreeNode<NodeTypeUInt64_NDIR, ItemTypeUInt64_NDIR>;
template class BTreeTable<BTreeTableClassUInt64_NDIR, NodeTypeUInt64_NDIR>;
