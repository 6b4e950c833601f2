#pragma once

// What the whole-disk search benchmarks share: the image they search (named
// on the command line, or made once by a script of this folder), the built-in
// types they mark, the disk volume they search, a timed photo carving of it, the count of what they found,
// and PhotoRec's run on the same image in a fresh temporary folder, its files
// counted as it wrote them.

#include "carving/AutoRecoveryAppend.h"
#include "carving/PhotoCarving.h"
#include "platform/TextEncoding.h"
#include "signatures/SigLists.h"
#include "signatures/SignatureSearchState.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace diskbench {

using Clock = std::chrono::steady_clock;

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// argv[1], or the image the script of this folder makes (once) in the
// temporary folder; empty when it could not be made.
inline std::string imageOrMade(int argc, char** argv, const char* script) {
    if (argc > 1) return argv[1];
    const std::string command = (std::filesystem::path(BENCH_SOURCE_DIR) / script).string() + " " +
                                shellQuote(std::filesystem::temp_directory_path().string());
    FILE* made = ::popen(command.c_str(), "r");
    if (!made) return {};
    char line[4096] = {};
    const bool read = std::fgets(line, sizeof line, made) != nullptr;
    ::pclose(made);
    return read ? std::string(line, std::strcspn(line, "\n")) : std::string();
}

// Reads the whole file once, so that every timed run finds it in the page cache.
inline void readIntoPageCache(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(8u << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    }
}

// The types of a built-in list ("Sig_FR", "Sig_PR") that `keep` accepts.
inline platform::Array builtInTypes(const char* listName, const std::function<bool(const Sig&)>& keep) {
    std::ifstream in(SigLists::builtInListPath(listName), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto root = SigLists::decodeList(bytes);
    if (!root) {
        std::fprintf(stderr, "the built-in list %s cannot be read\n", listName);
        std::exit(1);
    }
    platform::Array types;
    for (const auto& category : *root)
        for (const auto& node : category->children())
            if (keep(*node->sig())) types.emplace_back(node);
    return types;
}

// The image as a whole disk of 512-byte sectors with an empty tree, searched
// from 0 to 100 %.
inline std::shared_ptr<Volume> diskVolume(const std::string& image, std::uint64_t bytes) {
    auto v = Volume::initWithDictionary(platform::Dict{{"Path", image},
                                                       {"Preferred Block Size", 512},
                                                       {"Size", static_cast<unsigned long long>(bytes)},
                                                       {"WhetherDiskDict", true},
                                                       {"device model", "-"},
                                                       {"device serial", "-"},
                                                       {"device revision", "-"}});
    if (!v) {
        std::fprintf(stderr, "%s cannot be opened\n", image.c_str());
        std::exit(1);
    }
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    v->setRawSearchStart(0, 100);
    return v;
}

// A search of the types marked.
inline SignatureSearchState searchOf(const platform::Array& types) {
    SignatureSearchState search;
    search.sigArray = types;
    return search;
}

// Files found, by the name of the result folder they are in.
using Found = std::map<std::string, std::size_t>;

inline std::size_t total(const Found& found) {
    std::size_t n = 0;
    for (const auto& [kind, count] : found)
        n += count;
    return n;
}

inline void countFiles(const NewDir* folder, Found& found) {
    for (std::uint32_t i = 0; i < folder->childrenArrayCount(); ++i) {
        const NewDir* child = newdir::childAtIndex(folder, i);
        if (child->isFolder())
            countFiles(child, found);
        else
            ++found[platform::utf8FromUtf16(newdir::fileName(folder))];
    }
}

// Seconds of one photo carving of the whole disk `medium` with the types
// marked; what it found in *found.
inline double timePhotoCarving(const std::string& medium, std::uint64_t bytes, const platform::Array& types,
                               Found* found) {
    auto v = diskVolume(medium, bytes);
    SignatureSearchState search = searchOf(types);
    AutoRecoveryAppend noPair;
    const auto t0 = Clock::now();
    PhotoCarving(*v, search, noPair).signatureSearchDiskPhotoMethodStartAt(0);
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    found->clear();
    countFiles(v->dirRoot, *found);
    v->freeTree();
    return took;
}

// The files the image script placed, by extension, from IMAGE.list (lines
// "sector sample bytes"); empty when there is no list.
inline Found placedFiles(const std::string& image) {
    Found placed;
    std::ifstream list(image + ".list");
    std::string sector, sample, bytes;
    while (list >> sector >> sample >> bytes)
        ++placed[std::filesystem::path(sample).extension().string().substr(1)];
    return placed;
}

// "kind N, kind N, ..."
inline std::string listed(const Found& found) {
    std::string out;
    for (const auto& [kind, count] : found)
        out += (out.empty() ? "" : ", ") + kind + " " + std::to_string(count);
    return out;
}

struct PeerRun {
    // Negative when the tool could not be run.
    double seconds = -1;
    // By extension.
    Found files;
};

// `photorec /d OUT /cmd IMAGE COMMANDS` with OUT in a fresh temporary folder,
// removed afterwards; the files it wrote (all but its report) counted.
inline PeerRun runPhotoRec(const std::string& image, const std::string& commands) {
    namespace fs = std::filesystem;
    const fs::path out = fs::temp_directory_path() / "drentic-disk-bench-photorec";
    fs::remove_all(out);
    fs::create_directories(out);
    const std::string command = "photorec /d " + shellQuote((out / "rec").string()) + " /cmd " + shellQuote(image) +
                                " " + commands + " >/dev/null 2>&1";
    const auto t0 = Clock::now();
    const int status = std::system(command.c_str());
    PeerRun run;
    run.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    for (const auto& e : fs::recursive_directory_iterator(out))
        if (e.is_regular_file() && e.path().filename() != "report.xml")
            ++run.files[e.path().has_extension() ? e.path().extension().string().substr(1) : "-"];
    fs::remove_all(out);
    if (status != 0) run.seconds = -1;
    return run;
}

} // namespace diskbench
