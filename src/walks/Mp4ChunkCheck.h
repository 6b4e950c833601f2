#pragma once

// Where a movie's frames begin in its media-data atom, as its movie header
// places them, wherever the header lies. The media data is a body the walk
// of the atoms steps over (SteppedBodies): another file written over the
// movie's sectors there reads on as its data, and cuts it. The header's
// sample tables say where each sample of media lies, and a video sample
// begins as its coding's do: NAL units whose lengths fill the sample (H.264,
// H.265), an MPEG-4 visual start code, a JPEG start; or, whatever its
// coding, it is one whole JPEG, as long as a photo found there. The samples
// so found where the tables put them, in the order they lie, the first at
// the media data's first byte among them, are the movie's frames, and a
// photo found where one of them begins (a frame of JPEG) cuts nothing; the
// first that is not shows where other bytes begin. Sound samples hold
// nothing to check and are passed over. The plain search's and the
// carving's walks of the QuickTime family share it (MovieAtoms).

#include "media/BoundedCursor.h"
#include "walks/SteppedBodies.h"

#include <cstdint>
#include <functional>

class Mp4ChunkCheck {
public:
    // A movie atom at `moov` of `moovSize` bytes, and the media data from
    // `mediaStart` to `mediaEnd`, positions from the file's start (the
    // offsets the tables give). Each sample that holds, up to the first that
    // does not, is a part of the movie's own where it begins (`bodies`).
    static void markFrames(BoundedCursor& cursor, std::uint64_t moov, std::uint64_t moovSize, std::uint64_t mediaStart,
                           std::uint64_t mediaEnd, const std::function<bool()>& stopped, SteppedBodies& bodies);

    // A movie header larger than this is not read for the check.
    static constexpr std::uint64_t kLargestMovieHeader = std::uint64_t{32} << 20;
};
