#include "session/SessionMediumCheck.h"

#include "media/DMedia.h"
#include "platform/CheckedMath.h"
#include "volume/Volume.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint64_t kSpreadSamples = 32;
// Files the search recorded, looked at on a candidate medium.
constexpr std::size_t kRecordedSamples = 16;

std::uint64_t fnv1a(std::uint64_t hash, const std::uint8_t* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
    return hash;
}

std::optional<std::uint64_t> deviceBytes(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    if (end <= 0) return std::nullopt;
    return static_cast<std::uint64_t>(end);
}

std::mutex rawReadForMutex;
SessionMediumCheck::RawReadFor rawReadFor;

// The medium the checks read `device` through; nothing when the device
// cannot be opened (or holds nothing), which is never the one looked for.
std::shared_ptr<DMedia> openDevice(const std::string& device, std::uint32_t bytesPerSector) {
    if (!deviceBytes(device)) return nullptr;
    std::shared_ptr<DMedia> medium =
        DMedia::initWithDictionary(platform::Dict{{"Path", device}, {"Preferred Block Size", bytesPerSector}});
    std::lock_guard lock(rawReadForMutex);
    if (medium && rawReadFor)
        if (DMedia::RawRead read = rawReadFor(device)) medium->setRawRead(std::move(read));
    return medium;
}

bool allZero(const std::vector<std::uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// Where the files of the tree that `takes` accepts begin on the device, in
// tree order.
template <class Takes> std::vector<std::uint64_t> firstSectorsOf(const Volume& volume, Takes takes) {
    std::vector<std::uint64_t> sectors;
    if (!volume.dirRoot) return sectors;
    newdir::preOrder(volume.dirRoot, newdir::childList, newdir::anyChild, [&](const NewDir* n) {
        if (n->isFolder()) return newdir::Walk::Into;
        if (n->extentCount() != 0 && takes(*n))
            sectors.push_back(volume.HPlusVolStart() + n->dataStartSector +
                              std::uint64_t{n->extents[0].startBlock} * std::max<std::uint8_t>(n->sectorsPerBlock, 1));
        return newdir::Walk::Skip;
    });
    return sectors;
}

// Where the carved files of the restored tree begin on the device, a few of
// them spread over the list.
std::vector<std::uint64_t> recordedFileSectors(const Volume& volume) {
    // A preview inside a raw photo may begin mid-sector; its photo counts.
    const std::vector<std::uint64_t> sectors =
        firstSectorsOf(volume, [](const NewDir& n) { return n.foundBySignature && n.firstSectorOffset == 0; });
    if (sectors.size() <= kRecordedSamples) return sectors;
    std::vector<std::uint64_t> spread;
    for (std::size_t i = 0; i < kRecordedSamples; ++i)
        spread.push_back(sectors[i * sectors.size() / kRecordedSamples]);
    return spread;
}

// A carved file never begins with a sector of zeros: a medium on which every
// one of them that it gives reads so is not the one they were found on (a
// blank disk of the same size, say, whose sampled sectors are zeros too).
// One that cannot be opened is not either.
bool holdsRecordedFiles(DMedia& drive, const std::vector<std::uint64_t>& sectors, std::uint32_t bps) {
    std::vector<std::uint8_t> buffer(bps);
    bool zerosRead = false;
    for (std::uint64_t sector : sectors) {
        switch (drive.readCarvingSector(sector, 1, buffer.data(), true)) {
        case DMedia::CarvingRead::Read:
            if (!allZero(buffer)) return true;
            zerosRead = true;
            break;
        case DMedia::CarvingRead::Failed:
            break;
        case DMedia::CarvingRead::Gone:
            return false;
        }
    }
    return !zerosRead;
}

// Files whose first sector goes into a print: this many, spread over the
// tree, out of up to kPrintCandidates looked at (sectors of zeros say
// nothing of a medium and are passed over).
constexpr std::size_t kPrintSamples = 16;
constexpr std::size_t kPrintCandidates = 64;

// The first sector of every found file with data, over the whole medium
// and each once (files may share one).
std::vector<std::uint64_t> foundFileSectors(const Volume& volume) {
    std::vector<std::uint64_t> sectors =
        firstSectorsOf(volume, [](const NewDir& n) { return n.fileType == NewDir::File && n.fileSize != 0; });
    std::sort(sectors.begin(), sectors.end());
    sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
    return sectors;
}

constexpr std::uint64_t kDigestStart = 0xcbf29ce484222325ULL;

std::uint64_t sectorDigest(const std::vector<std::uint8_t>& bytes) {
    return fnv1a(kDigestStart, bytes.data(), bytes.size());
}

// Whether the device can hold the volume where it lay (a whole disk: is its
// size). A volume of unknown size says nothing against it.
bool holdsVolumeExtent(const Volume& volume, const std::string& device) {
    if (volume.sizeInSect() == 0) return true;
    const std::optional<std::uint64_t> bytes = deviceBytes(device);
    if (!bytes) return false;
    const std::uint64_t sectors = *bytes / volume.u32BytesInSector();
    const std::uint64_t end = platform::saturatingAdd(volume.HPlusVolStart(), volume.sizeInSect());
    return volume.volumeScanType == 3 ? sectors == end : sectors >= end;
}

} // namespace

