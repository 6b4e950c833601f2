// A normal tree scan of an HFS+ volume, timed, with the process's peak
// memory, beside Sleuth Kit's "fls -r" on the same image.
//
//   hfs_scan_bench IMAGE START_SECTOR
// (bench/make-hfs-100k.sh makes a 100,000-file image and prints both.)

#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "scan/ScanThread.h"
#include "volume/Volume.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Runs fls in a child process and reports its wall time and peak memory.
void runFls(const std::string& image, std::uint64_t start) {
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::string offset = std::to_string(start);
        ::execlp("fls", "fls", "-r", "-f", "hfs", "-o", offset.c_str(), image.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    auto t1 = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("fls -r: not run (status %d)\n", status);
        return;
    }
    std::printf("fls -r:          %8.3f s  peak %7.1f MiB\n", seconds(t1 - t0), ru.ru_maxrss / 1024.0);
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: hfs_scan_bench IMAGE START_SECTOR\n");
        return 2;
    }
    std::string image = argv[1];
    std::uint64_t start = std::strtoull(argv[2], nullptr, 10);
    std::uint64_t sectors = std::filesystem::file_size(image) / 512;
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
    platform::setAppController(&controller);

    // fls first, so both read from the page cache alike.
    runFls(image, start);

    platform::Dict d{{"Path", image},          {"Preferred Block Size", 512},
                     {"Volume Start", start},  {"Volume Size In Sectors", sectors - start},
                     {"Volume Scan Type", 0},  {"Content", "Apple_HFS"},
                     {"Volume Name", "bench"}, {"device model", "-"},
                     {"device serial", "-"},   {"device revision", "-"}};
    auto volume = Volume::initWithDictionary(d);
    auto t0 = std::chrono::steady_clock::now();
    ScanThread(volume).startMakingTree(platform::Array{"Normal Scan", 0});
    auto t1 = std::chrono::steady_clock::now();
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    std::printf("normal tree scan: %8.3f s  peak %7.1f MiB  entries %u (files %u, folders %u)\n", seconds(t1 - t0),
                ru.ru_maxrss / 1024.0, volume->dirRoot ? volume->dirRoot->childrenCount : 0,
                volume->dirRoot ? volume->dirRoot->fileCount : 0, volume->folderCount);
    volume->freeTree();
    platform::setAppController(nullptr);
    return 0;
}
