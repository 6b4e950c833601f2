#pragma once

// The bytes of one file on the medium by their position in the file, never
// read past the file's bound (the end of the volume it lies in, and a size
// limit where the caller has one): the one reader of the carved-format
// recognisers and size calculators. A window of whole sectors is read at the
// sector that holds what is asked for and read again only when a request
// lies outside it, so walks that step through a file field by field cost one
// read a window.
//
// One convention for what cannot be had: past the bound the medium reads as
// zeros (nothing is read there), and a read that failed answers an empty view
// (which reads as zeros through ByteView, and ends a walk as a zero field
// would). A field that must lie inside the file (at()) is empty past the
// bound too. Views last until the next call.

#include "media/SectorSource.h"
#include "platform/AlignedBuffer.h"
#include "platform/ByteView.h"

#include <cstddef>
#include <cstdint>
#include <optional>

class BoundedCursor {
public:
    // The file whose first sector is the device sector `firstSector`, of
    // which `readableBytes` may be read. windowSectors: sectors read at once
    // (at least 1). slackBytes: zero bytes kept behind the window, so that a
    // look a few bytes past a view that ends with the window stays in memory.
    BoundedCursor(SectorSource& source, std::uint32_t bytesPerSector, std::uint64_t firstSector,
                  std::uint64_t readableBytes, std::uint32_t windowSectors = 2, std::size_t slackBytes = 0);

    // Starts on another file of the same medium; nothing is read.
    void startFile(std::uint64_t firstSector, std::uint64_t readableBytes);

    std::uint32_t bytesPerSector() const { return bps_; }
    std::uint64_t firstSector() const { return firstSector_; }
    std::uint64_t readableBytes() const { return readable_; }

    // Whether the file's sector holds readable bytes.
    bool holdsSector(std::uint64_t fileSector) const { return fileSector < readableSectors_; }
    // Whether the `length` bytes at `position` lie inside the bound.
    bool readable(std::uint64_t position, std::size_t length) const {
        return position <= readable_ && length <= readable_ - position;
    }
    // The `length` bytes at `position`, a field that crosses a sector end
    // included; those past the bound are zeros. Empty when the read failed.
    platform::ByteView bytes(std::uint64_t position, std::size_t length);
    // Exactly the `length` bytes at `position` when they lie inside the
    // bound and could be read; else empty.
    platform::ByteView at(std::uint64_t position, std::size_t length) {
        return readable(position, length) ? bytes(position, length) : platform::ByteView();
    }
    // `count` whole sectors from the file's sector `fileSector`, as bytes().
    platform::ByteView sectors(std::uint64_t fileSector, std::uint32_t count);

    // A sector the medium could not give reads as zeros too, but those zeros
    // are the file's data lost, not its end or a field of no value: a walk
    // that meets them goes on past them where its format lets it.
    // Whether any of the `length` bytes at `position`, inside the bound, lies
    // in such a sector (one read already).
    bool unreadable(std::uint64_t position, std::size_t length) const;
    // The first position from `position` on that lies in a sector that was
    // read; nothing when the sectors that could not be read run on for more
    // than `reach` bytes, or to the bound.
    std::optional<std::uint64_t> readableFrom(std::uint64_t position, std::uint64_t reach) const;

    // A byte-by-byte search for four bytes that mark a structure: the four
    // bytes at every offset from `first` to `last`, in order, go to
    // match(offset, asBigEndian, asLittleEndian) until it answers true. The
    // file is read window after window; a candidate that straddles two is
    // seen whole, as the bytes are carried from one window to the next.
    // stopped() is asked before each window.
    enum class Search {
        Matched,
        // Nothing matched up to `last`, or the bound came first (nothing but
        // zeros would follow).
        Exhausted,
        Stopped,
        ReadFailed,
    };
    struct Found {
        Search end;
        // The offset of the four bytes matched.
        std::uint64_t offset = 0;
    };
    template <class Match, class Stopped>
    Found findFourBytes(std::uint64_t first, std::uint64_t last, Match&& match, Stopped&& stopped);

private:
    // Makes the window hold `count` sectors from the file's sector `sector`.
    bool cover(std::uint64_t sector, std::uint64_t count);
    // Every sector the cursor shows comes through here. The sources read a
    // failed range again in smaller groups and show the sectors that stay
    // unreadable as zeros; one that serves what a batch in hand already
    // holds would take its place here and change no caller.
    bool fetch(std::uint64_t fileSector, std::uint32_t count, std::uint8_t* into);

    SectorSource& source_;
    std::uint32_t bps_;
    std::uint64_t firstSector_ = 0;
    std::uint64_t readable_ = 0;
    // The sectors that hold readable bytes (the last one whole).
    std::uint64_t readableSectors_ = 0;
    std::uint32_t windowSectors_;
    std::size_t slack_;
    // Page-aligned: the kernel copies into it at full speed.
    platform::AlignedBuffer window_;
    // The file sector window_ starts at and the sectors it holds.
    std::uint64_t windowSector_ = 0;
    std::uint64_t windowCount_ = 0;
    bool loaded_ = false;
};

template <class Match, class Stopped>
BoundedCursor::Found BoundedCursor::findFourBytes(std::uint64_t first, std::uint64_t last, Match&& match,
                                                  Stopped&& stopped) {
    if (last < first) return {Search::Exhausted};
    if (bps_ == 0) return {Search::ReadFailed};
    const std::uint64_t held = std::uint64_t{windowSectors_} * bps_;
    platform::ByteView window;
    std::uint64_t base = 0;
    // Nothing when the window holding `offset` is in hand.
    const auto load = [&](std::uint64_t offset) -> std::optional<Search> {
        if (stopped()) return Search::Stopped;
        const std::uint64_t sector = offset / bps_;
        if (sector >= readableSectors_) return Search::Exhausted;
        window = sectors(sector, windowSectors_);
        base = sector * bps_;
        if (window.empty()) return Search::ReadFailed;
        return std::nullopt;
    };
    if (const auto end = load(first)) return {*end};
    std::uint32_t big = 0;
    std::uint32_t little = 0;
    for (std::uint64_t b = first;; ++b) {
        if (b - base >= held)
            if (const auto end = load(b)) return {*end};
        const std::uint32_t byte = window.data()[b - base];
        big = big << 8 | byte;
        little = little >> 8 | byte << 24;
        if (b - first < 3) continue;
        if (match(b - 3, big, little)) return {Search::Matched, b - 3};
        if (b - 3 == last) return {Search::Exhausted};
    }
}