bool MediumIdentity::mayBe(const MediumIdentity& read) const {
    if (read.bytes != bytes) return false;
    if (samples.empty()) return !wholeDigest || !read.wholeDigest || *read.wholeDigest == *wholeDigest;
    for (const Sample& sample : samples) {
        if (!sample.digest) continue;
        for (const Sample& other : read.samples)
            if (other.sector == sample.sector && other.digest && *other.digest != *sample.digest) return false;
    }
    return true;
}

void SessionMediumCheck::setRawReadFor(RawReadFor reader) {
    std::lock_guard lock(rawReadForMutex);
    rawReadFor = std::move(reader);
}

bool SessionMediumCheck::isSectorSize(std::uint32_t bytes) {
    return bytes >= 512 && bytes <= 65536 && (bytes & (bytes - 1)) == 0;
}

SessionMediumCheck::Found SessionMediumCheck::checkVolumeAvailability(const Volume& volume,
                                                                      const platform::Array& volumeDictArray,
                                                                      const FoundFilesPrint& print) {
    Found found;
    const std::uint32_t bps = volume.u32BytesInSector();
    if (!isSectorSize(bps)) return found;
    for (const platform::Value& v : volumeDictArray) {
        const platform::Dict& row = v.dictValue();
        if (row.get("Size").uint64Value() / bps != volume.sizeInSect()) continue;
        if (row.get("Volume Name").description() != volume.volumeName) continue;
        if (!holdsFoundFiles(volume, row.get("Path").description(), print)) continue;
        found.notConnected = false;
        found.path = row.get("Path").description();
        found.pathIsDifferent = found.path != volume.path();
        break;
    }
    return found;
}

SessionMediumCheck::Found SessionMediumCheck::checkDriveAvailability(const Volume& volume,
                                                                     const platform::Data& first5Sectors,
                                                                     std::uint32_t unread,
                                                                     const platform::Array& driveDictArray,
                                                                     const FoundFilesPrint& print) {
    Found found;
    const std::uint32_t bps = volume.u32BytesInSector();
    const std::size_t stored = 5 * std::size_t{bps};
    if (!isSectorSize(bps) || first5Sectors.size() < stored) return found;
    for (const platform::Value& v : driveDictArray) {
        const platform::Dict& row = v.dictValue();
        const std::string path = row.get("Path").description();
        if (!isSectorSize(row.get("Preferred Block Size").unsignedIntValue())) continue;
        platform::Data sectors;
        const std::optional<std::uint32_t> unreadHere = readFirst5Sectors(path, bps, sectors);
        if (!unreadHere) continue;
        bool differs = false, compared = false;
        for (std::uint32_t i = 0; i < 5 && !differs; ++i) {
            if (((unread | *unreadHere) >> i & 1) != 0) continue;
            compared = true;
            differs = std::memcmp(sectors.data() + i * bps, first5Sectors.data() + i * bps, bps) != 0;
        }
        if (differs || (!compared && !holdsVolumeExtent(volume, path))) continue;
        if (!holdsFoundFiles(volume, path, print)) continue;
        found.notConnected = false;
        found.path = path;
        found.pathIsDifferent = found.path != volume.path();
        break;
    }
    return found;
}

