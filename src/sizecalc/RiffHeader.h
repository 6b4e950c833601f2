#pragma once

// The RIFF header that WAV, AVI and RIFF-wrapped MIDI files begin with:
// "RIFF", the little-endian length of what follows the first 8 bytes, and
// the form type.

#include "platform/ByteView.h"

#include <cstdint>

namespace riff {

constexpr std::uint32_t kMagic = 0x52494646; // "RIFF", read big-endian

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

} // namespace riff
