#include "media/DriveDiscovery.h"

#include "formats/FATBootSector.h"
#include "media/BlockProbe.h"
#include "media/ContentKind.h"
#include "media/DriveListRows.h"
#include "media/DriveRow.h"
#include "media/MediumContentHint.h"
#include "media/VolumeContentDetection.h"
#include "platform/ByteView.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/statfs.h>

using platform::Array;
using platform::Dict;
using platform::Value;

namespace fs = std::filesystem;

namespace {

// Kernel file-system magics that name a file system the list knows; any
// other mount keeps the type the mount table gives.
std::string typeOfMagic(unsigned long magic) {
    switch (magic) {
    case 0x4d44:
        return "msdos"; // vfat and msdos
    case 0x482b:
        return "hfsplus";
    case 0x4244:
        return "hfs";
    case 0x2011bab0:
        return "exfat";
    default:
        return {};
    }
}

// "sda" < "sdb" < "sdaa", "loop2" < "loop10": the order a person expects.
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie])))
                ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je])))
                ++je;
            std::string_view na(a.data() + i, ie - i), nb(b.data() + j, je - j);
            while (na.size() > 1 && na.front() == '0')
                na.remove_prefix(1);
            while (nb.size() > 1 && nb.front() == '0')
                nb.remove_prefix(1);
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string trimBlanksAndTabs(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

bool contentMissing(const Dict& d) {
    const Value& c = d.get("Content");
    return c.isNull() || c.description() == "-";
}

// The name a mounted volume is shown with: the last part of its mount point.
std::string nameOfMountPoint(const std::string& mountPoint) {
    std::string p = mountPoint;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const std::size_t slash = p.rfind('/');
    std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    return name.empty() ? p : name;
}

// The icon kind of a disk: what the program draws for it, with its bus.
const char* iconResourceFor(const SysfsBlockDevice& disk, const std::string& bus) {
    if (disk.removable()) return "Removable.icns";
    if (bus == "USB" || bus == "FireWire" || bus == "Thunderbolt") return "External.icns";
    return "Internal.icns";
}

// The identifier of the driver behind a disk. Loop, md and device-mapper
// disks have no device of their own; their kind shows as a folder of the
// disk's sysfs entry.
std::string driverIdentifier(const SysfsBlockDevice& disk) {
    std::string driver = disk.driverName();
    if (!driver.empty()) return driver;
    for (const char* kind : {"loop", "md", "dm"}) {
        std::error_code ec;
        if (fs::is_directory(fs::path(disk.folder()) / kind, ec)) return kind;
    }
    return "-";
}

// Whether the kernel found partitions on a disk: the partitions are the
// folders in the disk's folder that carry a "partition" attribute, whether
// or not they are offered.
bool hasPartitionFolders(const SysfsBlockDevice& disk) {
    std::error_code ec;
    for (fs::directory_iterator it(disk.folder(), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        if (it->is_directory(ec2) && fs::exists(it->path() / "partition", ec2)) return true;
    }
    return false;
}

} // namespace

DriveDiscovery::DriveDiscovery(SystemPaths paths, std::shared_ptr<ProbeFailures> failures)
    : paths_(std::move(paths)), failures_(failures ? std::move(failures) : std::make_shared<ProbeFailures>()) {}

bool DriveDiscovery::blockProbeMayRead(const std::string& path) {
    if (failures_->failures(path) != 0) return false;
    std::vector<std::uint8_t> lead(kBlockProbeLeadBytes);
    if (VolumeContentDetection(0, reads_.read, failures_).readWhole(path, 0, lead)) return true;
    platform::logFormat("The first sectors of %@ could not be read; its content is told by the program's own tests",
                        path);
    return false;
}

BlockProbe::PartitionTable DriveDiscovery::partitionTableOf(const std::string& path) {
    if (!blockProbeMayRead(path)) return {};
    BlockProbe::PartitionTable table = BlockProbe::partitionTable(path);
    if (table.failed) failures_->noteFailed(path, 0, UINT64_MAX);
    return table;
}

BlockProbe::FileSystem DriveDiscovery::fileSystemOf(const std::string& path) {
    if (!blockProbeMayRead(path)) return {};
    BlockProbe::FileSystem found = reads_.fileSystem(path);
    if (found.failed) failures_->noteFailed(path, 0, UINT64_MAX);
    return found;
}

void DriveDiscovery::initialDriveList() {
    responseDriveFinder.clear();
    responseFindMedia.clear();
    finalArrayForVolumes.clear();
    mounted_.clear();
    links_.clear();
    driveDictArray_.clear();
    volumeDictArray_.clear();
    volumeDictArrayHFSOnly_.clear();
    hfsOnly_.clear();

    volumeList();
    GetMediaList(responseDriveFinder);
    sortDriveFinderResponse();
    rearrangeDriveFinderResponse();
    truncateDriveModelNumber();
    separateDrvVol();
}

// --- mounted volumes ---

void DriveDiscovery::volumeList() {
    finalArrayForVolumes.clear();
    mounted_.clear();
    for (MountTable::Entry& e : MountTable::read(paths_.mountInfo)) {
        // Only file systems that live on a device can be one of our volumes;
        // asking a network or virtual file system about itself could also
        // hang on a server that has gone away.
        const bool onDevice = e.major() != 0 || (!e.source.empty() && e.source.front() == '/');
        if (!onDevice) continue;
        finalArrayForVolumes.push_back(Dict{{"Mounted Path", e.mountPoint}});
        mounted_.push_back({std::move(e), {}});
    }
    AddMountedVolumeDetails(finalArrayForVolumes);
}

void DriveDiscovery::AddMountedVolumeDetails(Array& volumes) {
    const std::size_t n = std::min(volumes.size(), mounted_.size());
    for (std::size_t i = 0; i < n; ++i) {
        Dict* v = volumes[i].dict();
        if (!v) continue;
        MountedVolume& m = mounted_[i];
        struct statfs info {};
        if (::statfs(m.entry.mountPoint.c_str(), &info) == 0) {
            m.fileSystemType = typeOfMagic(static_cast<unsigned long>(info.f_type));
        } else {
            platform::logFormat("statfs failed: %@: %@", m.entry.mountPoint, std::string(std::strerror(errno)));
        }
        if (m.fileSystemType.empty()) m.fileSystemType = m.entry.fsType;
        v->set("Volume Name", nameOfMountPoint(m.entry.mountPoint));
        v->set("Volume Path", m.entry.source);
    }
}

// --- media ---

void DriveDiscovery::GetMediaList(Array& list) {
    CollectMediaProperties(FindWritableMedia(), list);
}

std::vector<SysfsBlockDevice> DriveDiscovery::FindWritableMedia() const {
    std::vector<SysfsBlockDevice> disks;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(paths_.sysfsRoot) / "block", ec), end; !ec && it != end; it.increment(ec)) {
        auto d = SysfsBlockDevice::open(it->path().string(), paths_.sysfsRoot);
        if (!d) continue;
        // Unattached loop devices have no size; zram swap and RAM disks are
        // memory; a read-only device is not offered.
        if (d->readOnly() || d->sizeInBytes() == 0 || d->isMemoryDisk()) continue;
        disks.push_back(std::move(*d));
    }
    std::sort(disks.begin(), disks.end(),
              [](const SysfsBlockDevice& a, const SysfsBlockDevice& b) { return naturalLess(a.name(), b.name()); });

    std::vector<std::vector<SysfsBlockDevice>> partitionsOf(disks.size());
    for (fs::directory_iterator it(fs::path(paths_.sysfsRoot) / "class" / "block", ec), end; !ec && it != end;
         it.increment(ec)) {
        auto p = SysfsBlockDevice::open(it->path().string(), paths_.sysfsRoot);
        if (!p || !p->isPartition() || p->readOnly() || p->sizeInBytes() == 0) continue;
        const std::string parent = p->parentFolder();
        for (std::size_t i = 0; i < disks.size(); ++i)
            if (disks[i].folder() == parent) {
                partitionsOf[i].push_back(std::move(*p));
                break;
            }
    }

    std::vector<SysfsBlockDevice> media;
    for (std::size_t i = 0; i < disks.size(); ++i) {
        auto& parts = partitionsOf[i];
        std::sort(parts.begin(), parts.end(), [](const SysfsBlockDevice& a, const SysfsBlockDevice& b) {
            if (a.partitionNumber() != b.partitionNumber()) return a.partitionNumber() < b.partitionNumber();
            return naturalLess(a.name(), b.name());
        });
        media.push_back(std::move(disks[i]));
        for (auto& p : parts)
            media.push_back(std::move(p));
    }
    return media;
}

