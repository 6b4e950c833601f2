#pragma once

// The advanced scan's search for catalog fragments: every sector of the
// volume is looked at as the possible last sector of a catalog leaf node,
// wherever it lies (inside the catalog file, in free blocks, in the journal),
// and every plausible folder and file record of such a node becomes a tree
// node parked in one of the two orphan indexes for the orphan passes:
// btreeOrph when the node lies inside the catalog file of a volume whose
// header was found, btreeOrphAdvScanEntries otherwise. The search also makes
// the "Lost Folders" folder that the last orphan pass fills.
//
// The volume is read front to back in large sequential batches; the tests
// run over groups of 63 sectors inside them, as the progress counts them. A
// sector ends a node when its last big-endian u16 is 14 (record 0's offset)
// and the one before it is larger; the node's first sector, catNodeSize - 1
// sectors earlier, must then hold a leaf descriptor. Sector numbers are
// absolute device sectors, 64-bit, and a node is only taken when it lies
// wholly inside the volume.
//
// A sector that could not be read costs only the records that meet it
// (LeafNodeRecords): a node whose last sector was lost is still found by its
// descriptor, and one whose descriptor was lost by its offset table.
//
// Every record is bounded before it is read: its offset at least 14, key
// length 6..516, name length 1..255 and inside the key, key and record data
// in front of the offset table. A damaged layout ends the node; an
// implausible record, or one that meets an unreadable sector, is passed
// over, but for a file that meets it only with its resource fork, which is
// taken with its data fork and marked damaged.

#include "hfsplus/HFSPlusReaderState.h"
#include "platform/AlignedBuffer.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <vector>

class LeafNodeRecords;
class Volume;

class CatalogFragmentSearch {
public:
    explicit CatalogFragmentSearch(HFSPlusReaderState& state) noexcept : volume_(state.volume), state_(state) {}

    // Makes "Lost Folders" under the root and searches the whole volume.
    void searchCatFrags();
    // Reads the catalog leaf node whose first sector is `sector` and parks a
    // node for each acceptable record.
    void processCatFrags(std::uint64_t sector);
    // False when a catalog walk of this scan has read the node at this sector
    // already.
    bool getIfUnusedSectorForCatalogNode(std::uint64_t sector);

    // Sectors read at a time: a whole number of 63-sector groups of about
    // this many bytes, little enough to be still in the processor's cache
    // when the sectors are looked at.
    static constexpr std::uint64_t kGroupSectors = 63;
    static constexpr std::uint64_t kBatchBytes = 1u << 20;

private:
    // Whether the sector (the last of a node) looks like one; then tests the
    // descriptor at the node's first sector and processes the node.
    void examineSector(std::uint64_t sector, platform::ByteView bytes);
    // The bytes of `count` sectors from `sector`: from the batch in hand when
    // it holds them, else read into `scratch` (zeros where unreadable, and
    // all zeros when not inside the volume); `unreadable` flags the sectors
    // that could not be read.
    platform::ByteView sectorsAt(std::uint64_t sector, std::uint64_t count, std::vector<std::uint8_t>& scratch,
                                 std::vector<bool>& unreadable);
    // Whether the sector, of the batch in hand or not, could not be read.
    bool sectorUnreadable(std::uint64_t sector) const;
    void takeRecords(platform::ByteView node, LeafNodeRecords& records, bool inCatalogFile);
    void park(std::uint32_t id, struct NewDir* node, bool inCatalogFile);

    Volume& volume_;
    HFSPlusReaderState& state_;
    platform::AlignedBuffer batch_;
    std::uint64_t batchStart_ = 0;
    std::uint64_t batchSectors_ = 0;
    // Sectors of the batch that could not be read.
    std::uint64_t batchLost_ = 0;
    std::vector<std::uint8_t> descriptor_;
    std::vector<std::uint8_t> node_;
    bool loggedUnrepresentable_ = false;
};
