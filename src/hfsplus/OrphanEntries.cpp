#include "hfsplus/OrphanEntries.h"

#include "formats/HFSPlusStructures.h"
#include "platform/AppController.h"
#include "platform/Format.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <chrono>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>

using platform::Dict;

namespace {

constexpr const char* kStatus = "Processing orphan & lost entries...";
constexpr std::uint32_t kLostFilesID = 7;
constexpr std::uint32_t kLostFoldersID = 8;

// Every folder from `from` up along the parent links. The passes never let
// those links close into a ring, but links set by other readers are not ours
// to vouch for: a ring ends the climb with a log line. Answers false when it
// met one.
template <class Fn> bool climb(NewDir* from, Fn&& fn) {
    if (newdir::forEachAncestor(from, std::forward<Fn>(fn))) return true;
    platform::logLine("Parent links of the found tree form a ring; the climb stops there");
    return false;
}

// The items of an orphan index below node, in the passes' order: a node's
// items in slot order, then its branches' subtrees.
template <class Fn> void forEachItem(NodeTypeOrph* node, Fn&& fn) {
    forEachIndexNode(node, [&](NodeTypeOrph* n) {
        for (std::int32_t i = 0; i < n->count(); ++i)
            if (ItemTypeOrph* item = n->key(i)) fn(item);
    });
}

} // namespace

// ---------------------------------------------------------------------------
// The three passes

void OrphanEntries::processCatalogWalkOrphans() {
    if (!volume_.catalogNodesUnread) {
        processOrphanEntriesWithIncrement(false, false);
        return;
    }
    // The walk counted its entries as it parked them: placed by the advanced
    // passes, they are not counted again.
    keepUnplaced_ = true;
    processOrphanEntriesWithIncrement(false, false);
    keepUnplaced_ = false;
    if (!state_.btreeOrphAdvScanEntries) state_.btreeOrphAdvScanEntries = std::make_unique<BTreeTableClassOrph>();
    if (handOverUnplacedEntries(state_.btreeOrph.get(), state_.btreeOrphAdvScanEntries.get()) == 0) return;
    if (!(volume_.dirLostFolders && isInTree(volume_.dirLostFolders))) makeLostFolders();
    processOrphanAdvScanEntriesWithIncrement(true, false);
    processOrphanAdvScanEntriesRun2WithIncrement(true, false);
}

void OrphanEntries::makeLostFolders() {
    Volume& v = volume_;
    if (!v.dirRoot) {
        platform::logLine("No tree root for \"Lost Folders\"; orphan folders cannot be placed");
        return;
    }
    NewDir* node = newdir::allocate();
    node->dataStartSector = static_cast<std::uint32_t>(v.blocksStartsAtSector);
    node->fileType = NewDir::Folder;
    node->fileID = kLostFoldersID;
    node->parentID = hfsplus::kRootFolderID;
    newdir::setFileName(node, u"Lost Folders");
    newdir::setPathName(node, u"/Root");
    node->childIndex = v.btree.get();
    node->pndirPointer = v.dirRoot;
    node->advScanIndex = v.btreeAdvScan;
    node->deleted = 1;
    v.addChildUpdateBTree(node, v.dirRoot);
    ++v.dirRoot->childrenCount;
    // The advanced scan's folder index is the ID index whenever both exist;
    // the second insert then changes nothing.
    if (v.btreeAdvScan) v.btreeAdvScan->insert(std::make_unique<ItemType>(kLostFoldersID, node));
    v.dirLostFolders = node;
}

void OrphanEntries::processOrphanEntriesWithIncrement(bool increment, bool showVolNameOnly) {
    runPass(Pass::Plain, increment, showVolNameOnly);
    // Nothing after this pass looks at btreeOrph's leftovers again, unless
    // the advanced scan asked to have them for its own passes.
    if (!keepUnplaced_) releaseUnplacedEntries(state_.btreeOrph.get());
}