void DriveDiscovery::CollectMediaProperties(const std::vector<SysfsBlockDevice>& media, Array& list) {
    const SysfsBlockDevice* disk = nullptr;
    Dict diskProperties, deviceProperties;
    BlockProbe::PartitionTable table;
    for (const SysfsBlockDevice& m : media) {
        const std::string path = paths_.deviceNode(m.name());
        failures_->attached(path, m.attachment());
        if (!m.isPartition()) {
            disk = &m;
            table = partitionTableOf(path);
            const std::string bus = m.physicalInterconnect();
            diskProperties = Dict{{"BSD Name", m.name()},
                                  {"Medium Identity", m.mediumIdentity()},
                                  {"Size", static_cast<unsigned long long>(m.sizeInBytes())},
                                  {"Preferred Block Size", m.logicalBlockSize()},
                                  {"Content", MediumContentHint::forScheme(table.scheme)},
                                  {"Writable", true},
                                  {"Whole", true},
                                  {"Removable", m.removable()}};
            deviceProperties = Dict{};
            if (std::string s = m.model(); !s.empty()) deviceProperties.set("Model", s);
            // A loop device has no model of its own: it is named by what it
            // reads, the image file a user attached, or the device.
            else if (const std::string backing = m.loopBacking(); !backing.empty())
                deviceProperties.set("Model", fs::path(backing).filename().string());
            if (std::string s = m.serial(); !s.empty()) deviceProperties.set("Serial Number", s);
            if (std::string s = m.revision(); !s.empty()) deviceProperties.set("Revision", s);
            if (!bus.empty()) deviceProperties.set("Protocol Characteristics", Dict{{"Physical Interconnect", bus}});
            deviceProperties.set("IOMediaIcon", Dict{{"CFBundleIdentifier", driverIdentifier(m)},
                                                     {"IOBundleResourceFile", iconResourceFor(m, bus)}});
            links_[path] = MediumLink{m.name(), {}, m.devNumber(), false, hasPartitionFolders(m)};
            list.push_back(Array{diskProperties, deviceProperties});
            continue;
        }
        if (!disk) continue;
        const std::string diskPath = paths_.deviceNode(disk->name());
        std::string hint = "-";
        const std::uint32_t number = m.partitionNumber();
        for (const auto& e : table.partitions)
            if (e.number == number) {
                hint = MediumContentHint::forPartition(e);
                break;
            }
        Dict partition{{"BSD Name", m.name()},
                       {"Medium Identity", m.mediumIdentity()},
                       {"Size", static_cast<unsigned long long>(m.sizeInBytes())},
                       {"Preferred Block Size", disk->logicalBlockSize()},
                       {"Content", hint},
                       {"Writable", true},
                       {"Whole", false},
                       {"Partition ID", number}};
        links_[path] = MediumLink{m.name(), diskPath, m.devNumber(), true, false};
        list.push_back(Array{partition, diskProperties, deviceProperties});
    }
}

