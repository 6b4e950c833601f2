#include "sizecalc/GifFileCheck.h"

#include "sizecalc/CarvingContext.h"
#include "walks/SteppedBodies.h"

#include <algorithm>

namespace {
// Covers the bytes a complete file may still have behind its trailer.
constexpr std::uint64_t kMargin = 512;
// A walk that gets this far has left the file, which no animation reaches:
// blocks of nothing but 0xFF bytes, as an erased flash memory reads, never
// end. It is carved at kCappedSize.
constexpr std::uint64_t kWalkLimit = 268435456;
constexpr std::uint64_t kCappedSize = 5242880;
// How far sectors the medium could not give are looked past for the next
// sub-block.
constexpr std::uint64_t kLossReach = 5242880;
// Zero bytes in a row after which the file is taken to have ended.
constexpr std::uint32_t kLongestZeroRun = 2048;
// Anything shorter than this is not taken for a picture.
constexpr std::uint64_t kSmallestFile = 25;
// A data sub-block's size byte and its data.
constexpr std::uint64_t kLongestSubBlock = 256;

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
    if (offset < windowStart_ || offset - windowStart_ >= ReadWindow::kBytes) {
        const std::uint32_t bytesPerSector = context_.bytesPerSector();
        if (!window_.readAt(fileSector_ + offset / bytesPerSector)) return std::nullopt;
        windowStart_ = offset / bytesPerSector * bytesPerSector;
    }
    return window_.view().u8(offset - windowStart_);
}

bool GifFileCheck::lost(std::uint64_t offset) const {
    return window_.unreadable(fileSector_, offset, 1);
}

bool GifFileCheck::subBlocksReachABlock(std::uint64_t at) {
    std::uint64_t p = at;
    for (;;) {
        if (p >= kWalkLimit || context_.stopped()) return false;
        const auto size = byteAt(p);
        if (!size) return false;
        if (*size == 0) break;
        p += *size + 1;
    }
    if (window_.unreadable(fileSector_, p, 4)) return false;
    const auto b = byteAt(p + 1), label = byteAt(p + 2), first = byteAt(p + 3);
    if (!b || !label || !first) return false;
    if (*b == kTrailer) return true;
    // A graphic control, plain text, application or comment extension.
    if (*b == kExtension)
        return (*label == 0xF9 && *first == 4) || (*label == 0x01 && *first == 12) ||
               (*label == 0xFF && *first == 11) || (*label == 0xFE && *first != 0);
    if (*b != kImage || window_.unreadable(fileSector_, p + 1, 10)) return false;
    // An image descriptor, its colour table and a code size LZW allows.
    const auto packed = byteAt(p + 10);
    if (!packed) return false;
    const auto codeSize = byteAt(p + 11 + colourTableBytes(*packed));
    return codeSize && *codeSize >= 2 && *codeSize <= 8;
}

std::optional<std::uint64_t> GifFileCheck::subBlockAfterLoss(std::uint64_t at, std::uint64_t step) {
    // Sectors after which nothing was found are not looked past again.
    if (at < lostUntil_) return std::nullopt;
    const std::optional<std::uint64_t> from = window_.readableFrom(fileSector_, at, kLossReach);
    lostUntil_ = from.value_or(UINT64_MAX);
    if (!from) return std::nullopt;
    // Writers cut the data into sub-blocks of one length.
    if (step != 0)
        if (const std::uint64_t next = at + (*from - at + step - 1) / step * step; subBlocksReachABlock(next))
            return next;
    for (std::uint64_t next = *from; next < *from + kLongestSubBlock; ++next)
        if (subBlocksReachABlock(next)) return next;
    return std::nullopt;
}

void GifFileCheck::walkedBlock(std::uint64_t at) {
    if (!brokenAt_) std::rotate(recent_.begin(), recent_.begin() + 1, recent_.end()), recent_.back() = at;
}

void GifFileCheck::broken(std::uint64_t at) {
    const std::uint32_t bytesPerSector = context_.bytesPerSector();
    if (!brokenAt_ && bytesPerSector != 0 && context_.reader().lostSector().before(fileSector_ + at / bytesPerSector))
        brokenAt_ = recent_.front();
}

