#pragma once

// Builds exFAT volumes in memory for what no tool writes: damaged or
// hostile boot sectors and entry sets, chains back into ancestors, odd
// geometries. The volume is a boot sector, one FAT after it and the cluster
// heap; every cluster starts zeroed, and directories are filled set by set.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class ExFATImageBuilder {
public:
    struct Set {
        std::u16string name;
        bool folder = false;
        bool deleted = false;
        std::uint32_t firstCluster = 0;
        std::uint64_t size = 0;
        bool noFatChain = true;
    };

    // Sectors of 2^sectorShift bytes, clusters of 2^clusterShift sectors;
    // the root directory is cluster 2.
    explicit ExFATImageBuilder(std::uint8_t sectorShift = 9, std::uint8_t clusterShift = 3,
                               std::uint32_t clusterCount = 64);

    // Appends the set to the directory that starts at the cluster, after its
    // last set; answers the byte offset of the set's first entry.
    std::size_t addSet(std::uint32_t directoryCluster, const Set& set);
    void setFat(std::uint32_t cluster, std::uint32_t next);
    void writeCluster(std::uint32_t cluster, std::string_view bytes);
    std::uint64_t clusterOffset(std::uint32_t cluster) const;

    // The volume as it stands; tests change bytes in it directly.
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    std::filesystem::path write(const std::filesystem::path& file) const;

private:
    std::uint64_t sectorBytes_, clusterBytes_, fatOffset_, heapOffset_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::size_t> used_; // bytes of sets in each cluster's directory
};

} // namespace testsupport