int DriveDiscovery::valueRequired(const std::string& key) {
    static const std::map<std::string, int, std::less<>> classes{
        {"Content", 2},
        {"Preferred Block Size", 1},
        {"IOMediaIcon", 3},
        {"CFBundleIdentifier", 1},
        {"IOBundleResourceFile", 1},
        {"Protocol Characteristics", 3},
        {"Physical Interconnect", 1},
        {"Device Characteristics", 3},
        {"Vendor Identification", 1},
        {"Product Identification", 1},
        {"Product Revision Level", 1},
        {"device model", 1},
        {"device serial", 1},
        {"device revision", 1},
        {"Vendor Name", 1},
        {"Product Name", 1},
        {"Model", 2},
        {"Serial Number", 2},
        {"Revision", 2},
        {"Card Characteristics", 3},
        {"Size", 1},
        {"Medium Identity", 1},
        {"BSD Name", 2},
        {"IOClass", 3},
    };
    auto it = classes.find(key);
    return it == classes.end() ? 0 : it->second;
}

std::optional<std::string> DriveDiscovery::newKeyForKey(const std::string& key, Value& value,
                                                        const Value& oldValue) const {
    if (key == "Content") {
        const std::string old = oldValue.description();
        if (old == MediumContentHint::kAppleHFS)
            value = contentString(ContentKind::HFSPlus);
        else if (old == "Windows_FAT_32")
            value = contentString(ContentKind::FAT32);
        else if (old == "Windows_FAT_16")
            value = contentString(ContentKind::FAT16);
        else
            value = oldValue;
        return key;
    }
    if (key == "Model") {
        value = oldValue;
        return std::string("device model");
    }
    if (key == "Serial Number") {
        value = oldValue;
        return std::string("device serial");
    }
    if (key == "Revision") {
        value = oldValue;
        return std::string("device revision");
    }
    if (key == "BSD Name") {
        // Linux has no separate raw node: the block device itself is read,
        // and only ever opened read-only.
        value = paths_.deviceNode(oldValue.description());
        return std::string("Path");
    }
    return std::nullopt;
}

