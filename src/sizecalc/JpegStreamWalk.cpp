#include "sizecalc/JpegStreamWalk.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"
#include "walks/JpegScanWalk.h"

#include <algorithm>
#include <cstring>

namespace {

// The longest segment with its marker.
constexpr std::uint64_t kSegmentReach = 65537;
// An APP1 segment's kind, and the word an EXIF block in it begins with.
constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint32_t kExif = 0x45786966; // "Exif"

// Where in the `count` bytes from `bytes` an end-of-image marker starts
// (its second byte may be the one after them), or `count` for nowhere.
std::uint64_t endMarkerIn(const std::uint8_t* bytes, std::uint64_t count) {
    for (std::uint64_t at = 0; at < count;) {
        const void* ff = std::memchr(bytes + at, 0xFF, count - at);
        if (!ff) break;
        at = static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(ff) - bytes);
        if (bytes[at + 1] == 0xD9) return at;
        ++at;
    }
    return count;
}

} // namespace

JpegStreamWalk::JpegStreamWalk(CarvingContext& context)
    : context_(context), window_(context), ahead_(context.fileCursor()) {}

std::optional<std::uint64_t> JpegStreamWalk::markerAfterLoss(std::uint64_t sector, std::uint64_t p) {
    const std::optional<std::uint64_t> from = window_.readableFrom(sector, p + 3, kWalkLimit);
    if (!from) return std::nullopt;
    ahead_.startFile(sector, context_.bytesFrom(sector));
    BoundedCursor next = context_.fileCursor();
    next.startFile(sector, context_.bytesFrom(sector));
    const BoundedCursor::Found found = ahead_.findFourBytes(
        *from, *from + kSegmentReach,
        [&](std::uint64_t at, std::uint32_t marker, std::uint32_t) {
            const std::uint32_t kind = marker >> 16 & 0xFF, length = marker & 0xFFFF;
            if (marker >> 24 != 0xFF || kind < 0xC0 || kind == 0xFF || (kind >= 0xD0 && kind <= 0xD9) || length < 2)
                return false;
            return kind == 0xDA || next.bytes(at + 2 + length, 1).u8(0) == 0xFF;
        },
        [&] { return context_.stopped(); });
    if (found.end != BoundedCursor::Search::Matched) return std::nullopt;
    return found.offset;
}

std::uint64_t JpegStreamWalk::length(std::uint64_t sector, std::uint32_t offset) {
    return length(sector, offset, Rules{});
}

std::uint64_t JpegStreamWalk::scanLength(std::uint64_t first, std::uint32_t offset, std::uint64_t position,
                                         const Rules& rules) {
    // As far as the walk limit lets the stream reach, never past the carved
    // volume.
    const std::uint64_t reach =
        std::min(context_.bytesFrom(first), platform::saturatingAdd(std::uint64_t{offset} + rules.walkLimit, 2));
    JpegScanWalk walk(context_.reader(), context_.bytesPerSector(), first, reach, [&] { return context_.stopped(); });
    const std::optional<JpegScanWalk::End> end = walk.end(position);
    scanFrom_ = position - offset;
    if (end) {
        cut_ = end->cut;
        scanTo_ = end->position - offset;
        return scanTo_ + rules.margin;
    }
    const std::uint64_t looked = std::max(walk.looked(), position) - offset;
    scanTo_ = looked;
    if (context_.stopped()) return looked;
    // No end marker where the walk could read: all it looked through may be
    // the stream's, but that the stream ends there is not known.
    cut_ = true;
    return rules.limitAnswersLength ? looked : kCappedSize;
}

