#pragma once

// What one recogniser call reads: the candidate file on the scanned medium,
// counted in bytes and sectors from its first sector. The medium is
// untrusted, so every walk over it is bounded here once: nothing past the
// volume's end is read, and nothing past the type's size limit (the most the
// user wants recovered of such a file) when it has one. A read that fails,
// or that would cross those bounds, answers false; a walk ends there with
// what it has, as it would at a zero field.

#include "platform/ByteView.h"

#include <cstdint>
#include <vector>

class Sig;
class Volume;

class RecogniserMedium {
public:
    // block: the candidate's first sector, counted from the search's sector
    // numbering (the volume's start plus blocksStartsAtSector).
    RecogniserMedium(Volume& volume, std::uint64_t block, const Sig& sig);

    Volume& volume() const { return volume_; }
    std::uint32_t bytesPerSector() const { return bps_; }
    // The candidate's first sector as the search numbers it, and on the
    // device.
    std::uint64_t block() const { return block_; }
    std::uint64_t firstSector() const { return firstSector_; }
    // Sectors of the volume as the search numbers them (totalBlocks x
    // blockSize).
    std::uint64_t volumeSectors() const { return volumeSectors_; }
    // The bytes of the candidate that may be read: to the volume's end, and
    // to the size limit when the type has one.
    std::uint64_t readableBytes() const { return readable_; }
    bool stopped() const;

    // `count` sectors from the candidate's sector `fileSector` into `buffer`,
    // resized to count x bytes per sector and zero-filled first. Sectors past
    // the readable bytes stay zero. False (and nothing read) when the first
    // sector lies past them or the read fails.
    bool read(std::uint64_t fileSector, std::uint32_t count, std::vector<std::uint8_t>& buffer);

    // The answer for a file the search jumps over: its length, cut to the
    // readable bytes (a hostile length would otherwise make the search leave
    // the volume or jump over files the user wants), and the sectors it
    // covers.
    void acceptJumpable(Sig& sig, std::uint64_t length) const;

private:
    Volume& volume_;
    std::uint32_t bps_;
    std::uint64_t block_;
    std::uint64_t firstSector_ = 0;
    std::uint64_t volumeSectors_ = 0;
    std::uint64_t readable_ = 0;
};

// The bytes of the candidate by position, through a window of whole sectors
// that is read again only when a field lies outside it: the walks of the
// recognisers step through a file field by field, mostly inside one sector.
class RecogniserCursor {
public:
    // windowSectors: sectors read at once (at least 1).
    explicit RecogniserCursor(RecogniserMedium& medium, std::uint32_t windowSectors = 2);

    // Whether the `length` bytes at `position` can be read.
    bool readable(std::uint64_t position, std::size_t length);
    // Exactly the `length` bytes at `position`, a field that crosses a sector
    // end included; an empty view when they cannot be read. The view lasts
    // until the next call.
    platform::ByteView at(std::uint64_t position, std::size_t length);

private:
    RecogniserMedium& medium_;
    std::uint32_t windowSectors_;
    std::vector<std::uint8_t> window_;
    std::uint64_t windowStart_ = 0; // byte position of window_[0]
    bool loaded_ = false;
};
