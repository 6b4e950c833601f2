#pragma once

// What the save asks of the file system that holds the chosen destination
// before it writes anything: how much room there is, whether it takes
// writes, what kind of file system it is, and whether it lives on the very
// medium being recovered. The program answers from the running system
// (LocalDestinationFileSystem); tests answer for themselves.

#include <cstdint>
#include <optional>
#include <string>

class DestinationFileSystem {
public:
    struct Info {
        bool writable = true;
        // The kernel's name of the file system ("ext4", "vfat", "fuseblk").
        std::string typeName;
    };

    virtual ~DestinationFileSystem();

    // Bytes an ordinary user may still write there; empty when unknown.
    virtual std::optional<std::uint64_t> freeBytes(const std::string& path) const = 0;
    // Empty when the system gives no answer.
    virtual std::optional<Info> info(const std::string& path) const = 0;
    // Whether writing at path writes to the medium read through mediumPath,
    // by whatever path it is reached: the device itself, a device below it,
    // a partition of it or the disk it is part of, a loop device over the
    // image file that mediumPath is, or over the file behind the loop device
    // that mediumPath is (or the partitions of such loop devices).
    virtual bool isOnMedium(const std::string& path, const std::string& mediumPath) const = 0;

    // Whether a file system of this type takes ":" in names. FAT, exFAT and
    // NTFS (and FUSE block file systems, which are mostly NTFS and exFAT) do
    // not; every native Linux file system does.
    static bool takesColons(const std::string& typeName);
};
