#pragma once

// The passes that place parked catalog entries: folders and files that a
// reader met before (or without ever meeting) their parent folder, parked in
// an orphan index keyed by their own ID.
//
//  - The plain pass over btreeOrph puts each entry under its parent when the
//    parent is parked too or is in the tree by then; a file whose parent is
//    found nowhere goes into "Lost Files".
//  - The first advanced pass over btreeOrphAdvScanEntries puts an entry only
//    under a parked folder of that same index.
//  - The second advanced pass places the rest of that index: a folder under a
//    recreated parent "LostFolder<parent ID>" inside "Lost Folders", a file
//    that looks real into "Lost Files". The normal scan runs both advanced
//    passes over what its plain pass left when its catalog walk lost nodes
//    to the medium.
//
// Parent links come from the medium and may name the entry itself or one of
// its own descendants. An entry is never put under such a parent (the parent
// counts as not found), nor under a file, so the parent links of the found
// tree never close into a ring and every climb up them ends.
//
// A parked entry belongs to nobody until a pass attaches it. What the last
// pass over an index leaves unplaced is freed (with everything attached below
// it) and forgotten by every index that still names it, so nothing leaks and
// nothing points at a freed node.

#include "hfsplus/HFSPlusReaderState.h"

#include <cstdint>
#include <unordered_set>
#include <vector>

class Volume;
struct NewDir;
class BTreeTableClassOrph;
class NodeTypeOrph;
class ItemTypeOrph;

class OrphanEntries {
public:
    explicit OrphanEntries(HFSPlusReaderState& state) noexcept : volume_(state.volume), state_(state) {}

    // The plain pass over what the normal scan's catalog walk parked. Where
    // the walk could not read catalog nodes, a folder whose parent's record
    // went with them is not left out with everything below it: the last
    // advanced pass places it under a recreated parent in "Lost Folders".
    void processCatalogWalkOrphans();
    // Makes "Lost Folders" under the root, where the last advanced pass puts
    // the folders whose parents are found nowhere.
    void makeLostFolders();

    // The plain pass over btreeOrph. With increment, placing an entry adds it
    // to the volume's counters (the advanced scan); without, the reader that
    // parked it has counted it already. The second argument is kept on the
    // index and read by nobody.
    void processOrphanEntriesWithIncrement(bool increment, bool showVolNameOnly);
    // Walks the subtree of the index below node: a node's items in slot
    // order, then its branches one after the other.
    void iterateBtreeOrphBranch(NodeTypeOrph* node);
    void processThisOrphanEntry(ItemTypeOrph* item);

    // The first advanced pass over btreeOrphAdvScanEntries.
    void processOrphanAdvScanEntriesWithIncrement(bool increment, bool showVolNameOnly);
    void iterateBtreeOrphAdvScanBranch(NodeTypeOrph* node);
    void processThisOrphanEntryAdvScan(ItemTypeOrph* item);

    // The second advanced pass over the same index; it is the last to look
    // at it and frees what it cannot place.
    void processOrphanAdvScanEntriesRun2WithIncrement(bool increment, bool showVolNameOnly);
    void iterateBtreeOrphAdvScanBranchRun2(NodeTypeOrph* node);
    void processThisOrphanEntryAdvScanRun2(ItemTypeOrph* item);

    // --- what the passes leave unplaced ---

    // Whether the plain pass keeps the entries it cannot place parked instead
    // of freeing them (default: it frees them). The advanced scan keeps them
    // to hand them on to its own passes.
    void setKeepUnplacedEntries(bool keep) noexcept { keepUnplaced_ = keep; }
    // Frees every entry of the index that is not attached anywhere, with what
    // hangs below it, and clears every index item that named a freed node.
    void releaseUnplacedEntries(BTreeTableClassOrph* orphans);
    // Moves the entries of `from` that are not attached anywhere into `to`,
    // so the advanced passes place them; orphAdvScanEntriesTotal counts them.
    // An ID `to` holds already keeps one node: the one with entries attached
    // below it, else the one moved in. Answers the entries moved. When the
    // pass over `from` did not count what it placed, its reader counted the
    // entries when it parked them: this object's passes then place them
    // without counting them again.
    std::uint32_t handOverUnplacedEntries(BTreeTableClassOrph* from, BTreeTableClassOrph* to);
    // The entries of the index not attached anywhere were counted by the
    // reader that parked them (the catalog walk): this object's passes place
    // them without counting them again.
    void takeAsCountedWhenParked(BTreeTableClassOrph* orphans);

private:
    enum class Pass { Plain, AdvScan, AdvScanRun2 };

    void runPass(Pass pass, bool increment, bool showVolNameOnly);
    void walk(Pass pass, NodeTypeOrph* node);
    void processEntry(Pass pass, ItemTypeOrph* item);
    // "Lost Files", looked up by its ID or made under the root.
    void findOrMakeLostFiles();
    // The parent an entry may go under: a folder that is neither the entry
    // nor below it. nullptr otherwise.
    NewDir* acceptableParent(NewDir* candidate, const NewDir* entry) const;
    // Renames the entry uniquely in parent, links and appends it (indexed by
    // ID in the parent's index), marks the item and counts.
    void attach(ItemTypeOrph* item, NewDir* entry, NewDir* parent);
    // The running totals of parent and every folder above it, and with
    // incrementData the volume's counters, for an entry put under parent.
    void countAttachment(const NewDir* entry, NewDir* parent);
    // Whether placing the entry adds it to the volume's counters.
    bool countsWhenPlaced(const NewDir* entry) const;
    bool isInTree(const NewDir* node) const;
    void entryProgress(std::uint32_t count, std::uint32_t total);
    // Frees these nodes with everything below them and clears every index
    // item (ID index, both orphan indexes) that names one of the freed nodes.
    void freeUnplaced(const std::vector<NewDir*>& tops);

    Volume& volume_;
    HFSPlusReaderState& state_;
    BTreeTableClassOrph* tree_ = nullptr; // the index of the running pass
    bool keepUnplaced_ = false;
    // Entries handed over that their reader has counted already.
    std::unordered_set<const NewDir*> countedWhenParked_;
};
