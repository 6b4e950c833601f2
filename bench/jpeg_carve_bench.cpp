// The JPEG carving of a whole disk, listing only (the photos are found and
// measured, nothing is saved), timed beside `dd bs=1M` reading the same
// bytes in the same run: first from the page cache, then cold, through a
// read-only loop device over the image with the kernel's caches dropped
// before every run of either, dd also with iflag=direct (root only: without
// it the cold rows are skipped, saying so). The photos found are printed beside those placed.
//
//   jpeg_carve_bench [IMAGE [ROUNDS]]
// Without IMAGE, bench/make-jpeg-512m.sh makes one (512 MiB) in the
// temporary folder. Each round runs both; the medians are printed.

#include "DdTiming.h"
#include "DiskSearchBench.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Seconds of one whole-disk carving of `medium`; the photos it found in
// *found.
double timeCarving(const std::string& medium, std::uint64_t bytes, const platform::Array& types,
                   platform::RecordingController& controller, diskbench::Found* found) {
    controller.clear();
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", medium}}});
    return diskbench::timePhotoCarving(medium, bytes, types, found);
}

bool dropCaches() {
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    return static_cast<bool>(drop);
}

// The first line a shell command prints; empty when it fails.
std::string firstLineOf(const std::string& command) {
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) return {};
    char line[4096] = {};
    const bool read = std::fgets(line, sizeof line, out) != nullptr;
    const int status = ::pclose(out);
    return read && status == 0 ? std::string(line, std::strcspn(line, "\n")) : std::string();
}

void row(const char* name, const std::vector<double>& ours, const std::vector<double>& dd, double mb,
         const diskbench::Found& found) {
    const double t = diskbench::median(ours), d = diskbench::median(dd);
    std::printf("%-34s %7.3f s  %7.1f MB/s  %zu photos\n", name, t, mb / t, diskbench::total(found));
    if (d > 0)
        std::printf("%-34s %7.3f s  %7.1f MB/s  ours %.2f x dd\n", "  dd bs=1M of the same:", d, mb / d, t / d);
    else
        std::printf("  dd could not be run\n");
}

} // namespace

int main(int argc, char** argv) {
    const std::string image = diskbench::imageOrMade(argc, argv, "make-jpeg-512m.sh");
    if (image.empty()) return 1;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::uint64_t bytes = std::filesystem::file_size(image);
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    platform::setAppController(&controller);
    const platform::Array jpeg =
        diskbench::builtInTypes("Sig_PR", [](const Sig& sig) { return sig.extension == "jpg"; });
    const double mb = static_cast<double>(bytes) / 1e6;

    std::printf("%.0f MB image, median of %d rounds\n", mb, rounds);
    const diskbench::Found placed = diskbench::placedFiles(image);
    if (!placed.empty())
        std::printf("placed: %zu files (%s)\n", diskbench::total(placed), diskbench::listed(placed).c_str());

    diskbench::Found found;
    std::vector<double> ours, dd;
    diskbench::readIntoPageCache(image);
    for (int r = 0; r < rounds; ++r) {
        ours.push_back(timeCarving(image, bytes, jpeg, controller, &found));
        dd.push_back(timeDd(image));
    }
    row("JPEG carving, page cache:", ours, dd, mb, found);

    if (::geteuid() != 0) {
        std::printf("cold runs skipped: dropping the caches and attaching a loop device need root\n");
    } else if (const std::string loop = firstLineOf("losetup -r -f --show " + diskbench::shellQuote(image));
               loop.empty()) {
        std::printf("cold runs skipped: no loop device could be attached\n");
    } else {
        ours.clear();
        dd.clear();
        std::vector<double> ddDirect;
        bool dropped = true;
        for (int r = 0; r < rounds; ++r) {
            dropped = dropCaches() && dropped;
            ours.push_back(timeCarving(loop, bytes, jpeg, controller, &found));
            dropped = dropCaches() && dropped;
            dd.push_back(timeDd(loop));
            dropped = dropCaches() && dropped;
            ddDirect.push_back(timeDd(loop, "iflag=direct"));
        }
        std::system(("losetup -d " + diskbench::shellQuote(loop)).c_str());
        if (dropped) {
            row("JPEG carving, cold (loop device):", ours, dd, mb, found);
            const double t = diskbench::median(ours), d = diskbench::median(ddDirect);
            if (d > 0)
                std::printf("%-34s %7.3f s  %7.1f MB/s  ours %.2f x dd\n", "  dd bs=1M iflag=direct:", d, mb / d,
                            t / d);
        } else {
            std::printf("cold runs skipped: the caches could not be dropped\n");
        }
    }
    platform::setAppController(nullptr);
    return 0;
}
