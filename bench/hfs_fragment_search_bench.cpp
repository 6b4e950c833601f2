// The advanced scan's search of a whole volume for catalog leaf nodes,
// timed beside a plain sequential read of the same bytes: the search should
// run near the speed at which the image can be read at all.
//
//   hfs_fragment_search_bench IMAGE [START_SECTOR]
//
// Run it twice on an image in the page cache (the first run fills it), e.g.
//   truncate -s 4G big.img; hfs_fragment_search_bench big.img
// or on a real volume image with many fragments.

#include "BenchVolume.h"
#include "hfsplus/CatalogFragmentSearch.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "hfsplus/OrphanEntries.h"
#include "platform/AlignedBuffer.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/Volume.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// What reading the image costs by itself: 4 MiB reads front to back, into a
// page-aligned buffer as the search's own (the kernel copies into one a few
// bytes off a page several times slower).
double plainRead(const std::string& image, std::uint64_t offset, std::uint64_t bytes) {
    const int fd = ::open(image.c_str(), O_RDONLY);
    if (fd < 0) return -1;
    platform::AlignedBuffer buffer(4u << 20);
    const auto t0 = std::chrono::steady_clock::now();
    for (std::uint64_t at = 0; at < bytes;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset + at));
        if (n <= 0) break;
        at += static_cast<std::uint64_t>(n);
    }
    const auto t1 = std::chrono::steady_clock::now();
    ::close(fd);
    return seconds(t1 - t0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: hfs_fragment_search_bench IMAGE [START_SECTOR]\n");
        return 2;
    }
    const std::string image = argv[1];
    const std::uint64_t start = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 0;
    const std::uint64_t sectors = std::filesystem::file_size(image) / 512;
    if (start >= sectors) {
        std::fprintf(stderr, "start sector beyond the image\n");
        return 2;
    }
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
    platform::setAppController(&controller);

    auto v = volumeForFragmentSearch(image, start, sectors - start);
    if (!v) return 2;

    const std::uint64_t bytes = (sectors - start) * 512;
    const double read = plainRead(image, start * 512, bytes);
    HFSPlusReaderState state(*v);
    const auto t0 = std::chrono::steady_clock::now();
    CatalogFragmentSearch(state).searchCatFrags();
    const auto t1 = std::chrono::steady_clock::now();
    const double search = seconds(t1 - t0);
    const double mib = static_cast<double>(bytes) / (1u << 20);
    std::printf("plain read:       %8.3f s  %8.1f MiB/s\n", read, read > 0 ? mib / read : 0.0);
    std::printf("fragment search:  %8.3f s  %8.1f MiB/s  (%u in the catalog, %u elsewhere)\n", search,
                search > 0 ? mib / search : 0.0, state.orphEntriesTotal, state.orphAdvScanEntriesTotal);

    OrphanEntries orphans(state);
    orphans.releaseUnplacedEntries(state.btreeOrph.get());
    orphans.releaseUnplacedEntries(state.btreeOrphAdvScanEntries.get());
    v->freeTree();
    platform::setAppController(nullptr);
    return 0;
}
