#include "results/TreeArrangement.h"

#include "results/CaseInsensitiveText.h"
#include "results/ViewingTreeOperations.h"
#include "volume/Volume.h"

#include <algorithm>

namespace {

void switchTo(NewDir* root, bool deletedOnly) {
    if (root->deletedViewActive != (deletedOnly ? 1 : 0)) TreeArrangement::arrangeTreeForDeleted(root, deletedOnly);
    root->deletedViewActive = deletedOnly ? 1 : 0;
}

} // namespace

bool TreeArrangement::prepareTree(Toggle sender) {
    bool fileTypes = tree_.view().fileTypes;
    bool deletedOnly = tree_.view().deletedOnly;
    if (sender == Toggle::FileTypes)
        fileTypes = !fileTypes;
    else if (sender == Toggle::Deleted)
        deletedOnly = !deletedOnly;
    else
        return false;

    std::shared_ptr<Volume> volume = tree_.volume();
    NewDir* volumeRoot = volume ? volume->dirRoot : nullptr;
    if (!volumeRoot) return false;

    NewDir* chosen = nullptr;
    if (!fileTypes && !deletedOnly) {
        switchTo(volumeRoot, false);
        chosen = volumeRoot;
    } else if (!fileTypes) {
        if (!tree_.dirRootDeleted) {
            switchTo(volumeRoot, true);
            tree_.dirRootDeleted = volumeRoot;
        }
        switchTo(tree_.dirRootDeleted, true);
        chosen = tree_.dirRootDeleted;
    } else if (!deletedOnly) {
        if (!tree_.dirRootFileTypes) buildFileTypesArrangement();
        switchTo(tree_.dirRootFileTypes, false);
        chosen = tree_.dirRootFileTypes;
    } else {
        if (!tree_.dirRootFileTypesDeleted) {
            if (!tree_.dirRootFileTypes) buildFileTypesArrangement();
            switchTo(tree_.dirRootFileTypes, true);
            tree_.dirRootFileTypesDeleted = tree_.dirRootFileTypes;
        }
        switchTo(tree_.dirRootFileTypesDeleted, true);
        chosen = tree_.dirRootFileTypesDeleted;
    }
    // Nodes shared by several arrangements point at their parents in the one
    // shown, and the folders' totals and marks describe what it lists.
    DisplayedTree::setParents(chosen);
    tree_.setView({fileTypes, deletedOnly});
    tree_.setDirRootTemp(chosen);
    return true;
}

std::string TreeArrangement::title(Toggle toggle, DisplayedTree::View view) {
    if (toggle == Toggle::FileTypes) return view.fileTypes ? kDataView : kFileTypesView;
    if (toggle == Toggle::Deleted) return view.deletedOnly ? kShowAll : kShowDeleted;
    return {};
}

std::string TreeArrangement::image(Toggle toggle, DisplayedTree::View view) {
    if (toggle == Toggle::FileTypes) return view.fileTypes ? "data_View" : "file_Types_View";
    if (toggle == Toggle::Deleted) return view.deletedOnly ? "folder_Select" : "folder_Delete";
    return {};
}

void TreeArrangement::buildFileTypesArrangement() {
    std::shared_ptr<Volume> volume = tree_.volume();
    NewDir* volumeRoot = volume ? volume->dirRoot : nullptr;
    if (!volumeRoot) return;
    // The grouping must see every file: the volume's tree goes back to all
    // entries first.
    switchTo(volumeRoot, false);

    NewDir* root = newdir::allocate();
    root->fileType = NewDir::Folder;
    root->fileID = 2;
    root->parentID = 1;
    newdir::setFileName(root, u"Root");
    newdir::setPathName(root, u"1");
    tree_.arrayDirFileTypesHelper.push_back(NewDirViewHelper::initWithNewDir(root));
    tree_.dirRootFileTypes = root;
    dictFileTypesExtensions.clear();
    arrayFileTypeExtension.clear();

    arrangeTreeForFileTypes(volumeRoot);
    rearrangeFileTypesTreeInAplhaNumOrder();

    dictFileTypesExtensions.clear();
    arrayFileTypeExtension.clear();
}

void TreeArrangement::arrangeTreeForFileTypes(NewDir* node) {
    if (!node) return;
    struct Level {
        NewDir* folder;
        std::uint32_t count;
        std::uint32_t next;
    };
    // Each folder's child count is read once, when the walk enters it.
    std::vector<Level> pending{{node, node->childrenArrayCount(), 0}};
    while (!pending.empty()) {
        Level& level = pending.back();
        if (level.next >= level.count) {
            pending.pop_back();
            continue;
        }
        NewDir* child = ViewingTreeOperations::childAtIndex_(level.next++, level.folder);
        if (!child) continue;
        if (child->fileType == NewDir::Folder)
            pending.push_back({child, child->childrenArrayCount(), 0});
        else if (child->fileType == NewDir::File)
            addFileToExtensionFolder(child);
    }
}

