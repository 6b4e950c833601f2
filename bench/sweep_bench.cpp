// The two sweeps of a whole medium, the advanced scan's search for catalog
// fragments and the lost-volume search, timed beside `dd bs=1M` reading the
// same image in the same run: a sweep should take little longer than reading
// the image at all (the goal is 1.25 times dd's time at most).
//
//   sweep_bench [IMAGE [ROUNDS]]
// Without IMAGE a 2 GiB image of patterned bytes is written to the temporary
// folder once. dd reads the image first, so all three read it from the page
// cache; each round runs dd and both sweeps, and the medians are printed.

#include "BenchVolume.h"
#include "DdTiming.h"
#include "hfsplus/CatalogFragmentSearch.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "hfsplus/LostVolumeSearch.h"
#include "hfsplus/OrphanEntries.h"
#include "media/DMedia.h"
#include "platform/AlignedBuffer.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClassOrph.h"
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

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Bytes in which neither sweep finds anything to look at more closely.
std::string prepareImage() {
    const std::string path = (std::filesystem::temp_directory_path() / "drentic-bench-sweep-2g.img").string();
    const std::uint64_t want = 2ull << 30;
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) == want) return path;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    platform::AlignedBuffer buffer(8u << 20);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer.data()[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
    for (std::uint64_t at = 0; at < want; at += buffer.size())
        if (::write(fd, buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size())) std::abort();
    ::close(fd);
    return path;
}

double timeFragmentSearch(const std::string& image, std::uint64_t sectors) {
    auto v = volumeForFragmentSearch(image, 0, sectors);
    if (!v) std::abort();
    HFSPlusReaderState state(*v);
    const auto t0 = Clock::now();
    CatalogFragmentSearch(state).searchCatFrags();
    const double took = seconds(Clock::now() - t0);
    OrphanEntries orphans(state);
    orphans.releaseUnplacedEntries(state.btreeOrph.get());
    orphans.releaseUnplacedEntries(state.btreeOrphAdvScanEntries.get());
    v->freeTree();
    return took;
}

double timeLostVolumeSearch(const std::string& image, std::uint64_t bytes) {
    auto media = DMedia::initWithDictionary(platform::Dict{{"Path", image},
                                                           {"Preferred Block Size", 512},
                                                           {"Size", bytes},
                                                           {"device model", "-"},
                                                           {"device serial", "-"},
                                                           {"device revision", "-"}});
    if (!media) std::abort();
    platform::Array argument{platform::Array{}, platform::Array{}};
    const auto t0 = Clock::now();
    LostVolumeSearch(*media).initializeForVolumeThoroughScan(argument);
    return seconds(Clock::now() - t0);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const std::string image = argc > 1 ? argv[1] : prepareImage();
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::uint64_t bytes = std::filesystem::file_size(image);
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
    platform::setAppController(&controller);

    if (timeDd(image) < 0) std::printf("dd could not be run; the sweeps are timed alone\n");
    std::vector<double> dd, fragments, lost;
    for (int r = 0; r < rounds; ++r) {
        dd.push_back(timeDd(image));
        fragments.push_back(timeFragmentSearch(image, bytes / 512));
        controller.clear();
        lost.push_back(timeLostVolumeSearch(image, bytes));
        controller.clear();
    }
    const double gb = static_cast<double>(bytes) / 1e9;
    const double ddTime = median(dd);
    std::printf("%.2f GB, median of %d rounds\n", gb, rounds);
    std::printf("dd bs=1M:            %7.3f s  %6.2f GB/s\n", ddTime, ddTime > 0 ? gb / ddTime : 0.0);
    for (const auto& [name, times] : {std::pair{"fragment search:   ", &fragments}, {"lost-volume search:", &lost}}) {
        const double t = median(*times);
        std::printf("%s  %7.3f s  %6.2f GB/s  %5.2f x dd's time\n", name, t, gb / t, ddTime > 0 ? t / ddTime : 0.0);
    }
    platform::setAppController(nullptr);
    return 0;
}