void OrphanEntries::processOrphanAdvScanEntriesWithIncrement(bool increment, bool showVolNameOnly) {
    // What this pass cannot place waits for the second pass.
    runPass(Pass::AdvScan, increment, showVolNameOnly);
}

void OrphanEntries::processOrphanAdvScanEntriesRun2WithIncrement(bool increment, bool showVolNameOnly) {
    runPass(Pass::AdvScanRun2, increment, showVolNameOnly);
    releaseUnplacedEntries(state_.btreeOrphAdvScanEntries.get());
}

void OrphanEntries::runPass(Pass pass, bool increment, bool showVolNameOnly) {
    Volume& v = volume_;
    if (v.stopTreeThread()) return;
    tree_ = pass == Pass::Plain ? state_.btreeOrph.get() : state_.btreeOrphAdvScanEntries.get();
    if (!tree_) return;
    tree_->setIncrementData(increment);
    tree_->setShowVolNameOnly(showVolNameOnly);
    std::uint32_t& count = pass == Pass::Plain ? state_.orphEntryCount : state_.orphAdvScanEntryCount;
    const std::uint32_t total = pass == Pass::Plain ? state_.orphEntriesTotal : state_.orphAdvScanEntriesTotal;
    count = 0;

    platform::AppController* controller = platform::appController();
    if (controller) {
        controller->updateProgress(Dict{{"Progress Status", kStatus}, {"Progress Type", 1}, {"BarDoubleValue", 0}});
        controller->updateProgress(Dict{
            {"Progress Status", kStatus}, {"BarMaxValue", static_cast<unsigned long long>(total)}, {"BarMinValue", 0}});
    }
    // The second pass uses "Lost Files" as the first one left it.
    if (pass != Pass::AdvScanRun2) findOrMakeLostFiles();

    state_.startDate = std::chrono::steady_clock::now();
    if (controller) controller->setUpTimer();

    switch (pass) {
    case Pass::Plain:
        iterateBtreeOrphBranch(tree_->root());
        break;
    case Pass::AdvScan:
        iterateBtreeOrphAdvScanBranch(tree_->root());
        break;
    case Pass::AdvScanRun2:
        iterateBtreeOrphAdvScanBranchRun2(tree_->root());
        break;
    }
}

void OrphanEntries::findOrMakeLostFiles() {
    Volume& v = volume_;
    const ItemType* found = v.btree ? v.btree->retrieveKeyField(kLostFilesID) : nullptr;
    NewDir* lost = found ? found->dir() : nullptr;
    // Only a folder of the result will do: a parked node that happens to bear
    // the ID may still be dropped, and files must not go under a file.
    if (lost && lost->isFolder() && isInTree(lost)) {
        v.dirLostFiles = lost;
        lost->deleted = 1;
        return;
    }
    // Made by an earlier pass of this scan but not findable by ID (another
    // node was indexed under 7 first).
    if (v.dirLostFiles && isInTree(v.dirLostFiles)) return;

    // Without a root there is nothing to hang it on; files whose parent is
    // found nowhere then stay unplaced.
    if (!v.dirRoot) {
        v.dirLostFiles = nullptr;
        return;
    }
    NewDir* node = newdir::allocate();
    node->fileType = NewDir::Folder;
    node->fileID = kLostFilesID;
    node->parentID = hfsplus::kRootFolderID;
    newdir::setFileName(node, u"Lost Files");
    newdir::setPathName(node, u"/Root");
    node->pndirPointer = v.dirRoot;
    node->childIndex = v.btree.get();
    node->dataStartSector = static_cast<std::uint32_t>(v.blocksStartsAtSector);
    node->deleted = 1;
    v.dirLostFiles = node;
    ++v.folderCount;
    ++v.entryCount;
    climb(v.dirRoot, [](NewDir* a) { ++a->childrenCount; });
    v.addChildUpdateBTree(node, v.dirRoot);
}

