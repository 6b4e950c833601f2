#pragma once

// File-system recovery of a FAT12, FAT16 or FAT32 volume: the boot sector
// and the FATs are checked, the geometry is kept for the searches that
// follow (geometry()), and every
// directory is walked from the root, live and deleted entries alike. Each
// folder and file becomes a node of the found-file tree under the folder it
// was found in, carrying its 8.3 short name; a deleted entry stays where it
// was, marked deleted. Long names are not read.
//
// Everything the walk meets is untrusted: cluster numbers are used only
// inside the volume's cluster range, a chain ends where it comes back to a
// cluster or runs into one that a live file or folder walked before holds
// (the file is then marked damaged, and nothing past the break is taken for
// it), a directory cluster is walked once (a folder that points at one
// already walked, such as a deleted folder reusing an ancestor's cluster, is
// an empty folder), folders nest at most kMaxDepth deep, and no read reaches
// past the volume's end. A live entry whose chain in FAT 1 is broken, or
// does not fit its size, takes the chain of FAT 2 where that one does. A
// directory sector that cannot be read costs only its own entries.

#include "formats/FATDirectoryEntry.h"
#include "formats/FATEntry.h"
#include "fs/fat/FATGeometry.h"

#include <cstdint>
#include <optional>
#include <unordered_set>
#include <vector>

class Volume;
struct NewDir;

class FATFileSystem {
public:
    explicit FATFileSystem(Volume& volume) noexcept;

    // The check, then the walk from the root directory, with the progress
    // tick running. False when the check failed (after the "!Volume
    // corrupted" alert) or the root directory could not be read.
    bool startFATFileSystemRecovery();
    // Fills the geometry (also when it then fails) and tells whether the
    // volume may be walked.
    bool checkFATFileSystemHealthy();
    // The layout the check found.
    const FATGeometry& geometry() const noexcept { return geometry_; }

    // Walks one directory whose first sector (relative to the volume) is
    // given, adding a node under andParent for every folder and file entry
    // and walking each folder as it is met. FATDetails is the chain of the
    // clusters after the first one, ending in an end value; without it the
    // directory is the fixed root of FAT12/16, read on sector by sector. True
    // when the directory ended normally (a 0x00 entry, an end value, the stop
    // flag); false when a read failed, the chain ran out, or a folder's first
    // cluster does not begin with "." and "..".
    bool enumerateDirectoryEntry(std::uint32_t sector, bool rootDirectory, const std::vector<std::uint32_t>* FATDetails,
                                 NewDir* andParent);
    // The clusters after firstCluster in its chain, ending in exactly one
    // end value; nothing when its first FAT entry could not be read. The
    // chain of a live folder (`live`) is taken from FAT 2 where FAT 1's is
    // broken and FAT 2's is not, and its clusters are held from then on.
    std::optional<std::vector<std::uint32_t>> storeClusterDetailsOfFolder(std::uint32_t firstCluster, bool live = true);

    // Deeper folders are recorded but not walked.
    static constexpr int kMaxDepth = 256;

private:
    // A chain as one FAT gives it: the clusters after the first (no end
    // value), and how it ended.
    enum class ChainEnd {
        EndValue,
        Free,
        // It came back to a cluster, ran into one that another chain holds,
        // or named one outside the volume or marked bad.
        Broken,
        // A FAT entry of it could not be read.
        Unreadable,
        Stopped,
    };
    struct Chain {
        std::vector<std::uint32_t> clusters;
        ChainEnd end = ChainEnd::EndValue;
    };

    // Reads count sectors at a sector of the volume; sectors that cannot be
    // read come back as zeros. How many could not be read; nothing when the
    // request reaches past the volume's end or the medium has gone.
    std::optional<std::uint64_t> readVolumeSectors(std::uint64_t sector, std::uint32_t count, std::uint8_t* buffer);
    // Whether a cluster number names a cluster of the data area.
    bool isDataCluster(std::uint64_t cluster) const;
    // First sector of a cluster, relative to the volume.
    std::uint64_t sectorOfCluster(std::uint32_t cluster) const;
    // The entry of a cluster in FAT 1 (fat 0) or FAT 2 (fat 1), or nothing
    // when it lies outside the FAT or could not be read.
    std::optional<FATEntry> fatEntry(std::uint32_t cluster, unsigned fat = 0);
    // What the chain walk appends when a value ends the chain.
    std::uint32_t endMarker() const;
    Chain followChain(std::uint32_t firstCluster, unsigned fat);
    // The chain of an entry: FAT 1's, or for a live entry FAT 2's where
    // FAT 1's is broken or is not `clusters` long (0: any length that ends
    // in an end value) and FAT 2's is. A live entry's clusters are held from
    // then on.
    Chain chainOf(std::uint32_t firstCluster, bool live, std::uint64_t clusters);
    bool held(std::uint32_t cluster) const { return cluster < held_.size() && held_[cluster]; }

    NewDir* makeNode(const FATDirectoryEntry& entry, NewDir* parent, bool folder);
    void addFolder(const FATDirectoryEntry& entry, NewDir* parent);
    void addFile(const FATDirectoryEntry& entry, NewDir* parent);
    void postProgressStart();
    void fillProgress();

    Volume& volume_;
    FATGeometry geometry_;
    std::uint32_t bytesInSector_ = 0;
    std::uint32_t clusterBytes_ = 0;
    std::uint64_t clusterCount_ = 0;
    // One piece of each FAT kept between lookups: chains of neighbouring
    // files lie in the same piece.
    struct FatPiece {
        std::vector<std::uint8_t> bytes;
        std::uint64_t start = 0;
        std::uint32_t sectors = 0;
        // Some of its sectors could not be read.
        bool damaged = false;
    };
    FatPiece fatPieces_[2];
    std::unordered_set<std::uint32_t> walkedDirectoryClusters_;
    // The clusters of the live files and folders walked so far.
    std::vector<bool> held_;
    bool secondFatLogged_ = false;
    int depth_ = 0;
};
