#pragma once

// Builds small found-file trees for the result-screen tests the way a scan
// leaves them: a volume's root with folders and files, totals and deleted
// marks recomputed, deleted-child lists and direct arrays built.

#include "results/DisplayedTree.h"
#include "volume/TreeCleanup.h"
#include "volume/Volume.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ResultTreeBuilder {
    std::shared_ptr<Volume> volume = std::make_shared<Volume>();
    std::uint32_t nextID = 16;

    ResultTreeBuilder() { volume->createRoot(); }
    ~ResultTreeBuilder() {
        if (volume->dirRoot) volume->freeTree();
    }
    NewDir* root() const { return volume->dirRoot; }

    NewDir* folder(NewDir* parent, const std::string& name, bool deleted = false) {
        NewDir* n = newdir::allocate();
        n->fileType = NewDir::Folder;
        n->fileID = nextID++;
        n->parentID = parent->fileID;
        n->pndirPointer = parent;
        n->deleted = deleted ? 1 : 0;
        newdir::setFileName(n, newdir::utf16(name));
        newdir::appendChild(parent, n);
        return n;
    }
    NewDir* file(NewDir* parent, const std::string& name, std::uint64_t size, bool deleted = false) {
        NewDir* n = folder(parent, name, deleted);
        n->fileType = NewDir::File;
        n->fileSize = size;
        n->fileCount = 1;
        n->sectorsPerBlock = 1;
        return n;
    }
    // What the end of a scan does to the tree before it is shown.
    void finish() {
        TreeCleanup::rearrangeTreeFromDir(root());
        TreeCleanup::rearrangeDeletedTree(root());
        newdir::fillChildrenDirectArrays(root());
    }
    // Shows the tree as the end of a scan does: outline items for every
    // node, the volume's root as the outline's root.
    void show(DisplayedTree& tree) {
        tree.setVolume(volume);
        tree.showVolumeRoot();
        tree.generateViewHelperFor(tree.dirRootTemp(), nullptr);
    }
};

inline std::vector<std::string> shownNames(const NewDir* folder) {
    std::vector<std::string> names;
    for (const NewDir* c : folder->childList) {
        const NewDirViewHelper* item = NewDirViewHelper::of(c);
        names.push_back(item ? item->fileName() : newdir::utf8(newdir::fileName(c)));
    }
    return names;
}
