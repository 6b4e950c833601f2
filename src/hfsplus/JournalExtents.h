#pragma once

// A file whose data fork needs more than eight extents keeps the rest in the
// extents-overflow B-tree. For a deleted file those overflow records are gone
// from the live tree, but copies of extents-overflow leaf nodes often survive
// in the volume's journal. This locates the journal, searches it for such
// copies, and gives each file of the found tree whose extents cover less
// than its size the further extents found there, in file order; then it
// marks every file with whether its extents cover its size.
//
// The journal's location comes from the medium: a volume without one, or
// whose journal does not begin inside the volume, gets no journal reads, and
// a journal reaching past the volume's end is cut at it. Every extent taken
// from a journal copy lies inside the volume before it is recorded; one that
// does not is dropped, and its file marked incomplete for good.

#include "formats/HFSPlusStructures.h"
#include "hfsplus/HFSPlusReaderState.h"

#include <cstdint>

class Volume;
struct NewDir;

class JournalExtents {
public:
    explicit JournalExtents(HFSPlusReaderState& state) noexcept : volume_(state.volume), state_(state) {}

    // Sets journalStart (bytes from the HFS+ volume's start) and
    // journalSize (bytes) from the journal info block; both 0 when the
    // volume has no usable journal.
    void getJournalSizeAndStart();
    // Adds the extents (and groups of extents that do not follow on yet)
    // found in journal copies of extents-overflow leaf nodes to the file
    // nodes in btree. Starts the progress tick; the caller stops it.
    void searchJournalForExtraExtents();
    // Appends, in order, the groups that continue each file's extents and
    // sets `complete` of every file at or below the node: 1 when its
    // extents cover its size, 2 when they do not or when extents of it were
    // dropped (marked 2 already).
    void rearrangeExtsFound(NewDir* node);

    // Values of a file's `complete` byte (0: not examined, shown as such).
    static constexpr std::uint8_t kComplete = 1;
    static constexpr std::uint8_t kIncomplete = 2;

    // Whether an extent of allocation blocks lies wholly inside the volume
    // (block 0 at HPlusVolStart + blocksStartsAtSector).
    static bool extentInVolume(HFSPlusReaderState& state, std::uint64_t startBlock, std::uint64_t blockCount);
    // Whether the extents of a file cover its size.
    static bool covers(const Volume& volume, const NewDir& file, std::uint64_t blocks);

private:
    // Adds what one extents-overflow record of a journal copy says to the
    // file it names; the record's key and descriptors are at `record`.
    void takeExtentsRecord(platform::ByteView record);

    Volume& volume_;
    HFSPlusReaderState& state_;
};
