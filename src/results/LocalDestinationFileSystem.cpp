#include "results/LocalDestinationFileSystem.h"

#include "media/MountTable.h"
#include "media/SysfsBlockDevice.h"
#include "platform/CheckedMath.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <limits>
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

// A number attribute of sysfs; 0 when it is missing or no number.
std::uint64_t numberIn(const std::optional<std::string>& text) {
    std::uint64_t value = 0;
    if (!text) return 0;
    const std::string t = trimmed(*text);
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
    return error == std::errc() && end == t.data() + t.size() ? value : 0;
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

std::optional<LocalDestinationFileSystem::FileRange>
LocalDestinationFileSystem::loopBackingFile(const std::string& mm, std::string* backingPath) const {
    auto device = SysfsBlockDevice::open(paths_.sysfsRoot + "/dev/block/" + mm, paths_.sysfsRoot);
    if (!device) return std::nullopt;
    // A partition of a loop device has its disk's backing file; sysfs nests
    // the partition's folder in the disk's.
    const bool partition = device->isPartition();
    const std::string disk = partition ? device->parentFolder() : device->folder();
    // The whole attribute: the kernel writes the path as it is, a newline
    // in a name included, and ends it with one.
    std::string path;
    const int fd = ::open((disk + "/loop/backing_file").c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    char buffer[kMaxBackingPath];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || path.size() + static_cast<std::size_t>(n) > kMaxBackingPath) break;
        path.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!path.empty() && path.back() == '\n') path.pop_back();
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (backingPath) *backingPath = path;
    // The bytes of the file the device reaches: from the loop's offset and
    // the partition's start, as many as the device holds. What sysfs does
    // not say counts as the whole file.
    FileRange range{{st.st_dev, st.st_ino}};
    const std::uint64_t start = partition ? numberIn(device->attribute("start")) : 0;
    range.from = platform::saturatingAdd(numberIn(SysfsBlockDevice::readAttribute(disk + "/loop/offset")),
                                         platform::saturatingMul(start, 512));
    if (const std::uint64_t bytes = device->sizeInBytes(); bytes != 0)
        range.to = platform::saturatingAdd(range.from, bytes);
    return range;
}

std::vector<std::string> LocalDestinationFileSystem::devicesHolding(const std::string& path) const {
    std::vector<std::string> devices;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return devices;
    if (major(st.st_dev) != 0) devices.push_back(majorMinor(st.st_dev));
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
        if (::stat(best->source.c_str(), &src) == 0 && S_ISBLK(src.st_mode)) devices.push_back(majorMinor(src.st_rdev));
    }
    return devices;
}

LocalDestinationFileSystem::Stack LocalDestinationFileSystem::stackBelow(std::vector<std::string> pending,
                                                                         bool throughLoops) const {
    Stack stack;
    while (!pending.empty() && stack.devices.size() < kMaxStackedDevices) {
        std::string mm = pending.back();
        pending.pop_back();
        if (!stack.devices.insert(mm).second) continue;
        std::string backingPath;
        if (const auto backing = loopBackingFile(mm, throughLoops ? &backingPath : nullptr)) {
            stack.files.push_back(*backing);
            // What is written to a loop device is written into its file, and
            // a sparse file takes new blocks of the device that holds it.
            if (throughLoops)
                for (std::string& below : devicesHolding(backingPath))
                    pending.push_back(std::move(below));
        }
        auto device = SysfsBlockDevice::open(paths_.sysfsRoot + "/dev/block/" + mm, paths_.sysfsRoot);
        if (!device) continue;
        std::error_code ec;
        for (fs::directory_iterator it(fs::path(device->folder()) / "slaves", ec), end; !ec && it != end;
             it.increment(ec)) {
            auto slave = SysfsBlockDevice::open(it->path().string(), paths_.sysfsRoot);
            if (slave && !slave->devNumber().empty()) pending.push_back(slave->devNumber());
        }
    }
    return stack;
}

bool LocalDestinationFileSystem::isOnMedium(const std::string& path, const std::string& mediumPath) const {
    struct stat medium {};
    if (mediumPath.empty() || ::stat(mediumPath.c_str(), &medium) != 0) return false;
    // The medium as it is stored: its devices (with those below it) and the
    // files behind them, an image file being one.
    Stack scanned;
    if (S_ISBLK(medium.st_mode))
        scanned = stackBelow({majorMinor(medium.st_rdev)}, false);
    else if (S_ISREG(medium.st_mode))
        scanned.files.push_back(FileRange{{medium.st_dev, medium.st_ino}});
    else
        return false;
    std::set<std::string> scannedDisks;
    for (const std::string& mm : scanned.devices)
        scannedDisks.insert(wholeDiskOf(mm));

    // Everything a file written at path goes to. An image file is only read:
    // a destination beside it harms nothing of it, only one stored in it does.
    const Stack destination = stackBelow(devicesHolding(path), true);
    for (const std::string& under : destination.devices) {
        // The device itself or one below it, a partition of the scanned
        // disk, or the disk of the scanned partition.
        if (scanned.devices.count(under) || scanned.devices.count(wholeDiskOf(under)) || scannedDisks.count(under))
            return true;
    }
    // Loop devices over the same bytes of one file, whichever partition of
    // them is mounted and whichever is scanned.
    for (const FileRange& written : destination.files)
        for (const FileRange& read : scanned.files)
            if (written.file == read.file && written.from < read.to && read.from < written.to) return true;
    return false;
}
