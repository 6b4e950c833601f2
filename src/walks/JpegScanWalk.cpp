#include "walks/JpegScanWalk.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Whether the byte after an 0xFF in a JPEG's entropy-coded data makes a
// marker that ends the data: a zero stands for a stuffed 0xFF, a restart
// marker is part of the data, and an 0xFF is a fill byte before a marker.
bool endsScanData(std::uint8_t next) {
    return next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7);
}

// The sectors read after a window's own, so that a marker across its end is
// seen and its last sector is shown with kShownBytes.
std::uint32_t tailSectors(std::uint32_t bps) {
    return bps == 0 ? 1 : std::max<std::uint32_t>(1, (JpegScanWalk::kShownBytes + bps - 1) / bps - 1);
}

} // namespace

JpegScanWalk::JpegScanWalk(SectorSource& source, std::uint32_t bytesPerSector, std::uint64_t firstSector,
                           std::uint64_t readableBytes, std::function<bool()> stopped)
    : bps_(bytesPerSector), tail_(tailSectors(bytesPerSector)),
      data_(source, bytesPerSector, firstSector, readableBytes, kWindowSectors + tail_),
      fields_(source, bytesPerSector, firstSector, readableBytes, 1), stopped_(std::move(stopped)) {}

std::size_t JpegScanWalk::kindAfterFillBytes(platform::ByteView bytes, std::size_t at) {
    std::size_t kind = at + 1;
    for (; kind < bytes.size() && bytes.u8(kind) == 0xFF; ++kind)
        if (kind - at > kMostFillBytes) return bytes.size();
    return std::min(kind, bytes.size());
}

bool JpegScanWalk::opensImage(std::uint8_t kind) {
    return (kind >= 0xE0 && kind <= 0xEF) || kind == 0xFE || kind == 0xDB || kind == 0xC4;
}

bool JpegScanWalk::isFrameHeader(std::uint8_t kind) {
    return kind >= 0xC0 && kind <= 0xCF && kind != 0xC4 && kind != 0xC8 && kind != 0xCC;
}

template <class Takes> std::optional<std::uint64_t> JpegScanWalk::find(std::uint64_t from, Takes takes) {
    const std::size_t searched = std::size_t{kWindowSectors} * bps_;
    const std::uint64_t fromSector = std::max(from / bps_, firstData_);
    for (std::uint64_t at = firstData_ + (fromSector - firstData_) / kWindowSectors * kWindowSectors; !stopped_();
         at += kWindowSectors) {
        // The last window reaches the bound and reads as zeros past it: a
        // file that ends in the volume's last sectors is still found whole.
        if (!data_.holdsSector(at)) break;
        const platform::ByteView window = data_.sectors(at, kWindowSectors + tail_);
        if (window.empty()) break;
        const std::uint8_t* bytes = window.data();
        const std::size_t start = from > at * bps_ ? static_cast<std::size_t>(from - at * bps_) : 0;
        std::size_t o = start;
        for (; o < searched; ++o) {
            const void* ff = std::memchr(bytes + o, 0xFF, searched - o);
            if (!ff) {
                o = searched;
                break;
            }
            o = static_cast<std::size_t>(static_cast<const std::uint8_t*>(ff) - bytes);
            if (takes(bytes[o + 1])) break;
        }
        looked_ = std::max(looked_, std::min(at * bps_ + o, data_.readableBytes()));
        if (look_ && !taken_) show(window, at, start, o);
        if (o < searched) return at * bps_ + o;
    }
    return std::nullopt;
}

void JpegScanWalk::show(platform::ByteView bytes, std::uint64_t window, std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t s = std::max(nextShown_, window + (from + bps_ - 1) / bps_);
         (s - window) * bps_ < to && data_.holdsSector(s); ++s) {
        nextShown_ = s + 1;
        if (look_(s, bytes.sub(static_cast<std::size_t>((s - window) * bps_)))) {
            taken_ = true;
            return;
        }
    }
}

std::optional<JpegScanWalk::End> JpegScanWalk::end(std::uint64_t position) {
    if (bps_ == 0) return std::nullopt;
    firstData_ = nextShown_ = position / bps_;
    // Every marker moves the walk on by two bytes or more, through windows
    // that end.
    for (;;) {
        const std::optional<std::uint64_t> marker = find(position, endsScanData);
        if (!marker) return std::nullopt;
        const platform::ByteView segment = fields_.bytes(*marker, 4);
        const std::uint8_t kind = segment.u8(1);
        if (kind == 0xD9) return End{*marker + 2, false};
        if (fields_.unreadable(*marker + 2, 2)) {
            position = *marker + 2;
            continue;
        }
        const std::uint16_t length = segment.be16(2);
        if (kind < 0xC0 || kind == 0xD8 || length < 2) return End{*marker, true};
        position = *marker + 2 + length;
        if (kind != 0xDA && fields_.bytes(position, 1).u8(0) != 0xFF && !fields_.unreadable(position, 1))
            return End{*marker, true};
    }
}
