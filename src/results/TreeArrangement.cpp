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
    // Files in walk order, so each type's folder lists them as the tree does.
    newdir::preOrder(node, ViewingTreeOperations::shownChildren, newdir::anyChild, [&](NewDir* n) {
        if (n == node || n->fileType == NewDir::Folder) return newdir::Walk::Into;
        if (n->fileType == NewDir::File) addFileToExtensionFolder(n);
        return newdir::Walk::Skip;
    });
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
    const std::uint8_t flag = showDeletedOnly ? 1 : 0;
    // Once visited, a folder's full list stands in the deleted-child place
    // when switching on and back in the child list when switching off; a
    // child not yet visited still has it in the other place.
    auto fullList = [showDeletedOnly](const NewDir* n) -> const NodeList& {
        return showDeletedOnly ? n->deletedList : n->childList;
    };
    auto hasEntries = [showDeletedOnly](const NewDir* c) {
        return showDeletedOnly ? c->childrenArrayCount() != 0 : c->deletedCount() != 0;
    };
    newdir::preOrder(node, fullList, hasEntries, [flag](NewDir* n) {
        if (n->deletedViewActive != flag) ViewingTreeOperations::swapChildrenArrayOfDir(n);
        n->deletedViewActive = flag;
    });
}

void TreeArrangement::rearrangeDeletedTree(NewDir* node, bool forViewingTree) {
    auto walk = [&](auto list) {
        newdir::preOrder(node, list, newdir::folderChild, [&](NewDir* f) {
            auto&& children = list(f);
            for (std::uint32_t i = 0; i < children.size(); ++i)
                if (NewDir* c = children[i]; c && c->deleted == 1)
                    ViewingTreeOperations::addChildDeletedArray(c, forViewingTree, f);
        });
    };
    if (forViewingTree)
        walk(ViewingTreeOperations::shownChildren);
    else
        walk(newdir::childList);
}
