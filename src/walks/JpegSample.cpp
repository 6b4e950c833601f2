#include "walks/JpegSample.h"

namespace {
constexpr std::uint16_t kEnd = 0xFFD9;
// A start marker, a segment's marker and length, the end marker.
constexpr std::uint64_t kSmallestJpeg = 8;
} // namespace

bool JpegSample::isWhole(BoundedCursor& cursor, std::uint64_t from, std::uint64_t to) {
    if (to < from || to - from < kSmallestJpeg || !begins(cursor.at(from, 4))) return false;
    const platform::ByteView last = cursor.at(to - 2, 2);
    return last.size() == 2 && last.be16(0) == kEnd;
}
