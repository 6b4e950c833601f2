// The plain signature search of a whole disk, timed beside PhotoRec's search
// of the same image in the same run, both reading it from the page cache.
// Ours looks for every type of the file scans' built-in list (on random
// bytes the types without a recogniser, taken on their header alone, make
// most of what it finds), and for the five types the image holds, and
// prints what it found by kind beside the files placed; PhotoRec
// runs with its default file types and writes what it finds into a
// temporary folder, as it always does.
//
//   search_bench [IMAGE [ROUNDS]]
// Without IMAGE, bench/make-search-1g.sh makes one (1 GiB) in the temporary
// folder. Each round runs both; the medians are printed.

#include "DiskSearchBench.h"
#include "carving/AutoRecoveryAppend.h"
#include "carving/PlainSignatureSearch.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "signatures/SignatureGroups.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using diskbench::Clock;

// The file scans' built-in types, all of them or those with these extensions.
platform::Array fileTypes(const std::vector<std::string>& extensions) {
    return diskbench::builtInTypes("Sig_FR", [&](const Sig& sig) {
        return extensions.empty() || std::find(extensions.begin(), extensions.end(), sig.extension) != extensions.end();
    });
}

// Seconds of one whole-disk search; what it found in *found.
double timeSearch(const std::string& image, std::uint64_t bytes, const platform::Array& types,
                  diskbench::Found* found) {
    auto v = diskbench::diskVolume(image, bytes);
    SignatureSearchState search = diskbench::searchOf(types);
    const auto t0 = Clock::now();
    SignatureGroups::populateBTreeSigArray(search);
    AutoRecoveryAppend noPair;
    PlainSignatureSearch(*v, search, noPair).signatureSearchDiskStartAt(0);
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    found->clear();
    diskbench::countFiles(v->dirRoot, *found);
    v->freeTree();
    return took;
}

} // namespace

int main(int argc, char** argv) {
    const std::string image = diskbench::imageOrMade(argc, argv, "make-search-1g.sh");
    if (image.empty()) return 1;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::uint64_t bytes = std::filesystem::file_size(image);
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
    platform::setAppController(&controller);

    const platform::Array all = fileTypes({});
    const platform::Array five = fileTypes({"jpg", "png", "pdf", "zip", "mp3"});
    // Into the page cache first.
    diskbench::Found allFiles, fiveFiles, theirFiles;
    timeSearch(image, bytes, five, &fiveFiles);
    std::vector<double> ours, oursFive, theirs;
    for (int r = 0; r < rounds; ++r) {
        ours.push_back(timeSearch(image, bytes, all, &allFiles));
        oursFive.push_back(timeSearch(image, bytes, five, &fiveFiles));
        controller.clear();
        const auto photorec = diskbench::runPhotoRec(image, "search");
        theirs.push_back(photorec.seconds);
        theirFiles = photorec.files;
    }
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%.0f MB image, median of %d rounds\n", mb, rounds);
    const diskbench::Found placed = diskbench::placedFiles(image);
    if (!placed.empty())
        std::printf("placed: %zu files (%s)\n", diskbench::total(placed), diskbench::listed(placed).c_str());
    const auto row = [&](const char* name, double t, const diskbench::Found& found) {
        std::printf("%-38s %7.3f s  %7.1f MB/s  %zu files\n  %s\n", name, t, mb / t, diskbench::total(found),
                    diskbench::listed(found).c_str());
    };
    row("plain signature search, all types:", diskbench::median(ours), allFiles);
    row("plain signature search, five types:", diskbench::median(oursFive), fiveFiles);
    if (diskbench::median(theirs) < 0)
        std::printf("photorec could not be run\n");
    else
        row("photorec /cmd IMAGE search:", diskbench::median(theirs), theirFiles);
    platform::setAppController(nullptr);
    return 0;
}
