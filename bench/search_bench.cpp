// The plain signature search of a whole disk, timed beside PhotoRec's search
// of the same image in the same run, both reading it from the page cache.
// Ours looks for every type of the file scans' built-in list (on random
// bytes the types without a recogniser, taken on their header alone, make
// most of what it finds), and for the five types the image holds; PhotoRec
// runs with its default file types and writes what it finds into a
// temporary folder, as it always does.
//
//   search_bench [IMAGE [ROUNDS]]
// Without IMAGE, bench/make-search-1g.sh makes one (1 GiB) in the temporary
// folder. Each round runs both; the medians are printed.

#include "carving/AutoRecoveryAppend.h"
#include "carving/PlainSignatureSearch.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "signatures/SigLists.h"
#include "signatures/SignatureGroups.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The file scans' built-in types, all of them or those with these extensions.
platform::Array fileTypes(const std::vector<std::string>& extensions) {
    std::ifstream in(SigLists::builtInListPath("Sig_FR"), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto root = SigLists::decodeList(bytes);
    if (!root) {
        std::fprintf(stderr, "search_bench: the built-in list cannot be read\n");
        std::exit(1);
    }
    platform::Array types;
    for (const auto& category : *root)
        for (const auto& node : category->children())
            if (extensions.empty() ||
                std::find(extensions.begin(), extensions.end(), node->sig()->extension) != extensions.end())
                types.emplace_back(node);
    return types;
}

// Seconds of one whole-disk search; files found in *files.
double timeSearch(const std::string& image, std::uint64_t bytes, const platform::Array& types, std::uint32_t* files) {
    auto v = Volume::initWithDictionary(platform::Dict{{"Path", image},
                                                       {"Preferred Block Size", 512},
                                                       {"Size", static_cast<unsigned long long>(bytes)},
                                                       {"WhetherDiskDict", true},
                                                       {"device model", "-"},
                                                       {"device serial", "-"},
                                                       {"device revision", "-"}});
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    v->sigArray = types;
    v->setRawSearchStart(0, 100);
    const auto t0 = Clock::now();
    SignatureGroups::populateBTreeSigArray(*v);
    AutoRecoveryAppend noPair;
    PlainSignatureSearch(*v, noPair).signatureSearchDiskStartAt(0);
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    *files = v->fileCount;
    v->freeTree();
    return took;
}

// Seconds of PhotoRec's search, or a negative number when it did not run;
// files it wrote in *files.
double timePhotoRec(const std::string& image, std::size_t* files) {
    const fs::path out = fs::temp_directory_path() / "drentic-search-bench-photorec";
    fs::remove_all(out);
    fs::create_directories(out);
    const std::string command =
        "photorec /d " + shellQuote((out / "rec").string()) + " /cmd " + shellQuote(image) + " search >/dev/null 2>&1";
    const auto t0 = Clock::now();
    const int status = std::system(command.c_str());
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    *files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out))
        if (e.is_regular_file() && e.path().filename() != "report.xml") ++*files;
    fs::remove_all(out);
    return status == 0 ? took : -1;
}

} // namespace

int main(int argc, char** argv) {
    std::string image = argc > 1 ? argv[1] : std::string();
    if (image.empty()) {
        const std::string script = (fs::path(BENCH_SOURCE_DIR) / "make-search-1g.sh").string();
        const std::string command = script + " " + shellQuote(fs::temp_directory_path().string());
        FILE* made = ::popen(command.c_str(), "r");
        char line[4096] = {};
        if (!made || !std::fgets(line, sizeof line, made)) return 1;
        ::pclose(made);
        image = std::string(line, std::strcspn(line, "\n"));
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::uint64_t bytes = fs::file_size(image);
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
    platform::setAppController(&controller);

    const platform::Array all = fileTypes({});
    const platform::Array five = fileTypes({"jpg", "png", "pdf", "zip", "mp3"});
    // Into the page cache first.
    std::uint32_t allFiles = 0, fiveFiles = 0;
    std::size_t theirFiles = 0;
    timeSearch(image, bytes, five, &fiveFiles);
    std::vector<double> ours, oursFive, theirs;
    for (int r = 0; r < rounds; ++r) {
        ours.push_back(timeSearch(image, bytes, all, &allFiles));
        oursFive.push_back(timeSearch(image, bytes, five, &fiveFiles));
        controller.clear();
        theirs.push_back(timePhotoRec(image, &theirFiles));
    }
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%.0f MB image, median of %d rounds\n", mb, rounds);
    const auto row = [&](const char* name, double t, std::size_t files) {
        std::printf("%-38s %7.3f s  %7.1f MB/s  %zu files\n", name, t, mb / t, files);
    };
    row("plain signature search, all types:", median(ours), allFiles);
    row("plain signature search, five types:", median(oursFive), fiveFiles);
    if (median(theirs) < 0)
        std::printf("photorec could not be run\n");
    else
        row("photorec /cmd IMAGE search:", median(theirs), theirFiles);
    platform::setAppController(nullptr);
    return 0;
}
