#pragma once

// File-system recovery of a FAT12, FAT16 or FAT32 volume: the boot sector
// and the FATs are checked, the geometry is stored in the volume, and every
// directory is walked from the root, live and deleted entries alike. Each
// folder and file becomes a node of the found-file tree under the folder it
// was found in, carrying its 8.3 short name; a deleted entry stays where it
// was, marked deleted.

#include <cstdint>
#include <optional>
#include <vector>

class Volume;
struct NewDir;

class FATFileSystem {
public:
    explicit FATFileSystem(Volume& volume) noexcept;

    // The check, then the walk from the root directory. False when the check
    // failed (after the "!Volume corrupted" alert) or the root could not be
    // read.
    bool startFATFileSystemRecovery();
    // Fills the volume's geometry and tells whether it may be walked.
    bool checkFATFileSystemHealthy();

private:
    Volume& volume_;
};
