#pragma once

// A sample of a container (a movie's frame, an AVI file's chunk) that a
// photo found where it begins may be: what tells the container's own JPEG
// frame or picture from a photo written over it there. A sample of a stream
// coded as JPEG frames begins as a JPEG does; a sample of any coding whose
// bytes are one whole JPEG, its start marker first and its end marker last,
// is as long as the photo found there.

#include "media/BoundedCursor.h"
#include "platform/ByteView.h"

#include <cstdint>

class JpegSample {
public:
    // Whether `first`, a sample's first bytes, begin a JPEG: its start
    // marker and another marker's first byte.
    static bool begins(platform::ByteView first) { return first.be16(0) == kStart && first.u8(2) == 0xFF; }
    // Whether the sample from `from` to `to` in `cursor`'s file is one whole
    // JPEG.
    static bool isWhole(BoundedCursor& cursor, std::uint64_t from, std::uint64_t to);

private:
    static constexpr std::uint16_t kStart = 0xFFD8;
};
