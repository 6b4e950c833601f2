#pragma once

// Runs the recognisers the way a signature search does: a candidate placed at
// a known sector of an image, a volume over the image as the search sets it
// up (its sectors as totalBlocks, one sector a block), and the dispatcher
// asked with a record of the type.

#include "signatures/Sig.h"
#include "signatures/SignatureSearchState.h"
#include "support/ScanHelpers.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>

class Volume;

// What a recogniser answered and left in the record.
struct Verdict {
    bool accepted = false;
    std::uint64_t foundSize = 0;
    std::uint64_t skipSize = 0;
    bool skipFileSize = false;
    std::string extension;
    bool foundCut = false;
    bool operator==(const Verdict&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Verdict& v);

class RecogniserFixture : public testsupport::ScanFixture {
protected:
    static constexpr std::uint64_t kSector = 7;

    // A record of the type as the lists give it (no size limit unless set).
    static Sig sigOf(std::uint32_t typeOfFile, const std::string& extension = "", std::uint32_t defaultSizeMB = 0);
    // The search's volume over an image (kept until the test ends).
    Volume& volumeOver(const std::filesystem::path& image, std::uint32_t bytesPerSector = 512);
    // The dispatcher's verdict on the candidate at `sector`, the record's
    // per-hit fields and the found names reset first, as the search does.
    Verdict recognise(Volume& volume, Sig& sig, std::uint64_t sector = kSector);
    // `bytes` placed at kSector of a fresh image of 512-byte sectors with
    // `tailSectors` zero sectors behind them, asked with `sig`.
    Verdict recogniseBytes(const std::string& bytes, Sig sig, std::uint64_t tailSectors = 64);

    // From now on the recognisers are given a lookup, as a search gives
    // them, that finds a file at each of these sectors (counted from the
    // candidate's first) and nowhere else.
    void lookupFinds(std::set<std::uint64_t> fileSectors) { lookupFinds_ = std::move(fileSectors); }

    // The state of the search over a volume, one for each volume as a scan
    // has it.
    SignatureSearchState& searchOf(const Volume& volume) { return searches_[&volume]; }

private:
    std::map<const Volume*, SignatureSearchState> searches_;
    std::optional<std::set<std::uint64_t>> lookupFinds_;
};
