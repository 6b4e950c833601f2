#include "ScanImageMedium.h"
#include "ScanImageScan.h"
#include "media/ContentKind.h"
#include "media/DMedia.h"
#include "media/DriveRow.h"
#include "media/PartitionTables.h"
#include "media/VolumeContentDetection.h"
#include "platform/ByteView.h"
#include "platform/SystemLog.h"
#include "scan/ScanThread.h"
#include "volume/BTreeTableClass.h"
#include "volume/Volume.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool parseNumber(const char* s, std::uint64_t& out) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &end, 10);
    if (errno || !end || *end || s[0] == '-') return false;
    out = v;
    return true;
}

// What the volume at the start sector holds, as far as this tool can tell
// without the drive list: the HFS+ and HFSX signatures, then the FAT and
// exFAT boot sectors and the APFS container superblock, named as the drive
// list names them. The content tests read through the scan's own reader and
// take a header or boot sector from its copy where the volume keeps one.
std::string detectContent(const ScanImageOptions& o, std::uint64_t volumeSectors) {
    const VolumeContentDetection detection(o.start, o.rawRead);
    const platform::Dict volume{{"Path", o.image},
                                {"Preferred Block Size", o.sectorSize},
                                {"Size", static_cast<unsigned long long>(volumeSectors) * o.sectorSize}};
    if (const auto header = detection.volumeHeader(volume)) {
        const std::uint16_t sig = platform::ByteView(*header).be16(0);
        if (sig == 0x482B) return contentString(ContentKind::HFSPlus);
        if (sig == 0x4858) return contentString(ContentKind::HFSX);
    }
    if (detection.isVolumeFAT(volume)) {
        std::string type = detection.fatFileSystemDetermination(volume);
        return type == "-" ? std::string() : type;
    }
    if (detection.isVolumeExFAT(volume)) return contentString(ContentKind::ExFAT);
    if (detection.isVolumeAPFS(volume)) return contentString(ContentKind::APFS);
    return {};
}

bool carveDriverKnown(std::string_view driver) {
    for (std::string_view d : {"volume", "disk", "hfs-free", "fat-free", "exfat", "apfs", "default"})
        if (d == driver) return true;
    return false;
}

// The carving driver of the deleted-file scan's row for a content in the
// scan thread's table, by its name here: what a content calls for by
// default, and the one driver of its own that can carve it. Empty when no
// row takes the content.
std::string carveDriverFor(const std::string& content) {
    if (content.empty()) return "disk";
    switch (ScanThread::fileSystemForContent(contentKindOf(content), false)) {
    case ScanThread::FileSystem::HFSPlus:
        return "hfs-free";
    case ScanThread::FileSystem::FAT:
        return "fat-free";
    case ScanThread::FileSystem::ExFAT:
        return "exfat";
    case ScanThread::FileSystem::APFS:
        return "apfs";
    case ScanThread::FileSystem::None:
        break;
    }
    return {};
}

// The volume's sectors from o.start: --length, else the partition the
// image's table has there, as far as it lies on the image (a carving must
// not run on into the next one), else the rest of the image. Nothing when
// --length reaches past the image.
std::optional<std::uint64_t> volumeSectors(const ScanImageOptions& o, std::uint64_t imageSectors) {
    const std::uint64_t rest = imageSectors - o.start;
    if (o.length) return *o.length <= rest ? o.length : std::nullopt;
    if (o.start == 0) return rest;
    auto disk = DMedia::initWithDictionary(
        platform::Dict{{"Path", o.image},
                       {"Preferred Block Size", o.sectorSize},
                       {"Size", static_cast<unsigned long long>(imageSectors) * o.sectorSize},
                       {"device model", "-"},
                       {"device serial", "-"},
                       {"device revision", "-"}});
    if (!disk) return rest;
    for (const PartitionTables::Span& p : PartitionTables(*disk).partitionSpans())
        if (p.start == o.start && p.sectors != 0) return p.sectors;
    return rest;
}

} // namespace

std::string defaultScanMode(const std::string& content) {
    const ContentKind kind = contentKindOf(content);
    return ScanThread::fileSystemForContent(kind, true) == ScanThread::FileSystem::None &&
                   ScanThread::fileSystemForContent(kind, false) != ScanThread::FileSystem::None
               ? "deleted"
               : "normal";
}

bool parseScanImageOption(const std::string& a, const char* value, ScanImageOptions& o) {
    std::uint64_t n = 0;
    if (a == "--start" && parseNumber(value, n))
        o.start = n;
    else if (a == "--length" && parseNumber(value, n) && n > 0)
        o.length = n;
    else if (a == "--sector-size" && parseNumber(value, n) && n >= 512 && n <= 65536 && (n & (n - 1)) == 0)
        o.sectorSize = static_cast<std::uint32_t>(n);
    else if (a == "--content")
        o.content = value;
    else if (a == "--types")
        o.types = value;
    else if (a == "--driver" && carveDriverKnown(value))
        o.carveDriver = value;
    else if (a == "--mode" && (std::strcmp(value, "normal") == 0 || std::strcmp(value, "advanced") == 0 ||
                               std::strcmp(value, "deleted") == 0))
        o.mode = value;
    else
        return false;
    return true;
}

