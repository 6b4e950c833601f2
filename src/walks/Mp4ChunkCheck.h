#pragma once

// How much of a movie's media-data atom its movie header vouches for, when
// the header comes first ("fast start"). Nothing else ties such an atom's
// stated size to the movie: a movie's first fragment followed by other files
// reads on with the same size over their sectors. The header's sample tables
// say where each sample of media lies, and a video sample begins as its
// coding's do: NAL units whose lengths fill the sample (H.264, H.265), an
// MPEG-4 visual start code, a JPEG start. The samples so found where the
// tables put them, in the order they lie, are the movie's (the last as far
// as its check read it); the first that is not shows where other bytes
// begin. Sound samples hold nothing to check and are passed over. The plain
// search's and the carving's walks of the QuickTime family share it.

#include "media/BoundedCursor.h"

#include <cstdint>
#include <functional>

class Mp4ChunkCheck {
public:
    // A movie atom at `moov` of `moovSize` bytes, and the media data from
    // `mediaStart` to `mediaEnd`, positions from the file's start (the
    // offsets the tables give). Returns the position up to which the media
    // data holds as the movie's: `mediaStart` when nothing does.
    static std::uint64_t checkedEnd(BoundedCursor& cursor, std::uint64_t moov, std::uint64_t moovSize,
                                    std::uint64_t mediaStart, std::uint64_t mediaEnd,
                                    const std::function<bool()>& stopped);

    // A movie header larger than this is not read for the check.
    static constexpr std::uint64_t kLargestMovieHeader = std::uint64_t{32} << 20;
};