void DriveDiscovery::sortDriveFinderResponse() {
    for (const Value& entry : responseDriveFinder) {
        Dict d;
        auto take = [&](const std::string& key, const Value& v, int cls) {
            if (cls == 1) {
                if (!d.contains(key)) d.set(key, v);
            } else if (cls == 2) {
                Value nv;
                if (auto nk = newKeyForKey(key, nv, v); nk && !d.contains(*nk)) d.set(*nk, nv);
            }
        };
        for (const Value& pv : entry.arrayValue()) {
            for (const auto& [key, v] : pv.dictValue()) {
                const int cls = valueRequired(key);
                if (cls == 1 || cls == 2) {
                    take(key, v, cls);
                } else if (cls == 3 && v.isDict()) {
                    for (const auto& [key2, v2] : v.dictValue()) {
                        const int cls2 = valueRequired(key2);
                        if (cls2 == 1 || cls2 == 2) take(key2, v2, cls2);
                    }
                }
            }
            if (d.contains("Physical Interconnect")) {
                const std::string bus = d.get("Physical Interconnect").description();
                const char* model = "Vendor Name";
                const char* serial = "Product Name";
                if (bus == "USB") {
                    model = "Vendor Identification";
                    serial = "Product Identification";
                } else if (bus == "SATA") {
                    model = "Product Name";
                    serial = nullptr;
                }
                if (d.contains(model)) d.set("device model", d.get(model));
                if (serial && d.contains(serial)) d.set("device serial", d.get(serial));
                if (d.contains("Product Revision Level")) d.set("device revision", d.get("Product Revision Level"));
            }
            for (auto& [key, v] : d)
                if (v.description().empty()) v = "-";
        }
        responseFindMedia.push_back(std::move(d));
    }
}

// --- drives and volumes ---

const DriveDiscovery::MountedVolume* DriveDiscovery::mountOf(const MediumLink& link, const std::string& path) const {
    const MountedVolume* first = nullptr;
    for (const MountedVolume& m : mounted_) {
        const bool same = (!link.devNumber.empty() && m.entry.majorMinor == link.devNumber) || m.entry.source == path;
        if (!same) continue;
        // A device is often mounted more than once (bind mounts of one of
        // its folders); the mount of its root shows the whole volume.
        if (m.entry.root == "/") return &m;
        if (!first) first = &m;
    }
    return first;
}

