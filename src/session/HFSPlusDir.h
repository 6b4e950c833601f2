#pragma once

// The tree record that recovery sessions and the scan snapshot store for every
// found folder and file: 96 bytes of big-endian fields (the two identities
// excepted, which keep the writer's own byte order and are only ever compared
// for equality), followed by the node's name, a folder's path and the data
// extents. Files written today are opened by every later version, so the
// layout is fixed to the byte.
//
//   0 size (u64)            24 first data sector   28 created   32 modified
//  36 parent ID             40 file ID             44 files below
//  48 sectors per block     52 entries below       56 child count
//  60 extent count          64 first sector offset 68 name units (u16)
//  70 path units (u16)      72 kind (u16)
//  74 marked  75 FAT entry  76 complete  77 deleted  78 found by signature
//  80 identity (native u64) 88 parent's identity (native u64, 0 for a root)
//  8..23, 79 zero
//
// The first sector offset (bytes of the first sector before the data, a
// JPEG inside a camera raw) and the found-by-signature flag (by which a
// resumed search knows the files it recorded before) went into bytes that
// earlier files keep zero, so their records read as offset 0 and not found
// by signature, and earlier readers skip both unharmed.
//
// Trailer: the name as UTF-16 big-endian, a folder's path likewise (a file's
// never), then each extent as start block and block count (u32 each).

#include "platform/ByteView.h"

#include <cstddef>
#include <cstdint>

struct HFSPlusDir {
    static constexpr std::size_t kSize = 96;
    // The longest name and path a record carries, in UTF-16 units.
    static constexpr std::uint32_t kMaxNameUnits = 512;
    static constexpr std::uint32_t kMaxPathUnits = 2048;

    std::uint64_t fileSize = 0;
    std::uint32_t dataStartSector = 0;
    std::uint32_t createDate = 0;
    std::uint32_t modDate = 0;
    std::uint32_t parentID = 0;
    std::uint32_t fileID = 0;
    std::uint32_t fileCount = 0;
    std::uint32_t sectorsPerBlock = 0;
    std::uint32_t entriesBelow = 0;
    std::uint32_t childCount = 0;
    std::uint32_t extentCount = 0;
    std::uint32_t firstSectorOffset = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t pathLength = 0;
    std::uint16_t fileType = 0;
    std::uint8_t selected = 0;
    std::uint8_t isFATEntry = 0;
    std::uint8_t complete = 0;
    std::uint8_t deleted = 0;
    std::uint8_t foundBySignature = 0;
    std::uint64_t identity = 0;
    std::uint64_t parentIdentity = 0;

    void encode(std::uint8_t (&out)[kSize]) const;
    // The fields of a record's 96 bytes (a shorter view reads as zeros).
    static HFSPlusDir decode(platform::ByteView record);
};
