#include "walks/AviChunkWalk.h"

#include "formats/RiffHeader.h"

#include <algorithm>
#include <optional>

namespace {
constexpr std::uint32_t kAvi = 0x41564920;  // "AVI "
constexpr std::uint32_t kList = 0x4C495354; // "LIST"
constexpr std::uint32_t kHdrl = 0x6864726C; // "hdrl"
constexpr std::uint32_t kMovi = 0x6D6F7669; // "movi"
// A list's header: "LIST", its length and its type.
constexpr std::uint64_t kListHeaderBytes = 12;
} // namespace

AviChunkWalk::Walk AviChunkWalk::walk(BoundedCursor& cursor, const std::function<bool()>& stopped) {
    const platform::ByteView header = cursor.at(0, 24);
    Walk walk;
    if (header.empty()) return walk;
    walk.riffEnd = riff::fileBytes(header);
    if (header.be32(8) != kAvi || header.be32(12) != kList || header.be32(20) != kHdrl) return walk;
    // Where the last "movi" list read begins and ends.
    std::uint64_t movi = 0, moviEnd = 0;
    std::uint64_t at = riff::kHeaderBytes;
    while (at < walk.riffEnd && !stopped()) {
        const platform::ByteView chunk = cursor.at(at, kListHeaderBytes);
        const std::optional<riff::Chunk> next = riff::chunkAt(chunk, at);
        if (chunk.size() < kListHeaderBytes || !next) break;
        walk.structureEnd = at + riff::kChunkHeaderBytes;
        if (chunk.be32(0) == kList && chunk.be32(8) == kMovi) movi = at, moviEnd = next->next;
        at = next->next;
    }
    // The chunks up to the RIFF's end, and nothing past it.
    if (at == walk.riffEnd) {
        walk.structureEnd = at;
        return walk;
    }
    // The chunk after the "movi" list could not be read: its own chunks lead
    // as far as they do.
    if (moviEnd != 0 && at == moviEnd) {
        std::uint64_t inner = movi + kListHeaderBytes;
        for (std::uint64_t chunks = 0; inner < moviEnd && chunks < kMostListChunks && !stopped(); ++chunks) {
            const platform::ByteView chunk = cursor.at(inner, riff::kChunkHeaderBytes);
            const std::optional<riff::Chunk> next = riff::chunkAt(chunk, inner);
            if (chunk.empty() || !next) break;
            walk.structureEnd = std::max(walk.structureEnd, inner + riff::kChunkHeaderBytes);
            inner = next->next;
        }
    }
    return walk;
}
