#include "volume/BTreeTableClass.h"

// The algorithm is compiled once here for the node-ID index.
template class BTreeNode<NodeType, ItemType>;
template class BTreeTable<BTreeTableClass, NodeType>;
