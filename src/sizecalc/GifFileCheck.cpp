#include "sizecalc/GifFileCheck.h"

#include "sizecalc/CarvingContext.h"

namespace {
// Covers the bytes a complete file may still have behind its trailer.
constexpr std::uint64_t kMargin = 512;
// A walk that gets this far has lost the file; it is carved at this size.
constexpr std::uint64_t kSizeLimit = 5242880;
// Zero bytes in a row after which the file is taken to have ended.
constexpr std::uint32_t kLongestZeroRun = 2048;
// Anything shorter than this is not taken for a picture.
constexpr std::uint64_t kSmallestFile = 25;

constexpr std::uint8_t kTrailer = ';';
constexpr std::uint8_t kExtension = '!';
constexpr std::uint8_t kImage = ',';

// Bytes of a colour table whose flags byte is this.
std::uint64_t colourTableBytes(std::uint8_t flags) {
    return (flags & 0x80) ? 3ull << ((flags & 7) + 1) : 0;
}
} // namespace

GifFileCheck::GifFileCheck(CarvingContext& context) : SizeCalculator("gif", context), window_(context) {}

bool GifFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return leading.be32(0) == 0x47494638 // "GIF8"
           && (leading.u8(4) == '7' || leading.u8(4) == '9') && leading.u8(5) == 'a';
}

std::optional<std::uint8_t> GifFileCheck::byteAt(std::uint64_t offset) {
    if (offset >> 16 != windowBlock_) {
        const std::uint32_t bytesPerSector = context_.bytesPerSector();
        if (!window_.readAt(fileSector_ + offset / bytesPerSector)) return std::nullopt;
        windowBlock_ = offset >> 16;
        windowStart_ = offset / bytesPerSector * bytesPerSector;
    }
    return window_.view().u8(offset - windowStart_);
}

std::uint64_t GifFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    fileSector_ = sectorNumber;
    windowBlock_ = 0;
    windowStart_ = 0;
    std::uint64_t p = 13 + colourTableBytes(window_.view().u8(10));
    std::uint32_t zeroRun = 0;
    auto b = byteAt(p);
    if (!b) return 0;
    while (*b != kTrailer && !context_.stopped()) {
        if (p >= kSizeLimit) return kSizeLimit;
        b = byteAt(p);
        if (!b) return 0;
        if (*b == 0) {
            // The terminator of the block before, or padding behind the file.
            ++p;
            if (++zeroRun > kLongestZeroRun) return p;
        } else if (*b == kExtension) {
            // Only two data sub-blocks are stepped over; an extension with
            // more leaves the walk on its third sub-block's size, which as a
            // rule is no block byte and ends it.
            zeroRun = 0;
            p += 2;
            const auto first = byteAt(p);
            if (!first) return 0;
            p += *first + 1;
            const auto second = byteAt(p);
            if (!second) return 0;
            if (*second != 0) p += *second + 1;
        } else if (*b == kImage) {
            zeroRun = 0;
            const auto packed = byteAt(p + 9);
            if (!packed) return 0;
            p += 10 + colourTableBytes(*packed);
            // p is on the LZW code size, then on the last byte of each data
            // sub-block; the byte behind it sizes the next one.
            for (;;) {
                const auto size = byteAt(p + 1);
                if (!size) return 0;
                if (*size == 0) {
                    ++p;
                    break;
                }
                if (context_.stopped()) break;
                p += *size + 1;
                if (p >= kSizeLimit) return kSizeLimit;
            }
        } else {
            break;
        }
    }
    if (*b == kTrailer) ++p;
    return p < kSmallestFile ? 0 : p + kMargin;
}
