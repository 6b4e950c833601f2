#pragma once

// The RIFF header that WAV, AVI, WebP and RIFF-wrapped MIDI files begin
// with: "RIFF", the little-endian length of what follows the first 8 bytes,
// and the form type; then the form's chunks, each an identifier, the
// little-endian length of its body and the body, padded to an even length.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

namespace riff {

constexpr std::uint32_t kMagic = 0x52494646; // "RIFF", read big-endian
// The header and the form type before the first chunk.
constexpr std::uint64_t kHeaderBytes = 12;
constexpr std::uint64_t kChunkHeaderBytes = 8;

inline bool isRiff(platform::ByteView header) {
    return header.be32(0) == kMagic;
}

// The whole file's length as the header gives it.
inline std::uint64_t fileBytes(platform::ByteView header) {
    return std::uint64_t{header.le32(4)} + 8;
}

// The whole file's length when the header's own length lies between
// minRiffBytes and just under 4 GiB (near 4 GiB is a damaged header), else 0.
inline std::uint64_t fileBytesWithin(platform::ByteView header, std::uint64_t minRiffBytes) {
    const std::uint64_t riffBytes = header.le32(4);
    return riffBytes < minRiffBytes || riffBytes > 0xFFFFFFF0 ? 0 : fileBytes(header);
}

// The chunk whose 8-byte header lies at `at`: its identifier (read
// big-endian) and where the chunk after it begins.
struct Chunk {
    std::uint32_t id = 0;
    std::uint64_t next = 0;
};

// The chunk `header` begins, at `at`; nothing when its identifier is not
// four characters from space to tilde, as every chunk's is.
inline std::optional<Chunk> chunkAt(platform::ByteView header, std::uint64_t at) {
    const std::uint32_t id = header.be32(0);
    for (unsigned shift = 0; shift < 32; shift += 8)
        if (const std::uint32_t c = id >> shift & 0xFF; c < 0x20 || c > 0x7E) return std::nullopt;
    const std::uint64_t length = header.le32(4);
    return Chunk{id, at + kChunkHeaderBytes + length + (length & 1)};
}

} // namespace riff
