// Saving found files, timed, beside The Sleuth Kit's tsk_recover of the same
// image and cp -r of the files tsk_recover extracted from it, in one run:
// files/s and MB/s of each, medians of several runs with the image in the
// page cache, the three taking turns to go first. Ours counts a file as
// saved only once the destination's file system has been synced with it in
// it; tsk_recover and cp leave theirs in the page cache, so the time until a
// syncfs after them has returned ("to synced") is what compares like with
// like. tsk_recover walks the file system in its time; ours scanned it
// before, and a row adds that scan's time.
//
//   save_bench IMAGE [IMAGE ...] [--runs N] [--dest DIR]
// Each image is an HFS+ disk with a partition map (bench/make-hfs-100k.sh,
// bench/make-hfs-large.sh) or a bare FAT volume (bench/make-fat-100k.sh).
// The copies are written in a fresh folder of DIR (default $TMPDIR: for the
// figures that count, an ext4 on a loop device with direct I/O, so that
// syncs reach a device) and removed after each run.

#include "media/DMedia.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "results/DataSaving.h"
#include "scan/ScanThread.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// One timed copy: the files and bytes it left, its time, and its time until
// the destination's file system was synced after it.
struct Run {
    std::uint64_t files = 0, bytes = 0;
    double seconds = 0, secondsToSynced = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool runProgram(const std::vector<std::string>& args) {
    // What is buffered here must not be written again by the child.
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Times copy into a fresh folder, then a syncfs of its file system; counts
// what it left and removes it.
Run timed(const fs::path& dest, const std::function<bool(const std::string&)>& copy) {
    fs::remove_all(dest);
    fs::create_directories(dest);
    ::sync();
    Run run;
    const Clock::time_point t0 = Clock::now();
    if (!copy(dest.string())) {
        std::fprintf(stderr, "save_bench: the copy into %s failed\n", dest.c_str());
        std::exit(1);
    }
    run.seconds = secondsSince(t0);
    const int fd = ::open(dest.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0 || ::syncfs(fd) != 0) std::perror("save_bench: syncfs");
    if (fd >= 0) ::close(fd);
    run.secondsToSynced = secondsSince(t0);
    for (const auto& e : fs::recursive_directory_iterator(dest))
        if (e.is_regular_file()) ++run.files, run.bytes += e.file_size();
    fs::remove_all(dest);
    return run;
}

struct Image {
    std::string path;
    std::uint64_t start = 0;
    // The tree scan before the saves: tsk_recover walks the file system in
    // the time it is given.
    double scanSeconds = 0;
    std::shared_ptr<Volume> volume;
    platform::Dict row;
};

// The image's HFS+ volume from its partition map, or the image as a FAT
// volume, scanned and wholly marked.
Image scanned(const std::string& path) {
    Image image;
    image.path = path;
    auto drive =
        DMedia::initWithDictionary(platform::Dict{{"Path", path},
                                                  {"Preferred Block Size", 512},
                                                  {"Size", static_cast<unsigned long long>(fs::file_size(path))},
                                                  {"device model", "-"},
                                                  {"device serial", "-"},
                                                  {"device revision", "-"}});
    platform::Array volumes;
    if (drive) drive->initialize(volumes);
    for (const platform::Value& v : volumes)
        if (v.dictValue().get("Content").stringValue() == "Apple_HFS") image.row = v.dictValue();
    if (image.row.empty()) {
        char head[90] = {};
        std::ifstream(path, std::ios::binary).read(head, sizeof head);
        const bool fat32 = std::string(head + 82, 5) == "FAT32";
        image.row =
            platform::Dict{{"Path", path},
                           {"Volume Start", 0},
                           {"Volume Size In Sectors", static_cast<unsigned long long>(fs::file_size(path) / 512)},
                           {"Volume Scan Type", 0},
                           {"Content", fat32 ? "FAT32" : "FAT16"},
                           {"Volume Name", "bench"},
                           {"device model", "-"},
                           {"device serial", "-"},
                           {"device revision", "-"}};
    }
    image.row.set("Preferred Block Size", 512);
    image.volume = Volume::initWithDictionary(image.row);
    if (!image.volume) {
        std::fprintf(stderr, "save_bench: no volume in %s\n", path.c_str());
        std::exit(1);
    }
    image.start = image.row.get("Volume Start").uint64Value();
    const Clock::time_point t0 = Clock::now();
    ScanThread(image.volume).startMakingTree(platform::Array{"Normal Scan", 0});
    image.scanSeconds = secondsSince(t0);
    newdir::preOrder(image.volume->dirRoot, newdir::childList, newdir::anyChild, [](NewDir* n) { n->selected = 1; });
    // In the page cache, as the peers will find it.
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(8 << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    }
    return image;
}

void bench(const char* title, const Image& image, const fs::path& work, int runs) {
    const fs::path extracted = work / "extracted";
    fs::remove_all(extracted);
    const std::string offset = std::to_string(image.start);
    // Every file tsk_recover finds, deleted or not, as ours saves the whole
    // tree.
    if (!runProgram({"tsk_recover", "-e", "-o", offset, image.path, extracted.string()})) {
        std::fprintf(stderr, "save_bench: tsk_recover is needed\n");
        std::exit(1);
    }
    const std::vector<std::pair<std::string, std::function<bool(const std::string&)>>> tools{
        {"ours: the save, synced in batches",
         [&](const std::string& dest) {
             auto saving = DataSaving::create(image.volume, image.volume->dirRoot, image.row);
             saving->setPanelSettleDelay(std::chrono::milliseconds(0));
             saving->setMarkedData(DataSaving::countMarkedToSave(image.volume->dirRoot).bytes);
             saving->saveFilesAndFolders(platform::Dict{{"path", dest}});
             // A deleted file whose clusters were taken since is saved with
             // what could be read, as tsk_recover saves it.
             const DataSaving::Ending ending = saving->ending();
             return ending == DataSaving::Ending::Completed || ending == DataSaving::Ending::CompletedWithErrors;
         }},
        {"tsk_recover -e",
         [&](const std::string& dest) {
             return runProgram({"tsk_recover", "-e", "-o", offset, image.path, dest});
         }},
        {"cp -r of tsk_recover's files",
         [&](const std::string& dest) {
             return runProgram({"cp", "-r", extracted.string(), dest + "/copy"});
         }},
    };
    std::map<std::size_t, std::vector<Run>> results;
    for (int r = 0; r < runs; ++r)
        for (std::size_t k = 0; k < tools.size(); ++k) {
            const std::size_t t = (k + static_cast<std::size_t>(r)) % tools.size();
            results[t].push_back(timed(work / "out", tools[t].second));
        }
    fs::remove_all(extracted);

    std::printf("\n%s: %s, medians of %d runs\n", title, image.path.c_str(), runs);
    std::printf("  %-42s %12s %10s %9s %11s\n", "", "files/s", "MB/s", "time s", "to synced s");
    for (std::size_t t = 0; t < tools.size(); ++t) {
        std::vector<double> files, mb, seconds, synced;
        for (const Run& run : results[t]) {
            files.push_back(run.files / run.seconds);
            mb.push_back(run.bytes / run.seconds / 1e6);
            seconds.push_back(run.seconds);
            synced.push_back(run.secondsToSynced);
        }
        const Run& last = results[t].back();
        std::printf("  %-42s %12.0f %10.1f %9.2f %11.2f   (%llu files, %.1f MB)\n", tools[t].first.c_str(),
                    median(files), median(mb), median(seconds), median(synced),
                    static_cast<unsigned long long>(last.files), last.bytes / 1e6);
        if (t == 0)
            std::printf("  %-42s %12s %10s %9.2f %11.2f\n", "ours with the tree scan before it", "", "",
                        median(seconds) + image.scanSeconds, median(synced) + image.scanSeconds);
    }
}

std::string load() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> images;
    int runs = 5;
    fs::path dest = fs::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--dest" && i + 1 < argc)
            dest = argv[++i];
        else
            images.push_back(a);
    }
    if (images.empty()) {
        std::fprintf(stderr, "usage: save_bench IMAGE [IMAGE ...] [--runs N] [--dest DIR]\n");
        return 2;
    }
    if (!std::getenv("SAVE_BENCH_LOG")) platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    platform::Array rows;
    for (const std::string& image : images)
        rows.emplace_back(platform::Dict{{"Path", image}});
    controller.setDriveDictArray(rows);
    platform::setAppController(&controller);
    const fs::path work = dest / ("save_bench." + std::to_string(::getpid()));
    fs::create_directories(work);

    std::printf("load average before: %s\n", load().c_str());
    for (const std::string& path : images) {
        Image image = scanned(path);
        bench(fs::path(path).filename().c_str(), image, work, runs);
        image.volume->freeTree();
    }
    std::printf("\nload average after: %s\n", load().c_str());
    fs::remove_all(work);
    platform::setAppController(nullptr);
    return 0;
}
