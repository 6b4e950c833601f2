#pragma once

// The boot sector of a FAT12, FAT16 or FAT32 volume: its BIOS parameter
// block as stored (little-endian, read field by field) and the layout that
// follows from it. The drive list, the content detection and the FAT walk
// each read a boot sector and judge it by their own needs; all of them read
// it through this one decoder.
//
// The layout is counted in the boot sector's own sectors from the volume's
// first one. Nothing in it is trusted: every derived number is 64-bit, so no
// sum of stored fields can wrap, and a count that the fields leave undefined
// (no bytes per sector, no sectors per cluster, areas larger than the
// volume) is absent rather than divided out.

#include "platform/ByteView.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// A FAT's entry width, which the cluster count decides.
enum class FATType { FAT12, FAT16, FAT32 };

struct FATBootSector {
    static constexpr std::size_t kBytes = 512;
    // Below this many clusters a FAT is FAT12, below the second FAT16, as
    // Microsoft's FAT documents define them.
    static constexpr std::uint64_t kFAT16MinClusters = 4085;
    static constexpr std::uint64_t kFAT32MinClusters = 65525;

    bool jumpInstruction = false; // EB xx 90 or E9 at byte 0
    bool bootSignature = false;   // 55 AA at byte 510
    std::uint16_t bytesPerSector = 0;
    std::uint8_t sectorsPerCluster = 0;
    std::uint16_t reservedSectorCount = 0;
    std::uint8_t numberOfFats = 0;
    std::uint16_t rootEntryCount = 0;
    std::uint16_t totalSectors16 = 0;
    std::uint8_t media = 0;
    std::uint16_t fatSize16 = 0;
    std::uint32_t totalSectors32 = 0;
    std::uint32_t fatSize32 = 0;   // FAT32's
    std::uint32_t rootCluster = 0; // FAT32's

    // The fields of the first 512 bytes; nothing when the view is shorter.
    static std::optional<FATBootSector> decode(platform::ByteView sector);

    // The rules a volume must meet to be walked: its jump and signature, a
    // sector of 512 to 4096 bytes (a multiple of 512), a power of two of
    // sectors per cluster, a FAT at least, and areas that end within 32 bits
    // of sectors.
    bool isValid() const;
    bool hasBootCode() const { return jumpInstruction && bootSignature; }

    // The 16-bit fields, or the 32-bit ones where those are 0.
    std::uint32_t totalSectors() const { return totalSectors16 != 0 ? totalSectors16 : totalSectors32; }
    std::uint32_t fatSize() const { return fatSize16 != 0 ? fatSize16 : fatSize32; }

    std::uint64_t fatStart() const { return reservedSectorCount; }
    std::uint64_t rootDirectoryStart() const { return fatStart() + std::uint64_t(numberOfFats) * fatSize(); }
    // The fixed root directory of FAT12 and FAT16 (0 entries on FAT32); 0
    // without bytes per sector.
    std::uint64_t rootDirectorySectors() const;
    std::uint64_t dataStart() const { return rootDirectoryStart() + rootDirectorySectors(); }
    // Clusters of the data area up to the stated end of the volume; nothing
    // when the fields leave no such count.
    std::optional<std::uint64_t> clusterCount() const;
    // The width the cluster count gives; nothing without a count.
    std::optional<FATType> type() const;
};