std::optional<std::uint32_t> SessionMediumCheck::readFirst5Sectors(const std::string& device,
                                                                   std::uint32_t bytesPerSector,
                                                                   platform::Data& sectors) {
    if (!isSectorSize(bytesPerSector) || device.empty()) return std::nullopt;
    std::shared_ptr<DMedia> drive = openDevice(device, bytesPerSector);
    if (!drive) return std::nullopt;
    sectors.assign(5 * std::size_t{bytesPerSector}, 0);
    // One by one: a disk fails a whole request for one bad sector, and the
    // others still tell the disk apart.
    std::uint32_t unread = 0;
    for (std::uint32_t i = 0; i < 5; ++i) {
        std::uint8_t* into = sectors.data() + i * std::size_t{bytesPerSector};
        switch (drive->readCarvingSector(i, 1, into, true)) {
        case DMedia::CarvingRead::Read:
            break;
        case DMedia::CarvingRead::Failed:
            std::fill(into, into + bytesPerSector, 0);
            unread |= 1u << i;
            break;
        case DMedia::CarvingRead::Gone:
            return std::nullopt;
        }
    }
    return unread;
}

FoundFilesPrint SessionMediumCheck::readFoundFilesPrint(const Volume& volume) {
    FoundFilesPrint print;
    const std::uint32_t bps = volume.u32BytesInSector();
    const std::vector<std::uint64_t> sectors = foundFileSectors(volume);
    if (!isSectorSize(bps) || sectors.empty()) return print;
    std::shared_ptr<DMedia> drive = openDevice(volume.cPath(), bps);
    if (!drive) return print;
    const std::size_t candidates = std::min(sectors.size(), kPrintCandidates);
    std::vector<std::uint8_t> buffer(bps);
    for (std::size_t i = 0; i < candidates && print.samples.size() < kPrintSamples; ++i) {
        const std::uint64_t sector = sectors[i * sectors.size() / candidates];
        if (drive->readCarvingSector(sector, 1, buffer.data(), true) != DMedia::CarvingRead::Read || allZero(buffer))
            continue;
        print.samples.push_back({sector, sectorDigest(buffer)});
    }
    return print;
}

bool SessionMediumCheck::holdsFoundFiles(const Volume& volume, const std::string& device,
                                         const FoundFilesPrint& print) {
    const std::uint32_t bps = volume.u32BytesInSector();
    std::shared_ptr<DMedia> drive = isSectorSize(bps) ? openDevice(device, bps) : nullptr;
    if (!drive) return false;
    if (print.samples.empty()) return holdsRecordedFiles(*drive, recordedFileSectors(volume), bps);
    // Most, not all: the medium may have been written to since (a card put
    // back in a camera), which the files the user is after may well have
    // survived.
    std::size_t same = 0, read = 0;
    std::vector<std::uint8_t> buffer(bps);
    for (const FoundFilesPrint::Sample& sample : print.samples) {
        switch (drive->readCarvingSector(sample.sector, 1, buffer.data(), true)) {
        case DMedia::CarvingRead::Read:
            ++read;
            same += sectorDigest(buffer) == sample.digest;
            break;
        case DMedia::CarvingRead::Failed:
            break;
        case DMedia::CarvingRead::Gone:
            return false;
        }
    }
    return read == 0 || (same != 0 && 2 * same >= read);
}

