#pragma once

// The four arrangements of the result screen: the volume's own folders or
// one folder per extension (the file-types view), each with all entries or
// with deleted entries only. The file-types arrangement is built once per
// shown tree and reuses the found files and their outline items; switching
// to and from deleted entries only exchanges each folder's child list with
// its deleted-child list in place. The arrangement on display is the
// tree's view; the two toggle buttons' titles are drawn from it, each naming
// the view that a press switches to.

#include "results/DisplayedTree.h"

#include <string>
#include <unordered_map>
#include <vector>

class TreeArrangement {
public:
    // The toggles' titles (two blanks in "Data  View" and "Show  All").
    static constexpr const char* kFileTypesView = "File Types View";
    static constexpr const char* kDataView = "Data  View";
    static constexpr const char* kShowDeleted = "Show Deleted";
    static constexpr const char* kShowAll = "Show  All";

    enum class Toggle { FileTypes, Deleted, Other };

    explicit TreeArrangement(DisplayedTree& tree) : tree_(tree) {}

    // Makes the arrangement that a press of the sender asks for from the one
    // on display, sets the tree's view and its dirRootTemp to the new root
    // and recounts it. False (nothing changed) for another sender or a tree
    // without a root.
    bool prepareTree(Toggle sender);
    // The title and the picture a toggle shows while the view is on display.
    static std::string title(Toggle toggle, DisplayedTree::View view);
    static std::string image(Toggle toggle, DisplayedTree::View view);

    // The file-types arrangement of the volume's tree: its root, one folder
    // per extension under it in case-insensitive order.
    void buildFileTypesArrangement();
    // Files go into the folder of their extension, in the order of the walk.
    void arrangeTreeForFileTypes(NewDir* node);
    void rearrangeFileTypesTreeInAplhaNumOrder();

    // Switches the subtree between all entries (false) and deleted entries
    // only (true); returns the node.
    static NewDir* arrangeTreeForDeleted(NewDir* node, bool showDeletedOnly);
    static void recurseTreeForDeleted(NewDir* node, bool showDeletedOnly);
    // Fills each folder's deleted-child list from its children's deleted
    // bytes (a tree read from a session or snapshot file); with
    // forViewingTree the children come from, and go into, the direct arrays.
    static void rearrangeDeletedTree(NewDir* node, bool forViewingTree);

private:
    void addFileToExtensionFolder(NewDir* file);

    DisplayedTree& tree_;
    std::unordered_map<std::string, NewDirViewHelper*> dictFileTypesExtensions;
    std::vector<std::string> arrayFileTypeExtension;
};