void DriveDiscovery::rearrangeDriveFinderResponse() {
    Array setAside;
    for (Value& mv : responseFindMedia) {
        Dict* m = mv.dict();
        if (!m) continue;
        const std::string path = m->get("Path").description();
        auto linkIt = links_.find(path);
        if (linkIt == links_.end()) continue;
        const MediumLink& link = linkIt->second;
        if (link.isPartition) m->set("WhetherVolume", true);

        if (const MountedVolume* mounted = mountOf(link, path)) {
            const std::size_t i = static_cast<std::size_t>(mounted - mounted_.data());
            const Dict& v = finalArrayForVolumes[i].dictValue();
            Dict* target = m;
            Dict copy;
            if (!link.isPartition) {
                // The disk's own hint is its partition scheme, which says
                // nothing of a file system that fills the disk.
                copy = *m;
                copy.set("Content", "-");
                target = &copy;
            }
            DriveRow{.volumeName = v.get("Volume Name").description(),
                     .mountedPath = v.get("Mounted Path").description(),
                     .whetherVolume = true}
                .setIn(*target);
            if (contentMissing(*target)) {
                std::string hint = MediumContentHint::forFileSystemType(mounted->fileSystemType);
                if (!hint.empty()) target->set("Content", hint);
            }
            if (!link.isPartition) setAside.push_back(std::move(copy));
            continue;
        }

        // Linux mounts only what someone asked it to: an unmounted volume is
        // as much a volume as a mounted one. Its name is its label.
        if (link.isPartition) {
            const BlockProbe::FileSystem fsInfo = fileSystemOf(path);
            m->set("Volume Name", fsInfo.label.empty() ? link.name : fsInfo.label);
            if (contentMissing(*m)) {
                std::string hint = MediumContentHint::forFileSystemType(fsInfo.type);
                if (!hint.empty()) m->set("Content", hint);
            }
        } else if (!link.hasPartitions) {
            // A disk in which the kernel found no partitions may hold one
            // file system that fills it; the content tests decide whether it
            // is a volume. Its scheme is no hint: an exFAT boot sector, for
            // one, passes for an empty MBR.
            const BlockProbe::FileSystem fsInfo = fileSystemOf(path);
            const std::string hint = MediumContentHint::forFileSystemType(fsInfo.type);
            Dict copy = *m;
            DriveRow{.content = hint.empty() ? std::string("-") : hint,
                     .volumeName = fsInfo.label.empty() ? link.name : fsInfo.label,
                     .whetherVolume = true}
                .setIn(copy);
            setAside.push_back(std::move(copy));
        }
    }
    for (Value& v : setAside)
        responseFindMedia.push_back(std::move(v));
}

void DriveDiscovery::truncateDriveModelNumber() {
    for (Value& mv : responseFindMedia) {
        Dict* m = mv.dict();
        if (!m || m->contains("WhetherVolume")) continue;
        for (const char* key : {"device model", "device serial", "device revision"}) {
            std::string text = m->contains(key) ? trimBlanksAndTabs(m->get(key).description()) : std::string();
            // Padding alone is no identity: it shows as missing.
            m->set(key, text.empty() ? std::string("-") : text);
        }
    }
}

