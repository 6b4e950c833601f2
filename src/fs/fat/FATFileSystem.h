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
// inside the volume's cluster range, a chain ends on a cluster it has met
// before, a directory cluster is walked once (a folder that points at one
// already walked, such as a deleted folder reusing an ancestor's cluster, is
// an empty folder), folders nest at most kMaxDepth deep, and no read reaches
// past the volume's end.

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
    // The clusters after firstCluster in its chain through FAT 1, ending in
    // exactly one end value; nothing when a FAT read failed.
    std::optional<std::vector<std::uint32_t>> storeClusterDetailsOfFolder(std::uint32_t firstCluster);

    // Deeper folders are recorded but not walked.
    static constexpr int kMaxDepth = 256;

private:
    // Reads count sectors at a sector of the volume; a request that reaches
    // past the volume's end fails without reading.
    bool readVolumeSectors(std::uint64_t sector, std::uint32_t count, std::uint8_t* buffer);
    // Whether a cluster number names a cluster of the data area.
    bool isDataCluster(std::uint64_t cluster) const;
    // First sector of a cluster, relative to the volume.
    std::uint64_t sectorOfCluster(std::uint32_t cluster) const;
    // The FAT 1 entry of a cluster, or nothing when it lies outside the FAT
    // or could not be read.
    std::optional<FATEntry> fatEntry(std::uint32_t cluster);
    // What the chain walk appends when a value ends the chain.
    std::uint32_t endMarker() const;

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
    // One piece of FAT 1 kept between lookups: chains of neighbouring files
    // lie in the same piece.
    std::vector<std::uint8_t> fatPiece_;
    std::uint64_t fatPieceStart_ = 0;
    std::uint32_t fatPieceSectors_ = 0;
    std::unordered_set<std::uint32_t> walkedDirectoryClusters_;
    int depth_ = 0;
};
