#pragma once

// The drive list: every writable disk of the machine, every volume on those
// disks whose file system the program can read, and the volumes offered for
// formatted recovery. Built from the kernel's own description of its block
// devices (sysfs), the process's mount table and the first sectors of each
// candidate volume; nothing is ever opened for writing.
//
// The steps walk up the device tree: each medium (disk or partition) is
// described by an array of property dictionaries, its own first and then
// those of the objects above it; the array is flattened into one dictionary
// (the nearest source wins), matched with the mounted volumes, split into
// drives and volumes, classified by its content, and each volume is hung
// under its drive. Which disk a partition belongs to
// comes from sysfs (the folder above the partition's), never from its name.
// Every drive and volume carries "Medium Identity" (SysfsBlockDevice::
// mediumIdentity), so that a list rebuilt later tells the medium a row
// showed from another attached at the same node since.
//
// One thread at a time uses a discovery, and the program makes one listing
// at a time; the lists are rebuilt from nothing by every initialDriveList. What failed when a device's first sectors
// were probed is kept (ProbeFailures) and not asked for again, in that listing nor in the next ones while the device
// stays attached as it was: a disk that fails every read is listed in a few dozen failed reads, and again in none.
// libblkid reads a device's first sectors through the page cache and gives
// up at a failed read; it is asked only about a device whose first 16 KiB
// read whole in one request and on which nothing has failed, else the
// content tests decide alone.

#include "media/BlockProbe.h"
#include "media/MountTable.h"
#include "media/ProbeFailures.h"
#include "media/SysfsBlockDevice.h"
#include "media/SystemPaths.h"
#include "media/VolumeContentDetection.h"
#include "platform/Value.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DriveDiscovery {
public:
    // `failures`: what the probes of earlier listings found failing, which
    // this one goes on with; one of its own when none is given.
    explicit DriveDiscovery(SystemPaths paths = SystemPaths::system(), std::shared_ptr<ProbeFailures> failures = {});

    // Rebuilds every list.
    void initialDriveList();

    // What the first sectors of the media are read through: libblkid's probe
    // of a medium's file system, and the reads of the content tests (pread
    // when unset). Tests put their own in between, as a failing disk gives
    // libblkid an error it gives up on.
    struct DeviceReads {
        std::function<BlockProbe::FileSystem(const std::string& deviceNode)> fileSystem = BlockProbe::fileSystem;
        VolumeContentDetection::RawRead read;
    };
    void setDeviceReads(DeviceReads reads) { reads_ = std::move(reads); }

    const platform::Array& driveDictArray() const { return driveDictArray_; }
    const platform::Array& volumeDictArray() const { return volumeDictArray_; }
    // HFS+, HFSX, APFS and exFAT volumes: the same dictionaries as in
    // volumeDictArray, in the same order.
    const platform::Array& volumeDictArrayHFSOnly() const { return volumeDictArrayHFSOnly_; }

    // --- intermediate lists, rebuilt on every refresh ---
    // One dictionary per mounted volume: "Mounted Path", "Volume Name",
    // "Volume Path".
    platform::Array finalArrayForVolumes;
    // Per medium, its property dictionaries and those of the objects above.
    platform::Array responseDriveFinder;
    // Per medium, the flattened dictionary.
    platform::Array responseFindMedia;

    // --- the steps, in the order initialDriveList runs them ---
    void volumeList();
    void AddMountedVolumeDetails(platform::Array& volumes);
    void GetMediaList(platform::Array& list);
    std::vector<SysfsBlockDevice> FindWritableMedia() const;
    void CollectMediaProperties(const std::vector<SysfsBlockDevice>& media, platform::Array& list);
    void sortDriveFinderResponse();
    // 1 copy, 2 rename (newKeyForKey), 3 look inside, 0 drop.
    static int valueRequired(const std::string& key);
    // The key a property is stored under and its new value, or nothing.
    std::optional<std::string> newKeyForKey(const std::string& key, platform::Value& value,
                                            const platform::Value& oldValue) const;
    void rearrangeDriveFinderResponse();
    void truncateDriveModelNumber();
    void separateDrvVol();
    void checkForFATPartitionByWindows(platform::Array& drives, platform::Array& volumes);
    void attachVolumesToDrives();
    void fixBundleResource();
    void getDrvVolIconPaths();

private:
    // How much of a device's start must read whole, in one request through
    // the page cache, before libblkid is asked about it: libblkid reads
    // there among its first places, the same way, and gives up at a failed
    // read.
    static constexpr std::size_t kBlockProbeLeadBytes = 16384;
    // libblkid's answers for the device at `path`, or none (nothing asked)
    // when its first sectors fail or it failed before; a probe that fails is
    // kept as a failure of the whole device.
    BlockProbe::PartitionTable partitionTableOf(const std::string& path);
    BlockProbe::FileSystem fileSystemOf(const std::string& path);
    bool blockProbeMayRead(const std::string& path);

    // What sysfs says of a medium that its dictionaries do not carry.
    struct MediumLink {
        std::string name;       // kernel name
        std::string parentPath; // "Path" of the disk of a partition, "" for a disk
        std::string devNumber;  // "major:minor"
        bool isPartition = false;
        bool hasPartitions = false;
    };
    struct MountedVolume {
        MountTable::Entry entry;
        std::string fileSystemType;
    };

    // The mount of a medium, preferring one that shows the whole file
    // system; nullptr when it is not mounted.
    const MountedVolume* mountOf(const MediumLink& link, const std::string& path) const;
    // Brings each drive's "Children Volume Array" and the HFS list up to date
    // with the volume dictionaries.
    void syncChildren();

    SystemPaths paths_;
    DeviceReads reads_;
    std::shared_ptr<ProbeFailures> failures_;
    platform::Array driveDictArray_;
    platform::Array volumeDictArray_;
    platform::Array volumeDictArrayHFSOnly_;
    std::vector<std::size_t> hfsOnly_;        // indexes into volumeDictArray_
    std::vector<MountedVolume> mounted_;      // beside finalArrayForVolumes
    std::map<std::string, MediumLink> links_; // by "Path"
};
