#include "walks/AviChunkWalk.h"

#include "formats/RiffHeader.h"

namespace {
constexpr std::uint32_t kAvi = 0x41564920;  // "AVI "
constexpr std::uint32_t kAvix = 0x41564958; // "AVIX"
constexpr std::uint32_t kList = 0x4C495354; // "LIST"
constexpr std::uint32_t kHdrl = 0x6864726C; // "hdrl"
// A list's header: "LIST", its length and its type.
constexpr std::uint64_t kListHeaderBytes = 12;
// Lists inside lists: the stream lists of the header list, and any a
// writer nests in those.
constexpr int kDeepestList = 4;

struct ListWalk {
    BoundedCursor& cursor;
    const std::function<bool()>& stopped;
    AviChunkWalk::Walk& walk;
    std::uint64_t chunks = 0;

    // The chunks from `at` to the list's `end`; false when the walk ended
    // before it.
    bool chunksOf(std::uint64_t at, std::uint64_t end, int depth) {
        while (at < end) {
            if (stopped() || ++chunks > AviChunkWalk::kMostChunks) return false;
            const platform::ByteView header = cursor.at(at, kListHeaderBytes);
            // A sector that could not be read, or the volume's end: what
            // follows is not known, but nothing shows the file ends here.
            if (header.size() < riff::kChunkHeaderBytes || cursor.unreadable(at, riff::kChunkHeaderBytes)) return false;
            const std::optional<riff::Chunk> chunk = riff::chunkAt(header, at);
            if (!chunk || chunk->next > end + (end & 1)) {
                walk.brokeOffAt = at;
                return false;
            }
            walk.structureEnd = at + riff::kChunkHeaderBytes;
            if (chunk->id == kList && depth < kDeepestList && chunk->next - at >= kListHeaderBytes &&
                header.size() == kListHeaderBytes) {
                walk.structureEnd = at + kListHeaderBytes;
                if (!chunksOf(at + kListHeaderBytes, chunk->next, depth + 1)) return false;
            } else {
                walk.bodies.add(at + riff::kChunkHeaderBytes, chunk->next);
            }
            at = chunk->next;
        }
        return true;
    }
};
} // namespace

bool AviChunkWalk::isAvi(platform::ByteView header) {
    return riff::isRiff(header) && header.be32(8) == kAvi;
}

AviChunkWalk::Walk AviChunkWalk::walk(BoundedCursor& cursor, const std::function<bool()>& stopped) {
    const platform::ByteView header = cursor.at(0, 24);
    Walk walk;
    walk.bodies = SteppedBodies(cursor.bytesPerSector());
    if (header.empty()) return walk;
    walk.riffEnd = riff::fileBytes(header);
    if (!isAvi(header) || header.be32(12) != kList || header.be32(20) != kHdrl) return walk;
    ListWalk lists{cursor, stopped, walk};
    if (!lists.chunksOf(riff::kHeaderBytes, walk.riffEnd, 0)) return walk;
    walk.structureEnd = walk.riffEnd;
    // Past 1 GiB a writer goes on in parts of form "AVIX" (OpenDML), each
    // right after the one before and each with its own "movi" list: the same
    // file, whose end is the last part's.
    for (;;) {
        const std::uint64_t at = walk.riffEnd + (walk.riffEnd & 1);
        const platform::ByteView part = cursor.at(at, riff::kHeaderBytes);
        if (part.empty() || cursor.unreadable(at, riff::kHeaderBytes) || !riff::isRiff(part) || part.be32(8) != kAvix)
            break;
        // A part that runs past the medium's end is no part of a file on it,
        // nor one too short to hold its form.
        const std::uint64_t partBytes = riff::fileBytes(part);
        if (partBytes < riff::kHeaderBytes || !cursor.readable(at, partBytes) || stopped() ||
            ++lists.chunks > kMostChunks)
            break;
        walk.riffEnd = at + partBytes;
        walk.structureEnd = at + riff::kHeaderBytes;
        if (!lists.chunksOf(at + riff::kHeaderBytes, walk.riffEnd, 0)) return walk;
        walk.structureEnd = walk.riffEnd;
    }
    return walk;
}
