#pragma once

// The tree operations of the result screens and the session code. They are
// the scan's operations (Volume) over the same records, except that they
// serve a finished tree: children are read from the direct arrays that the
// end of a scan builds, appending can keep those arrays in step, and freeing
// also lets the arrays go.

#include "volume/NewDir.h"

#include <cstdint>
#include <string>
#include <string_view>

class ViewingTreeOperations {
public:
    static std::u16string fileNameOfDir(const NewDir* node) { return newdir::fileName(node); }
    static void setFileName(std::u16string_view name, NewDir* ofDir) { newdir::setFileName(ofDir, name); }
    static std::u16string pathNameOfDir(const NewDir* node) { return newdir::pathName(node); }
    static void setPathName(std::u16string_view path, NewDir* ofDir) { newdir::setPathName(ofDir, path); }
    static bool addDataExtStartBlock(std::uint64_t startBlock, std::uint64_t blockCount, NewDir* toDir) {
        return newdir::appendDataExtent(toDir, startBlock, blockCount);
    }

    // Entry index of the direct array; nullptr when index is not below the
    // child count. A folder whose direct array was never built (or has
    // fallen behind its list) is answered from the list.
    static NewDir* childAtIndex_(std::uint32_t index, const NewDir* ofDir);
    // The list itself, as the scan reads it.
    static NewDir* childAtIndexOrig_(std::uint32_t index, const NewDir* ofDir);
    static NewDir* childAtIndexDeleted_(std::uint32_t index, const NewDir* ofDir);
    // A folder's children as childAtIndex_ reads them: the list the result
    // screens' walks of the tree go along.
    struct ShownChildren {
        const NewDir* folder;
        std::uint32_t size() const { return folder->childrenArrayCount(); }
        NewDir* operator[](std::uint32_t index) const { return childAtIndex_(index, folder); }
    };
    static ShownChildren shownChildren(const NewDir* folder) { return {folder}; }

    // Appends to the list; with forViewingTree the direct array grows too.
    static void addChild(NewDir* child, bool forViewingTree, NewDir* toDir);
    static void addChildDeletedArray(NewDir* child, bool forViewingTree, NewDir* toDir);
    // Exchanges the child and deleted-child lists with their direct arrays.
    static void swapChildrenArrayOfDir(NewDir* folder) { newdir::swapChildLists(folder); }

    // Frees the node with its subtree and clears the reference; a folder
    // still showing deleted entries only loses none of its other children.
    static void freeNDir(NewDir*& node);
    // Frees only the node (its buffers, list cells and direct arrays), not
    // the nodes its lists name, and clears the reference: the folders of the
    // file-types view list files that belong to the volume's tree.
    static void freeOnlyFileTypesNDir(NewDir*& node);

    // Marked nodes anywhere below the folder (0 when it has no entries below).
    static std::uint32_t childrenSelectedOfDir(const NewDir* folder);
    static std::uint32_t countChildrenSelectedInArray(const NodeList& list, std::uint32_t length);
};
