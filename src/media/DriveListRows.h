#pragma once

// The rows of the drive list: the icon keys every drive and volume
// dictionary carries ("CFBundleIdentifier", "IOBundleResourceFile",
// "bundle path"), and which dictionaries are the rows of the list in each
// recovery mode. The widgets that draw the rows live in the program; this is
// what they are given.
//
// On Linux a "bundle" is a kernel driver: its identifier is the driver's name
// and its path the driver's folder in sysfs (<sysfs>/bus/<bus>/drivers/<name>).
// "IOBundleResourceFile" names the kind of icon ("Internal.icns",
// "External.icns", "Removable.icns"); the program turns it, with the bus,
// into an icon of the desktop's theme.

#include "platform/ScanMode.h"
#include "platform/Value.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class DriveListRows {
public:
    struct Bundle {
        std::string identifier;
        std::string path; // "" when the path cannot be had
    };

    // The drivers under <sysfs>/bus/*/drivers/, in a stable order.
    static std::vector<Bundle> driverBundles(const std::string& sysfsRoot);

    // Whether a volume dictionary is one of the drive's volumes: the same
    // device, or a partition whose parent is the drive.
    static bool belongsTo(const platform::Dict& volume, const platform::Dict& drive);

    // Completes the icon keys of drives that name a driver but no icon.
    static void fixBundleResource(platform::Array& driveDictArray);
    // Gives every volume its drive's icon keys and every dictionary its
    // "bundle path".
    static void getDrvVolIconPaths(platform::Array& driveDictArray, platform::Array& volumeDictArray,
                                   const std::vector<Bundle>& bundles);

    // --- rows by recovery mode ---
    // How many cells fillCellArray makes for the mode.
    static std::size_t cellCount(platform::ScanMode scanMode, const platform::Array& driveDictArray,
                                 const platform::Array& volumeDictArray);
    // How many rows the drives table shows.
    static std::size_t numberOfRows(platform::ScanMode scanMode, const platform::Array& driveDictArray,
                                    const platform::Array& volumeDictArray,
                                    const platform::Array& volumeDictArrayHFSOnly);
    // The dictionary of row r, or nothing.
    static std::optional<platform::Dict> rowObject(platform::ScanMode scanMode, std::size_t row,
                                                   const platform::Array& driveDictArray,
                                                   const platform::Array& volumeDictArray,
                                                   const platform::Array& volumeDictArrayHFSOnly);
};
