#include "media/SysfsBlockDevice.h"

#include "platform/CheckedMath.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string trimmed(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return std::string(s.substr(b, e - b));
}

std::optional<std::uint64_t> parseUnsigned(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::string t = trimmed(*text);
    std::uint64_t v = 0;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || p != t.data() + t.size() || t.empty()) return std::nullopt;
    return v;
}

bool isDir(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

bool pathExists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

// The last component of where a symbolic link points, "" when it is none.
std::string linkTargetName(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::read_symlink(link, ec);
    if (ec) return {};
    return target.filename().string();
}

// Buses in the order they decide the interconnect: a disk behind a USB bridge
// is a USB disk whatever protocol it speaks behind the bridge, so the outer,
// more specific bus wins over the inner one.
enum Bus { None, Virtual, Scsi, Virtio, Sata, Sas, PciExpress, SecureDigital, Thunderbolt, FireWire, Usb };

const char* busName(Bus b) {
    switch (b) {
    case Usb:
        return "USB";
    case FireWire:
        return "FireWire";
    case Thunderbolt:
        return "Thunderbolt";
    case SecureDigital:
        return "Secure Digital";
    case PciExpress:
        return "PCI-Express";
    case Sas:
        return "SAS";
    case Sata:
        return "SATA";
    case Virtio:
        return "Virtio";
    case Scsi:
        return "SCSI";
    case Virtual:
        return "Virtual Interface";
    case None:
        break;
    }
    return "";
}

Bus busOfSubsystem(const std::string& s) {
    if (s == "usb") return Usb;
    if (s == "firewire" || s == "ieee1394") return FireWire;
    if (s == "thunderbolt") return Thunderbolt;
    if (s == "mmc" || s == "sdio") return SecureDigital;
    if (s == "nvme" || s == "nvme-subsystem") return PciExpress;
    if (s.rfind("sas", 0) == 0) return Sas;
    if (s == "ata_port" || s == "ata_link" || s == "ata_device") return Sata;
    if (s == "virtio") return Virtio;
    if (s == "scsi") return Scsi;
    return None;
}

// Sysfs nests devices a few dozen levels at most; the bound only guards
// against a fake or broken tree.
constexpr int kMaxWalk = 64;

} // namespace

std::optional<SysfsBlockDevice> SysfsBlockDevice::open(const std::string& entry, const std::string& sysfsRoot) {
    std::error_code ec;
    fs::path folder = fs::canonical(entry, ec);
    if (ec || !isDir(folder)) return std::nullopt;
    SysfsBlockDevice d;
    fs::path root = fs::canonical(sysfsRoot, ec);
    d.sysfsRoot_ = ec ? sysfsRoot : root.string();
    d.entry_ = entry;
    d.name_ = fs::path(entry).filename().string();
    d.folder_ = folder.string();
    return d;
}

std::string SysfsBlockDevice::parentFolder() const {
    return fs::path(folder_).parent_path().string();
}

