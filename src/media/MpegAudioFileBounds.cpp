#include "media/MpegAudioFileBounds.h"

namespace {

// An APEv2 tag: a 32-byte header (its size leaves the header out), items
// and a 32-byte footer.
constexpr std::uint64_t kApeTag = 0x4150455441474558; // "APETAGEX"
constexpr std::uint64_t kApeHeaderBytes = 32;
constexpr std::uint32_t kApeIsHeader = 1u << 29;
constexpr std::uint64_t kLargestApeTag = 10485760;
constexpr std::uint64_t kId3v1Bytes = 128;

constexpr std::uint32_t kXing = 0x58696E67; // "Xing"
constexpr std::uint32_t kInfo = 0x496E666F; // "Info"
constexpr std::uint32_t kHasFrameCount = 1;
constexpr std::uint32_t kHasByteCount = 2;
constexpr std::uint64_t kFrameHeaderBytes = 4;
constexpr std::uint64_t kCrcBytes = 2;

} // namespace

std::uint64_t MpegAudioFileBounds::tagsAt(BoundedCursor& cursor, std::uint64_t at) {
    std::uint64_t n = at;
    const platform::ByteView ape = cursor.bytes(n, kApeHeaderBytes);
    if (ape.be64(0) == kApeTag && (ape.le32(20) & kApeIsHeader) != 0) {
        const std::uint64_t size = ape.le32(12);
        // The footer closes the tag where its header's size puts it.
        if (size < kApeHeaderBytes || size > kLargestApeTag || cursor.bytes(n + size, 8).be64(0) != kApeTag) return 0;
        n += kApeHeaderBytes + size;
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
