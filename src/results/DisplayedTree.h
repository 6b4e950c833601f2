#pragma once

// The found-file tree as the result screen shows it: which node is shown as
// the outline's root, the outline items of every node, the arrangements made
// for the file-types and deleted-files views, and the marked totals. It holds
// no widget, so it runs without a display; the program's result screen
// drives it and draws from it.
//
// Threads: the main thread shows the tree and edits marks; one worker at a
// time rearranges or frees it while the outline is detached from it.

#include "results/NewDirViewHelper.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Volume;

class DisplayedTree {
public:
    DisplayedTree() = default;
    // Lets go of the outline items and of the file-types arrangement's own
    // folders; the found files belong to the volume, whose owner frees them
    // (freeTreeNodes).
    ~DisplayedTree();
    DisplayedTree(const DisplayedTree&) = delete;
    DisplayedTree& operator=(const DisplayedTree&) = delete;

    // --- what is shown ---
    // Which of the four arrangements is on display: the volume's folders or
    // one folder per extension, each with all entries or deleted ones only.
    // The toggles' titles are drawn from it, never read back.
    struct View {
        bool fileTypes = false;
        bool deletedOnly = false;
    };
    View view() const { return view_; }
    void setView(View v) { view_ = v; }

    std::shared_ptr<Volume> volume() const { return volume_; }
    void setVolume(std::shared_ptr<Volume> v) { volume_ = std::move(v); }
    // The node shown as the outline's root: the volume's root or the root of
    // the file-types arrangement; nullptr while nothing is shown.
    NewDir* dirRootTemp() const { return dirRootTemp_.load(std::memory_order_acquire); }
    void setDirRootTemp(NewDir* root) { dirRootTemp_.store(root, std::memory_order_release); }
    NewDirViewHelper* dirRootHelper() const { return dirRootHelper_.get(); }

    // Roots of the arrangements the view toggles made for this tree;
    // nullptr until made.
    NewDir* dirRootFileTypes = nullptr;
    NewDir* dirRootDeleted = nullptr;
    NewDir* dirRootFileTypesDeleted = nullptr;
    // The items of the file-types root and of every extension folder.
    std::vector<std::unique_ptr<NewDirViewHelper>> arrayDirFileTypesHelper;

    // A fresh scan's tree: the volume's root shown in the folder view with
    // all entries, no arrangement made yet.
    void showVolumeRoot();

    // Makes the outline items of the node's subtree; the root's item becomes
    // dirRootHelper, every other item goes into its parent's childrenArray.
    // Each child's parent pointer is set to the folder it is listed in, so
    // the items and the parent pointers describe the same tree.
    void generateViewHelperFor(NewDir* node, NewDir* parent);

    // Parent pointers, sizes, counts and folder marks of the subtree as it
    // is now arranged. A folder is marked exactly when something listed
    // below it is marked; a folder with nothing below it in any view keeps
    // its own mark, one whose entries are only hidden by the view has none.
    static void setParents(NewDir* node);

    // --- marks ---
    // Marked files and their bytes under dirRootTemp (marked folders count
    // nothing themselves).
    void countMarkedDataAndFiles();
    std::uint64_t markedData = 0;
    std::uint32_t markedFiles = 0;
    static std::uint32_t childrenSelectedOfDir(const NewDir* folder);
    // 1 on, 0 off, -1 mixed, as the "Mark" check box shows the node; 2 for a
    // node of another kind without entries below (no value).
    static int markState(const NewDir* node);
    // Whether the node has a mark state at all (markState is not 2).
    static bool hasMarkState(const NewDir* node);
    // The totals' texts: "%@ in %@ Files" for the shown root and for what
    // is marked.
    std::string totalDataText() const;
    std::string markedDataText() const;

    // --- going back ---
    // Undoes the deleted-only arrangement of the volume's tree while deleted
    // entries only are on display.
    void returnTree();
    // Frees the file-types arrangement, the volume's whole found-file tree
    // and every outline item, and forgets every root, the view and the
    // volume (which lives on with its other owners, without a tree).
    void freeTreeNodes();

private:
    void releaseFileTypesArrangement();

    std::shared_ptr<Volume> volume_;
    View view_;
    std::atomic<NewDir*> dirRootTemp_{nullptr};
    std::unique_ptr<NewDirViewHelper> dirRootHelper_;
};