// ---------------------------------------------------------------------------
// Walks

void OrphanEntries::iterateBtreeOrphBranch(NodeTypeOrph* node) {
    walk(Pass::Plain, node);
}
void OrphanEntries::iterateBtreeOrphAdvScanBranch(NodeTypeOrph* node) {
    walk(Pass::AdvScan, node);
}
void OrphanEntries::iterateBtreeOrphAdvScanBranchRun2(NodeTypeOrph* node) {
    walk(Pass::AdvScanRun2, node);
}

void OrphanEntries::walk(Pass pass, NodeTypeOrph* node) {
    forEachIndexNode(node, [&](NodeTypeOrph* n) {
        if (volume_.stopTreeThread()) return false;
        for (std::int32_t i = 0; i < n->count(); ++i) {
            if (volume_.stopTreeThread()) return false;
            ItemTypeOrph* item = n->key(i);
            if (!item) continue;
            const bool skip = pass == Pass::AdvScanRun2 ? item->parentFoundInBtree()
                                                        : item->alreadyPolled() || item->parentFoundInBtree();
            if (!skip) processEntry(pass, item);
        }
        return true;
    });
}

// ---------------------------------------------------------------------------
// One entry

void OrphanEntries::processThisOrphanEntry(ItemTypeOrph* item) {
    processEntry(Pass::Plain, item);
}
void OrphanEntries::processThisOrphanEntryAdvScan(ItemTypeOrph* item) {
    processEntry(Pass::AdvScan, item);
}
void OrphanEntries::processThisOrphanEntryAdvScanRun2(ItemTypeOrph* item) {
    processEntry(Pass::AdvScanRun2, item);
}

