// scan-image: runs the program's scans on a disk or volume image without a
// window, for tests, benchmarks and checks.
//
//   scan-image tree IMAGE [--start SECTOR [--length SECTORS]] [--sector-size N] [--content STRING]
//                         [--mode normal|advanced|deleted] [--session-out FILE]
//   scan-image search IMAGE --types EXT,EXT... [--start SECTOR [--length SECTORS]] [--sector-size N]
//                         [--content STRING]
//   scan-image carve IMAGE --types EXT,EXT... [--driver volume|disk|hfs-free|fat-free|exfat|apfs]
//                         [--start SECTOR [--length SECTORS]] [--sector-size N] [--content STRING]
//                         [--mode normal|advanced]
//   scan-image session FILE
//
// IMAGE is a disk or volume image or a block device, only ever read. The
// volume runs from --start for --length sectors: without --length, to the
// end of the partition the image's partition table has at --start, or to
// the end of the image. The
// content (HFS+, HFSX, FAT12/16/32 or exFAT) is read from the volume unless
// --content names it; the mode is the tree scan, except on exFAT, which only
// the deleted-file scan ("deleted") recovers.
// search runs the plain signature search of the built-in file types with
// those extensions ("all": every type of the file scans' list) after the
// deleted-file scan of the volume's content, or over the whole image when it
// holds no content this tool knows; it prints the tree as tree does.
// carve runs the photo and file carving instead: the built-in formats of the
// photo scans' list measured by their size calculators, other types (from
// the file scans' list where the photo list lacks them) by their
// recognisers; "all" marks the whole photo list. The driver is the
// deleted-file scan's of the content by default, the whole-disk one for an
// image without a known content; "volume" runs the tree scan (--mode) and
// then carves the whole volume.
// Prints the found tree one node a line, tab-separated: path from the root,
// file ID, parent ID, kind (d/f), size, deleted, complete, extents as
// "start+count" in sectors of the image. Names come from the medium: a
// backslash or control character in one is written escaped (\\, \n, \t,
// \x1b, ...). Alerts are answered with their default button and shown on
// standard error. Exits 1 when the scan gave up, found no volume it could
// read, lost its medium or could not read some of its sectors.
// --session-out also writes the scan's recovery session to FILE as the
// program's Save Recovery Session does (exit 1 when that fails); `session`
// prints the tree a session file holds in the same form (see
// scan-image-session.cpp).

#include "ScanImageCommands.h"
#include "ScanImageScan.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
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
    std::fprintf(stderr, "usage: scan-image tree IMAGE [--start SECTOR [--length SECTORS]] [--sector-size N]\n"
                         "                             [--content STRING] [--mode normal|advanced|deleted] "
                         "[--session-out FILE]\n"
                         "       scan-image search IMAGE --types EXT,EXT... [--start SECTOR [--length SECTORS]]\n"
                         "                             [--sector-size N] [--content STRING]\n"
                         "       scan-image carve IMAGE --types EXT,EXT... [--driver "
                         "volume|disk|hfs-free|fat-free|exfat|apfs]\n"
                         "                             [--start SECTOR [--length SECTORS]] [--sector-size N] "
                         "[--content STRING] [--mode normal|advanced]\n"
                         "       scan-image session FILE\n"
                         "       scan-image partitions IMAGE\n"
                         "       scan-image content IMAGE\n"
                         "       scan-image lost-volumes IMAGE\n"
                         "       scan-image save IMAGE DEST [--start SECTOR [--length SECTORS]] [--sector-size N]\n"
                         "                             [--only PATH-PREFIX] [--mode normal|advanced|deleted]\n"
                         "                             [--types EXT,... [--driver D]]\n");
    return 2;
}

} // namespace

std::string pathOf(const NewDir* node) {
    std::vector<std::string> parts;
    for (const NewDir* n = node; n; n = n->pndirPointer) {
        parts.push_back(platform::escapedText(newdir::utf8(newdir::fileName(n))));
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
    std::string line;
    newdir::preOrder(v.dirRoot, newdir::childList, newdir::anyChild, [&](const NewDir* n) {
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
        for (const ExtP& e : n->extents)
            addExtent(e);
        for (const ExtCompP& g : n->extentGroups)
            for (const ExtP& e : g.extents)
                addExtent(e);
        std::cout << line << '\n';
    });
}

namespace {

int runTree(const ScanImageOptions& o, const std::string& sessionOut) {
    platform::RecordingController controller;
    ScannedImage scanned = scanImage(o, controller);
    if (!scanned.volume) return 2;
    const bool sessionSaved = sessionOut.empty() || saveScanSession(scanned, o, sessionOut, controller);
    printTree(*scanned.volume);
    scanned.volume->freeTree();
    platform::setAppController(nullptr);
    return sessionSaved ? scanned.exitStatus() : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    std::string command = argv[1];
    std::vector<std::string> rest(argv + 2, argv + argc);
    if (command == "partitions") return partitionsCommand(rest);
    if (command == "content") return contentCommand(rest);
    if (command == "lost-volumes") return lostVolumesCommand(rest);
    if (command == "save") return saveCommand(rest);
    if (command == "session") return sessionCommand(rest);
    ScanImageOptions o;
    o.image = argv[2];
    std::string sessionOut;
    const bool searching = command == "search" || command == "carve";
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return usage();
        if (a == "--session-out")
            sessionOut = argv[++i];
        else if ((a == "--types" && !searching) || (a == "--driver" && command != "carve") ||
                 (command == "search" && a == "--mode") || !parseScanImageOption(a, argv[++i], o))
            return usage();
    }
    if (command == "tree") return runTree(o, sessionOut);
    if (!searching || o.types.empty()) return usage();
    if (command == "carve" && o.carveDriver.empty()) o.carveDriver = "default";
    if (!resolveSearchTypes(o)) return 2;
    return runTree(o, sessionOut);
}
