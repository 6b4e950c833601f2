#include "results/LocalDestinationFileSystem.h"

#include "media/MountTable.h"
#include "media/SysfsBlockDevice.h"
#include "platform/CheckedMath.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Stacked devices (LVM on RAID on partitions) are a few levels deep; a
// bound keeps a strange sysfs from holding the check up.
constexpr std::size_t kMaxStackedDevices = 64;

std::string majorMinor(dev_t d) {
    return std::to_string(major(d)) + ":" + std::to_string(minor(d));
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.pop_back();
    std::size_t from = 0;
    while (from < s.size() && (s[from] == ' ' || s[from] == '\t'))
        ++from;
    return s.substr(from);
}

std::string resolved(const std::string& path) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string out(real);
        std::free(real);
        return out;
    }
    return path;
}

// Whether mountPoint is path or a folder above it.
bool mountPointCovers(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/") return !path.empty() && path.front() == '/';
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// The names statfs gives the foreign file systems, for a system without a
// readable mount table.
std::string typeFromMagic(unsigned long magic) {
    switch (magic) {
    case 0x4d44:
        return "vfat";
    case 0x2011BAB0:
        return "exfat";
    case 0x5346544e:
        return "ntfs";
    case 0x65735546:
        return "fuseblk";
    case 0xEF53:
        return "ext4";
    case 0x9123683E:
        return "btrfs";
    case 0x58465342:
        return "xfs";
    case 0x01021994:
        return "tmpfs";
    case 0x482b:
        return "hfsplus";
    default:
        return {};
    }
}

} // namespace

LocalDestinationFileSystem::LocalDestinationFileSystem(SystemPaths paths) : paths_(std::move(paths)) {}

std::optional<std::uint64_t> LocalDestinationFileSystem::freeBytes(const std::string& path) const {
    struct statvfs s {};
    if (::statvfs(path.c_str(), &s) != 0) return std::nullopt;
    const std::uint64_t unit = s.f_frsize ? s.f_frsize : s.f_bsize;
    return platform::saturatingMul(s.f_bavail, unit);
}

std::string LocalDestinationFileSystem::mountedTypeOf(const std::string& path) const {
    const std::vector<MountTable::Entry> entries = MountTable::read(paths_.mountInfo);
    if (entries.empty()) return {};
    struct stat st {};
    const std::string device = ::stat(path.c_str(), &st) == 0 ? majorMinor(st.st_dev) : std::string();
    const std::string where = resolved(path);
    const MountTable::Entry* best = nullptr;
    bool bestMatchesDevice = false;
    for (const auto& e : entries) {
        if (!mountPointCovers(e.mountPoint, where)) continue;
        const bool matches = !device.empty() && e.majorMinor == device;
        // Deeper mount points win; later entries of the same point are
        // mounted over the earlier ones.
        if (!best || (matches && !bestMatchesDevice) ||
            (matches == bestMatchesDevice && e.mountPoint.size() >= best->mountPoint.size())) {
            best = &e;
            bestMatchesDevice = matches;
        }
    }
    return best ? best->fsType : std::string();
}

std::optional<DestinationFileSystem::Info> LocalDestinationFileSystem::info(const std::string& path) const {
    struct statvfs s {};
    if (::statvfs(path.c_str(), &s) != 0) return std::nullopt;
    Info out;
    out.writable = (s.f_flag & ST_RDONLY) == 0 && ::access(path.c_str(), W_OK | X_OK) == 0;
    out.typeName = mountedTypeOf(path);
    if (out.typeName.empty()) {
        struct statfs f {};
        if (::statfs(path.c_str(), &f) == 0) out.typeName = typeFromMagic(static_cast<unsigned long>(f.f_type));
    }
    return out;
}

std::string LocalDestinationFileSystem::wholeDiskOf(const std::string& mm) const {
    auto device = SysfsBlockDevice::open(paths_.sysfsRoot + "/dev/block/" + mm, paths_.sysfsRoot);
    if (!device || !device->isPartition()) return mm;
    auto disk = SysfsBlockDevice::readAttribute(device->parentFolder() + "/dev");
    return disk && !trimmed(*disk).empty() ? trimmed(*disk) : mm;
}

std::set<std::string> LocalDestinationFileSystem::blockDevicesUnder(const std::string& path) const {
    std::set<std::string> devices;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return devices;
    std::vector<std::string> pending;
    if (major(st.st_dev) != 0) pending.push_back(majorMinor(st.st_dev));
    // Btrfs and the like give their files an anonymous device number; the
    // mount table names the device they were mounted from.
    const std::string where = resolved(path);
    const MountTable::Entry* best = nullptr;
    const std::vector<MountTable::Entry> entries = MountTable::read(paths_.mountInfo);
    for (const auto& e : entries)
        if (mountPointCovers(e.mountPoint, where) && (!best || e.mountPoint.size() >= best->mountPoint.size()))
            best = &e;
    if (best && !best->source.empty() && best->source.front() == '/') {
        struct stat src {};
        if (::stat(best->source.c_str(), &src) == 0 && S_ISBLK(src.st_mode)) pending.push_back(majorMinor(src.st_rdev));
    }
    while (!pending.empty() && devices.size() < kMaxStackedDevices) {
        std::string mm = pending.back();
        pending.pop_back();
        if (!devices.insert(mm).second) continue;
        auto device = SysfsBlockDevice::open(paths_.sysfsRoot + "/dev/block/" + mm, paths_.sysfsRoot);
        if (!device) continue;
        std::error_code ec;
        for (fs::directory_iterator it(fs::path(device->folder()) / "slaves", ec), end; !ec && it != end;
             it.increment(ec)) {
            auto slave = SysfsBlockDevice::open(it->path().string(), paths_.sysfsRoot);
            if (slave && !slave->devNumber().empty()) pending.push_back(slave->devNumber());
        }
    }
    return devices;
}

bool LocalDestinationFileSystem::isOnDevice(const std::string& path, const std::string& devicePath) const {
    struct stat dev {};
    // An image file is read, never written; a destination beside it harms
    // nothing of it.
    if (devicePath.empty() || ::stat(devicePath.c_str(), &dev) != 0 || !S_ISBLK(dev.st_mode)) return false;
    const std::string scanned = majorMinor(dev.st_rdev);
    const std::string scannedDisk = wholeDiskOf(scanned);
    for (const std::string& under : blockDevicesUnder(path)) {
        // The device itself, a partition of the scanned disk, or the disk of
        // the scanned partition.
        if (under == scanned || wholeDiskOf(under) == scanned || under == scannedDisk) return true;
    }
    return false;
}
