#include "volume/BTreeTableClassOrph.h"

// The algorithm is compiled once here for the orphan index.
template class BTreeNode<NodeTypeOrph, ItemTypeOrph>;
template class BTreeTable<BTreeTableClassOrph, NodeTypeOrph>;