void DriveDiscovery::separateDrvVol() {
    const VolumeContentDetection detect(0, reads_.read, failures_);
    for (Value& mv : responseFindMedia) {
        Dict* m = mv.dict();
        if (!m || !m->contains("CFBundleIdentifier")) continue;
        if (!m->contains("WhetherVolume")) {
            m->set("WhetherDiskDict", true);
            driveDictArray_.push_back(*m);
            continue;
        }
        m->set("journaled", "-");
        const std::string c = m->contains("Content") ? m->get("Content").description() : std::string("FAT32");
        // Nothing told what it holds: its first sectors decide.
        const bool noHint = c == "-";
        const ContentKind kind = noHint ? ContentKind::ExFAT : contentKindOf(c);

        // A volume of a file system other than HFS+, which has no journal
        // and no wrapper.
        auto other = [&](std::string content) {
            DriveRow{.content = std::move(content),
                     .journaled = "-",
                     .fileSystem = 1,
                     .supportFileSystemRecovery = 1,
                     .hfsVolumeStart = 0}
                .setIn(*m);
        };
        bool hfsList = false;
        // An HFS+ or HFSX volume with its journal and wrapper.
        auto hfs = [&](const Dict& result) {
            DriveRow{.content = result.get("Content").description(),
                     .journaled = result.get("journaled").description(),
                     .fileSystem = 0,
                     .supportFileSystemRecovery = result.get("supportFileSystemRecovery").intValue() != 0 ? 1 : 0,
                     .hfsVolumeStart = result.get("HFSVolumeStart").uint64Value()}
                .setIn(*m);
            hfsList = true;
        };
        if (c == "DOS_FAT_32" || c == "DOS_FAT_16" || kind == ContentKind::FAT32 || kind == ContentKind::FAT16) {
            other(detect.fatFileSystemDetermination(*m));
        } else if (isHFSContent(kind) || c == "HFS+") {
            std::optional<Dict> result = detect.checkForJournal(*m);
            if (!result) continue;
            hfs(*result);
        } else if (kind == ContentKind::ExFAT) {
            std::optional<Dict> hfsResult;
            if (detect.isVolumeFAT(*m)) {
                other(detect.fatFileSystemDetermination(*m));
            } else if (detect.isVolumeExFAT(*m)) {
                other(contentString(ContentKind::ExFAT));
                hfsList = true;
            } else if (noHint && detect.isVolumeAPFS(*m)) {
                other(contentString(ContentKind::APFS));
                hfsList = true;
            } else if (noHint && (hfsResult = detect.checkForJournal(*m)) &&
                       isHFSContent(contentKindOf(hfsResult->get("Content").description()))) {
                // libblkid gives up on a volume whose first 16 KiB do not
                // read as one: its header, or the alternate copy, decides.
                hfs(*hfsResult);
            } else {
                continue;
            }
        } else if (kind == ContentKind::APFSContainer) {
            if (!detect.isVolumeAPFS(*m)) continue;
            other(contentString(ContentKind::APFS));
            hfsList = true;
        } else {
            continue;
        }
        if (hfsList) hfsOnly_.push_back(volumeDictArray_.size());
        volumeDictArray_.push_back(*m);
    }
    syncChildren();

    checkForFATPartitionByWindows(driveDictArray_, volumeDictArray_);
    attachVolumesToDrives();
    fixBundleResource();
    getDrvVolIconPaths();
}

