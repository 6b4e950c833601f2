#pragma once

// The directory walk of the TIFF family, for the TIFF recogniser and the
// camera-raw recognisers of the formats that are TIFF underneath. It reads
// the chain of image file directories from the header's first position,
// tests each with the member's directory test (one failure refuses the whole
// candidate), and measures the file as the furthest byte those directories
// point to: their out-of-line values and the end of their last strip or
// tile. The directory bytes themselves do not count.
//
// The chain comes from the medium, so it is bounded: a position already
// visited ends that chain, at most 64 directories are read, and a read past
// the candidate's readable bytes ends the walk with what it has. One walk
// serves one recogniser call.

#include "platform/ByteView.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/Tiff_IFD.h"

#include <array>
#include <cstdint>
#include <unordered_set>
#include <vector>

class Sig;

class TiffDirectoryWalk {
public:
    enum class ByteOrder {
        FromHeader,  // "MM\0*" big-endian; "II*\0", and any other header, little-endian
        LittleEndian // whatever the header says
    };
    struct Rules {
        ByteOrder byteOrder = ByteOrder::FromHeader;
        bool (*directoryTest)(const Tiff_IFD&) = nullptr;
        // After each chain, go on with the chains that SubIFDs entries (tag
        // 330) name: the raw formats that keep their full-size image there.
        bool followSubIFDs = false;
    };

    TiffDirectoryWalk(RecogniserMedium& medium, const Rules& rules);

    // Walks from the first directory position in the header (`head`: the
    // candidate's first bytes) and answers the length; 0 when the position
    // is odd, a directory fails its test or has more than 50 entries, or the
    // directories point nowhere.
    std::uint64_t measure(platform::ByteView head);
    // Whether a directory of the walk holds a NewSubfileType entry (254).
    bool sawNewSubfileType() const { return newSubfileType_; }

    // Sets the record's per-hit fields for a measured length, which is cut
    // to the candidate's readable bytes, since the search jumps over it;
    // false (the record untouched) for 0.
    static bool report(const RecogniserMedium& medium, Sig& sig, std::uint64_t length);

private:
    enum class Step { Accepted, Refused, Ended };

    bool walk(std::uint64_t position);
    Step readDirectory(std::uint64_t position, Tiff_IFD& ifd);
    void fillSubIFDs(const Tiff_DE::Record& de);
    std::uint64_t nextChain();
    std::uint64_t directoryEnd(const Tiff_IFD& ifd);
    std::uint64_t lastValue(const Tiff_DE::Record& de);
    std::uint16_t u16(platform::ByteView bytes, std::size_t offset) const;
    std::uint32_t u32(platform::ByteView bytes, std::size_t offset) const;

    RecogniserMedium& medium_;
    Rules rules_;
    // Values and SubIFDs lists; the directories being read.
    BoundedCursor values_;
    BoundedCursor directoryReads_;
    bool bigEndian_ = false;
    std::vector<Tiff_IFD> directories_;
    std::unordered_set<std::uint64_t> visited_;
    std::array<std::uint32_t, 32> subIFDs_{};
    std::size_t subIFDsUsed_ = 0;
    bool newSubfileType_ = false;
};
