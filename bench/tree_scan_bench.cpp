// A normal tree scan of HFS+ or FAT volumes, timed, with the memory it
// takes, beside Sleuth Kit's "fls -r" on the same images.
//
//   tree_scan_bench CONTENT IMAGE START_SECTOR [IMAGE START_SECTOR ...]
//
// CONTENT is the volumes' content as the drive list names it: "Apple_HFS",
// "FAT12", "FAT16" or "FAT32".
// Each scan and each fls runs in a process of its own, so every peak is its
// own. Bytes per node: the scan's peak resident memory less that of the scan
// of the first image (what a scan costs whatever it finds), divided by the
// nodes it found beyond those; and the found-file tree's own bytes, as the
// node pool counts them once the scan is done, divided by its nodes.
// bench/make-hfs-100k.sh and bench/make-fat-100k.sh make the images, e.g.
// with 5, 100 and 300 (thousand files):
// tree_scan_bench Apple_HFS 5k START 100k START 300k START.

#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "scan/ScanThread.h"
#include "volume/NodePool.h"
#include "volume/Volume.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double mib(double kib) {
    return kib / 1024.0;
}

// Runs fls in a child process and reports its wall time and peak memory.
void runFls(const std::string& image, std::uint64_t start, const std::string& content) {
    std::fflush(stdout);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::string offset = std::to_string(start);
        const char* type = content.starts_with("FAT") ? "fat" : "hfs";
        ::execlp("fls", "fls", "-r", "-f", type, "-o", offset.c_str(), image.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    auto t1 = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("  fls -r:           not run (status %d)\n", status);
        return;
    }
    std::printf("  fls -r:           %8.3f s  peak %7.1f MiB\n", seconds(t1 - t0), mib(ru.ru_maxrss));
}

struct ScanFigures {
    double seconds = 0;
    long peakKiB = 0;
    std::uint64_t nodes = 0;
    std::uint64_t files = 0;
    std::uint64_t treeBytes = 0;
    bool ok = false;
};

ScanFigures scanInChild(const std::string& image, std::uint64_t start, const std::string& content) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        platform::setLogSink([](const std::string&) {});
        platform::RecordingController controller;
        controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
        platform::setAppController(&controller);
        const std::uint64_t sectors = std::filesystem::file_size(image) / 512;
        platform::Dict d{{"Path", image},          {"Preferred Block Size", 512},
                         {"Volume Start", start},  {"Volume Size In Sectors", sectors - start},
                         {"Volume Scan Type", 0},  {"Content", content},
                         {"Volume Name", "bench"}, {"device model", "-"},
                         {"device serial", "-"},   {"device revision", "-"}};
        auto volume = Volume::initWithDictionary(d);
        const std::size_t poolBefore = NodePool::shared().bytesInUse();
        ScanFigures f;
        auto t0 = std::chrono::steady_clock::now();
        ScanThread(volume).startMakingTree(platform::Array{"Normal Scan", 0});
        f.seconds = seconds(std::chrono::steady_clock::now() - t0);
        rusage ru{};
        ::getrusage(RUSAGE_SELF, &ru);
        f.peakKiB = ru.ru_maxrss;
        if (const NewDir* root = volume->dirRoot) {
            f.nodes = std::uint64_t{root->childrenCount} + 1;
            f.files = root->fileCount;
        }
        f.treeBytes = NodePool::shared().bytesInUse() - poolBefore;
        f.ok = true;
        [[maybe_unused]] auto n = ::write(fds[1], &f, sizeof f);
        ::_exit(0);
    }
    ::close(fds[1]);
    ScanFigures f;
    if (::read(fds[0], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) f.ok = false;
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return f;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: tree_scan_bench CONTENT IMAGE START_SECTOR [IMAGE START_SECTOR ...]\n");
        return 2;
    }
    const std::string content = argv[1];
    std::printf("found-file record: %zu bytes\n", sizeof(NewDir));
    ScanFigures base;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string image = argv[i];
        const std::uint64_t start = std::strtoull(argv[i + 1], nullptr, 10);
        std::printf("%s\n", std::filesystem::path(image).filename().c_str());
        // fls first, so both read from the page cache alike.
        runFls(image, start, content);
        const ScanFigures f = scanInChild(image, start, content);
        if (!f.ok) {
            std::printf("  normal tree scan: failed\n");
            continue;
        }
        std::printf("  normal tree scan: %8.3f s  peak %7.1f MiB  nodes %llu (files %llu)  tree %.0f bytes/node",
                    f.seconds, mib(f.peakKiB), static_cast<unsigned long long>(f.nodes),
                    static_cast<unsigned long long>(f.files),
                    f.nodes ? static_cast<double>(f.treeBytes) / static_cast<double>(f.nodes) : 0.0);
        if (base.ok && f.nodes > base.nodes)
            std::printf("  peak %.0f bytes/node above the first image", static_cast<double>(f.peakKiB - base.peakKiB) *
                                                                            1024.0 /
                                                                            static_cast<double>(f.nodes - base.nodes));
        std::printf("\n");
        if (!base.ok) base = f;
    }
    return 0;
}