void DriveDiscovery::checkForFATPartitionByWindows(Array& drives, Array& volumes) {
    const VolumeContentDetection detect(0, reads_.read, failures_);
    for (Value& dv : drives) {
        Dict* drive = dv.dict();
        if (!drive) continue;
        // The check writes into the drive's first volume; a drive without one
        // has nothing it could change, so its disk is not read.
        const Value& children = drive->get("Children Volume Array");
        if (!children.isArray() || children.arrayValue().empty()) continue;
        const std::uint32_t bps = drive->get("Preferred Block Size").unsignedIntValue();
        if (bps == 0 || bps > VolumeContentDetection::kMaxSectorSize) continue;
        const std::uint32_t sectors = std::max<std::uint32_t>(1, 4096 / bps);
        std::vector<std::uint8_t> boot(static_cast<std::size_t>(sectors) * bps, 0);
        const std::string path = drive->get("Path").description();
        if (!detect.readWhole(path, 0, boot)) continue;
        const std::optional<FATBootSector> b = FATBootSector::decode(platform::ByteView(boot));
        if (!b || !b->hasBootCode() || b->bytesPerSector == 0 || b->bytesPerSector % 512 != 0 ||
            b->sectorsPerCluster == 0 || (b->sectorsPerCluster != 1 && b->sectorsPerCluster % 2 != 0) ||
            b->numberOfFats != 2)
            continue;
        std::vector<std::uint8_t> sector(bps, 0);
        // The FAT's first sector begins with the media byte.
        const auto fatBegins = [&](std::uint64_t at) {
            std::fill(sector.begin(), sector.end(), 0);
            const std::optional<std::uint64_t> offset = platform::checkedMul(at, bps);
            return offset && detect.readWhole(path, *offset, sector) && sector[0] == b->media;
        };
        // The second copy of the FAT; a FAT32 boot sector keeps its FAT
        // size elsewhere and this looks at the first copy again.
        const bool match = fatBegins(b->fatStart()) || fatBegins(b->fatStart() + b->fatSize16);
        if (!match) continue;
        const std::string type = detect.fatFileSystemDetermination(*drive);
        if (type == "-") continue;
        // The drive's first volume, in its drive's list and in the volume list.
        const std::string firstPath = children.arrayValue().front().dictValue().get("Path").description();
        const DriveRow fat{.content = type, .journaled = "-", .supportFileSystemRecovery = 1, .hfsVolumeStart = 0};
        auto mark = [&](Dict& v) { fat.setIn(v); };
        if (Dict* first = (*drive)["Children Volume Array"].array()->front().dict()) mark(*first);
        for (Value& vv : volumes)
            if (Dict* v = vv.dict(); v && v->get("Path").description() == firstPath) {
                mark(*v);
                break;
            }
    }
}

void DriveDiscovery::attachVolumesToDrives() {
    std::vector<std::int64_t> count(driveDictArray_.size(), 0);
    for (Value& vv : volumeDictArray_) {
        Dict* v = vv.dict();
        if (!v) continue;
        const std::string path = v->get("Path").description();
        auto link = links_.find(path);
        const std::string parent = link != links_.end() ? link->second.parentPath : std::string();
        for (std::size_t i = 0; i < driveDictArray_.size(); ++i) {
            const Dict& d = driveDictArray_[i].dictValue();
            const std::string drivePath = d.get("Path").description();
            if (path != drivePath && parent != drivePath) continue;
            for (const char* key : {"device model", "device serial", "device revision"})
                if (d.contains(key)) v->set(key, d.get(key));
            DriveRow{.indexOfChildVolume = count[i], .parentDrivePath = drivePath}.setIn(*v);
            ++count[i];
        }
    }
    syncChildren();

    std::int64_t counter = 0;
    for (std::size_t i = 0; i < driveDictArray_.size(); ++i) {
        Dict* d = driveDictArray_[i].dict();
        if (!d) continue;
        DriveRow{.volumeAndDriveIndex = counter++}.setIn(*d);
        for (Value& vv : volumeDictArray_) {
            Dict* v = vv.dict();
            if (!v || v->get("Parent Drive Path") != d->get("Path")) continue;
            DriveRow{.totalVolumesInADisk = count[i], .volumeAndDriveIndex = counter++}.setIn(*v);
        }
    }
    syncChildren();
}

void DriveDiscovery::syncChildren() {
    for (Value& dv : driveDictArray_) {
        Dict* d = dv.dict();
        if (!d) continue;
        Array children;
        for (const Value& vv : volumeDictArray_)
            if (vv.dictValue().get("Parent Drive Path") == d->get("Path") && d->get("Path").isString())
                children.push_back(vv);
        if (!children.empty()) d->set("Children Volume Array", std::move(children));
    }
    volumeDictArrayHFSOnly_.clear();
    for (std::size_t i : hfsOnly_)
        if (i < volumeDictArray_.size()) volumeDictArrayHFSOnly_.push_back(volumeDictArray_[i]);
}

void DriveDiscovery::fixBundleResource() {
    DriveListRows::fixBundleResource(driveDictArray_);
}

void DriveDiscovery::getDrvVolIconPaths() {
    DriveListRows::getDrvVolIconPaths(driveDictArray_, volumeDictArray_,
                                      DriveListRows::driverBundles(paths_.sysfsRoot));
    syncChildren();
}
