#pragma once

// File-system recovery of an exFAT volume: the main boot sector is checked,
// then the root directory is walked set by set. Every folder, live or
// deleted, becomes a node of the found-file tree, and of the files only
// those that are deleted or lie below a deleted folder: the live files of a
// live volume are what the user can still copy.

#include <cstdint>

class Volume;
class MainBootSector;
struct NewDir;

class ExFATFileSystem {
public:
    explicit ExFATFileSystem(Volume& volume) noexcept;

    // True when the boot sector names exFAT and carries its signature (also
    // when the walk is then skipped for a FAT count other than 1).
    bool startExFATFileSystemRecovery();
    // Reads one cluster of a directory, first sector on the device, and
    // records its file directory entry sets below Parent.
    void readExFatDirectoryOffset(std::uint64_t sector, const MainBootSector& mainBootSector, NewDir* Parent);
    // Bit (bit mod 32) of the value's low byte.
    static bool IsBitSet(std::uint32_t value, std::uint32_t bit);

private:
    Volume& volume_;
};
