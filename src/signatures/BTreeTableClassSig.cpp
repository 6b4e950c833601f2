#include "signatures/BTreeTableClassSig.h"

#include "signatures/Sig.h"

// The algorithm is compiled once here for the signature trees.
template class BTreeNode<NodeTypeSig, ItemTypeSig>;
template class BTreeTable<BTreeTableClassSig, NodeTypeSig>;

void BTreeTableClassSig::equalKeyOffered(ItemTypeSig& stored, std::unique_ptr<ItemTypeSig> offered) {
    if (stored.sig() != nullptr && offered->sig() != nullptr) stored.sig()->addToExtraExts(*offered->sig());
}
