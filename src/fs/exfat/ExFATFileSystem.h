#pragma once

// File-system recovery of an exFAT volume: the main boot sector is checked,
// then the root directory is walked set by set. Every folder, live or
// deleted, becomes a node of the found-file tree, and of the files only
// those that are deleted or lie below a deleted folder: the live files of a
// live volume are what the user can still copy.
//
// A folder is read along its chain in the FAT (or its run of clusters, for
// one that has no chain), at most kMaxDirectoryClusters clusters, and a
// cluster once in the whole walk; of each cluster no more than up to an
// end-of-directory entry; an entry set may cross from one cluster into the
// next. A sector of a directory that cannot be read costs only its own
// entries.
//
// Positions are worked out in bytes from the volume's first byte and read in
// the device's own sectors, so a file system whose sectors are larger than
// the device's still lies where the volume says. Nothing outside the volume
// is read, and a cluster number is followed only inside the cluster heap: a
// deleted file, taken as one run from its first cluster, ends with the heap
// and is marked damaged when its size reaches past it. A volume cut short
// (its medium ends before the length its boot sector gives) is read up to
// the cut: what lies past it, directories and files alike, is unreadable and
// counted, and a file cut by it is marked damaged.

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

    // The most clusters one folder is read in.
    static constexpr std::uint64_t kMaxDirectoryClusters = 4096;

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
    // A folder being walked: its clusters one after the other, read a piece
    // at a time, the entries not yet visited kept from one piece to the
    // next so that a set that crosses into the next cluster is seen whole.
    struct OpenDirectory {
        NewDir* parent = nullptr;
        platform::Dict progress;
        // The bytes in hand, and whether each of their entries could be
        // read; the next entry to visit is at `position`.
        std::vector<std::uint8_t> bytes;
        std::vector<bool> readable;
        std::size_t position = 0;
        // The cluster being read, how far, and how many of the folder's have
        // been taken; a folder without a FAT chain has `runClusters`.
        std::uint32_t cluster = 0;
        std::uint64_t offsetInCluster = 0;
        std::uint64_t clustersTaken = 0;
        std::uint64_t runClusters = 0;
        bool fatChain = true;
        std::uint64_t bytesRead = 0;
        // Where the bytes of the cluster being read begin in `bytes`.
        std::size_t clusterStart = 0;
        // More of the folder may follow.
        bool more = true;
    };
    // A recorded folder to walk next.
    struct FolderToWalk {
        NewDir* folder = nullptr;
        std::uint32_t firstCluster = 0;
        bool fatChain = false;
        std::uint64_t dataLength = 0;
    };

    std::optional<Geometry> geometryOf(const MainBootSector& mainBootSector) const;
    // Reads bytes of the volume into a zeroed buffer of that length; the
    // sectors that cannot be read stay zero. How many could not be read;
    // nothing, the buffer left zero, when the range does not fall on device
    // sectors, reaches past the volume's end or the medium has gone. Sectors
    // past the medium's end that the boot sector's volume still holds (a
    // volume cut short) are unreadable, and counted as such.
    std::optional<std::uint64_t> readVolumeBytes(std::uint64_t offset, std::uint64_t length,
                                                 std::vector<std::uint8_t>& buffer) const;
    void openFolder(const Geometry& g, const FolderToWalk& folder);
    // Reads the folder's next piece into its bytes: false when nothing of it
    // is left to read.
    bool readNextPiece(const Geometry& g, OpenDirectory& d);
    // The entry set at that position of the bytes in hand, recorded when it
    // passes the checks; a folder it records comes back to be walked.
    std::optional<FolderToWalk> takeSet(const Geometry& g, OpenDirectory& d, std::size_t at);
    // The cluster that follows in the FAT, when it is one of the heap.
    std::optional<std::uint32_t> nextCluster(const Geometry& g, std::uint32_t cluster);

    Volume& volume_;
    // The volume's length in device sectors as its boot sector gives it;
    // 0 until the boot sector is taken.
    std::uint64_t declaredSectors_ = 0;
    std::vector<OpenDirectory> open_;
    std::unordered_set<std::uint32_t> walked_;
    bool tooDeepLogged_ = false;
    // The FAT sector read last.
    std::vector<std::uint8_t> fatSector_;
    std::uint64_t fatSectorAt_ = UINT64_MAX;
};
