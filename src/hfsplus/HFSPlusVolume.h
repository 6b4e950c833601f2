#pragma once

// Opening an HFS+ volume for a scan: finding its volume header (directly,
// inside an HFS wrapper or from the alternate copy), checking the header
// nodes of the extents-overflow and catalog B-trees, building the extent
// lists of both files, mapping node numbers to sectors and looking up the
// overflow extents of a file.
//
// Everything here works on the scan's HFS+ reader state and the Volume in
// it, and keeps its results there: the geometry every reader of the volume
// shares in the Volume's fields (HPlusVolStart, blockSize, catalogExt,
// catNodeSize, ...), the catalog's depth, record count and listed extents in
// the reader state, so the catalog readers that run after it need nothing
// more.
// The node mapping, the header-node test and the extents-overflow lookup are
// HFSPlusDriveGeometry's, which the drive code uses on the same fields; a
// scan binds them to its volume and lets its stop flag end a lookup.
//
// The medium is untrusted. A geometry that makes no sense (a block, node or
// sector size of 0, or one that is not a whole number of sectors) makes the
// volume unusable instead of being divided by; every sector number is 64-bit
// and must lie inside the volume before it is read; and node records are
// only taken where they lie inside the node, in front of its offset table.

#include "formats/Extent.h"
#include "formats/HFSPlusStructures.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "media/HFSPlusDriveGeometry.h"
#include "platform/ByteView.h"
#include "platform/Value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class Volume;

class HFSPlusVolume {
public:
    explicit HFSPlusVolume(HFSPlusReaderState& state) noexcept : volume_(state.volume), state_(state) {}

    // Finds the volume header from startSector (or vibAtSector), through an
    // HFS wrapper when there is one, falling back on the alternate copy at
    // the volume's end. Sets mdb, vib, HPlusVolStart and blockSize. False
    // when no usable HFS+ header is found.
    bool initializeVIB();
    // The deleted-file scan's reader: the header at byte 1024 of the volume
    // (from startSector, 0 on a mounted volume's own device) or of the
    // wrapped volume; the alternate copy only when the primary's sectors
    // cannot be read. Sets vib, HPlusVolStart, blockSize
    // and totalBlocks whatever it finds; a nonsensical block size leaves
    // blockSize 0. True when the header is an HFS+ one with a usable block
    // size.
    bool fillVIB();
    // Checks the header nodes of the extents and catalog B-trees and takes
    // their geometry (node sizes, root nodes, first leaf, leaf records,
    // depth); completes the catalog's extents from the extents B-tree. An
    // extents header whose sectors the medium would not give leaves the
    // volume without that tree (the state's extentsHeaderUnread) rather than
    // unusable.
    bool checkCatalogAndExtentsFile();
    // The catalog extents exactly as the volume header lists them, kept for
    // the advanced scan when the checks have failed.
    void getCatalogExtFromVIB();

    // First sector of a catalog or extents B-tree node, or 0 when the node
    // lies beyond the file's extents or outside the volume.
    std::uint64_t catNodeToSector(std::uint32_t node) const;
    std::uint64_t extNodeToSector(std::uint32_t node) const;

    // The extents of a fork beyond its first startBlock blocks, from the
    // extents-overflow B-tree, until totalBlocks are covered. Nothing when
    // the volume has no extents B-tree or the user stopped during the
    // descent; otherwise what was found (possibly nothing at all).
    std::optional<std::vector<Extent>> extentsForID(std::uint32_t id, std::uint8_t fork, std::uint32_t startBlock,
                                                    std::uint32_t totalBlocks);

    // --- shared by the catalog readers ---

    // Whether sectors [sector, sector + count) lie inside the volume
    // (before startSector + sizeInSect). Never wraps.
    bool sectorsInVolume(std::uint64_t sector, std::uint64_t count) const;
    // Reads `count` sectors into buffer, which is resized and zeroed first,
    // so sectors that cannot be read never show the bytes of an earlier
    // read. False (and nothing read) when count is 0 or more than one read
    // takes, the sectors are not wholly inside the volume or the read fails.
    bool readSectors(std::uint64_t sector, std::uint64_t count, std::vector<std::uint8_t>& buffer);
    // Reads a B-tree node of `sectors` sectors as readSectors does. Sector 0
    // is where a node that has none would be: it is never read.
    bool readNode(std::uint64_t sector, std::int32_t sectors, std::vector<std::uint8_t>& buffer);
    // readNode for a node of the catalog file. One whose sectors the medium
    // would not give sets the volume's catalogNodesUnread: what it held is
    // missing from the tree, and the advanced scan may still find it.
    bool readCatalogNode(std::uint64_t sector, std::int32_t sectors, std::vector<std::uint8_t>& buffer);
    // Bytes of a catalog node, or 0 when the geometry is unusable.
    std::size_t catNodeBytes() const;
    // Whether found files can keep this volume's geometry: a found file
    // holds the sectors per block in 8 bits and the data start in 32.
    bool filesRepresentable() const;
    // Whether both forks of a file record agree with their block counts: no
    // more bytes than their blocks hold, and exactly the blocks those bytes
    // need. False for a block size of 0.
    static bool forkSizesAgree(const HFSPlusCatalogFile_& file, std::uint64_t blockBytes);

    // Hands a progress dictionary to the application controller, when there
    // is one, which shows it on the main thread before returning.
    static void postProgress(const platform::Dict& progress);

private:
    // Bytes [offset, offset + length) of the sector run starting at sector,
    // read whole; nothing when it is not inside the volume or unreadable.
    std::optional<std::vector<std::uint8_t>> readStructure(std::uint64_t sector, std::uint64_t offset,
                                                           std::size_t length);
    // The sector and offset in it of the byte `bytesBack` before the end of
    // a run of `sectors` sectors starting at `first`; nothing when the run is
    // shorter than that.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> positionBeforeEnd(std::uint64_t first, std::uint64_t sectors,
                                                                             std::uint64_t bytesBack) const;
    // Follows the HFS wrapper in mdb to the embedded volume's header.
    bool followWrapper(std::uint64_t volumeStart);
    // Takes the allocation block size from vib; false (blockSize 0) when it
    // is not a whole, non-zero number of sectors.
    bool takeBlockSize();
    // Reads node 0 of a B-tree file whose first allocation block is given,
    // applies the header-node test and answers the node size in sectors
    // (0 when unusable) with the header record. `unreadable`, when given,
    // tells whether it failed because the medium would not give its sectors.
    bool readHeaderNode(std::uint32_t firstBlock, std::int32_t& nodeSectors, std::uint32_t& rootNode,
                        std::uint32_t& firstLeaf, std::uint32_t& leafRecords, std::uint16_t& depth,
                        bool* unreadable = nullptr);
    // Node geometry over this volume's fields: no node is placed past the
    // volume's last sector.
    HFSPlusDriveGeometry geometry() const;
    // readNode, as the geometry's reader of B-tree nodes.
    HFSPlusDriveGeometry::SectorReader nodeReader();
    // The sector after the volume's last (the largest sector number when
    // that does not fit).
    std::uint64_t volumeEnd() const;

    Volume& volume_;
    HFSPlusReaderState& state_;
};
