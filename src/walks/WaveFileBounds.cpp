#include "walks/WaveFileBounds.h"

#include "formats/RiffHeader.h"

namespace {
constexpr std::uint32_t kData = 0x64617461; // "data"
// The chunks before the sound are few.
constexpr unsigned kMostHeaderChunks = 64;
} // namespace

WaveFileBounds::Length WaveFileBounds::length(BoundedCursor& cursor, platform::ByteView header,
                                              const std::function<bool()>& stopped) {
    const std::uint64_t riffBytes = header.le32(4);
    // Past the longest header, a length ends past the chunks before the
    // sound whatever they are.
    if (riffBytes > kLongestRiff || riffBytes <= kLongestHeader) {
        const std::optional<std::uint64_t> data = dataChunkAt(cursor, 0, kLongestHeader, stopped);
        // A length that ends before the sound's first byte was never
        // finished either.
        if (data && (riffBytes > kLongestRiff || riffBytes <= *data)) {
            const std::uint64_t sound = *data + riff::kChunkHeaderBytes;
            const std::uint64_t soundBytes = cursor.at(*data, riff::kChunkHeaderBytes).le32(4);
            if (soundBytes != 0 && sound + soundBytes <= kLongestRiff + riff::kChunkHeaderBytes)
                return {sound + soundBytes, std::nullopt};
            return {0, sound};
        }
    }
    return {riffBytes > kLongestRiff ? 0 : riff::fileBytes(header), std::nullopt};
}

std::optional<std::uint64_t> WaveFileBounds::dataChunkAt(BoundedCursor& cursor, std::uint64_t riffStart,
                                                         std::uint64_t lastChunkAt,
                                                         const std::function<bool()>& stopped) {
    // The chunks from the header's on, to the data chunk.
    std::uint64_t at = riffStart + riff::kHeaderBytes;
    for (unsigned chunks = 0; at <= lastChunkAt; ++chunks) {
        const platform::ByteView header = cursor.at(at, riff::kChunkHeaderBytes);
        if (header.be32(0) == kData) return at;
        const std::optional<riff::Chunk> chunk = riff::chunkAt(header, at);
        if (chunks == kMostHeaderChunks || stopped() || !chunk) return std::nullopt;
        at = chunk->next;
    }
    return std::nullopt;
}
