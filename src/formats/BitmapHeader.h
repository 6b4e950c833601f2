#pragma once

// The two headers a BMP file begins with: the 14-byte file header ("BM",
// the file's length, two reserved words, the offset of the pixels) and the
// info header after it, whose first field is its own length. "BM" and four
// zeros begin sectors of sparse data often enough; an info header of a
// length some writer uses, of one colour plane and a bit count, behind
// which the pixels begin, they do not.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

namespace bmp {

constexpr std::uint64_t kFileHeaderBytes = 14;
// The file header and the longest info header's fields read here.
constexpr std::uint64_t kHeadBytes = kFileHeaderBytes + 16;

// Where the info header of the BMP whose first bytes (kHeadBytes at least)
// are `head` ends, from the file's first byte; nothing when no info header
// follows the file header.
inline std::optional<std::uint64_t> infoHeaderEnd(platform::ByteView head) {
    if (head.size() < kHeadBytes) return std::nullopt;
    const std::uint32_t length = head.le32(kFileHeaderBytes);
    // The core header of OS/2 and the first Windows; then the versions
    // that added bit fields, colour spaces and profiles.
    const bool known =
        length == 12 || length == 40 || length == 52 || length == 56 || length == 64 || length == 108 || length == 124;
    if (!known) return std::nullopt;
    const std::size_t planesAt = length == 12 ? 22 : 26;
    const std::uint16_t planes = head.le16(planesAt), bits = head.le16(planesAt + 2);
    const bool bitCount = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    const std::uint64_t end = kFileHeaderBytes + length;
    if (planes != 1 || !bitCount || head.le32(10) < end) return std::nullopt;
    return end;
}

} // namespace bmp
