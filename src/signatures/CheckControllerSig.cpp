#include "signatures/CheckControllerSig.h"

void CheckControllerSig::setSelected() {
    SigNode* node = sigNode_.get();
    if (!node || (flag_ != 0 && flag_ != 1)) return;
    if (flag_ == 1) {
        node->selected = 1;
        for (auto a = node->parent(); a; a = a->parent())
            a->selected = 1;
        markAllChildrenSigArray(node->children(), 1);
        return;
    }
    node->selected = 0;
    markAllChildrenSigArray(node->children(), 0);
    // Every ancestor is looked at, also above one that keeps its mark: a
    // list read from a file may hold marks that break the rule.
    for (auto a = node->parent(); a; a = a->parent())
        if (a->childrenSelected() == 0) a->selected = 0;
}

void CheckControllerSig::markAllChildrenSigArray(const std::vector<std::shared_ptr<SigNode>>& nodes,
                                                 std::uint8_t value) {
    // A list is two levels deep; a deeper one is bounded by the
    // unarchiver's nesting limit.
    for (const auto& n : nodes) {
        if (!n) continue;
        n->selected = value;
        markAllChildrenSigArray(n->children(), value);
    }
}
