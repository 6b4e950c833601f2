#pragma once

// One block device as sysfs describes it: a folder of <sysfs>/block (a whole
// disk) or of <sysfs>/class/block (a disk or a partition). Every attribute is
// read with a bounded read and may be missing; the folder structure, not the
// device's name, says which disk a partition belongs to.

#include <cstdint>
#include <optional>
#include <string>

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
    // What tells this attachment of the device from another at the same
    // node: its number, the sequence number the kernel gives its disk at
    // every attach and change of medium ("diskseq", where it keeps one), its
    // size, and, for a partition, where it begins. Another disk plugged in,
    // the same one put back, an image attached again, a card swapped or a
    // disk partitioned anew changes it.
    std::string attachment() const;
    // A compressed swap device (zram) or a RAM disk (brd, major 1): memory,
    // not a medium anyone recovers files from.
    bool isMemoryDisk() const;

    // Whether a read of the device that goes past its own page cache
    // (O_DIRECT) is answered by the medium itself: not by a loop device that
    // reads its file through the page cache, nor by anything stacked on one
    // (a partition of it, a device-mapper target over it).
    bool readsPastEveryCache() const;
    // For a loop device, or a partition of one: the file it serves, as the
    // kernel names it, and where the device begins past the loop's own
    // offset into that file (a partition's start). Nothing for any other.
    struct LoopFile {
        std::string path;
        std::uint64_t startBytes = 0;
    };
    std::optional<LoopFile> loopFile() const;

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
    std::optional<std::string> firstAttribute(std::initializer_list<const char*> names) const;
    bool readsPastEveryCache(int depth) const;

    std::string sysfsRoot_;
    std::string entry_;
    std::string name_;
    std::string folder_;
};
