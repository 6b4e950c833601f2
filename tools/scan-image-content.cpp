// scan-image content IMAGE [--start SECTOR] [--sector-size N]
//
// Runs the volume content tests of the drive list on the volume that begins
// at SECTOR (0 unless told) of an image, in sectors of the given size (512
// unless told), and prints each test's answer on a line of its own, the
// test's name and its answer separated by a tab:
//
//   isVolumeAPFS                NO
//   isVolumeFAT                 YES
//   isVolumeExFAT               NO
//   fatFileSystemDetermination  FAT16            (FAT12, FAT16, FAT32 or -)
//   checkForJournal             nil
//
// (a single tab in place of the spaces). checkForJournal answers nil when
// the volume cannot be read, and otherwise its dictionary as further
// tab-separated key=value fields in key order:
//
//   checkForJournal<TAB>Content=Apple_HFS<TAB>HFSVolumeStart=0
//   <TAB>journaled=Yes<TAB>supportFileSystemRecovery=1
//
// (one line, wrapped here).
//
// Exit status: 0 when the tests ran, 2 for a usage error or an image that
// cannot be opened.

#include "ScanImageCommands.h"
#include "media/VolumeContentDetection.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/stat.h>

namespace {

int contentUsage() {
    std::fprintf(stderr, "usage: scan-image content IMAGE [--start SECTOR] [--sector-size N]\n");
    return 2;
}

bool parseNumber(const std::string& s, std::uint64_t& out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 10);
    if (errno || !end || *end || s.empty() || s[0] == '-') return false;
    out = v;
    return true;
}

const char* yesNo(bool b) {
    return b ? "YES" : "NO";
}

} // namespace

int contentCommand(const std::vector<std::string>& args) {
    if (args.empty()) return contentUsage();
    const std::string image = args[0];
    std::uint64_t start = 0;
    std::uint64_t sectorSize = 512;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (i + 1 >= args.size()) return contentUsage();
        const std::string& option = args[i];
        const std::string& value = args[++i];
        if (option == "--start" && parseNumber(value, start)) continue;
        if (option == "--sector-size" && parseNumber(value, sectorSize) && sectorSize >= 512 && sectorSize <= 65536 &&
            (sectorSize & (sectorSize - 1)) == 0)
            continue;
        return contentUsage();
    }
    struct stat st {};
    if (::stat(image.c_str(), &st) != 0) {
        std::fprintf(stderr, "scan-image: cannot open %s\n", image.c_str());
        return 2;
    }
    const platform::Dict volume{{"Path", image}, {"Preferred Block Size", static_cast<unsigned>(sectorSize)}};
    const VolumeContentDetection detection(start);
    std::cout << "isVolumeAPFS\t" << yesNo(detection.isVolumeAPFS(volume)) << '\n';
    std::cout << "isVolumeFAT\t" << yesNo(detection.isVolumeFAT(volume)) << '\n';
    std::cout << "isVolumeExFAT\t" << yesNo(detection.isVolumeExFAT(volume)) << '\n';
    std::cout << "fatFileSystemDetermination\t" << detection.fatFileSystemDetermination(volume) << '\n';
    std::cout << "checkForJournal";
    if (auto journal = detection.checkForJournal(volume)) {
        for (const auto& [key, value] : *journal)
            std::cout << '\t' << key << '=' << value.description();
    } else {
        std::cout << "\tnil";
    }
    std::cout << '\n';
    return 0;
}
