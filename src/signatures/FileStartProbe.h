#pragma once

// The search's own lookup of a sector, asked of the sectors of a found file
// that its walk did not vouch for (RecogniserMedium), and by a recogniser
// whose walk reads a sector as bytes of the file it measures and would have
// the search jump over it: whether the search would list another file there
// instead, one known to begin there (RecogniserDispatch::vouchesForStart).

#include "platform/ByteView.h"

#include <cstddef>
#include <cstdint>

class FileStartProbe {
public:
    // The bytes from a sector's start on that a caller passes: a search
    // reads a header of up to eight bytes as far as 1,024 bytes into a
    // sector.
    static constexpr std::size_t kProbedBytes = 1032;

    // Whether the search lists a file known to begin at `sector` (counted
    // as the search counts), whose bytes from the sector's start on are
    // `bytes`: the sector's, and those after it that the search's keys read.
    // Nothing the search keeps changes.
    virtual bool startsFile(std::uint64_t sector, platform::ByteView bytes) = 0;

protected:
    ~FileStartProbe() = default;
};