void TreeArrangement::addFileToExtensionFolder(NewDir* file) {
    const NewDirViewHelper* item = NewDirViewHelper::of(file);
    if (!item || item->extension().empty()) return; // a name ending in "." has no type to list it under
    const std::string& extension = item->extension();
    NewDir* folder;
    if (auto it = dictFileTypesExtensions.find(extension); it != dictFileTypesExtensions.end()) {
        folder = it->second->newDir();
    } else {
        folder = newdir::allocate();
        folder->fileType = NewDir::Folder;
        folder->pndirPointer = tree_.dirRootFileTypes;
        std::unique_ptr<NewDirViewHelper> helper = NewDirViewHelper::initWithNewDir(folder, true);
        helper->setFileName(extension);
        dictFileTypesExtensions.emplace(extension, helper.get());
        tree_.arrayDirFileTypesHelper.push_back(std::move(helper));
        arrayFileTypeExtension.push_back(extension);
    }
    file->pndirPointer = folder;
    folder->fileCount += 1;
    folder->childrenCount += 1;
    folder->fileSize += file->fileSize;
    ViewingTreeOperations::addChild(file, true, folder);
    if (file->deleted == 1) {
        ViewingTreeOperations::addChildDeletedArray(file, true, folder);
        for (NewDir* n = folder; n; n = n->pndirPointer)
            n->deleted = 1;
    }
    if (file->selected == 1) folder->selected = 1;
}

void TreeArrangement::rearrangeFileTypesTreeInAplhaNumOrder() {
    NewDir* root = tree_.dirRootFileTypes;
    if (!root) return;
    std::vector<std::string> order = arrayFileTypeExtension;
    // Extensions equal but for case keep the order of their first files.
    std::stable_sort(order.begin(), order.end(),
                     [](const std::string& a, const std::string& b) { return CaseInsensitiveText::compare(a, b) < 0; });
    for (const std::string& extension : order) {
        auto it = dictFileTypesExtensions.find(extension);
        if (it == dictFileTypesExtensions.end()) continue;
        NewDir* folder = it->second->newDir();
        ViewingTreeOperations::addChild(folder, true, root);
        root->fileCount += folder->fileCount;
        root->fileSize += folder->fileSize;
        root->childrenCount += folder->childrenArrayCount() + 1;
        if (folder->deleted == 1) {
            root->deleted = 1;
            ViewingTreeOperations::addChildDeletedArray(folder, true, root);
        }
    }
}

NewDir* TreeArrangement::arrangeTreeForDeleted(NewDir* node, bool showDeletedOnly) {
    recurseTreeForDeleted(node, showDeletedOnly);
    return node;
}

void TreeArrangement::recurseTreeForDeleted(NewDir* node, bool showDeletedOnly) {
    if (!node) return;
    const std::uint8_t flag = showDeletedOnly ? 1 : 0;
    std::vector<NewDir*> pending{node};
    while (!pending.empty()) {
        NewDir* n = pending.back();
        pending.pop_back();
        if (n->deletedViewActive != flag) ViewingTreeOperations::swapChildrenArrayOfDir(n);
        n->deletedViewActive = flag;
        if (showDeletedOnly) {
            // The full list now stands in the deleted-child place.
            for (NewDir* c : n->deletedList)
                if (c && c->childrenArrayCount() != 0) pending.push_back(c);
        } else {
            // A child still switched holds its full list in the deleted-child
            // place.
            for (NewDir* c : n->childList)
                if (c && c->deletedCount() != 0) pending.push_back(c);
        }
    }
}

void TreeArrangement::rearrangeDeletedTree(NewDir* node, bool forViewingTree) {
    if (!node) return;
    std::vector<NewDir*> pending{node};
    while (!pending.empty()) {
        NewDir* f = pending.back();
        pending.pop_back();
        const std::uint32_t count = f->childrenArrayCount();
        auto childAt = [&](std::uint32_t i) {
            return forViewingTree ? ViewingTreeOperations::childAtIndex_(i, f)
                                  : ViewingTreeOperations::childAtIndexOrig_(i, f);
        };
        for (std::uint32_t i = 0; i < count; ++i)
            if (NewDir* c = childAt(i); c && c->deleted == 1)
                ViewingTreeOperations::addChildDeletedArray(c, forViewingTree, f);
        for (std::uint32_t i = count; i-- > 0;)
            if (NewDir* c = childAt(i); c && c->fileType == NewDir::Folder) pending.push_back(c);
    }
}
