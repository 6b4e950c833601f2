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

void CheckController::markAllChildrenDirArray(const std::vector<NewDir*>& list, std::uint32_t length,
                                              std::uint8_t value) {
    struct Level {
        const std::vector<NewDir*>* list;
        std::size_t length;
        std::size_t next;
    };
    std::vector<Level> pending{{&list, std::min<std::size_t>(length, list.size()), 0}};
    while (!pending.empty()) {
        Level& level = pending.back();
        if (level.next >= level.length) {
            pending.pop_back();
            continue;
        }
        NewDir* node = (*level.list)[level.next++];
        if (!node) continue;
        node->selected = value;
        if (node->childrenCount != 0)
            pending.push_back(
                {&node->childList, std::min<std::size_t>(node->childrenArrayCount(), node->childList.size()), 0});
    }
}
