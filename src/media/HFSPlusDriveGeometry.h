#pragma once

// Where the B-tree nodes of an HFS+ volume lie on its drive, the test of a
// B-tree's header node, and the extents-overflow lookup that completes a
// file's extents. It works on the geometry a DMedia's working fields
// describe (HPlusVolStart, blockSize, vib, catalogExt, extentsExt,
// catNodeSize, extNodeSize, extRootNode): the partition readers and the
// lost-volume search fill them for the volume they examine, an HFS+ scan
// fills them in its Volume, and all three map nodes and follow the extents
// B-tree through this one class. Only takeExtentsTreeHeader writes to them.
//
// How sectors are read stays with the caller: each passes a reader that
// keeps to its own bounds (the drive, the volume) and says whether a read
// gave a node. A scan also passes a stop test that ends a lookup the user
// has stopped, and the sector where its volume ends, past which no node is
// placed.
//
// Everything here comes from an untrusted medium. Sector arithmetic is
// 64-bit and checked, so a node whose sector would not fit has none; the
// descent of the extents B-tree ends after kMaxTreeDepth levels and its leaf
// walk at a leaf met before, so no loop of links can hold a lookup.

#include "formats/Extent.h"
#include "formats/HFSPlusStructures.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class DMedia;

class HFSPlusDriveGeometry {
public:
    // Reads `sectors` sectors from `sector` into buffer, sizing it; false
    // when they give no node (unreadable, or not the reader's to read).
    using SectorReader =
        std::function<bool(std::uint64_t sector, std::int32_t sectors, std::vector<std::uint8_t>& buffer)>;
    // True once the user has asked the running scan to stop.
    using StopTest = std::function<bool()>;

    // With endSector, a node that would not end at or before it has no
    // sector.
    explicit HFSPlusDriveGeometry(DMedia& media, std::optional<std::uint64_t> endSector = std::nullopt) noexcept
        : media_(media), endSector_(endSector) {}

    // Deepest B-tree descended: real trees stay below ten levels, and a
    // damaged index must not send a descent round in circles.
    static constexpr std::uint32_t kMaxTreeDepth = 16;

    // First sector of node `node` of a B-tree file of `nodeSectors`-sector
    // nodes laid over `extents`; nothing when the node lies beyond them, the
    // geometry is unusable or the sector does not fit.
    std::optional<std::uint64_t> nodeToSector(std::uint32_t node, std::int32_t nodeSectors,
                                              const std::vector<Extent>& extents) const;
    std::optional<std::uint64_t> catalogNodeToSector(std::uint32_t node) const;
    // The extents file has no overflow records of its own: its extents are
    // all eight the volume header lists.
    std::optional<std::uint64_t> extentsNodeToSector(std::uint32_t node) const;

    // Node 0 of a B-tree file, when it passes the header-node test (no
    // backward link, kind header, height 0, three records).
    struct HeaderNode {
        BTHeaderRecord record;
        // The node size in sectors; 0 when it is not a whole, non-zero
        // number of them, and the tree's nodes cannot be found by sector.
        std::uint32_t nodeSectors = 0;
    };
    // The header node of the B-tree file whose first allocation block is
    // firstBlock; nothing when it cannot be read or fails the test.
    std::optional<HeaderNode> readHeaderNode(std::uint32_t firstBlock, const SectorReader& read) const;
    // Reads the header node of the extents B-tree (at the first of
    // extentsExt) and takes its node size and root into extNodeSize and
    // extRootNode. False, leaving both, when there is no extent, the node
    // fails the test or its nodes are not whole sectors.
    bool takeExtentsTreeHeader(const SectorReader& read);

    // A fork's extents beyond its first startBlock blocks, from the
    // extents-overflow B-tree, until totalBlocks are covered. Nothing when
    // the volume has no extents B-tree or `stop` ended the descent;
    // otherwise what was found, possibly nothing at all.
    std::optional<std::vector<Extent>> extentsForID(std::uint32_t fileID, std::uint8_t fork, std::uint32_t startBlock,
                                                    std::uint32_t totalBlocks, const SectorReader& read,
                                                    const StopTest& stop = {}) const;

    // Appends the extents a fork's header record lists (every descriptor
    // with a start block) to `to`; answers how many blocks they hold.
    static std::uint64_t appendListedExtents(const HFSPlusForkData_& fork, std::vector<Extent>& to);

    // A size in bytes as sectors: only a whole, non-zero number of sectors
    // (that fits 32 bits) is usable; anything else answers 0, so that it
    // is never divided by nor cuts blocks and nodes across sectors.
    static std::uint32_t wholeSectors(std::uint64_t bytes, std::uint32_t bytesPerSector);

private:
    DMedia& media_;
    std::optional<std::uint64_t> endSector_;
};