void SessionMediumCheck::adoptDrivePath(Volume& volume, const std::string& newPath,
                                        platform::Array& partitionListDictArray,
                                        platform::Array& partitionScanListDictArray) {
    const std::string oldPath = volume.path();
    for (platform::Array* list : {&partitionListDictArray, &partitionScanListDictArray})
        for (platform::Value& v : *list)
            if (platform::Dict* row = v.dict(); row && row->get("Path").description() == oldPath)
                row->set("Path", newPath);
    volume.setPath(newPath);
    volume.setCPath();
}

std::string SessionMediumCheck::identityDevice(const Volume& volume) {
    if (volume.volumeScanType == 2 && !volume.parentDrivePath.empty()) return volume.parentDrivePath;
    return volume.path();
}

std::optional<MediumIdentity> SessionMediumCheck::readMediumIdentity(const std::string& device,
                                                                     std::uint32_t bytesPerSector) {
    if (!isSectorSize(bytesPerSector) || device.empty()) return std::nullopt;
    const std::optional<std::uint64_t> bytes = deviceBytes(device);
    std::shared_ptr<DMedia> drive = bytes ? openDevice(device, bytesPerSector) : nullptr;
    if (!drive) return std::nullopt;
    const std::uint64_t sectors = *bytes / bytesPerSector;
    std::vector<std::uint64_t> places;
    for (std::uint64_t s = 0; s < 5 && s < sectors; ++s)
        places.push_back(s);
    for (std::uint64_t i = 1; i <= kSpreadSamples && sectors != 0; ++i)
        places.push_back(sectors / (kSpreadSamples + 1) * i);
    if (sectors != 0) places.push_back(sectors - 1);
    MediumIdentity identity{*bytes, {}, kDigestStart};
    std::vector<std::uint8_t> buffer(bytesPerSector);
    for (std::uint64_t sector : places) {
        MediumIdentity::Sample& sample = identity.samples.emplace_back(MediumIdentity::Sample{sector, std::nullopt});
        switch (drive->readCarvingSector(sector, 1, buffer.data(), true)) {
        case DMedia::CarvingRead::Read:
            sample.digest = sectorDigest(buffer);
            if (identity.wholeDigest) identity.wholeDigest = fnv1a(*identity.wholeDigest, buffer.data(), buffer.size());
            break;
        case DMedia::CarvingRead::Failed:
            identity.wholeDigest.reset();
            break;
        case DMedia::CarvingRead::Gone:
            return std::nullopt;
        }
    }
    return identity;
}

SessionMediumCheck::Found SessionMediumCheck::findSnapshotMedium(const Volume& volume, const MediumIdentity& identity,
                                                                 const platform::Array& driveDictArray,
                                                                 const platform::Array& volumeDictArray) {
    Found found;
    const std::uint32_t bps = volume.u32BytesInSector();
    if (!isSectorSize(bps)) return found;
    const bool mounted = volume.volumeScanType == 2;
    const std::vector<std::uint64_t> recorded = recordedFileSectors(volume);
    for (const platform::Value& v : mounted ? volumeDictArray : driveDictArray) {
        const platform::Dict& row = v.dictValue();
        const std::string path = row.get("Path").description();
        std::string device = path;
        std::string parentDrive;
        if (mounted) {
            if (row.get("Size").uint64Value() / bps != volume.sizeInSect() ||
                row.get("Volume Name").description() != volume.volumeName)
                continue;
            if (const std::string parent = row.get("Parent Drive Path").description();
                !volume.parentDrivePath.empty() && !parent.empty() && parent != "(null)") {
                device = parentDrive = parent;
            }
        }
        const std::optional<MediumIdentity> read = readMediumIdentity(device, bps);
        if (!read || !identity.mayBe(*read)) continue;
        std::shared_ptr<DMedia> drive = openDevice(path, bps);
        if (!drive || !holdsRecordedFiles(*drive, recorded, bps)) continue;
        found.notConnected = false;
        found.path = path;
        found.parentDrivePath = parentDrive;
        found.pathIsDifferent = path != volume.path();
        found.identity = read;
        found.identityDevice = device;
        break;
    }
    return found;
}
