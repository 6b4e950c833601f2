#pragma once

// One block device as sysfs describes it: a folder of <sysfs>/block (a whole
// disk) or of <sysfs>/class/block (a disk or a partition). Every attribute is
// read with a bounded read and may be missing; the folder structure, not the
// device's name, says which disk a partition belongs to.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class SysfsBlockDevice {
public:
    // entry: the path of the device's entry (usually a symbolic link into
    // <sysfs>/devices). Empty when it does not lead to a folder.
    static std::optional<SysfsBlockDevice> open(const std::string& entry, const std::string& sysfsRoot);

    // The kernel's name ("sda", "nvme0n1p2"), the entry's last component.
    const std::string& name() const { return name_; }
    // The resolved folder under <sysfs>/devices.
    const std::string& folder() const { return folder_; }
    // The folder above: for a partition, the folder of its disk.
    std::string parentFolder() const;

    bool isPartition() const;
    std::uint32_t partitionNumber() const;
    bool readOnly() const;
    // size x 512: sysfs counts in 512-byte units whatever the sector size.
    // 0 when missing or when it does not fit 64 bits.
    std::uint64_t sizeInBytes() const;
    // queue/logical_block_size; 0 when missing (partitions have no queue).
    std::uint32_t logicalBlockSize() const;
    bool removable() const;
    // "major:minor" as the dev attribute gives it ("" when missing).
    std::string devNumber() const;
    // What tells the medium at this node from another put there: its
    // number, the sequence number the kernel gives its disk at every attach
    // and change of medium ("diskseq", where it keeps one), and, for a
    // partition, where it begins. Another disk plugged in, the same one put
    // back, an image attached again, a card swapped or a disk partitioned
    // anew changes it; the medium growing or shrinking does not. A kernel
    // that keeps no sequence number still names what a loop device reads and
    // the serial number of what the disk is (an SD card's own in a slot), so
    // that there another image or card changes it too.
    std::string mediumIdentity() const;
    // What tells this attachment of the device from another at the same
    // node: its medium (mediumIdentity) and its size.
    std::string attachment() const;
    // Whether the device still holds the medium `identity` (a
    // mediumIdentity() read before) names, and any medium at all: a loop
    // device detached, or a reader whose card was taken out, is left with
    // the same identity and no size.
    bool holdsMedium(const std::string& identity) const;
    // A compressed swap device (zram) or a RAM disk (brd, major 1): memory,
    // not a medium anyone recovers files from.
    bool isMemoryDisk() const;

    // What a path is, as stat(2) tells: a block device and its number, or a
    // regular file, the number of the block device its file system is on
    // and its inode; nothing when it cannot be looked at.
    struct PathFacts {
        enum class Kind { BlockDevice, RegularFile, Other };
        Kind kind = Kind::Other;
        // "major:minor": the device's own, or that of the file's file system.
        std::string devNumber;
        std::uint64_t inode = 0;
    };
    using LookAt = std::function<std::optional<PathFacts>(const std::string& path)>;
    static std::optional<PathFacts> lookAt(const std::string& path);

    // Where a read of the device reaches the medium itself, past every cache.
    // Itself: the device read with O_DIRECT (a disk or a partition of one, a
    // loop device in direct I/O over what is itself so read, a device-mapper
    // device over such devices only). Below: `path` read with O_DIRECT from
    // `startBytes` on, the file or block device that the loop devices in
    // `loops` (the first over the device, each over the next) read through
    // their page caches, each loop's offset and a partition's start added.
    // None: nothing reaches the medium past every cache (a page-cached loop
    // device under a file system the file lies on, a device-mapper device
    // over one, a loop device the kernel names no backing file of).
    struct Loop {
        // What the loop device reads, as the kernel names it, and what that
        // is; where the loop begins in it.
        std::string backing;
        PathFacts facts;
        std::uint64_t offset = 0;
    };
    // Where the way passes through a regular file on a file system whose
    // device reads through a page cache (`through`): the medium begins at
    // `startBytes` of `file`, whose extents there lie on the device named
    // `device`; the first `loopsAbove` of `loops` lead to the file, the rest
    // from that device down to `path`, where `startBytes` of the bottom is
    // added to the extents' places.
    struct Bottom {
        enum class Way { Itself, Below, None };
        Way way = Way::None;
        std::string path;
        std::uint64_t startBytes = 0;
        std::vector<Loop> loops;
        struct Through {
            std::string file;
            std::uint64_t startBytes = 0;
            std::string device;
            std::size_t loopsAbove = 0;
        };
        std::optional<Through> through;
        // The bottom is a file on a file system with no block device under
        // it that the program could follow (FUSE, NFS, overlay, btrfs): its
        // O_DIRECT is taken as past every cache, though nothing tells what
        // that file system caches below.
        bool unseenBelow = false;
    };
    Bottom bottom(const LookAt& look = lookAt) const;
    // The same for a regular file at `path`, read with O_DIRECT: Itself when
    // the block device its file system is on is read past every cache (or it
    // has none), Below through its extents where that device reads through
    // a page cache and its own bottom lies below it.
    static Bottom fileBottom(const PathFacts& file, const std::string& path, const std::string& sysfsRoot,
                             const LookAt& look = lookAt);
    // Whether a regular file read with O_DIRECT is read past every cache:
    // when the block device its file system is on is (one with none, as a
    // network or FUSE file system, answers O_DIRECT itself).
    static bool fileReadsPastEveryCache(const PathFacts& file, const std::string& sysfsRoot,
                                        const LookAt& look = lookAt);
    // The page caches a read past the device's own goes through: the file or
    // device that each loop device on the way reads through its page cache
    // (one in direct I/O reads past it), down to the bottom, through the
    // file systems of the files on the way and the devices a device-mapper
    // device maps; as the kernel names them, the nearest first. Such a cache
    // may fail a large folio whole for one bad page in it, readable pages
    // with it, for as long as it keeps the folio.
    std::vector<std::string> cachesBelow(const LookAt& look = lookAt) const;
    // The same under a regular file: those below its file system's device.
    static std::vector<std::string> cachesBelowFile(const PathFacts& file, const std::string& sysfsRoot,
                                                    const LookAt& look = lookAt);
    // The device of a number ("major:minor"), as <sysfs>/dev/block names it.
    static std::optional<SysfsBlockDevice> ofNumber(const std::string& devNumber, const std::string& sysfsRoot);
    // The device a node is, as stat(2) tells of it (by its number, not its
    // name); nothing when it is no block device.
    static std::optional<SysfsBlockDevice> ofNode(const std::string& node, const std::string& sysfsRoot,
                                                  const LookAt& look = lookAt);
    // For a loop device, or a partition of one: what it reads, as the kernel
    // names it (a file or a block device); "" for any other device.
    std::string loopBacking() const;

    // Identity strings of the device behind the disk; "" when absent.
    std::string model() const;
    std::string serial() const;
    std::string revision() const;

    // The bus the disk hangs on, found by walking up the device path:
    // "USB", "FireWire", "Thunderbolt", "Secure Digital", "PCI-Express",
    // "SAS", "SATA", "Virtio", "SCSI", "Virtual Interface", or "" when none is
    // recognised.
    std::string physicalInterconnect() const;
    // Name and folder of the driver bound to the nearest device above the
    // disk ("sd", "nvme", "mmcblk", "virtio_blk"); "" when none is bound.
    std::string driverName() const;
    std::string driverFolder() const;

    // An attribute of this device: its first line, at most kMaxAttribute
    // bytes, control characters blanked; nullopt when it cannot be read.
    std::optional<std::string> attribute(const std::string& relativePath) const;
    static std::optional<std::string> readAttribute(const std::string& path);
    static constexpr std::size_t kMaxAttribute = 4096;

private:
    SysfsBlockDevice() = default;
    static std::optional<std::string> firstAttribute(const std::string& folder,
                                                     std::initializer_list<const char*> names);
    static std::string serialIn(const std::string& folder);
    Bottom bottom(const LookAt& look, int depth) const;
    static bool fileReadsPastEveryCache(const PathFacts& file, const std::string& sysfsRoot, const LookAt& look,
                                        int depth);
    static Bottom fileBottom(const PathFacts& file, const std::string& path, const std::string& sysfsRoot,
                             const LookAt& look, int depth);
    void cachesBelow(const LookAt& look, int depth, std::vector<std::string>& caches) const;
    static void cachesBelowFile(const PathFacts& file, const std::string& sysfsRoot, const LookAt& look, int depth,
                                std::vector<std::string>& caches);

    std::string sysfsRoot_;
    std::string entry_;
    std::string name_;
    std::string folder_;
};
