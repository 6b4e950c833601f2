#include "support/ExFATImageBuilder.h"

#include "support/TestSupport.h"

#include <algorithm>
#include <fstream>

namespace testsupport {

namespace {
constexpr std::size_t kEntry = 32;
constexpr std::size_t kNameUnits = 15;
} // namespace

ExFATImageBuilder::ExFATImageBuilder(std::uint8_t sectorShift, std::uint8_t clusterShift, std::uint32_t clusterCount)
    : sectorBytes_(std::uint64_t{1} << sectorShift), clusterBytes_(sectorBytes_ << clusterShift),
      used_(clusterCount + 2, 0) {
    const std::uint64_t fatSectors = ((clusterCount + 2) * 4 + sectorBytes_ - 1) / sectorBytes_;
    const std::uint64_t spc = std::uint64_t{1} << clusterShift;
    fatOffset_ = 24 * sectorBytes_;
    const std::uint64_t heapSector = (24 + fatSectors + spc - 1) / spc * spc;
    heapOffset_ = heapSector * sectorBytes_;
    bytes_.assign(heapOffset_ + clusterCount * clusterBytes_, 0);
    std::copy_n("EXFAT   ", 8, bytes_.begin() + 3);
    putLE(bytes_, 72, bytes_.size() / sectorBytes_, 8);
    putLE(bytes_, 80, 24, 4);
    putLE(bytes_, 84, fatSectors, 4);
    putLE(bytes_, 88, heapSector, 4);
    putLE(bytes_, 92, clusterCount, 4);
    putLE(bytes_, 96, 2, 4);
    bytes_[108] = sectorShift;
    bytes_[109] = clusterShift;
    bytes_[110] = 1;
    putLE(bytes_, 510, 0xAA55, 2);
    setFat(0, 0xFFFFFFF8);
    setFat(1, 0xFFFFFFFF);
    setFat(2, 0xFFFFFFFF);
}

std::uint64_t ExFATImageBuilder::clusterOffset(std::uint32_t cluster) const {
    return heapOffset_ + (cluster - 2) * clusterBytes_;
}

void ExFATImageBuilder::setFat(std::uint32_t cluster, std::uint32_t next) {
    putLE(bytes_, fatOffset_ + cluster * 4, next, 4);
}

void ExFATImageBuilder::writeCluster(std::uint32_t cluster, std::string_view data) {
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(clusterOffset(cluster)));
}

std::size_t ExFATImageBuilder::addSet(std::uint32_t directoryCluster, const Set& set) {
    const std::size_t names = std::max<std::size_t>(1, (set.name.size() + kNameUnits - 1) / kNameUnits);
    const std::size_t at = clusterOffset(directoryCluster) + used_.at(directoryCluster);
    used_[directoryCluster] += (2 + names) * kEntry;
    const std::uint8_t live = set.deleted ? 0x00 : 0x80;
    bytes_[at] = 0x05 | live;
    bytes_[at + 1] = static_cast<std::uint8_t>(1 + names);
    putLE(bytes_, at + 4, set.folder ? 0x10 : 0x20, 2);
    putLE(bytes_, at + 8, 0x5A2E6C21, 4); // 2025-01-14 13:33:02, local time
    putLE(bytes_, at + 12, 0x5A2E6C21, 4);
    const std::size_t stream = at + kEntry;
    bytes_[stream] = 0x40 | live;
    bytes_[stream + 1] = set.noFatChain ? 0x03 : 0x01;
    bytes_[stream + 3] = static_cast<std::uint8_t>(set.name.size());
    putLE(bytes_, stream + 8, set.size, 8);
    putLE(bytes_, stream + 20, set.firstCluster, 4);
    putLE(bytes_, stream + 24, set.size, 8);
    for (std::size_t i = 0; i < names; ++i) {
        const std::size_t entry = stream + (1 + i) * kEntry;
        bytes_[entry] = 0x41 | live;
        for (std::size_t u = 0; u < kNameUnits && i * kNameUnits + u < set.name.size(); ++u)
            putLE(bytes_, entry + 2 + 2 * u, set.name[i * kNameUnits + u], 2);
    }
    return at;
}

std::filesystem::path ExFATImageBuilder::write(const std::filesystem::path& file) const {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    return file;
}

} // namespace testsupport
