// scan-image lost-volumes IMAGE [--sector-size N]
//
// Searches a disk image (or a block device, read-only) as a whole drive for
// lost HFS+ and HFSX volumes, the way the partition recovery's drive search
// does, and prints what it found, one item a line, tab-separated:
//
//   row     START  FOUND                VALIDITY
//   volume  START  SECTORS  ALTERNATE  VALIDITY%  CONTENT  NAME
//
// "row" lines are the rows of the found-volume list, in the order the volumes
// were found: START is the volume's first sector, FOUND the row's text
// ("Volume Found @ Sector: 40"), VALIDITY the rating's elements joined by
// commas ("100,Valid" or "10,Partial Valid,100,Valid"). "volume" lines are the
// volume dictionaries handed over at the end, one per row and in the same
// order: first sector, length in sectors, the sector of the alternate header
// it was found by (0 when found by its primary header), the percentage of
// its catalog found intact, the content ("Apple_HFS") and the volume name
// ("Untitled" when its catalog could only be swept, "-" when the catalog
// gave none). Sectors are of N bytes (512 unless given). A backslash or
// control character in a name is written escaped (\\, \t, \n, \x1b, ...).
//
// Exit status: 0 when the search ran to the end, 1 when it did not or could
// not read some sectors, 2 for a usage error or an image that cannot be
// opened. Alerts, and how many sectors could not be read, go to standard
// error.

#include "ScanImageCommands.h"
#include "ScanImageMedium.h"
#include "hfsplus/LostVolumeSearch.h"
#include "media/DMedia.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: scan-image lost-volumes IMAGE [--sector-size N]\n");
    return 2;
}

std::string joined(const platform::Array& items) {
    std::string out;
    for (const platform::Value& v : items) {
        if (!out.empty()) out += ',';
        out += platform::escapedText(v.description());
    }
    return out;
}

} // namespace

int lostVolumesCommand(const std::vector<std::string>& args, const DMedia::RawRead& rawRead) {
    if (args.empty()) return usage();
    const std::string image = args[0];
    std::uint64_t sectorSize = 512;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        if (i + 1 >= args.size() || args[i] != "--sector-size") return usage();
        const std::string& value = args[i + 1];
        char* end = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
        if (errno || !end || *end || value.empty() || value[0] == '-' || n < 512 || n > 65536 || (n & (n - 1)) != 0)
            return usage();
        sectorSize = n;
    }

    const auto size = mediumSize(image);
    if (!size) {
        std::fprintf(stderr, "scan-image: cannot open %s\n", platform::escapedText(image).c_str());
        return 2;
    }
    if (*size == 0) {
        std::fprintf(stderr, "scan-image: %s is empty\n", platform::escapedText(image).c_str());
        return 2;
    }

    auto media = DMedia::initWithDictionary(platform::Dict{{"Path", image},
                                                           {"Preferred Block Size", sectorSize},
                                                           {"Size", static_cast<unsigned long long>(*size)},
                                                           {"device model", "-"},
                                                           {"device serial", "-"},
                                                           {"device revision", "-"}});
    if (!media) return usage();
    if (rawRead) media->setRawRead(rawRead);

    // The image is the drive being read; listed, a read error is reported
    // instead of ending the tool as a vanished drive would.
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
    platform::setAppController(&controller);

    platform::Array argument{platform::Array{}, platform::Array{}};
    LostVolumeSearch(*media).initializeForVolumeThoroughScan(argument);

    for (const auto& a : controller.alerts())
        std::fprintf(stderr, "alert: %s: %s\n", platform::escapedText(a.title).c_str(),
                     platform::escapedText(a.message).c_str());
    bool completed = false;
    for (const auto& p : controller.callsNamed("updateVolumeScanProgress:"))
        if (p.dictValue().get("Scan Complete").boolValue()) completed = true;
    platform::setAppController(nullptr);
    // A volume on sectors that read as zeros is missing from the list.
    const std::uint64_t unreadable = media->unreadableSectorCount();
    reportUnreadableSectors(*media, image);

    for (const platform::Value& r : argument[1].arrayValue()) {
        const platform::Dict& row = r.dictValue();
        std::cout << "row\t" << row.get("Volume Start").uint64Value() << '\t'
                  << platform::escapedText(row.get("Found Column").stringValue()) << '\t'
                  << joined(row.get("Validity Column").arrayValue()) << '\n';
    }
    for (const platform::Value& d : argument[0].arrayValue()) {
        const platform::Dict& v = d.dictValue();
        const std::string name =
            v.contains("Volume Name") ? platform::escapedText(v.get("Volume Name").stringValue()) : "-";
        std::cout << "volume\t" << v.get("Volume Start").uint64Value() << '\t'
                  << v.get("Volume Size In Sectors").uint64Value() << '\t'
                  << v.get("WhetherAlternateSector").uint64Value() << '\t' << v.get("Volume Validity").uint64Value()
                  << '\t' << platform::escapedText(v.get("Content").stringValue()) << '\t' << name << '\n';
    }
    return completed && unreadable == 0 ? 0 : 1;
}
