// The photo carving of a whole disk, timed beside PhotoRec's carving of the
// same image in the same run, both reading it from the page cache. Ours
// carves every format the photo scans measure with a size calculator, and
// then once more with the file scans' PDF and ZIP types marked as well
// (searched by their signatures, as the image holds them too); PhotoRec runs with its default file types, without its
// paranoid checks, and writes what it finds into a temporary folder, as it always does. The files found are printed by
// kind beside the files the image holds. A third run marks every type of the photo scans' list, as "Mark All" does,
// so that what the types taken on their header alone add shows beside the files placed.
//
//   carve_bench [IMAGE [ROUNDS]]
// Without IMAGE, bench/make-carve-1g.sh makes one (1 GiB) in the temporary
// folder. Each round runs both; the medians are printed.

#include "DiskSearchBench.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::string image = diskbench::imageOrMade(argc, argv, "make-carve-1g.sh");
    if (image.empty()) return 1;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::uint64_t bytes = std::filesystem::file_size(image);
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
    platform::setAppController(&controller);

    const platform::Array builtIn =
        diskbench::builtInTypes("Sig_PR", [](const Sig& sig) { return sig.typeOfFile == 1; });
    platform::Array withDocuments = builtIn;
    for (const auto& type : diskbench::builtInTypes(
             "Sig_FR", [](const Sig& sig) { return sig.extension == "pdf" || sig.extension == "zip"; }))
        withDocuments.push_back(type);
    const platform::Array everyType = diskbench::builtInTypes("Sig_PR", [](const Sig&) { return true; });
    diskbench::readIntoPageCache(image);
    diskbench::Found ours, oursWithDocuments, oursEveryType;
    diskbench::PeerRun photorec;
    std::vector<double> oursTimes, withDocumentsTimes, everyTypeTimes, theirTimes;
    for (int r = 0; r < rounds; ++r) {
        controller.clear();
        oursTimes.push_back(diskbench::timePhotoCarving(image, bytes, builtIn, &ours));
        controller.clear();
        withDocumentsTimes.push_back(diskbench::timePhotoCarving(image, bytes, withDocuments, &oursWithDocuments));
        controller.clear();
        everyTypeTimes.push_back(diskbench::timePhotoCarving(image, bytes, everyType, &oursEveryType));
        photorec = diskbench::runPhotoRec(image, "options,paranoid_no,search");
        theirTimes.push_back(photorec.seconds);
    }
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%.0f MB image, median of %d rounds\n", mb, rounds);
    const diskbench::Found placed = diskbench::placedFiles(image);
    if (!placed.empty())
        std::printf("placed: %zu files (%s)\n", diskbench::total(placed), diskbench::listed(placed).c_str());
    const auto row = [&](const char* name, double t, const diskbench::Found& found) {
        std::printf("%-44s %7.3f s  %7.1f MB/s  %zu files\n  %s\n", name, t, mb / t, diskbench::total(found),
                    diskbench::listed(found).c_str());
    };
    row("photo carving, every built-in format:", diskbench::median(oursTimes), ours);
    row("photo carving, the same and PDF, ZIP:", diskbench::median(withDocumentsTimes), oursWithDocuments);
    row("photo carving, every type of the list:", diskbench::median(everyTypeTimes), oursEveryType);
    if (diskbench::median(theirTimes) < 0)
        std::printf("photorec could not be run\n");
    else
        row("photorec /cmd IMAGE options,paranoid_no,search:", diskbench::median(theirTimes), photorec.files);
    platform::setAppController(nullptr);
    return 0;
}
