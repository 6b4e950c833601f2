#pragma once

// File-system recovery of an exFAT volume: the main boot sector is checked,
// then the root directory is walked set by set. Every folder, live or
// deleted, becomes a node of the found-file tree, and of the files only
// those that are deleted or lie below a deleted folder: the live files of a
// live volume are what the user can still copy.
//
// Positions are worked out in bytes from the volume's first byte and read in
// the device's own sectors, so a file system whose sectors are larger than
// the device's still lies where the volume says. Nothing outside the volume
// is read, and a cluster number is followed only inside the cluster heap.

#include "platform/Value.h"

#include <cstdint>
#include <optional>
#include <unordered_set>
#include <vector>

class Volume;
class MainBootSector;
struct NewDir;

class ExFATFileSystem {
public:
    explicit ExFATFileSystem(Volume& volume) noexcept;

    // True when the boot sector names exFAT and carries its signature (also
    // when the walk is then skipped for a FAT count other than 1), unless
    // its geometry cannot be worked with.
    bool startExFATFileSystemRecovery();
    // Walks the directory whose cluster starts at that device sector and,
    // depth first, every folder found below it; its entry sets are recorded
    // below Parent.
    void readExFatDirectoryOffset(std::uint64_t sector, const MainBootSector& mainBootSector, NewDir* Parent);
    // Bit (bit mod 32) of the value's low byte.
    static bool IsBitSet(std::uint32_t value, std::uint32_t bit);

private:
    // The layout in bytes from the volume's first byte.
    struct Geometry {
        std::uint64_t sectorBytes = 0; // the device's
        std::uint64_t clusterBytes = 0;
        std::uint64_t fatOffset = 0;
        std::uint64_t fatLength = 0;
        std::uint64_t heapOffset = 0;
        std::uint64_t clusterCount = 0;
        bool inHeap(std::uint64_t cluster) const { return cluster >= 2 && cluster < clusterCount + 2; }
        std::uint64_t clusterOffset(std::uint64_t cluster) const;
    };
    // One directory cluster being walked.
    struct DirectoryCluster {
        std::vector<std::uint8_t> bytes;
        std::size_t position = 0;
        NewDir* parent = nullptr;
        platform::Dict progress;
        // A folder of this cluster whose second cluster is looked up once
        // its first one has been walked.
        NewDir* chainedFolder = nullptr;
        std::uint32_t chainedFrom = 0;
    };
    // A recorded folder to walk next.
    struct FolderToWalk {
        NewDir* folder = nullptr;
        std::uint32_t firstCluster = 0;
        bool fatChain = false;
    };

    std::optional<Geometry> geometryOf(const MainBootSector& mainBootSector) const;
    // Reads bytes of the volume into a zeroed buffer of that length. False,
    // the buffer left zero, when the range does not fall on device sectors,
    // reaches past the volume's end or cannot be read.
    bool readVolumeBytes(std::uint64_t offset, std::uint64_t length, std::vector<std::uint8_t>& buffer) const;
    void openCluster(const Geometry& g, std::uint64_t offset, NewDir* parent);
    // The entry set at that position of the cluster, recorded when it
    // passes the checks; a folder it records comes back to be walked.
    std::optional<FolderToWalk> takeSet(const Geometry& g, DirectoryCluster& cluster, std::size_t at);
    // The cluster that follows in the FAT, when it is one of the heap.
    std::optional<std::uint32_t> nextCluster(const Geometry& g, std::uint32_t cluster) const;

    Volume& volume_;
    std::vector<DirectoryCluster> open_;
    std::unordered_set<std::uint64_t> walked_;
    bool tooDeepLogged_ = false;
};
