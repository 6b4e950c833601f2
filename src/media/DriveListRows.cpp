#include "media/DriveListRows.h"

#include "media/DriveRow.h"

#include <algorithm>
#include <filesystem>

using platform::Array;
using platform::Dict;
using platform::ScanMode;
using platform::Value;

namespace fs = std::filesystem;

namespace {

const std::string& textOf(const Dict& d, std::string_view key) {
    return d.get(key).stringValue();
}

bool hasText(const Dict& d, std::string_view key) {
    return d.get(key).isString();
}

} // namespace

std::vector<DriveListRows::Bundle> DriveListRows::driverBundles(const std::string& sysfsRoot) {
    std::vector<Bundle> bundles;
    std::error_code ec;
    std::vector<fs::path> buses;
    for (fs::directory_iterator it(fs::path(sysfsRoot) / "bus", ec), end; !ec && it != end; it.increment(ec))
        buses.push_back(it->path());
    std::sort(buses.begin(), buses.end());
    for (const fs::path& bus : buses) {
        std::vector<fs::path> drivers;
        std::error_code ec2;
        for (fs::directory_iterator it(bus / "drivers", ec2), end; !ec2 && it != end; it.increment(ec2))
            drivers.push_back(it->path());
        std::sort(drivers.begin(), drivers.end());
        for (const fs::path& d : drivers)
            bundles.push_back({d.filename().string(), d.string()});
    }
    return bundles;
}

bool DriveListRows::belongsTo(const Dict& volume, const Dict& drive) {
    const Value& drivePath = drive.get("Path");
    if (!drivePath.isString()) return false;
    return volume.get("Path") == drivePath || volume.get("Parent Drive Path") == drivePath;
}

void DriveListRows::fixBundleResource(Array& driveDictArray) {
    for (Value& dv : driveDictArray) {
        Dict* drive = dv.dict();
        if (!drive || !drive->contains("CFBundleIdentifier") || drive->contains("IOBundleResourceFile")) continue;
        const Array& children = drive->get("Children Volume Array").arrayValue();
        if (!children.empty()) {
            const Dict& first = children.front().dictValue();
            if (first.contains("CFBundleIdentifier") && first.contains("IOBundleResourceFile")) {
                DriveRow{.bundleIdentifier = first.get("CFBundleIdentifier").description(),
                         .bundleResourceFile = first.get("IOBundleResourceFile").description()}
                    .setIn(*drive);
                continue;
            }
        }
        // A drive that names no icon of its own shows the generic one of the
        // storage family: the ejectable-media icon.
        DriveRow{.bundleIdentifier = "com.apple.iokit.IOStorageFamily", .bundleResourceFile = "Removable.icns"}.setIn(
            *drive);
    }
}

void DriveListRows::getDrvVolIconPaths(Array& driveDictArray, Array& volumeDictArray,
                                       const std::vector<Bundle>& bundles) {
    struct Entry {
        std::string identifier;
        std::optional<std::string> bundlePath;
    };
    std::vector<Entry> entries;
    for (Value& dv : driveDictArray) {
        Dict* drive = dv.dict();
        if (!drive) continue;
        if (hasText(*drive, "CFBundleIdentifier")) entries.push_back({textOf(*drive, "CFBundleIdentifier"), {}});
        for (Value& vv : volumeDictArray) {
            Dict* volume = vv.dict();
            if (!volume || !belongsTo(*volume, *drive)) continue;
            for (const char* key : {"CFBundleIdentifier", "IOBundleResourceFile"})
                if (drive->contains(key)) volume->set(key, drive->get(key));
        }
    }
    // One lookup per identifier: drives of one driver share its bundle.
    std::vector<Entry> unique;
    for (Entry& e : entries)
        if (std::none_of(unique.begin(), unique.end(), [&](const Entry& u) { return u.identifier == e.identifier; }))
            unique.push_back(std::move(e));
    for (Entry& e : unique) {
        for (const Bundle& b : bundles) {
            if (b.identifier != e.identifier) continue;
            e.bundlePath = b.path.empty() ? std::string("nil") : b.path;
            break;
        }
    }
    auto give = [&](Value& v) {
        Dict* d = v.dict();
        if (!d || !hasText(*d, "CFBundleIdentifier")) return;
        const std::string& id = textOf(*d, "CFBundleIdentifier");
        for (const Entry& e : unique) {
            if (e.identifier != id) continue;
            DriveRow{.bundlePath = e.bundlePath.value_or("nil")}.setIn(*d);
            return;
        }
    };
    for (Value& v : driveDictArray)
        give(v);
    for (Value& v : volumeDictArray)
        give(v);
}

std::size_t DriveListRows::cellCount(ScanMode scanMode, const Array& driveDictArray, const Array& volumeDictArray) {
    switch (scanMode) {
    case ScanMode::FastFiles:
    case ScanMode::AdvancedFiles:
    case ScanMode::FastPhotos:
    case ScanMode::Formatted:
        // A formatted volume's list is the shorter HFS one, but its cells
        // are made per volume: at least as many cells as rows.
        return volumeDictArray.size();
    case ScanMode::Partitions:
        return driveDictArray.size();
    case ScanMode::AdvancedPhotos: {
        std::size_t n = 0;
        for (const Value& d : driveDictArray)
            n += 1 + d.dictValue().get("Children Volume Array").arrayValue().size();
        return n;
    }
    case ScanMode::None:
        break;
    }
    return 0;
}

std::size_t DriveListRows::numberOfRows(ScanMode scanMode, const Array& driveDictArray, const Array& volumeDictArray,
                                        const Array& volumeDictArrayHFSOnly) {
    switch (scanMode) {
    case ScanMode::FastFiles:
    case ScanMode::AdvancedFiles:
    case ScanMode::FastPhotos:
        return volumeDictArray.size();
    case ScanMode::AdvancedPhotos:
        return volumeDictArray.size() + driveDictArray.size();
    case ScanMode::Partitions:
        return driveDictArray.size();
    case ScanMode::Formatted:
        return volumeDictArrayHFSOnly.size();
    case ScanMode::None:
        break;
    }
    return 0;
}

std::optional<Dict> DriveListRows::rowObject(ScanMode scanMode, std::size_t row, const Array& driveDictArray,
                                             const Array& volumeDictArray, const Array& volumeDictArrayHFSOnly) {
    auto at = [row](const Array& a) -> std::optional<Dict> {
        if (row >= a.size() || !a[row].isDict()) return std::nullopt;
        return a[row].dictValue();
    };
    switch (scanMode) {
    case ScanMode::FastFiles:
    case ScanMode::AdvancedFiles:
    case ScanMode::FastPhotos:
        return at(volumeDictArray);
    case ScanMode::Partitions:
        return at(driveDictArray);
    case ScanMode::Formatted:
        return at(volumeDictArrayHFSOnly);
    case ScanMode::AdvancedPhotos:
        for (const Value& dv : driveDictArray) {
            const Dict& drive = dv.dictValue();
            auto matches = [row](const Dict& d) {
                const Value& index = d.get("Volume and Drive Index");
                return index.isNumber() && index.int64Value() >= 0 &&
                       static_cast<std::uint64_t>(index.int64Value()) == row;
            };
            if (matches(drive)) return drive;
            for (const Value& vv : drive.get("Children Volume Array").arrayValue())
                if (matches(vv.dictValue())) return vv.dictValue();
        }
        return std::nullopt;
    case ScanMode::None:
        break;
    }
    return std::nullopt;
}
