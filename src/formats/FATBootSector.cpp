#include "formats/FATBootSector.h"

#include <limits>

namespace {
constexpr std::uint64_t kDirectoryEntryBytes = 32;

bool isPowerOfTwo(std::uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}
} // namespace

std::optional<FATBootSector> FATBootSector::decode(platform::ByteView b) {
    if (!b.has(0, kBytes)) return std::nullopt;
    FATBootSector s;
    s.jumpInstruction = (b.u8(0) == 0xEB && b.u8(2) == 0x90) || b.u8(0) == 0xE9;
    s.bootSignature = b.u8(510) == 0x55 && b.u8(511) == 0xAA;
    s.bytesPerSector = b.le16(11);
    s.sectorsPerCluster = b.u8(13);
    s.reservedSectorCount = b.le16(14);
    s.numberOfFats = b.u8(16);
    s.rootEntryCount = b.le16(17);
    s.totalSectors16 = b.le16(19);
    s.media = b.u8(21);
    s.fatSize16 = b.le16(22);
    s.totalSectors32 = b.le32(32);
    s.fatSize32 = b.le32(36);
    s.rootCluster = b.le32(44);
    return s;
}

bool FATBootSector::isValid() const {
    // Clusters of no sector, or of a size no FAT allows, would make every
    // cluster computation meaningless.
    return hasBootCode() && bytesPerSector % 512 == 0 && bytesPerSector >= 512 && bytesPerSector <= 4096 &&
           isPowerOfTwo(sectorsPerCluster) && numberOfFats != 0 &&
           dataStart() <= std::numeric_limits<std::uint32_t>::max();
}

std::uint64_t FATBootSector::rootDirectorySectors() const {
    if (bytesPerSector == 0) return 0;
    return (rootEntryCount * kDirectoryEntryBytes + bytesPerSector - 1) / bytesPerSector;
}

std::optional<std::uint64_t> FATBootSector::clusterCount() const {
    // Every term is below 2^41, so the sum is exact.
    if (bytesPerSector == 0 || sectorsPerCluster == 0 || dataStart() > totalSectors()) return std::nullopt;
    return (totalSectors() - dataStart()) / sectorsPerCluster;
}

std::optional<FATType> FATBootSector::type() const {
    const std::optional<std::uint64_t> clusters = clusterCount();
    if (!clusters) return std::nullopt;
    if (*clusters < kFAT16MinClusters) return FATType::FAT12;
    if (*clusters < kFAT32MinClusters) return FATType::FAT16;
    return FATType::FAT32;
}
