#pragma once

// What the FAT walk learns of a volume's layout: its boot sector and the FAT
// width its content names. The walk works from it, and the scan thread hands
// it to the searches of the volume's free clusters, which read the first FAT
// and count in its clusters.

#include "formats/FATBootSector.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

struct FATGeometry {
    // The width the volume's content names ("FAT12", "FAT16", "FAT32");
    // nothing for any other content.
    std::optional<FATType> type;
    // Zeros until a boot sector with its jump and signature has been read.
    FATBootSector boot;

    static std::optional<FATType> typeOfContent(std::string_view content) {
        if (content == "FAT12") return FATType::FAT12;
        if (content == "FAT16") return FATType::FAT16;
        if (content == "FAT32") return FATType::FAT32;
        return std::nullopt;
    }
    // 0 while unknown.
    std::uint32_t sectorsPerCluster() const { return boot.sectorsPerCluster; }
    // The first FAT, in sectors from the volume's start.
    std::uint64_t fatStart() const { return boot.fatStart(); }
    // The fixed root directory of a volume its content names FAT12 or FAT16.
    std::uint64_t rootDirectorySectors() const {
        return type == FATType::FAT12 || type == FATType::FAT16 ? boot.rootDirectorySectors() : 0;
    }
    // Where the data area begins, in sectors from the volume's start.
    std::uint64_t dataStart() const { return boot.rootDirectoryStart() + rootDirectorySectors(); }
    // The data clusters (numbered from 2): what the boot sector's sector
    // count (the volume's, where it has none) leaves after the data area
    // begins, and no more than the FAT has entries for. 0 while the
    // geometry is unknown.
    std::uint64_t clusterCount(std::uint64_t volumeSectors, std::uint32_t bytesPerSector) const {
        if (sectorsPerCluster() == 0) return 0;
        const std::uint64_t totalSectors = boot.totalSectors() != 0 ? boot.totalSectors() : volumeSectors;
        const std::uint64_t dataSectors = totalSectors > dataStart() ? totalSectors - dataStart() : 0;
        const std::uint64_t bitsPerEntry = type == FATType::FAT12 ? 12 : type == FATType::FAT16 ? 16 : 32;
        const std::uint64_t fatEntries = std::uint64_t(boot.fatSize()) * bytesPerSector * 8 / bitsPerEntry;
        return std::min(dataSectors / sectorsPerCluster(), fatEntries > 2 ? fatEntries - 2 : 0);
    }
};
