// The APFS tree scan of a whole container, timed beside `dd bs=1M` reading
// the same image in the same run: the scan reads every block, so it should
// take little longer than reading the image at all.
//
//   apfs_scan_bench IMAGE [ROUNDS]
//   apfs_scan_bench --fill CONTAINER
//
// bench/make-apfs-1g.sh makes the image: a 1 GiB container from mkapfs that
// --fill fills with file-system-tree leaves written by the tests' node
// builder, about 110,000 files in 1,000 folders, each leaf beside a stale
// copy that still holds one more file (as earlier transactions leave them),
// and two blocks of data per file. dd reads the image first, so both read it
// from the page cache; each round runs dd and the scan, and the medians are
// printed.

#include "DdTiming.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "scan/ScanThread.h"
#include "support/ApfsNodeBuilder.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using B = testsupport::ApfsNodeBuilder;

constexpr std::uint64_t kFolders = 1000;
constexpr std::uint64_t kFilesPerLeaf = 16;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Folders first, then leaves of files until the container is nearly full.
int fill(const std::string& container) {
    B b(container, 22000); // past mkapfs's metadata
    std::vector<B::Record> folders;
    for (std::uint64_t f = 0; f < kFolders; ++f) {
        folders.push_back(
            B::inode({.id = 1000 + f, .parent = 2, .name = "folder" + std::to_string(f), .folder = true}));
        if (folders.size() == 24 || f + 1 == kFolders) {
            b.writeNode({.records = folders, .oid = 2000 + f});
            folders.clear();
        }
    }
    const std::uint64_t groupBlocks = 2 + 2 * kFilesPerLeaf;
    std::uint64_t id = 10000, files = 0;
    for (std::uint64_t leaf = 0; 22000 + (leaf + 2) * groupBlocks < b.blockCount(); ++leaf) {
        std::vector<B::Record> records;
        for (std::uint64_t i = 0; i < kFilesPerLeaf; ++i, ++id) {
            const std::uint64_t size = 4097 + (id * 2654435761u) % 4096;
            std::string data(size, static_cast<char>('a' + id % 26));
            data.replace(0, 8, std::to_string(id).substr(0, 8));
            const std::uint64_t at = b.writeData(data);
            records.push_back(B::inode({.id = id,
                                        .parent = 1000 + leaf % kFolders,
                                        .name = "file" + std::to_string(id) + ".dat",
                                        .size = size}));
            records.push_back(B::fileExtent(id, 0, 8192, at));
        }
        b.writeNode({.records = records, .oid = 100000 + leaf, .xid = 10});
        records.erase(records.end() - 2, records.end());
        b.writeNode({.records = records, .oid = 100000 + leaf, .xid = 11});
        files += kFilesPerLeaf;
    }
    std::printf("%llu folders, %llu files\n", static_cast<unsigned long long>(kFolders),
                static_cast<unsigned long long>(files));
    return 0;
}

struct Scan {
    double seconds = 0;
    std::uint64_t nodes = 0;
};

Scan timeScan(const std::string& image, std::uint64_t sectors) {
    auto v = Volume::initWithDictionary(platform::Dict{{"Path", image},
                                                       {"Preferred Block Size", 512},
                                                       {"Volume Start", 0},
                                                       {"Volume Size In Sectors", sectors},
                                                       {"Volume Scan Type", 0},
                                                       {"Content", "APFS"},
                                                       {"Volume Name", "bench"},
                                                       {"device model", "-"},
                                                       {"device serial", "-"},
                                                       {"device revision", "-"}});
    if (!v) std::abort();
    const auto t0 = Clock::now();
    ScanThread(v).startMakingTree(platform::Array{"Normal Scan", 0});
    Scan s{seconds(Clock::now() - t0), 0};
    if (v->dirRoot) s.nodes = v->dirRoot->childrenCount;
    v->freeTree();
    return s;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--fill") return fill(argv[2]);
    if (argc < 2) {
        std::fprintf(stderr, "usage: apfs_scan_bench IMAGE [ROUNDS] | apfs_scan_bench --fill CONTAINER\n");
        return 2;
    }
    const std::string image = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::uint64_t bytes = std::filesystem::file_size(image);
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
    platform::setAppController(&controller);

    if (timeDd(image) < 0) std::printf("dd could not be run; the scan is timed alone\n");
    std::vector<double> dd, scan;
    std::uint64_t nodes = 0;
    for (int r = 0; r < rounds; ++r) {
        dd.push_back(timeDd(image));
        const Scan s = timeScan(image, bytes / 512);
        scan.push_back(s.seconds);
        nodes = s.nodes;
        controller.clear();
    }
    const double gb = static_cast<double>(bytes) / 1e9;
    const double ddTime = median(dd), scanTime = median(scan);
    std::printf("%.2f GB, median of %d rounds; the scan found %llu folders and files\n", gb, rounds,
                static_cast<unsigned long long>(nodes));
    std::printf("dd bs=1M:        %7.3f s  %6.2f GB/s\n", ddTime, ddTime > 0 ? gb / ddTime : 0.0);
    std::printf("APFS tree scan:  %7.3f s  %6.2f GB/s  %5.2f x dd's time\n", scanTime, gb / scanTime,
                ddTime > 0 ? scanTime / ddTime : 0.0);
    platform::setAppController(nullptr);
    return 0;
}
