// scan-image: runs the program's scans on a disk or volume image without a
// window, for tests, benchmarks and checks.
//
//   scan-image tree IMAGE [--start SECTOR] [--sector-size N] [--content STRING]
//                         [--mode normal|advanced|deleted]
//
// Prints the found tree one node a line, tab-separated: path from the root,
// file ID, parent ID, kind (d/f), size, deleted, complete, extents as
// "start+count" in sectors of the image. Alerts are answered with their
// default button and shown on standard error.

#include "ScanImageCommands.h"
#include "platform/ByteView.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "scan/ScanThread.h"
#include "volume/Volume.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: scan-image tree IMAGE [--start SECTOR] [--sector-size N] [--content STRING]\n"
                 "                             [--mode normal|advanced|deleted]\n"
                 "       scan-image partitions IMAGE\n"
                 "       scan-image content IMAGE\n"
                 "       scan-image lost-volumes IMAGE\n");
    return 2;
}

struct Options {
    std::string image;
    std::uint64_t start = 0;
    std::uint32_t sectorSize = 512;
    std::string content;
    std::string mode = "normal";
};

bool parseNumber(const char* s, std::uint64_t& out) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &end, 10);
    if (errno || !end || *end || s[0] == '-') return false;
    out = v;
    return true;
}

// What the volume at the start sector holds, as far as this tool can tell
// without the drive list: the HFS+ and HFSX signatures.
std::string detectContent(const Options& o) {
    int fd = ::open(o.image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::uint8_t buf[2] = {0, 0};
    ssize_t n = ::pread(fd, buf, 2, static_cast<off_t>(o.start * o.sectorSize + 1024));
    ::close(fd);
    if (n != 2) return {};
    std::uint16_t sig = platform::ByteView(buf, 2).be16(0);
    if (sig == 0x482B) return "Apple_HFS";
    if (sig == 0x4858) return "Apple_HFSX";
    return {};
}

std::string pathOf(const NewDir* node) {
    std::vector<std::string> parts;
    for (const NewDir* n = node; n; n = n->pndirPointer) {
        parts.push_back(newdir::utf8(newdir::fileName(n)));
        if (parts.size() > 100000) break; // a damaged parent chain
    }
    std::string out;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        if (!out.empty()) out += '/';
        out += *it;
    }
    return out;
}

void printTree(const Volume& v) {
    if (!v.dirRoot) return;
    std::vector<const NewDir*> pending{v.dirRoot};
    std::string line;
    while (!pending.empty()) {
        const NewDir* n = pending.back();
        pending.pop_back();
        line = pathOf(n);
        line += '\t' + std::to_string(n->fileID) + '\t' + std::to_string(n->parentID);
        line += n->isFolder() ? "\td" : "\tf";
        line += '\t' + std::to_string(n->fileSize) + '\t' + std::to_string(n->deleted) + '\t' +
                std::to_string(n->complete) + '\t';
        const std::uint64_t base = v.HPlusVolStart() + n->dataStartSector;
        const std::uint64_t spb = n->sectorsPerBlock;
        bool first = true;
        auto addExtent = [&](const ExtP& e) {
            if (!first) line += ',';
            first = false;
            line += std::to_string(base + std::uint64_t(e.startBlock) * spb) + '+' +
                    std::to_string(std::uint64_t(e.blockCount) * spb);
        };
        for (const ExtP& e : n->extents) addExtent(e);
        for (const ExtCompP& g : n->extentGroups)
            for (const ExtP& e : g.extents) addExtent(e);
        std::cout << line << '\n';
        for (auto it = n->childList.rbegin(); it != n->childList.rend(); ++it)
            if (*it) pending.push_back(*it);
    }
}

int runTree(const Options& o) {
    struct stat st {};
    if (::stat(o.image.c_str(), &st) != 0) {
        std::fprintf(stderr, "scan-image: cannot open %s\n", o.image.c_str());
        return 2;
    }
    std::string content = o.content.empty() ? detectContent(o) : o.content;
    const std::uint64_t imageSectors = static_cast<std::uint64_t>(st.st_size) / o.sectorSize;
    if (o.start >= imageSectors) {
        std::fprintf(stderr, "scan-image: start sector beyond the image\n");
        return 2;
    }
    platform::Dict d{{"Path", o.image},
                     {"Preferred Block Size", o.sectorSize},
                     {"Volume Start", o.start},
                     {"Volume Size In Sectors", imageSectors - o.start},
                     {"Volume Scan Type", 0},
                     {"Content", content},
                     {"Volume Name", o.image},
                     {"device model", "-"},
                     {"device serial", "-"},
                     {"device revision", "-"}};
    auto volume = Volume::initWithDictionary(d);
    if (!volume) {
        std::fprintf(stderr, "scan-image: the image cannot be read as a volume\n");
        return 2;
    }
    // The image is what a scan reads; it counts as present, so a read error
    // is reported instead of ending the tool as a vanished drive would.
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", o.image}}});
    platform::setAppController(&controller);

    ScanThread scan(volume);
    if (o.mode == "normal") scan.startMakingTree(platform::Array{"Normal Scan", 0});
    else if (o.mode == "advanced") scan.startMakingTree(platform::Array{"Advanced Scan", 0});
    else scan.scanForDeletedFiles(platform::Array{1, 0});

    for (const auto& a : controller.alerts())
        std::fprintf(stderr, "alert: %s: %s\n", a.title.c_str(), a.message.c_str());
    bool completed = false;
    for (const auto& p : controller.callsNamed("updateProgress:"))
        if (p.dictValue().get("Tree Complete").boolValue()) completed = true;
    completed = completed && !volume->aborting;
    printTree(*volume);
    volume->freeTree();
    platform::setAppController(nullptr);
    return completed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    std::string command = argv[1];
    std::vector<std::string> rest(argv + 2, argv + argc);
    if (command == "partitions") return partitionsCommand(rest);
    if (command == "content") return contentCommand(rest);
    if (command == "lost-volumes") return lostVolumesCommand(rest);
    Options o;
    o.image = argv[2];
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return usage();
        const char* value = argv[++i];
        std::uint64_t n = 0;
        if (a == "--start" && parseNumber(value, n)) o.start = n;
        else if (a == "--sector-size" && parseNumber(value, n) && n >= 512 && n <= 65536 && (n & (n - 1)) == 0)
            o.sectorSize = static_cast<std::uint32_t>(n);
        else if (a == "--content") o.content = value;
        else if (a == "--mode" && (std::strcmp(value, "normal") == 0 || std::strcmp(value, "advanced") == 0 ||
                                   std::strcmp(value, "deleted") == 0))
            o.mode = value;
        else return usage();
    }
    if (command == "tree") return runTree(o);
    return usage();
}
