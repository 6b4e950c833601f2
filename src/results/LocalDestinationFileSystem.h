#pragma once

// The destination checks answered by the running system: statvfs for room
// and read-only mounts, the mount table for the file system's type (statfs
// when the table has no entry for it), and sysfs for which disk a file
// system lives on, down to the files behind loop devices. The sysfs root and
// the mount table are those of SystemPaths, so tests can point them at fake
// trees.

#include "media/SystemPaths.h"
#include "results/DestinationFileSystem.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <sys/types.h>
#include <vector>

class LocalDestinationFileSystem : public DestinationFileSystem {
public:
    explicit LocalDestinationFileSystem(SystemPaths paths = SystemPaths::system());

    std::optional<std::uint64_t> freeBytes(const std::string& path) const override;
    std::optional<Info> info(const std::string& path) const override;
    bool isOnMedium(const std::string& path, const std::string& mediumPath) const override;

    // The type of the mounted file system that holds path, from the mount
    // table: the deepest mount point above the resolved path, preferring
    // entries of path's own device number. Empty when none is found.
    std::string mountedTypeOf(const std::string& path) const;

private:
    // A file by its device and inode numbers, whatever path reaches it.
    struct FileId {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const FileId&) const = default;
    };
    // Bytes [from, to) of a file.
    struct FileRange {
        FileId file;
        std::uint64_t from = 0;
        std::uint64_t to = std::numeric_limits<std::uint64_t>::max();
    };
    // "major:minor" of block devices and the parts of files that hold them.
    struct Stack {
        std::set<std::string> devices;
        std::vector<FileRange> files;
    };
    static constexpr std::size_t kMaxBackingPath = 8192;

    // "major:minor" of the devices a file system at path is mounted from:
    // its own device, and the mounted-from device for file systems with an
    // anonymous device number.
    std::vector<std::string> devicesHolding(const std::string& path) const;
    // The devices from these down: everything sysfs lists below them
    // (device-mapper and RAID members) and the backing files of the loop
    // devices among them; throughLoops also goes on below those files, to
    // the devices that hold them.
    Stack stackBelow(std::vector<std::string> devices, bool throughLoops) const;
    // The part of the file behind a loop device, or behind the loop device a
    // partition belongs to (by sysfs's nesting, never by the name), that the
    // device reaches; the file's path too.
    std::optional<FileRange> loopBackingFile(const std::string& majorMinor, std::string* backingPath) const;
    // The whole disk of a partition ("8:0" for "8:1"); the device itself
    // otherwise.
    std::string wholeDiskOf(const std::string& majorMinor) const;

    SystemPaths paths_;
};
