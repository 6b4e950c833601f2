#include "results/ViewingTreeOperations.h"

#include "results/NewDirViewHelper.h"

NewDir* ViewingTreeOperations::childAtIndex_(std::uint32_t index, const NewDir* ofDir) {
    return ofDir ? newdir::shownChildAtIndex(ofDir, index) : nullptr;
}

NewDir* ViewingTreeOperations::childAtIndexOrig_(std::uint32_t index, const NewDir* ofDir) {
    return ofDir ? newdir::childAtIndex(ofDir, index) : nullptr;
}

NewDir* ViewingTreeOperations::childAtIndexDeleted_(std::uint32_t index, const NewDir* ofDir) {
    if (!ofDir || index >= ofDir->deletedCount()) return nullptr;
    if (index < ofDir->deletedChildrenDirect.size()) return ofDir->deletedChildrenDirect[index];
    return newdir::deletedChildAtIndex(ofDir, index);
}

void ViewingTreeOperations::addChild(NewDir* child, bool forViewingTree, NewDir* toDir) {
    newdir::appendChild(toDir, child);
    if (!forViewingTree) return;
    // Grown in place: one append, not a new array per child.
    toDir->childrenDirect.push_back(child);
}

void ViewingTreeOperations::addChildDeletedArray(NewDir* child, bool forViewingTree, NewDir* toDir) {
    newdir::appendDeletedChild(toDir, child);
    if (!forViewingTree) return;
    toDir->deletedChildrenDirect.push_back(child);
}

void ViewingTreeOperations::freeNDir(NewDir*& node) {
    // The deleted-child list names a part of the child list, and the
    // deleted-files view exchanges the two: whichever of a folder's lists is
    // the longer one is its full list, so a folder still shown with deleted
    // entries only loses none of its other children here.
    auto fullList = [](const NewDir* n) -> const NodeList& {
        return n->childList.size() >= n->deletedList.size() ? n->childList : n->deletedList;
    };
    newdir::postOrder(
        node, fullList, newdir::anyChild, [](NewDir*) {}, [](NewDir* n) { delete n; });
    node = nullptr;
}

void ViewingTreeOperations::freeOnlyFileTypesNDir(NewDir*& node) {
    delete node;
    node = nullptr;
}

std::uint32_t ViewingTreeOperations::childrenSelectedOfDir(const NewDir* folder) {
    if (!folder || folder->childrenCount == 0) return 0;
    return countChildrenSelectedInArray(folder->childList, folder->childrenArrayCount());
}

std::uint32_t ViewingTreeOperations::countChildrenSelectedInArray(const NodeList& list, std::uint32_t length) {
    return NewDirViewHelper::countChildrenSelectedInArray(list, length);
}