void OrphanEntries::processEntry(Pass pass, ItemTypeOrph* item) {
    Volume& v = volume_;
    if (!tree_) tree_ = pass == Pass::Plain ? state_.btreeOrph.get() : state_.btreeOrphAdvScanEntries.get();
    NewDir* entry = item ? item->dir() : nullptr;
    // An entry that hangs somewhere already is never appended a second time:
    // two child lists owning one node would free it twice.
    if (entry && entry->pndirPointer) entry = nullptr;
    const bool folder = entry && entry->fileType == NewDir::Folder;
    const bool file = entry && entry->fileType == NewDir::File;

    if (pass == Pass::Plain) {
        ++state_.orphEntryCount;
        if (entry) {
            entry->childIndex = v.btree.get();
            NewDir* parent = nullptr;
            if (const ItemTypeOrph* parked =
                    state_.btreeOrph ? state_.btreeOrph->retrieveKeyField(entry->parentID) : nullptr)
                parent = acceptableParent(parked->dir(), entry);
            if (!parent && v.btree)
                if (const ItemType* indexed = v.btree->retrieveKeyField(entry->parentID))
                    parent = acceptableParent(indexed->dir(), entry);
            if (parent) {
                if (folder || file) attach(item, entry, parent);
            } else if (file && v.dirLostFiles) {
                entry->deleted = 1;
                attach(item, entry, v.dirLostFiles);
            }
        }
        entryProgress(state_.orphEntryCount, state_.orphEntriesTotal);
        return;
    }

    if (pass == Pass::AdvScan) {
        ++state_.orphAdvScanEntryCount;
        if (entry) {
            entry->advScanIndex = v.btreeAdvScan;
            const ItemTypeOrph* parked = state_.btreeOrphAdvScanEntries
                                             ? state_.btreeOrphAdvScanEntries->retrieveKeyField(entry->parentID)
                                             : nullptr;
            NewDir* parent = parked ? acceptableParent(parked->dir(), entry) : nullptr;
            if (parent && (folder || file)) attach(item, entry, parent);
        }
        entryProgress(state_.orphAdvScanEntryCount, state_.orphAdvScanEntriesTotal);
        return;
    }

    // The second advanced pass: whatever is left gets a place of its own.
    ++state_.orphAdvScanEntryCount;
    const bool increment = tree_ && tree_->incrementData();
    if (folder) {
        const ItemType* found = v.btree ? v.btree->retrieveKeyField(kLostFoldersID) : nullptr;
        NewDir* lostFolders = found ? found->dir() : nullptr;
        if (!(lostFolders && lostFolders->isFolder() && isInTree(lostFolders)))
            lostFolders = v.dirLostFolders && isInTree(v.dirLostFolders) ? v.dirLostFolders : nullptr;
        if (lostFolders) {
            // A recreated parent for every orphan folder, also when several
            // share one missing parent: the name repeats with underscores.
            NewDir* parent = newdir::allocate();
            parent->pndirPointer = lostFolders;
            parent->parentID = lostFolders->fileID;
            parent->fileID = entry->parentID;
            parent->fileType = NewDir::Folder;
            // %d of the 32-bit ID, as the name has always been written.
            const std::string name = platform::format("LostFolder%d", static_cast<std::int32_t>(entry->parentID));
            newdir::setFileName(parent, newdir::suggestedRepeatFileName(newdir::utf16(name), lostFolders));
            newdir::setPathBelow(parent, lostFolders);
            parent->advScanIndex = v.btreeAdvScan;
            parent->dataStartSector = static_cast<std::uint32_t>(v.blocksStartsAtSector);
            v.addChildAdvScan(parent, lostFolders);
            climb(lostFolders, [](NewDir* a) { ++a->childrenCount; });

            newdir::setPathBelow(entry, parent);
            entry->pndirPointer = parent;
            newdir::setFileName(entry, newdir::suggestedRepeatFileName(newdir::fileName(entry), parent));
            v.addChildAdvScan(entry, parent);
            const std::uint32_t below = entry->childrenCount + 1;
            const std::uint64_t size = entry->fileSize;
            const std::uint32_t files = entry->fileCount;
            climb(parent, [&](NewDir* a) {
                a->childrenCount += below;
                a->fileSize += size;
                a->fileCount += files;
            });
            if (increment) {
                ++v.folderCount;
                ++v.entryCount;
            }
            if (countsWhenPlaced(entry)) {
                ++v.folderCount;
                ++v.entryCount;
            }
        }
    } else if (file) {
        // Only what looks like a real file: named, sized, with IDs, and not
        // starting beyond the volume's last block.
        const std::uint64_t blocks = v.blockSize() ? v.sizeInSect() / v.blockSize() : 0;
        const bool plausible = entry->nameLength != 0 && !newdir::fileName(entry).empty() && entry->fileID != 0 &&
                               entry->parentID != 0 && entry->fileSize != 0 && v.blockSize() != 0 &&
                               (entry->extents.empty() || entry->extents.front().startBlock <= blocks);
        if (!plausible) return;
        if (v.dirLostFiles) {
            newdir::setFileName(entry, newdir::suggestedRepeatFileName(newdir::fileName(entry), v.dirLostFiles));
            entry->pndirPointer = v.dirLostFiles;
            entry->deleted = 1;
            v.addChildUpdateBTree(entry, v.dirLostFiles);
            countAttachment(entry, v.dirLostFiles);
        }
    }
    entryProgress(state_.orphAdvScanEntryCount, state_.orphAdvScanEntriesTotal);
}

NewDir* OrphanEntries::acceptableParent(NewDir* candidate, const NewDir* entry) const {
    if (!candidate || !entry || candidate == entry || !candidate->isFolder()) return nullptr;
    // An entry that is the candidate's ancestor would make the tree a ring.
    bool below = false;
    const bool ended = climb(candidate, [&](NewDir* a) { below = below || a == entry; });
    return below || !ended ? nullptr : candidate;
}