std::optional<std::string> SysfsBlockDevice::readAttribute(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::string text(kMaxAttribute, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    if (auto nl = text.find('\n'); nl != std::string::npos) text.resize(nl);
    // Identity strings come from the device's own firmware: nothing in them
    // may act as a control character where they are shown or logged.
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return text;
}

std::optional<std::string> SysfsBlockDevice::attribute(const std::string& relativePath) const {
    return readAttribute((fs::path(folder_) / relativePath).string());
}

std::optional<std::string> SysfsBlockDevice::firstAttribute(const std::string& folder,
                                                            std::initializer_list<const char*> names) {
    for (const char* n : names) {
        auto v = readAttribute((fs::path(folder) / n).string());
        if (v && !trimmed(*v).empty()) return v;
    }
    return std::nullopt;
}

std::optional<SysfsBlockDevice::PathFacts> SysfsBlockDevice::lookAt(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    const auto number = [](dev_t d) { return std::to_string(major(d)) + ":" + std::to_string(minor(d)); };
    PathFacts facts;
    if (S_ISBLK(st.st_mode)) {
        facts.kind = PathFacts::Kind::BlockDevice;
        facts.devNumber = number(st.st_rdev);
    } else if (S_ISREG(st.st_mode)) {
        facts.kind = PathFacts::Kind::RegularFile;
        facts.devNumber = number(st.st_dev);
        facts.inode = st.st_ino;
    }
    return facts;
}

std::optional<SysfsBlockDevice> SysfsBlockDevice::ofNumber(const std::string& devNumber, const std::string& sysfsRoot) {
    if (devNumber.empty() || devNumber.find('/') != std::string::npos) return std::nullopt;
    return open((fs::path(sysfsRoot) / "dev" / "block" / devNumber).string(), sysfsRoot);
}

std::optional<SysfsBlockDevice> SysfsBlockDevice::ofNode(const std::string& node, const std::string& sysfsRoot,
                                                         const LookAt& look) {
    const std::optional<PathFacts> facts = look(node);
    if (!facts || facts->kind != PathFacts::Kind::BlockDevice) return std::nullopt;
    return ofNumber(facts->devNumber, sysfsRoot);
}

bool SysfsBlockDevice::fileReadsPastEveryCache(const PathFacts& file, const std::string& sysfsRoot,
                                               const LookAt& look) {
    return fileReadsPastEveryCache(file, sysfsRoot, look, 0);
}

bool SysfsBlockDevice::fileReadsPastEveryCache(const PathFacts& file, const std::string& sysfsRoot, const LookAt& look,
                                               int depth) {
    const std::optional<SysfsBlockDevice> below = ofNumber(file.devNumber, sysfsRoot);
    // No block device holds the file system (a network or FUSE one): it
    // answers O_DIRECT itself.
    if (!below) return true;
    // A file system reads a file with O_DIRECT from its device past that
    // device's page cache, as the device itself is read with O_DIRECT.
    return below->bottom(look, depth + 1).way == Bottom::Way::Itself;
}

SysfsBlockDevice::Bottom SysfsBlockDevice::fileBottom(const PathFacts& file, const std::string& path,
                                                      const std::string& sysfsRoot, const LookAt& look) {
    return fileBottom(file, path, sysfsRoot, look, 0);
}

SysfsBlockDevice::Bottom SysfsBlockDevice::fileBottom(const PathFacts& file, const std::string& path,
                                                      const std::string& sysfsRoot, const LookAt& look, int depth) {
    using Way = Bottom::Way;
    const std::optional<SysfsBlockDevice> below = ofNumber(file.devNumber, sysfsRoot);
    if (!below) {
        Bottom itself{Way::Itself, {}, 0, {}, {}, false};
        itself.unseenBelow = true;
        return itself;
    }
    Bottom under = below->bottom(look, depth + 1);
    // A file system over a device read past every cache reads the file so
    // with O_DIRECT; over one whose way passes through a file's extents
    // already, no way is followed further.
    if (under.way == Way::Itself) return under;
    if (under.way != Way::Below || under.through) return Bottom{};
    // Its kernel name, as its device node has it; the entry is named by its
    // number.
    under.through = Bottom::Through{path, 0, fs::path(below->folder()).filename().string(), 0};
    return under;
}

std::string SysfsBlockDevice::loopBacking() const {
    const fs::path disk = isPartition() ? fs::path(parentFolder()) : fs::path(folder_);
    const std::optional<std::string> file = readAttribute((disk / "loop" / "backing_file").string());
    return file ? trimmed(*file) : std::string();
}

SysfsBlockDevice::Bottom SysfsBlockDevice::bottom(const LookAt& look) const {
    return bottom(look, 0);
}

SysfsBlockDevice::Bottom SysfsBlockDevice::bottom(const LookAt& look, int depth) const {
    using Way = Bottom::Way;
    Bottom none;
    // A stack deeper than any real one is a broken tree: not trusted.
    if (depth > 8) return none;
    const bool partition = isPartition();
    const fs::path disk = partition ? fs::path(parentFolder()) : fs::path(folder_);
    if (isDir(disk / "loop")) {
        // sysfs counts a partition's start in 512-byte units whatever the
        // sector size.
        std::uint64_t start = 0;
        if (partition) {
            const std::optional<std::uint64_t> sectors = parseUnsigned(attribute("start"));
            const std::optional<std::uint64_t> bytes =
                sectors ? platform::checkedMul(*sectors, std::uint64_t{512}) : std::nullopt;
            if (!bytes) return none;
            start = *bytes;
        }
        const std::string backing = loopBacking();
        const std::optional<PathFacts> facts = backing.empty() ? std::nullopt : look(backing);
        const std::uint64_t offset = parseUnsigned(readAttribute((disk / "loop" / "offset").string())).value_or(0);
        const bool direct = readAttribute((disk / "loop" / "dio").string()).value_or("") == "1";
        if (!facts) return none;
        const Loop loop{backing, *facts, offset};
        const std::optional<std::uint64_t> at = platform::checkedAdd(offset, start);
        if (!at) return none;
        if (facts->kind == PathFacts::Kind::RegularFile) {
            if (!fileReadsPastEveryCache(*facts, sysfsRoot_, look, depth)) {
                // Through the file's extents on a device that reads through a
                // page cache, down to what that device reads.
                Bottom under = fileBottom(*facts, backing, sysfsRoot_, look, depth);
                if (under.way != Way::Below || !under.through) return none;
                under.through->startBytes = *at;
                under.through->loopsAbove = 1;
                under.loops.insert(under.loops.begin(), loop);
                return under;
            }
            // In direct I/O the loop reads its file as O_DIRECT does.
            Bottom reached = direct ? Bottom{Way::Itself, {}, 0, {}, {}, false}
                                    : Bottom{Way::Below, backing, *at, {loop}, {}, false};
            reached.unseenBelow = !ofNumber(facts->devNumber, sysfsRoot_);
            return reached;
        }
        if (facts->kind != PathFacts::Kind::BlockDevice) return none;
        const std::optional<SysfsBlockDevice> below = ofNumber(facts->devNumber, sysfsRoot_);
        if (!below) return none;
        Bottom under = below->bottom(look, depth + 1);
        if (under.way == Way::None) return none;
        // In direct I/O over a device read past every cache, the loop is too;
        // over one that has a cache of its own, only what lies below that is.
        if (under.way == Way::Itself) {
            if (direct) return under;
            Bottom reached{Way::Below, backing, *at, {loop}, {}, false};
            reached.unseenBelow = under.unseenBelow;
            return reached;
        }
        // The offset is added where the device below begins: before the
        // extents of a file it passes through, else at the bottom.
        std::uint64_t& from = under.through ? under.through->startBytes : under.startBytes;
        const std::optional<std::uint64_t> deeper = platform::checkedAdd(from, *at);
        if (!deeper) return none;
        from = *deeper;
        if (under.through) ++under.through->loopsAbove;
        under.loops.insert(under.loops.begin(), loop);
        return under;
    }
    // A device-mapper or RAID device reads what it maps: past every cache
    // when every device under it is read so itself.
    std::error_code ec;
    fs::directory_iterator slaves(disk / "slaves", ec);
    if (ec) return Bottom{Way::Itself, {}, 0, {}, {}, false};
    Bottom itself{Way::Itself, {}, 0, {}, {}, false};
    for (const fs::directory_entry& slave : slaves) {
        const std::optional<SysfsBlockDevice> below =
            open((fs::path(sysfsRoot_) / "class" / "block" / slave.path().filename()).string(), sysfsRoot_);
        const std::optional<Bottom> under = below ? std::optional(below->bottom(look, depth + 1)) : std::nullopt;
        if (!under || under->way != Way::Itself) return none;
        itself.unseenBelow = itself.unseenBelow || under->unseenBelow;
    }
    return itself;
}

std::vector<std::string> SysfsBlockDevice::cachesBelow(const LookAt& look) const {
    std::vector<std::string> caches;
    cachesBelow(look, 0, caches);
    return caches;
}

std::vector<std::string> SysfsBlockDevice::cachesBelowFile(const PathFacts& file, const std::string& sysfsRoot,
                                                           const LookAt& look) {
    std::vector<std::string> caches;
    cachesBelowFile(file, sysfsRoot, look, 0, caches);
    return caches;
}

void SysfsBlockDevice::cachesBelowFile(const PathFacts& file, const std::string& sysfsRoot, const LookAt& look,
                                       int depth, std::vector<std::string>& caches) {
    // A file system reads a file's data from its device with requests of its
    // own, not through the device's page cache: what lies below that device
    // is what counts.
    if (const std::optional<SysfsBlockDevice> below = ofNumber(file.devNumber, sysfsRoot))
        below->cachesBelow(look, depth + 1, caches);
}

void SysfsBlockDevice::cachesBelow(const LookAt& look, int depth, std::vector<std::string>& caches) const {
    // As deep as bottom() follows a stack, and no deeper.
    if (depth > 8) return;
    const fs::path disk = isPartition() ? fs::path(parentFolder()) : fs::path(folder_);
    if (isDir(disk / "loop")) {
        const std::string backing = loopBacking();
        const std::optional<PathFacts> facts = backing.empty() ? std::nullopt : look(backing);
        if (!facts) return;
        if (readAttribute((disk / "loop" / "dio").string()).value_or("") != "1") caches.push_back(backing);
        if (facts->kind == PathFacts::Kind::RegularFile) {
            cachesBelowFile(*facts, sysfsRoot_, look, depth, caches);
        } else if (facts->kind == PathFacts::Kind::BlockDevice) {
            if (const std::optional<SysfsBlockDevice> below = ofNumber(facts->devNumber, sysfsRoot_))
                below->cachesBelow(look, depth + 1, caches);
        }
        return;
    }
    std::error_code ec;
    fs::directory_iterator slaves(disk / "slaves", ec);
    if (ec) return;
    for (const fs::directory_entry& slave : slaves)
        if (const std::optional<SysfsBlockDevice> below =
                open((fs::path(sysfsRoot_) / "class" / "block" / slave.path().filename()).string(), sysfsRoot_))
            below->cachesBelow(look, depth + 1, caches);
}

bool SysfsBlockDevice::isPartition() const {
    return pathExists(fs::path(folder_) / "partition");
}

std::uint32_t SysfsBlockDevice::partitionNumber() const {
    auto v = parseUnsigned(attribute("partition"));
    return v && *v <= UINT32_MAX ? static_cast<std::uint32_t>(*v) : 0;
}

bool SysfsBlockDevice::readOnly() const {
    auto v = parseUnsigned(attribute("ro"));
    // A device that will not say counts as read-only: it is not offered.
    return !v || *v != 0;
}

std::uint64_t SysfsBlockDevice::sizeInBytes() const {
    auto v = parseUnsigned(attribute("size"));
    return v ? platform::checkedMul(*v, 512).value_or(0) : 0;
}

std::uint32_t SysfsBlockDevice::logicalBlockSize() const {
    auto v = parseUnsigned(attribute("queue/logical_block_size"));
    return v && *v <= UINT32_MAX ? static_cast<std::uint32_t>(*v) : 0;
}

bool SysfsBlockDevice::removable() const {
    auto v = parseUnsigned(attribute("removable"));
    return v && *v != 0;
}

std::string SysfsBlockDevice::devNumber() const {
    auto v = attribute("dev");
    return v ? trimmed(*v) : std::string();
}

std::string SysfsBlockDevice::mediumIdentity() const {
    const fs::path disk = isPartition() ? fs::path(parentFolder()) : fs::path(folder_);
    const auto text = [](const std::optional<std::string>& v) { return v ? trimmed(*v) : std::string("-"); };
    const std::optional<std::string> sequence = readAttribute((disk / "diskseq").string());
    std::string identity = devNumber() + " " + text(sequence) + " " + text(attribute("start"));
    if (sequence) return identity;
    // Without the kernel's count the node alone would name every medium put
    // there alike.
    if (isDir(disk / "loop"))
        return identity + " " + loopBacking() + " " + text(readAttribute((disk / "loop" / "offset").string()));
    const std::string serial = trimmed(serialIn(disk.string()));
    return serial.empty() ? identity : identity + " " + serial;
}

std::string SysfsBlockDevice::attachment() const {
    return mediumIdentity() + " " + std::to_string(sizeInBytes());
}

bool SysfsBlockDevice::holdsMedium(const std::string& identity) const {
    return sizeInBytes() > 0 && mediumIdentity() == identity;
}

bool SysfsBlockDevice::isMemoryDisk() const {
    if (pathExists(fs::path(folder_) / "comp_algorithm")) return true;
    std::string dev = devNumber();
    return dev.rfind("1:", 0) == 0;
}

std::string SysfsBlockDevice::model() const {
    auto v = firstAttribute(folder_, {"device/model", "device/name"});
    return v ? *v : std::string();
}

std::string SysfsBlockDevice::serial() const {
    return serialIn(folder_);
}

std::string SysfsBlockDevice::serialIn(const std::string& folder) {
    auto v = firstAttribute(folder, {"device/serial", "serial", "device/wwid", "wwid"});
    return v ? *v : std::string();
}

std::string SysfsBlockDevice::revision() const {
    auto v = firstAttribute(folder_, {"device/rev", "device/firmware_rev", "device/fwrev"});
    return v ? *v : std::string();
}

std::string SysfsBlockDevice::physicalInterconnect() const {
    const fs::path devices = fs::path(sysfsRoot_) / "devices";
    Bus best = None;
    fs::path d = fs::path(folder_);
    for (int step = 0; step < kMaxWalk && !d.empty() && d != d.root_path(); ++step) {
        if (d == devices) break;
        if (d.parent_path() == devices && d.filename() == "virtual") best = std::max(best, Virtual);
        best = std::max(best, busOfSubsystem(linkTargetName(d / "subsystem")));
        if (isDir(d / "ata_port")) best = std::max(best, Sata);
        if (isDir(d / "sas_device") || isDir(d / "sas_end_device")) best = std::max(best, Sas);
        d = d.parent_path();
    }
    return busName(best);
}

std::string SysfsBlockDevice::driverName() const {
    fs::path d = fs::path(folder_);
    for (int step = 0; step < kMaxWalk && !d.empty() && d != d.root_path(); ++step) {
        std::string n = linkTargetName(d / "driver");
        if (!n.empty()) return n;
        d = d.parent_path();
    }
    return {};
}

std::string SysfsBlockDevice::driverFolder() const {
    fs::path d = fs::path(folder_);
    for (int step = 0; step < kMaxWalk && !d.empty() && d != d.root_path(); ++step) {
        std::error_code ec;
        if (fs::is_symlink(d / "driver", ec)) {
            fs::path target = fs::canonical(d / "driver", ec);
            return ec ? std::string() : target.string();
        }
        d = d.parent_path();
    }
    return {};
}
