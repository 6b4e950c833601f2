#pragma once

// A row of the drive, partition or found-volume lists as the program builds
// it: which medium it is, where the volume lies on it, what it holds and how
// the lists show it. Rows are built as this struct and become the designed
// dictionaries ("Path", "Content", "Volume Start", ...) where they are handed
// on: to the lists the application controller keeps, to
// Volume::initWithDictionary and DMedia::initWithDictionary, and to the
// sessions that archive them. A field left unset is no key of the row.

#include "platform/Value.h"

#include <cstdint>
#include <optional>
#include <string>

struct DriveRow {
    std::optional<std::string> path{};                 // "Path"
    std::optional<std::uint64_t> size{};               // "Size", in bytes
    std::optional<std::uint32_t> preferredBlockSize{}; // "Preferred Block Size"
    std::optional<std::string> content{};              // "Content" (ContentKind's vocabulary)
    std::optional<std::string> volumeName{};           // "Volume Name"
    std::optional<std::string> mountedPath{};          // "Mounted Path"
    std::optional<bool> whetherVolume{};               // "WhetherVolume"
    std::optional<bool> whetherDiskDict{};             // "WhetherDiskDict"

    // Where a volume of a partition list lies, in sectors of its disk, and
    // how it was found: 0 a partition entry, 1 the search of the disk (with
    // the sector its header was read from and how intact it is).
    std::optional<std::uint64_t> volumeStart{};            // "Volume Start"
    std::optional<std::uint64_t> volumeSizeInSectors{};    // "Volume Size In Sectors"
    std::optional<int> volumeScanType{};                   // "Volume Scan Type"
    std::optional<std::uint64_t> whetherAlternateSector{}; // "WhetherAlternateSector"
    std::optional<std::uint64_t> volumeValidity{};         // "Volume Validity"

    // The disk, as the partition readers name it ("Model", "Serial",
    // "Revision") and as the drive list does ("device model", ...).
    std::optional<std::string> model{}, serial{}, revision{};
    std::optional<std::string> deviceModel{}, deviceSerial{}, deviceRevision{};

    // The file system the content tests found: "journaled" ("Yes", "No",
    // "-"), "fileSystem" (0 HFS+, 1 another), "supportFileSystemRecovery",
    // and "HFSVolumeStart", the start of an HFS+ volume inside an HFS wrapper.
    std::optional<std::string> journaled{};
    std::optional<int> fileSystem{};
    std::optional<int> supportFileSystemRecovery{};
    std::optional<std::uint64_t> hfsVolumeStart{};

    // The icon: the driver ("CFBundleIdentifier"), the kind of icon
    // ("IOBundleResourceFile") and the driver's folder ("bundle path").
    std::optional<std::string> bundleIdentifier{}, bundleResourceFile{}, bundlePath{};

    // The place in the lists: a volume's number among its disk's volumes and
    // its disk's path, the number of a disk's volumes, and the row's number
    // in the disks-and-volumes list.
    std::optional<std::int64_t> indexOfChildVolume{};  // "Index of child Volume"
    std::optional<std::string> parentDrivePath{};      // "Parent Drive Path"
    std::optional<std::int64_t> totalVolumesInADisk{}; // "Total Volumes in a disk"
    std::optional<std::int64_t> volumeAndDriveIndex{}; // "Volume and Drive Index"

    // The fields that are set, written into a row; its other keys stay.
    void setIn(platform::Dict& row) const;
    platform::Dict toDict() const;
};
