// scan-image partitions IMAGE [--sector-size N]
//
// Reads the partition table of a disk image the way the partition list
// does (GUID partition table, MBR with extended partitions, or Apple
// partition map) and prints the volume dictionary of every HFS-family
// partition found, one a line, in table order. A line holds the
// dictionary's entries in key order, tab-separated, each as key=value:
//
//   Content=Apple_HFS<TAB>Model=-<TAB>Path=gpt.img<TAB>Revision=-<TAB>Serial=-
//   <TAB>Volume Name=HFSPLUSTEST<TAB>Volume Scan Type=0
//   <TAB>Volume Size In Sectors=49152<TAB>Volume Start=34816
//
// (one line, wrapped here). Names come from the disk and may hold any
// character: a backslash or control character in a value is written
// escaped (\\, \t, \n, \x1b, ...). IMAGE may be a block device. Sectors are
// of the given size (512 unless told). Nothing is printed when no
// HFS-family partition is found.
//
// Exit status: 0 when the image was read, 1 when some of its sectors could
// not be read (the list then holds the partitions whose entries read, from
// either copy of a GUID table; how many sectors, to standard error), 2 for a
// usage error or an image that cannot be opened.

#include "ScanImageCommands.h"
#include "ScanImageMedium.h"
#include "media/DMedia.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

int partitionsUsage() {
    std::fprintf(stderr, "usage: scan-image partitions IMAGE [--sector-size N]\n");
    return 2;
}

bool parseSectorSize(const std::string& s, std::uint32_t& out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 10);
    if (errno || !end || *end || s.empty() || s[0] == '-') return false;
    if (v < 512 || v > 65536 || (v & (v - 1)) != 0) return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

} // namespace

int partitionsCommand(const std::vector<std::string>& args, const DMedia::RawRead& rawRead) {
    if (args.empty()) return partitionsUsage();
    const std::string image = args[0];
    std::uint32_t sectorSize = 512;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--sector-size" && i + 1 < args.size() && parseSectorSize(args[i + 1], sectorSize))
            ++i;
        else
            return partitionsUsage();
    }
    const auto size = mediumSize(image);
    if (!size) {
        std::fprintf(stderr, "scan-image: cannot open %s\n", platform::escapedText(image).c_str());
        return 2;
    }
    auto drive = DMedia::initWithDictionary(platform::Dict{{"Path", image},
                                                           {"Preferred Block Size", sectorSize},
                                                           {"Size", static_cast<unsigned long long>(*size)},
                                                           {"device model", "-"},
                                                           {"device serial", "-"},
                                                           {"device revision", "-"}});
    if (!drive) return 2;
    if (rawRead) drive->setRawRead(rawRead);
    // The image is the drive being read: it counts as present, so a read
    // error is reported instead of ending the tool as a vanished drive would.
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
    platform::setAppController(&controller);

    platform::Array volumes;
    drive->initialize(volumes);

    for (const auto& a : controller.alerts())
        std::fprintf(stderr, "alert: %s: %s\n", platform::escapedText(a.title).c_str(),
                     platform::escapedText(a.message).c_str());
    platform::setAppController(nullptr);
    // A partition whose entry lay on those sectors alone is missing.
    const std::uint64_t unreadable = drive->unreadableSectorCount();
    reportUnreadableSectors(*drive, image);
    for (const platform::Value& v : volumes) {
        std::string line;
        for (const auto& [key, value] : v.dictValue()) {
            if (!line.empty()) line += '\t';
            line += platform::escapedText(key) + '=' + platform::escapedText(value.description());
        }
        std::cout << line << '\n';
    }
    return unreadable == 0 ? 0 : 1;
}