ScannedImage scanImage(const ScanImageOptions& o, platform::RecordingController& controller) {
    ScannedImage out;
    const auto size = mediumSize(o.image);
    if (!size) {
        std::fprintf(stderr, "scan-image: cannot open %s\n", platform::escapedText(o.image).c_str());
        return out;
    }
    const std::uint64_t imageSectors = *size / o.sectorSize;
    if (o.start >= imageSectors) {
        std::fprintf(stderr, "scan-image: start sector beyond the image\n");
        return out;
    }
    const std::optional<std::uint64_t> sectors = volumeSectors(o, imageSectors);
    if (!sectors) {
        std::fprintf(stderr, "scan-image: the length reaches beyond the image\n");
        return out;
    }
    std::string content = o.content.empty() ? detectContent(o, *sectors) : o.content;
    // A carving driver names what it carves: the whole image, or a volume of
    // the driver's own content.
    std::string driver = o.carveDriver == "default" ? carveDriverFor(content) : o.carveDriver;
    if (driver == "disk") content.clear();
    if (driver == "exfat" && o.content.empty()) content = contentString(ContentKind::ExFAT);
    if (driver == "apfs" && o.content.empty()) content = contentString(ContentKind::APFS);
    if (!o.carveDriver.empty() && driver != "volume" && driver != "disk" &&
        (driver.empty() || carveDriverFor(content) != driver)) {
        std::fprintf(stderr, "scan-image: the %s driver cannot carve a volume whose content is \"%s\"\n",
                     o.carveDriver.c_str(), platform::escapedText(content).c_str());
        return out;
    }
    const std::string mode = o.mode.empty() ? defaultScanMode(content) : o.mode;
    const bool wholeDisk = o.searchTypes && content.empty();
    const bool deletedFileScan = !wholeDisk && driver != "volume" && (o.searchTypes || mode == "deleted");
    DriveRow row{.path = o.image,
                 .preferredBlockSize = o.sectorSize,
                 .content = content,
                 .volumeName = o.image,
                 .deviceModel = "-",
                 .deviceSerial = "-",
                 .deviceRevision = "-"};
    if (deletedFileScan && o.start == 0) {
        // The window runs the deleted-file scan on a volume of the drive
        // list, whose device begins with it; its live files are told apart
        // from the journal's copies of them only there.
        row.size = *sectors * o.sectorSize;
        row.whetherVolume = true;
    } else {
        row.volumeStart = o.start;
        row.volumeSizeInSectors = *sectors;
        row.volumeScanType = 0;
    }
    out.row = row.toDict();
    out.volume = Volume::initWithDictionary(out.row);
    if (!out.volume) {
        std::fprintf(stderr, "scan-image: the image cannot be read as a volume\n");
        return out;
    }
    if (o.rawRead) out.volume->setRawRead(o.rawRead);
    // The image is what a scan reads; it counts as present, so a read error
    // is reported instead of ending the tool as a vanished drive would.
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", o.image}}});
    platform::setAppController(&controller);

    // A partition of a disk is no device of its own here: its deleted-file
    // scan gets the live-file index a volume of the drive list has.
    if (deletedFileScan && !out.volume->btreeNormalScan)
        out.volume->btreeNormalScan = std::make_unique<BTreeTableClass>();

    ScanThread scan(out.volume);
    // Search method 0 is the plain signature search, 1 the carving.
    const int method = driver.empty() ? 0 : 1;
    if (o.searchTypes) {
        out.volume->setRawSearchStart(0, 100);
        if (driver == "volume")
            scan.startMakingTree(
                platform::Array{mode == "advanced" ? "Advanced Scan" : "Normal Scan", 1, *o.searchTypes});
        else if (wholeDisk)
            scan.scanForDeletedFilesDisk(platform::Array{*o.searchTypes, method});
        else
            scan.scanForDeletedFiles(platform::Array{1, 1, *o.searchTypes, method});
    } else if (mode == "normal")
        scan.startMakingTree(platform::Array{"Normal Scan", 0});
    else if (mode == "advanced")
        scan.startMakingTree(platform::Array{"Advanced Scan", 0});
    else
        scan.scanForDeletedFiles(platform::Array{1, 0});

    for (const auto& a : controller.alerts())
        std::fprintf(stderr, "alert: %s: %s\n", platform::escapedText(a.title).c_str(),
                     platform::escapedText(a.message).c_str());
    bool completed = false;
    for (const auto& p : controller.callsNamed("updateProgress:"))
        if (p.dictValue().get("Tree Complete").boolValue()) completed = true;
    // A whole-disk search reads no file system, and the APFS carving needs
    // none: it reads every sector of the volume.
    const bool foundVolume = wholeDisk || scan.foundVolume() || driver == "apfs";
    if (!foundVolume)
        std::fprintf(stderr, "scan-image: no usable volume at sector %llu of %s\n",
                     static_cast<unsigned long long>(o.start), platform::escapedText(o.image).c_str());
    out.unreadableSectors = out.volume->unreadableSectorCount();
    reportUnreadableSectors(*out.volume, o.image);
    if (const std::optional<std::uint32_t> stoppedAt = out.volume->stoppedAnsweringAtPercent())
        std::fprintf(stderr,
                     "scan-image: %s stopped answering %u%% of the way into the scan; from there on only what the "
                     "system's cache held of it was read\n",
                     platform::escapedText(o.image).c_str(), static_cast<unsigned>(*stoppedAt));
    if (out.volume->catalogNodesUnread && mode == "normal" && (!o.searchTypes || driver == "volume"))
        std::fprintf(stderr, "scan-image: nodes of the volume's catalog could not be read; the advanced scan "
                             "(--mode advanced) may find what they held\n");
    out.completed = completed && !scan.aborting() && foundVolume && !out.volume->mediumGone();
    return out;
}