void OrphanEntries::attach(ItemTypeOrph* item, NewDir* entry, NewDir* parent) {
    Volume& v = volume_;
    newdir::setFileName(entry, newdir::suggestedRepeatFileName(newdir::fileName(entry), parent));
    entry->pndirPointer = parent;
    v.addChildUpdateBTree(entry, parent);
    item->setAlreadyPolled(true);
    item->setParentFoundInBtree(true);
    countAttachment(entry, parent);
}

bool OrphanEntries::countsWhenPlaced(const NewDir* entry) const {
    return tree_ && tree_->incrementData() && !countedWhenParked_.contains(entry);
}

void OrphanEntries::countAttachment(const NewDir* entry, NewDir* parent) {
    Volume& v = volume_;
    const bool increment = countsWhenPlaced(entry);
    const std::uint64_t size = entry->fileSize;
    if (entry->fileType == NewDir::Folder) {
        // A folder brings what was put under it while it waited.
        const std::uint32_t below = entry->childrenCount + 1;
        const std::uint32_t files = entry->fileCount;
        climb(parent, [&](NewDir* a) {
            a->childrenCount += below;
            a->fileSize += size;
            a->fileCount += files;
        });
        if (increment) {
            ++v.folderCount;
            ++v.entryCount;
        }
    } else {
        climb(parent, [&](NewDir* a) {
            ++a->childrenCount;
            a->fileSize += size;
            ++a->fileCount;
        });
        if (increment) {
            ++v.fileCount;
            ++v.entryCount;
            v.dataSize += size;
        }
    }
}

bool OrphanEntries::isInTree(const NewDir* node) const {
    if (!node || !volume_.dirRoot) return false;
    bool reached = false;
    const bool ended = climb(const_cast<NewDir*>(node), [&](NewDir* a) { reached = reached || a == volume_.dirRoot; });
    return ended && reached;
}

void OrphanEntries::entryProgress(std::uint32_t count, std::uint32_t total) {
    Volume& v = volume_;
    // Filled only while the display is not holding the last one.
    if (v.timerFireMethodCanRun()) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - state_.startDate).count();
    const double remaining =
        count != 0 ? elapsed * (static_cast<double>(total) - static_cast<double>(count)) / count : 0.0;
    Dict& update = v.dataUpdate;
    update.clear();
    update.set("Progress Status", kStatus);
    update.set("Folders", v.folderCount);
    update.set("Files", v.fileCount);
    update.set("Entries Found", v.entryCount);
    update.set("Data", static_cast<unsigned long long>(v.dataSize));
    update.set("BarDoubleValue", static_cast<unsigned long long>(count));
    update.set("TimeRemaining", v.getTimeFormStringForInterval(remaining));
    v.setTimerFireMethodCanRun(true);
}

// ---------------------------------------------------------------------------
// Leftovers

void OrphanEntries::releaseUnplacedEntries(BTreeTableClassOrph* orphans) {
    if (!orphans || orphans->empty()) return;
    std::vector<NewDir*> tops;
    std::unordered_set<NewDir*> seen;
    forEachItem(orphans->root(), [&](ItemTypeOrph* item) {
        NewDir* d = item->dir();
        // Attached entries have a parent link; the passes set it whenever
        // they attach one.
        if (d && d->pndirPointer == nullptr && d != volume_.dirRoot && seen.insert(d).second) tops.push_back(d);
    });
    if (tops.empty()) return;
    platform::logFormat("%u orphaned entries could not be placed in the tree; left out",
                        static_cast<unsigned>(tops.size()));
    freeUnplaced(tops);
}

void OrphanEntries::takeAsCountedWhenParked(BTreeTableClassOrph* orphans) {
    if (!orphans || orphans->empty()) return;
    forEachItem(orphans->root(), [&](ItemTypeOrph* item) {
        if (NewDir* d = item->dir(); d && d->pndirPointer == nullptr) countedWhenParked_.insert(d);
    });
}

