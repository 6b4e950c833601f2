#pragma once

// A byte-by-byte search of a file on the device for four bytes that mark a
// structure (a directory's tag, a trailer that points back at its table).
// The file is read window after window; a candidate whose bytes straddle
// two windows is seen whole, as the four bytes are carried over from one
// window to the next rather than read at a position in either.

#include "sizecalc/ReadWindow.h"

#include <cstdint>
#include <optional>

class CarvingContext;

class FourByteScan {
public:
    enum class End {
        Matched,
        // Nothing matched up to the last offset, or the volume ended first
        // (nothing but zeros would follow).
        Exhausted,
        Stopped,
        ReadFailed,
    };

    FourByteScan(CarvingContext& context, ReadWindow& window);

    // Offers the four bytes at every file offset from `first` to `last` of
    // the file that begins at the device sector, in order, to
    // match(offset, asBigEndian, asLittleEndian) until it answers true. The
    // run being stopped is noticed at each window.
    template <class Match> End run(std::uint64_t fileSector, std::uint64_t first, std::uint64_t last, Match&& match);
    // The offset of the four bytes matched.
    std::uint64_t offset() const { return offset_; }

private:
    std::optional<End> load(std::uint64_t fileSector, std::uint64_t offset);

    CarvingContext& context_;
    ReadWindow& window_;
    // The file offset of the window's first byte and how many it holds.
    std::uint64_t base_ = 0;
    std::uint64_t held_ = 0;
    std::uint64_t offset_ = 0;
};

template <class Match>
FourByteScan::End FourByteScan::run(std::uint64_t fileSector, std::uint64_t first, std::uint64_t last, Match&& match) {
    if (last < first) return End::Exhausted;
    if (auto end = load(fileSector, first)) return *end;
    std::uint32_t big = 0;
    std::uint32_t little = 0;
    for (std::uint64_t b = first;; ++b) {
        if (b - base_ >= held_)
            if (auto end = load(fileSector, b)) return *end;
        const std::uint32_t byte = window_.data()[b - base_];
        big = big << 8 | byte;
        little = little >> 8 | byte << 24;
        if (b - first < 3) continue;
        offset_ = b - 3;
        if (match(offset_, big, little)) return End::Matched;
        if (offset_ == last) return End::Exhausted;
    }
}
