#include "results/DisplayedTree.h"

#include "results/ResultText.h"
#include "results/TreeArrangement.h"
#include "results/ViewingTreeOperations.h"
#include "volume/Volume.h"

#include <algorithm>

DisplayedTree::~DisplayedTree() {
    releaseFileTypesArrangement();
}

void DisplayedTree::showVolumeRoot() {
    view_ = View{};
    dirRootFileTypes = nullptr;
    dirRootFileTypesDeleted = nullptr;
    dirRootDeleted = nullptr;
    setDirRootTemp(volume_ ? volume_->dirRoot : nullptr);
}

void DisplayedTree::generateViewHelperFor(NewDir* node, NewDir* parent) {
    if (!node) return;
    std::unique_ptr<NewDirViewHelper> top = NewDirViewHelper::initWithNewDir(node);
    if (!parent) {
        dirRootHelper_ = std::move(top);
    } else {
        node->pndirPointer = parent;
        NewDirViewHelper* parentHelper = NewDirViewHelper::of(parent);
        if (!parentHelper) return;
        if (!parentHelper->hasChildrenArray()) parentHelper->initChildrenArray();
        parentHelper->childrenArray().push_back(std::move(top));
    }
    // Each folder's items are made, and listed, in the order of its list.
    newdir::preOrder(
        node, newdir::childList, [](const NewDir* c) { return c->childrenArrayCount() != 0; },
        [](NewDir* n) {
            NewDirViewHelper* helper = NewDirViewHelper::of(n);
            for (NewDir* c : n->childList) {
                if (!c) continue;
                c->pndirPointer = n;
                if (!helper->hasChildrenArray()) helper->initChildrenArray();
                helper->childrenArray().push_back(NewDirViewHelper::initWithNewDir(c));
            }
        });
}

void DisplayedTree::setParents(NewDir* node) {
    // Each folder is zeroed and counts its direct children as the walk
    // enters it, and is folded into its parent as the walk leaves it: every
    // folder ends with the sums over everything listed below it, as if each
    // file had been added to every folder above it, without walking up once
    // per file. The parent links are set on the way down.
    newdir::postOrder(
        node, newdir::childList, newdir::folderChild,
        [](NewDir* f) {
            f->fileSize = 0;
            f->fileCount = 0;
            f->childrenCount = 0;
            for (NewDir* c : f->childList) {
                if (!c) continue;
                c->pndirPointer = f;
                if (c->fileType == NewDir::File) {
                    f->fileSize += c->fileSize;
                    f->fileCount += 1;
                    f->childrenCount += 1;
                } else if (c->fileType == NewDir::Folder) {
                    f->childrenCount += 1;
                }
            }
        },
        [node](NewDir* f) {
            // Every folder below this one is final by now.
            if (!f->childList.empty()) {
                f->selected = std::any_of(f->childList.begin(), f->childList.end(),
                                          [](const NewDir* c) { return c && c->selected == 1; })
                                  ? 1
                                  : 0;
            } else if (!f->deletedList.empty()) {
                // Its entries are only hidden by the deleted-files view;
                // nothing shown below it is marked.
                f->selected = 0;
            }
            if (f == node) return;
            NewDir* p = f->pndirPointer;
            p->fileSize += f->fileSize;
            p->fileCount += f->fileCount;
            p->childrenCount += f->childrenCount;
        });
}

void DisplayedTree::countMarkedDataAndFiles() {
    markedData = 0;
    markedFiles = 0;
    newdir::preOrder(dirRootTemp(), newdir::childList, newdir::anyChild, [&](const NewDir* n) {
        if (n->selected == 1 && n->fileType == NewDir::File) {
            markedData += n->fileSize;
            markedFiles += 1;
        }
        return n->childrenCount != 0 ? newdir::Walk::Into : newdir::Walk::Skip;
    });
}

std::uint32_t DisplayedTree::childrenSelectedOfDir(const NewDir* folder) {
    return ViewingTreeOperations::childrenSelectedOfDir(folder);
}

int DisplayedTree::markState(const NewDir* node) {
    if (!node) return 2;
    if (node->childrenCount < 1) {
        if (node->fileType == NewDir::File || node->fileType == NewDir::Folder) return node->selected;
        return 2;
    }
    // The marked nodes below, counted until the answer is certain: once a
    // marked and an unmarked node have both been met the box is mixed, so a
    // big folder's row does not walk its whole subtree on every repaint.
    std::uint64_t marked = 0;
    bool unmarkedSeen = false;
    const bool mixed = !newdir::preOrder(node, newdir::childList, newdir::anyChild, [&](const NewDir* n) {
        if (n == node) return newdir::Walk::Into;
        if (n->selected == 1)
            ++marked;
        else
            unmarkedSeen = true;
        if (marked > 0 && unmarkedSeen && marked < node->childrenCount) return newdir::Walk::Stop;
        return newdir::Walk::Into;
    });
    if (mixed) return -1;
    if (marked >= node->childrenCount) return 1;
    return marked == 0 ? 0 : -1;
}

bool DisplayedTree::hasMarkState(const NewDir* node) {
    return node && (node->childrenCount >= 1 || node->fileType == NewDir::File || node->fileType == NewDir::Folder);
}

std::string DisplayedTree::totalDataText() const {
    const NewDir* root = dirRootTemp();
    return ResultText::dataInFilesString(root ? root->fileSize : 0, root ? root->fileCount : 0);
}

std::string DisplayedTree::markedDataText() const {
    return ResultText::dataInFilesString(markedData, markedFiles);
}

void DisplayedTree::returnTree() {
    if (!view_.deletedOnly) return;
    NewDir* root = volume_ ? volume_->dirRoot : nullptr;
    if (root && root->deletedViewActive == 1) {
        TreeArrangement::arrangeTreeForDeleted(root, false);
        root->deletedViewActive = 0;
    }
}

void DisplayedTree::releaseFileTypesArrangement() {
    // Every folder of the arrangement (its root and one per extension) has
    // its item here, whichever of its lists the deleted-files view shows.
    for (auto& helper : arrayDirFileTypesHelper) {
        NewDir* folder = helper ? helper->newDir() : nullptr;
        if (folder) ViewingTreeOperations::freeOnlyFileTypesNDir(folder);
    }
    arrayDirFileTypesHelper.clear();
    dirRootFileTypes = nullptr;
    dirRootFileTypesDeleted = nullptr;
}

void DisplayedTree::freeTreeNodes() {
    setDirRootTemp(nullptr);
    releaseFileTypesArrangement();
    if (volume_) {
        NewDir* root = volume_->dirRoot;
        // A root without children is freed too; ViewingTreeOperations frees
        // a folder's full list even while the deleted-files view shows it.
        ViewingTreeOperations::freeNDir(root);
        volume_->dirRoot = nullptr;
        volume_->freeTree();
    }
    dirRootDeleted = nullptr;
    dirRootHelper_.reset();
    volume_.reset();
    view_ = View{};
}
