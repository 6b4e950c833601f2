#pragma once

// The destination checks answered by the running system: statvfs for room
// and read-only mounts, the mount table for the file system's type (statfs
// when the table has no entry for it), and sysfs for which disk a file
// system lives on. The sysfs root and the mount table are those of
// SystemPaths, so tests can point them at fake trees.

#include "media/SystemPaths.h"
#include "results/DestinationFileSystem.h"

#include <set>

class LocalDestinationFileSystem : public DestinationFileSystem {
public:
    explicit LocalDestinationFileSystem(SystemPaths paths = SystemPaths::system());

    std::optional<std::uint64_t> freeBytes(const std::string& path) const override;
    std::optional<Info> info(const std::string& path) const override;
    bool isOnDevice(const std::string& path, const std::string& devicePath) const override;

    // The type of the mounted file system that holds path, from the mount
    // table: the deepest mount point above the resolved path, preferring
    // entries of path's own device number. Empty when none is found.
    std::string mountedTypeOf(const std::string& path) const;

private:
    // "major:minor" of the block devices a file system at path is stored
    // on: its own device, the mounted-from device for file systems with an
    // anonymous device number, and everything sysfs lists below them
    // (device-mapper and RAID members).
    std::set<std::string> blockDevicesUnder(const std::string& path) const;
    // The whole disk of a partition ("8:0" for "8:1"); the device itself
    // otherwise.
    std::string wholeDiskOf(const std::string& majorMinor) const;

    SystemPaths paths_;
};
