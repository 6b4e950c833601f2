#include "walks/MpegAudioFileBounds.h"

#include <string_view>

namespace {

// An APE tag: a 32-byte header (its size leaves the header out), items and
// a 32-byte footer whose size counts the items and itself. The header may
// be missing: APEv1 has none, and APEv2 lets a tagger leave it out.
constexpr std::uint64_t kApeTag = 0x4150455441474558; // "APETAGEX"
constexpr std::uint64_t kApeHeaderBytes = 32;
constexpr std::uint32_t kApeIsHeader = 1u << 29;
constexpr std::uint64_t kLargestApeTag = 10485760;
// An item: the value's length, flags, a key of printable ASCII closed by a
// zero byte, the value.
constexpr std::uint64_t kApeItemHeaderBytes = 8;
constexpr std::size_t kShortestApeKey = 2;
constexpr std::size_t kLongestApeKey = 255;
// A Lyrics3 v2 tag: "LYRICSBEGIN", fields (a three-letter name, the data's
// length in five digits, the data), the length of all that in six digits,
// and "LYRICS200".
constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";
constexpr std::string_view kLyricsEnd = "LYRICS200";
constexpr std::size_t kLyricsFieldHeaderBytes = 8;
constexpr std::size_t kLyricsSizeDigits = 6;
constexpr std::uint64_t kLargestLyricsTag = 999999;
constexpr std::uint64_t kId3v1Bytes = 128;

constexpr std::uint32_t kXing = 0x58696E67; // "Xing"
constexpr std::uint32_t kInfo = 0x496E666F; // "Info"
constexpr std::uint32_t kHasFrameCount = 1;
constexpr std::uint32_t kHasByteCount = 2;
constexpr std::uint64_t kFrameHeaderBytes = 4;
constexpr std::uint64_t kCrcBytes = 2;

// The number that `count` ASCII digits at `at` write; nothing when one is no digit.
std::optional<std::uint64_t> digits(platform::ByteView bytes, std::size_t at, std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t c = bytes.u8(at + i);
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The length of an APE tag whose header opens it at `at`: its footer must
// lie where the header's size puts it.
std::uint64_t apeTagWithHeader(BoundedCursor& cursor, std::uint64_t at) {
    const platform::ByteView header = cursor.bytes(at, kApeHeaderBytes);
    if (header.be64(0) != kApeTag || (header.le32(20) & kApeIsHeader) == 0) return 0;
    const std::uint64_t size = header.le32(12);
    if (size < kApeHeaderBytes || size > kLargestApeTag || cursor.bytes(at + size, 8).be64(0) != kApeTag) return 0;
    return kApeHeaderBytes + size;
}

// The length of an APE tag without a header whose first item begins at
// `at`: nothing tells where its footer lies but its items, walked one by
// one to it; the footer's size and count must be those of the items walked.
std::uint64_t apeTagWithoutHeader(BoundedCursor& cursor, std::uint64_t at) {
    std::uint64_t n = at;
    for (std::uint64_t items = 0; n - at <= kLargestApeTag; ++items) {
        const platform::ByteView item = cursor.bytes(n, kApeItemHeaderBytes + kLongestApeKey + 1);
        if (item.empty()) return 0;
        if (item.be64(0) == kApeTag) {
            const std::uint64_t size = item.le32(12);
            const bool footer = (item.le32(20) & kApeIsHeader) == 0;
            return footer && size == n - at + kApeHeaderBytes && item.le32(16) == items ? size : 0;
        }
        std::size_t key = 0;
        for (; key <= kLongestApeKey; ++key) {
            const std::uint8_t c = item.u8(kApeItemHeaderBytes + key);
            if (c == 0) break;
            if (c < 0x20 || c > 0x7E) return 0;
        }
        if (key < kShortestApeKey || key > kLongestApeKey) return 0;
        n += kApeItemHeaderBytes + key + 1 + item.le32(0);
    }
    return 0;
}

std::uint64_t apeTag(BoundedCursor& cursor, std::uint64_t at) {
    const std::uint64_t withHeader = apeTagWithHeader(cursor, at);
    return withHeader != 0 ? withHeader : apeTagWithoutHeader(cursor, at);
}

// The length of a Lyrics3 v2 tag at `at`, walked field by field to the
// size that closes it; 0 when none lies there.
std::uint64_t lyrics3Tag(BoundedCursor& cursor, std::uint64_t at) {
    if (!cursor.bytes(at, kLyricsBegin.size()).spells(0, kLyricsBegin)) return 0;
    std::uint64_t n = at + kLyricsBegin.size();
    while (n - at <= kLargestLyricsTag) {
        const platform::ByteView field = cursor.bytes(n, kLyricsSizeDigits + kLyricsEnd.size());
        if (field.empty()) return 0;
        if (digits(field, 0, kLyricsSizeDigits) == n - at && field.spells(kLyricsSizeDigits, kLyricsEnd))
            return n - at + kLyricsSizeDigits + kLyricsEnd.size();
        for (std::size_t i = 0; i < 3; ++i)
            if (field.u8(i) < 'A' || field.u8(i) > 'Z') return 0;
        const std::optional<std::uint64_t> length = digits(field, 3, 5);
        if (!length) return 0;
        n += kLyricsFieldHeaderBytes + *length;
    }
    return 0;
}

} // namespace

std::uint64_t MpegAudioFileBounds::tagsAt(BoundedCursor& cursor, std::uint64_t at) {
    std::uint64_t n = at;
    // Taggers differ on which of the two goes first; each comes once.
    bool ape = false;
    bool lyrics = false;
    for (bool more = true; more;) {
        more = false;
        if (!ape)
            if (const std::uint64_t tag = apeTag(cursor, n)) {
                n += tag;
                ape = more = true;
            }
        if (!lyrics)
            if (const std::uint64_t tag = lyrics3Tag(cursor, n)) {
                n += tag;
                lyrics = more = true;
            }
    }
    if (const platform::ByteView v1 = cursor.bytes(n, 3); v1.u8(0) == 'T' && v1.u8(1) == 'A' && v1.u8(2) == 'G')
        n += kId3v1Bytes;
    return n - at;
}

std::optional<std::uint64_t> MpegAudioFileBounds::headerFrameBytes(BoundedCursor& cursor, std::uint64_t at,
                                                                   std::uint32_t header) {
    // The header follows the frame's side information, whose length its
    // version and channels set; encoders differ on whether a CRC before it
    // moves it on.
    const bool mpeg1 = (header >> 19 & 3) == 3;
    const bool mono = (header >> 6 & 3) == 3;
    const bool crc = (header >> 16 & 1) == 0;
    const std::uint64_t sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    for (const std::uint64_t skip : {std::uint64_t{0}, kCrcBytes}) {
        if (skip != 0 && !crc) break;
        const platform::ByteView tag = cursor.bytes(at + kFrameHeaderBytes + sideInfo + skip, 16);
        if (tag.be32(0) != kXing && tag.be32(0) != kInfo) continue;
        const std::uint32_t flags = tag.be32(4);
        if ((flags & kHasByteCount) == 0) return 0;
        return tag.be32((flags & kHasFrameCount) != 0 ? 12 : 8);
    }
    return std::nullopt;
}
