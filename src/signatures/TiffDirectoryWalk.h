#pragma once

// The directory walk of the TIFF family, for the TIFF recogniser and the
// camera-raw recognisers of the formats that are TIFF underneath. It reads
// the chain of image file directories from the header's first position,
// tests each with the member's directory test (the first directory failing
// refuses the candidate), and measures the file as the furthest byte of
// those directories and of what they point to: their out-of-line values and
// the end of their last strip or tile. libtiff writes a page's directory
// behind its image data, so a file often ends with its last directory.
//
// The chain comes from the medium, so it is bounded: a position already
// visited ends that chain, and at most kMostDirectories directories are
// read. A walk that cannot complete is broken, and measures the directories
// read before: one that leads to a directory in bytes that are not the
// file's (failing its test, or of no entries), past the candidate's readable
// bytes, or in a sector the medium could not give, or that meets a value
// list it needs in such a sector, or reaches the bound; so is a file measured
// past its readable bytes. One walk serves one recogniser call.

#include "platform/ByteView.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/Tiff_IFD.h"

#include <array>
#include <cstdint>
#include <unordered_set>

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

    // A scanned document or a fax holds a directory a page.
    static constexpr std::size_t kMostDirectories = 65536;

    // Walks from the first directory position in the header (`head`: the
    // candidate's first bytes) and answers the length; 0 when the position
    // is odd, the first directory fails its test, has more than 50 entries
    // or cannot be read, or the directories point nowhere.
    std::uint64_t measure(platform::ByteView head);
    // Whether a directory of the walk holds a NewSubfileType entry (254).
    bool sawNewSubfileType() const { return newSubfileType_; }
    // Whether the measured walk could not complete.
    bool broken() const { return broken_; }

    // Sets the record's per-hit fields for a measured length, which is cut
    // to the candidate's readable bytes: a whole file is jumped over; a
    // broken one is marked and not jumped over, as what lies past the
    // break may be another file's. False (the record untouched) for 0.
    static bool report(const RecogniserMedium& medium, Sig& sig, std::uint64_t length, bool broken);

private:
    // Refused: a directory in bytes that are not the file's; Ended: one
    // that cannot be had.
    enum class Step { Accepted, Refused, Ended };

    // The furthest end of the directories read; 0 when the first is refused
    // or cannot be had.
    std::uint64_t walk(std::uint64_t position);
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
    bool broken_ = false;
    std::unordered_set<std::uint64_t> visited_;
    std::array<std::uint32_t, 32> subIFDs_{};
    std::size_t subIFDsUsed_ = 0;
    bool newSubfileType_ = false;
};
