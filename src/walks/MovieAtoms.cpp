#include "walks/MovieAtoms.h"

#include "walks/Mp4ChunkCheck.h"

#include <utility>

namespace {
constexpr std::uint32_t kMoov = 0x6D6F6F76; // "moov"
constexpr std::uint32_t kMdat = 0x6D646174; // "mdat"

bool printable(std::uint32_t name) {
    for (int shift = 0; shift < 32; shift += 8)
        if (const auto c = static_cast<std::uint8_t>(name >> shift); c < 0x20 || c > 0x7E) return false;
    return true;
}
} // namespace

MovieAtoms::MovieAtoms(BoundedCursor& cursor, std::function<bool()> stopped)
    : cursor_(cursor), stopped_(std::move(stopped)), bodies_(cursor.bytesPerSector()) {}

bool MovieAtoms::childrenFill(std::uint64_t body, std::uint64_t end) {
    std::uint64_t child = body;
    for (std::uint32_t children = 0; child < end && children < kMostChildren && !stopped_(); ++children) {
        const platform::ByteView header = cursor_.at(child, 8);
        std::uint64_t size = header.be32(0);
        if (size == 1) size = cursor_.at(child + 8, 8).be64(0);
        if (header.empty() || size < 8 || !printable(header.be32(4)) || size > end - child) return false;
        child += size;
    }
    return child == end;
}

void MovieAtoms::take(std::uint64_t start, std::uint64_t body, std::uint64_t end, std::uint32_t type) {
    ++atoms_;
    // Media data holds frames, never atoms, however its first bytes read.
    const bool filled = type != kMdat && body < end && childrenFill(body, end);
    if (atoms_ == 1) firstFilled_ = filled;
    if (!filled) bodies_.add(body, end);
    if (filled && type == kMoov && moovSize_ == 0) moov_ = start, moovSize_ = end - start;
    if (type == kMdat && mediaEnd_ == 0) media_ = body, mediaEnd_ = end;
}

SteppedBodies MovieAtoms::bodies() {
    if (moovSize_ != 0 && mediaEnd_ != 0)
        Mp4ChunkCheck::markFrames(cursor_, moov_, moovSize_, media_, mediaEnd_, stopped_, bodies_);
    return bodies_;
}
