#include "media/DriveRow.h"

namespace {

template <class T> void put(platform::Dict& row, const char* key, const std::optional<T>& field) {
    if (!field) return;
    if constexpr (std::is_same_v<T, std::uint64_t>)
        row.set(key, static_cast<unsigned long long>(*field));
    else if constexpr (std::is_same_v<T, std::int64_t>)
        row.set(key, static_cast<long long>(*field));
    else
        row.set(key, *field);
}

} // namespace

void DriveRow::setIn(platform::Dict& row) const {
    put(row, "Path", path);
    put(row, "Size", size);
    put(row, "Preferred Block Size", preferredBlockSize);
    put(row, "Content", content);
    put(row, "Volume Name", volumeName);
    put(row, "Mounted Path", mountedPath);
    put(row, "WhetherVolume", whetherVolume);
    put(row, "WhetherDiskDict", whetherDiskDict);
    put(row, "Volume Start", volumeStart);
    put(row, "Volume Size In Sectors", volumeSizeInSectors);
    put(row, "Volume Scan Type", volumeScanType);
    put(row, "WhetherAlternateSector", whetherAlternateSector);
    put(row, "Volume Validity", volumeValidity);
    put(row, "Model", model);
    put(row, "Serial", serial);
    put(row, "Revision", revision);
    put(row, "device model", deviceModel);
    put(row, "device serial", deviceSerial);
    put(row, "device revision", deviceRevision);
    put(row, "journaled", journaled);
    put(row, "fileSystem", fileSystem);
    put(row, "supportFileSystemRecovery", supportFileSystemRecovery);
    put(row, "HFSVolumeStart", hfsVolumeStart);
    put(row, "CFBundleIdentifier", bundleIdentifier);
    put(row, "IOBundleResourceFile", bundleResourceFile);
    put(row, "bundle path", bundlePath);
    put(row, "Index of child Volume", indexOfChildVolume);
    put(row, "Parent Drive Path", parentDrivePath);
    put(row, "Total Volumes in a disk", totalVolumesInADisk);
    put(row, "Volume and Drive Index", volumeAndDriveIndex);
}

platform::Dict DriveRow::toDict() const {
    platform::Dict row;
    setIn(row);
    return row;
}
