#pragma once

// What the HFS+ readers of one scan share beyond the volume they read: the
// catalog's depth and record count, the leaf lists for when its leaf chain
// cannot be trusted, the catalog and allocation-file extents as the volume
// header lists them, the journal's place, and the orphan indexes with their
// counters. The scan thread makes one for a scan of an HFS+ volume and hands
// it to every reader of this folder; it goes when the scan is done with
// HFS+, so the volume keeps only what every scan shares.
//
// The nodes the orphan indexes name belong to the found-file tree or to
// nobody: releasing the indexes frees no node (OrphanEntries frees what its
// passes leave unplaced).

#include "formats/Extent.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

class Volume;
class BTreeTableClassOrph;
class BTreeTableClassUInt32;

struct HFSPlusReaderState {
    explicit HFSPlusReaderState(Volume& volume);
    ~HFSPlusReaderState();
    HFSPlusReaderState(const HFSPlusReaderState&) = delete;
    HFSPlusReaderState& operator=(const HFSPlusReaderState&) = delete;

    Volume& volume;

    // --- catalog geometry from its header node ---
    std::uint32_t leafRecords = 0;
    std::int32_t catTreeDepth = 0;
    // The extents-overflow file's header node could not be read from the
    // medium: its tree cannot be followed, and the files whose extents it
    // holds keep only those their catalog records list.
    bool extentsHeaderUnread = false;
    // The catalog extents exactly as the volume header lists them.
    std::vector<Extent> catalogExtAsPerVIB;
    // The allocation file's extents, for the searches of free blocks.
    std::vector<Extent> allocationExt;

    // --- the journal, in bytes from the HFS+ volume's start ---
    std::uint64_t journalStart = 0;
    std::uint64_t journalSize = 0;

    // --- leaf lists (absent until a search runs) ---
    // Catalog leaf nodes found through the level-2 index nodes (node
    // numbers), and every leaf node found by the sweep.
    std::unique_ptr<std::vector<std::uint32_t>> leafNodePointerArray;
    std::unique_ptr<std::vector<std::uint32_t>> leafNodePointerTotalArray;
    bool level2IndexNodeHasProblems = false;

    // --- orphans ---
    // Catalog nodes already read into the tree, so the sweeps pass over them.
    std::unique_ptr<BTreeTableClassUInt32> btreeForUsedCatNodeSector;
    std::unique_ptr<BTreeTableClassOrph> btreeOrph;
    std::unique_ptr<BTreeTableClassOrph> btreeOrphAdvScanEntries;
    std::uint32_t orphEntryCount = 0;
    std::uint32_t orphEntriesTotal = 0;
    std::uint32_t orphAdvScanEntryCount = 0;
    std::uint32_t orphAdvScanEntriesTotal = 0;
    // Whether the fragment search may park what it finds inside the catalog
    // file with the catalog walk's orphans (once a volume header was found).
    bool advScanEntriesCanBePutIntoOrphanEntryArray = false;
    // When the running orphan pass began, for its time estimate.
    std::chrono::steady_clock::time_point startDate{};
};