std::uint64_t JpegStreamWalk::length(std::uint64_t sector, std::uint32_t offset, const Rules& rules) {
    cut_ = brokeBeforeFrame_ = false;
    scanFrom_ = scanTo_ = 0;
    exifFrom_ = exifLength_ = 0;
    const std::uint32_t bytesPerSector = context_.bytesPerSector();
    if (bytesPerSector == 0 || offset >= bytesPerSector || !window_.readAt(sector)) return 0;
    if (window_.view().be16(offset) != 0xFFD8) return 0;
    const std::uint64_t first = sector;
    // Where the scan data begins, from the start of the sector `first`.
    std::uint64_t scanData = 0;
    // p: offset in the window; n: bytes of the stream measured so far.
    std::uint64_t p = std::uint64_t{offset} + 2;
    std::uint64_t n = 2;
    // From the 0xFF at p over the fill bytes after it, to the last 0xFF
    // before the marker's kind (or the last one passed over, when there are
    // more than any writer puts); false when a read failed.
    const auto passFillBytes = [&] {
        for (std::uint32_t fills = 0; window_.view().u8(p + 1) == 0xFF && fills < JpegScanWalk::kMostFillBytes;
             ++fills) {
            ++p;
            ++n;
            if (p + 4 > ReadWindow::kBytes) {
                sector += p / bytesPerSector;
                p %= bytesPerSector;
                if (!window_.readAt(sector)) return false;
            }
        }
        return true;
    };
    if (!passFillBytes()) return 0;
    p += 2;
    n += 2;
    bool inScan = false;
    bool broken = false;
    bool frameSeen = false;
    for (;;) {
        if (broken) cut_ = true;
        brokeBeforeFrame_ = broken && !frameSeen;
        if (context_.stopped() || broken) return n;
        if (!inScan) {
            std::uint64_t length = window_.view().be16(p);
            // p is on the length field, the marker's kind before it: an EXIF
            // block's segment may place a thumbnail in its data.
            if (window_.view().u8(p - 1) == kApp1 && exifLength_ == 0 && length > 8 &&
                window_.view().be32(p + 2) == kExif) {
                exifFrom_ = n + 2;
                exifLength_ = length - 2;
            }
            if (length == 0 && rules.zeroLengthIsTwo) length = 2;
            n += length + 2;
            p += length;
            // The marker and the next segment's length must both lie in the
            // window, or the zeros behind it would end the walk early.
            if (p + 4 > ReadWindow::kBytes) {
                sector += p / bytesPerSector;
                p %= bytesPerSector;
                if (!window_.readAt(sector)) return 0;
            }
            // A marker in a sector the medium could not give reads as zeros,
            // but the stream goes on: at the next marker after it, or, when
            // none follows within reach, in the scan whose end marker is
            // looked for from there.
            bool lost = false;
            if ((window_.view().u8(p) != 0xFF || window_.view().be16(p + 2) == 0) && window_.unreadable(sector, p, 4)) {
                const std::optional<std::uint64_t> next = markerAfterLoss(sector, p);
                const std::optional<std::uint64_t> readable =
                    next ? next : window_.readableFrom(sector, p, rules.walkLimit);
                if (readable) {
                    // n counts to the byte after the marker; in the scan, to p.
                    n += *readable - p - (next ? 0 : 2);
                    sector += *readable / bytesPerSector;
                    p = *readable % bytesPerSector;
                    if (!window_.readAt(sector)) return 0;
                    lost = inScan = !next;
                    scanData = (sector - first) * bytesPerSector + p;
                }
            }
            if (!lost) {
                if (window_.view().u8(p) == 0xFF && !passFillBytes()) return 0;
                const platform::ByteView w = window_.view();
                if (w.u8(p) == 0xFF && w.u8(p + 1) == 0xDA) {
                    inScan = true;
                    scanData = (sector - first) * bytesPerSector + p + 2 + w.be16(p + 2);
                }
                // Neither a stuffed zero nor more fill bytes than any writer
                // puts make a marker.
                const std::uint8_t kind = w.u8(p + 1);
                if ((w.u8(p) != 0xFF || kind == 0x00 || kind == 0xFF) && rules.missingMarkerEnds) broken = true;
                frameSeen = frameSeen || (w.u8(p) == 0xFF && JpegScanWalk::isFrameHeader(kind));
                p += 2;
            }
        } else if (rules.scanByMarkers) {
            return scanLength(first, offset, scanData, rules);
        } else {
            // An end marker split between two windows is still seen.
            if (p + 2 > ReadWindow::kBytes) {
                sector += p / bytesPerSector;
                p %= bytesPerSector;
                if (!window_.readAt(sector)) return 0;
                // Nothing but zeros from here: the walk would run to its
                // limit without an end marker.
                if (window_.beyondVolume()) {
                    cut_ = true;
                    return rules.limitAnswersLength ? rules.walkLimit + 1 : kCappedSize;
                }
            }
            // The rest of the window is looked through at once, as far as
            // the walk limit lets the walk reach: byte by byte, with the stop
            // asked at each, the entropy-coded data was most of a carving's
            // time. The stop is asked again before the next window.
            const std::uint64_t reach = std::min<std::uint64_t>(ReadWindow::kBytes - 1 - p, rules.walkLimit - n + 1);
            if (const std::uint64_t at = endMarkerIn(window_.data() + p, reach); at < reach)
                return n + at + 2 + rules.margin;
            n += reach;
            p += reach;
        }
        if (n > rules.walkLimit) {
            cut_ = true;
            return rules.limitAnswersLength ? n : kCappedSize;
        }
    }
}