std::uint32_t OrphanEntries::handOverUnplacedEntries(BTreeTableClassOrph* from, BTreeTableClassOrph* to) {
    if (!from || from->empty()) return 0;
    std::vector<ItemTypeOrph*> items;
    forEachItem(from->root(), [&](ItemTypeOrph* item) { items.push_back(item); });
    // A pass that does not count what it places leaves the counting to the
    // reader that parked the entries (the catalog walk counts every entry it
    // parks): placed later, they must not be counted a second time.
    const bool counted = !from->incrementData();
    std::uint32_t moved = 0;
    std::vector<NewDir*> dropped;
    std::unordered_set<NewDir*> seen;
    for (ItemTypeOrph* item : items) {
        NewDir* d = item->dir();
        if (!d || d->pndirPointer != nullptr || d == volume_.dirRoot || !seen.insert(d).second) continue;
        item->setNDIRPtr(nullptr); // `to` owns it from here on, or nobody
        if (!to) {
            dropped.push_back(d);
            continue;
        }
        ItemTypeOrph* there = to->retrieveKeyField(item->keyField());
        if (!there) {
            to->insert(std::make_unique<ItemTypeOrph>(item->keyField(), d));
            if (counted) countedWhenParked_.insert(d);
            ++state_.orphAdvScanEntriesTotal;
            ++moved;
            continue;
        }
        NewDir* old = there->dir();
        const bool oldIsBare = !old || (old->pndirPointer == nullptr && old->childList.empty() &&
                                        !there->alreadyPolled() && !there->parentFoundInBtree());
        if (oldIsBare && !d->childList.empty()) {
            // The one moved in carries entries of its own: it takes the ID,
            // and stands for an entry counted already if either was.
            if (counted || countedWhenParked_.contains(old)) countedWhenParked_.insert(d);
            if (old) freeUnplaced({old});
            there->setNDIRPtr(d);
            ++moved;
        } else {
            if (counted && old) countedWhenParked_.insert(old);
            dropped.push_back(d);
        }
    }
    if (!dropped.empty()) freeUnplaced(dropped);
    return moved;
}

void OrphanEntries::freeUnplaced(const std::vector<NewDir*>& tops) {
    Volume& v = volume_;
    // Everything that goes, so no index keeps naming it. A top that hangs
    // below another one goes with that one, never on its own as well.
    const std::unordered_set<NewDir*> topSet(tops.begin(), tops.end());
    std::unordered_set<NewDir*> gone;
    std::unordered_set<NewDir*> covered;
    for (NewDir* top : tops) {
        if (!top || gone.count(top)) continue;
        newdir::preOrder(top, newdir::childList, newdir::anyChild, [&](NewDir* n) {
            if (n != top && topSet.count(n)) covered.insert(n);
            return gone.insert(n).second ? newdir::Walk::Into : newdir::Walk::Skip;
        });
    }
    for (BTreeTableClass* index : {v.btree.get(), v.btreeAdvScan}) {
        if (!index) continue;
        for (NewDir* n : gone)
            if (ItemType* item = index->retrieveKeyField(n->fileID); item && item->dir() == n)
                item->setNDIRPtr(nullptr);
    }
    for (BTreeTableClassOrph* orphans : {state_.btreeOrph.get(), state_.btreeOrphAdvScanEntries.get()}) {
        if (!orphans) continue;
        forEachItem(orphans->root(), [&](ItemTypeOrph* item) {
            if (gone.count(item->dir())) item->setNDIRPtr(nullptr);
        });
    }
    for (NewDir* n : gone)
        countedWhenParked_.erase(n);
    if (gone.count(v.dirLostFiles)) v.dirLostFiles = nullptr;
    if (gone.count(v.dirLostFolders)) v.dirLostFolders = nullptr;
    std::unordered_set<NewDir*> freed;
    for (NewDir* top : tops)
        if (top && !covered.count(top) && freed.insert(top).second) newdir::freeNDir(top);
}