GifFileCheck::Walk GifFileCheck::subBlocks(std::uint64_t& p, bool evenLengths) {
    std::uint64_t step = 0;
    bool shortSeen = false;
    for (;;) {
        const auto size = byteAt(p + 1);
        if (!size) return Walk::ReadFailed;
        if (*size == 0 && lost(p + 1))
            if (const std::optional<std::uint64_t> next = subBlockAfterLoss(p + 1, step)) {
                p = *next - 1;
                shortSeen = false;
                continue;
            }
        if (*size == 0) {
            ++p;
            return Walk::Ended;
        }
        if (context_.stopped()) return Walk::On;
        if (shortSeen) broken(p + 1);
        shortSeen = evenLengths && (shortSeen || (step != 0 && *size + 1u != step));
        step = *size + 1;
        p += step;
        if (p >= kWalkLimit) return Walk::Limit;
    }
}

std::uint64_t GifFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    fileSector_ = sectorNumber;
    windowStart_ = 0;
    lostUntil_ = 0;
    std::uint64_t p = 13 + colourTableBytes(window_.view().u8(10));
    recent_.fill(p);
    brokenAt_.reset();
    std::uint32_t zeroRun = 0;
    // What the walk steps over by a length: the colour tables, and the data
    // of extensions and images by their sub-blocks' sizes.
    SteppedBodies bodies(context_.bytesPerSector());
    bodies.add(13, p);
    // The file measured to `end`: what it stepped over is its only by the
    // headers that size it, and the blocks from a few before the first sign
    // of another file's bytes not at all.
    const auto measured = [&](std::uint64_t end) {
        bodies.endAt(end);
        context_.measuredUnvouched = {std::min(end, brokenAt_.value_or(end)), end, 0, bodies.ownSectors(),
                                      bodies.spans()};
        return end;
    };
    // The sub-blocks after a block byte that could not be read, from p on;
    // false when there are none to go on with.
    Walk walk = Walk::Ended;
    const auto goOnAfterLoss = [&](std::uint64_t at) {
        const std::optional<std::uint64_t> next = subBlockAfterLoss(at, 0);
        if (!next) return false;
        p = *next - 1;
        zeroRun = 0;
        walk = subBlocks(p, false);
        return true;
    };
    auto b = byteAt(p);
    if (!b) return 0;
    while (*b != kTrailer && !context_.stopped()) {
        if (walk == Walk::Limit || p >= kWalkLimit) return kCappedSize;
        if (walk == Walk::ReadFailed) return 0;
        b = byteAt(p);
        if (!b) return 0;
        // Zeros of a sector that could not be read are no block's end.
        if (*b == 0 && lost(p) && goOnAfterLoss(p)) continue;
        if (*b == 0) {
            // The terminator of the block before, or padding behind the file.
            ++p;
            if (++zeroRun > kLongestZeroRun) return measured(p);
        } else if (*b == kExtension) {
            // The label, then data sub-blocks up to their terminator, however
            // many: an XMP packet or an ICC profile takes hundreds.
            zeroRun = 0;
            walkedBlock(p);
            ++p;
            const std::uint64_t data = p + 1;
            walk = subBlocks(p, false);
            bodies.add(data, p);
            if (walk == Walk::On) break;
        } else if (*b == kImage) {
            zeroRun = 0;
            const auto packed = byteAt(p + 9);
            if (!packed) return 0;
            if (window_.unreadable(fileSector_, p, 10) && goOnAfterLoss(p + 9)) continue;
            walkedBlock(p);
            const std::uint64_t colours = p + 10;
            p = colours + colourTableBytes(*packed);
            bodies.add(colours, p);
            // p is on the LZW code size, then on the last byte of each data
            // sub-block; the byte behind it sizes the next one.
            if (const auto codeSize = byteAt(p); codeSize && (*codeSize < 2 || *codeSize > 8)) broken(p);
            const std::uint64_t data = p + 1;
            walk = subBlocks(p, true);
            bodies.add(data, p);
            if (walk == Walk::On) break;
        } else {
            break;
        }
    }
    if (walk == Walk::Limit) return kCappedSize;
    if (walk == Walk::ReadFailed) return 0;
    if (*b == kTrailer) ++p;
    if (p < kSmallestFile) return 0;
    // Bytes that are no block where the next should begin: the file's end
    // is not known.
    const bool cut = *b != kTrailer && walk != Walk::On && !context_.stopped();
    if (cut) broken(p);
    context_.measuredCut = cut;
    return measured(p) + kMargin;
}
