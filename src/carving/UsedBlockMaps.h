#pragma once

// Which units of a search batch the volume's file system has in use, so that
// a search of free space examines only the others: the HFS+ allocation file,
// the first FAT, and the APFS variant. What the file system's reader found
// (the allocation file's extents, the FAT's layout) comes with the map. Every map gets the batch's first unit
// and 40 flags the caller has set to 1 (in use), and clears the flag of each
// unit it finds free. The maps are read as a sweep reads: a bad stretch of
// one costs the logarithm of its length, not a failed read for each batch
// that asks for another sector of it, and a unit whose entry, bit or
// allocation-file block could not be read is searched as a free one is, so
// nothing that may hold a lost file is passed over.

#include "formats/Extent.h"
#include "fs/fat/FATGeometry.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class ApfsSpaceManager;
class Volume;

class UsedBlockMaps {
public:
    static constexpr std::size_t kBatchUnits = 40;
    using Flags = std::array<std::uint8_t, kBatchUnits>;

    // The APFS map, which reads the container's own.
    explicit UsedBlockMaps(Volume& volume) noexcept;
    // The HFS+ map over the allocation file's extents.
    UsedBlockMaps(Volume& volume, std::vector<Extent> allocationExt) noexcept;
    // The FAT map over the first FAT of that layout.
    UsedBlockMaps(Volume& volume, const FATGeometry& fat) noexcept;
    ~UsedBlockMaps();
    UsedBlockMaps(const UsedBlockMaps&) = delete;
    UsedBlockMaps& operator=(const UsedBlockMaps&) = delete;

    // HFS+: allocation blocks from `block`, one bit each in the allocation
    // file (most significant bit first), read through its extents.
    void get40BlocksUsedStatusFromBlock(std::uint64_t block, Flags& boolArray);
    // FAT12/16/32 (the width the volume's content names): clusters from
    // `cluster`; a cluster whose entry in the first FAT is 0 is free.
    void get40BlocksUsedStatusOfFATFromBlock(std::uint64_t cluster, Flags& boolArray);
    // APFS: sectors from `unit` of the container, whose blocks the space
    // manager's bitmaps mark. A sector whose block lies outside the chunks
    // stays in use; a container whose space manager cannot be followed at
    // all is searched whole (the map is read at the first call, once).
    void get40BlocksUsedStatusFromBlockApfs(std::uint64_t unit, Flags& boolArray);

    // The volume block that holds the allocation-file block with `block`'s
    // bit, with the bit's index in that block; 0 when the allocation file's
    // extents do not reach that far.
    std::uint32_t getAllocationBlockForBlock(std::uint32_t block, std::uint32_t& returnedBitIndex);

private:
    // Bits in one allocation-file block (one allocation block of the volume).
    std::uint64_t bitsPerMapBlock() const;
    // The volume block holding allocation-file block `index`, found through
    // the file's extents; nothing past the last extent.
    std::optional<std::uint64_t> volumeBlockOfMapBlock(std::uint64_t index) const;
    // One allocation block of the volume, zero where it could not be read.
    std::vector<std::uint8_t> readAllocationBlock(std::uint64_t volumeBlock);
    // `sectors` of a map from `sector`, zeros where they could not be read:
    // how many could not (nothing when the medium has gone).
    std::optional<std::uint64_t> readMap(std::uint64_t sector, std::uint64_t sectors, std::uint8_t* into);

    Volume& volume_;
    std::vector<Extent> allocationExt_;
    FATGeometry fat_;
    // The APFS container's map once read; null when it could not be.
    bool apfsRead_ = false;
    std::unique_ptr<ApfsSpaceManager> apfs_;
};
