#pragma once

// The advanced HFS+ tree scan, which does not trust the catalog's links: it
// searches the whole volume for catalog leaf nodes (CatalogFragmentSearch),
// fills the allocation file's extent list and places what it found with the
// orphan passes (OrphanEntries), always in that order. Also the allocation
// file's extents for the deleted-file scan's searches, and the test whether
// a sector lies inside the catalog file.

#include "formats/Extent.h"
#include "hfsplus/HFSPlusReaderState.h"

#include <cstdint>
#include <vector>

class Volume;

class AdvancedTreeScan {
public:
    explicit AdvancedTreeScan(HFSPlusReaderState& state) noexcept : volume_(state.volume), state_(state) {}

    // Makes the root when there is none, searches the volume for catalog
    // fragments, reads the allocation file's extents and runs the orphan
    // passes over what was parked. Always true.
    //
    // What the catalog walk of this scan parked is placed by the plain pass
    // together with the fragments found inside the catalog file, so a
    // folder whose leaf the walk could not read whole still holds what the
    // walk read. Entries the plain pass cannot place (a folder whose parent
    // record is gone) are handed on to the advanced passes, which put them
    // under "Lost Folders": the fragment search passes over the nodes the
    // catalog walk read, so nothing else would find them.
    bool makeAdvTree();

    // allocationExt gets the allocation file's extents: those of the volume
    // header with a non-zero start block, then what the extents-overflow
    // B-tree holds for file ID 6 when those fall short.
    void checkAllocationFile();
    // The deleted-file scan's way to the same.
    void fillAllocationExt();

    // Whether the sector lies inside the catalog file: by the catalog extents
    // the check of the B-tree headers found, else by the volume header's.
    // False while neither is known.
    bool sectorIsInCatalogFile(std::uint64_t sector) const;
    // Whether the sector lies inside one of the extents (allocation blocks
    // from HPlusVolStart, blockSize sectors each).
    bool sectorIsInThisExtArray(const std::vector<Extent>& array, std::uint64_t sector) const;

private:
    Volume& volume_;
    HFSPlusReaderState& state_;
};
