#include "results/CheckController.h"

#include <algorithm>

namespace {

bool anyChildMarked(const NewDir* folder) {
    return std::any_of(folder->childList.begin(), folder->childList.end(),
                       [](const NewDir* c) { return c && c->selected == 1; });
}

} // namespace

void CheckController::setSelected() {
    NewDir* node = hdir_;
    if (!node || (flag_ != 0 && flag_ != 1)) return;
    if (flag_ == 1) {
        node->selected = 1;
        for (NewDir* a = node->pndirPointer; a; a = a->pndirPointer)
            a->selected = 1;
        if (node->childrenCount != 0) markAllChildrenDirArray(node->childList, node->childrenArrayCount(), 1);
        return;
    }
    node->selected = 0;
    if (node->childrenCount != 0) markAllChildrenDirArray(node->childList, node->childrenArrayCount(), 0);
    // Every ancestor of a marked node is marked, so a folder holds a marked
    // node somewhere below it exactly when one of its own children is
    // marked: looking at the children answers the question without walking
    // each ancestor's whole subtree again. Once an ancestor keeps its mark,
    // every folder above it holds that same marked node and keeps its own.
    for (NewDir* a = node->pndirPointer; a; a = a->pndirPointer) {
        if (anyChildMarked(a)) break;
        a->selected = 0;
    }
}

void CheckController::markAllChildrenDirArray(const NodeList& list, std::uint32_t length, std::uint8_t value) {
    for (std::size_t i = 0; i < std::min<std::size_t>(length, list.size()); ++i)
        newdir::preOrder(list[i], newdir::childList, newdir::anyChild, [value](NewDir* n) {
            n->selected = value;
            return n->childrenCount != 0 ? newdir::Walk::Into : newdir::Walk::Skip;
        });
}
