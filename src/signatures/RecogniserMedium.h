#pragma once

// What one recogniser call reads: the candidate file on the scanned medium,
// counted in bytes and sectors from its first sector. The medium is
// untrusted, so every walk over it is bounded here once: the cursors it
// hands out read nothing past the volume's end, and nothing past the type's
// size limit (the most the user wants recovered of such a file) when it has
// one. Their reads go through the volume's scan range reader, where a sector
// that cannot be read reads as zeros, and take what the search holds in
// memory from there.

#include "media/BoundedCursor.h"
#include "media/FirstLostSector.h"
#include "media/SectorSource.h"

#include <cstdint>

class Sig;
class Volume;

class RecogniserMedium final : public SectorSource {
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
    // blockSize), never past the end of the volume's partition.
    std::uint64_t volumeSectors() const { return volumeSectors_; }
    // The bytes from the candidate's first sector to the volume's end, its
    // last sector whole: the most a file found here can be.
    std::uint64_t bytesToVolumeEnd() const { return bytesToEnd_; }
    // The bytes of the candidate that may be read: to the volume's end, and
    // to the size limit when the type has one.
    std::uint64_t readableBytes() const { return readable_; }
    bool stopped() const;

    // A cursor over the candidate's readable bytes that reads `windowSectors`
    // sectors at once; it reads through this medium, which must outlast it.
    BoundedCursor cursor(std::uint32_t windowSectors = 2) {
        return BoundedCursor(*this, bps_, firstSector_, readable_, windowSectors);
    }

    // The answer for a file the search jumps over: its length, cut to the
    // readable bytes (a hostile length would otherwise make the search leave
    // the volume or jump over files the user wants), and the sectors it
    // covers up to the first the walks read that the medium could not give:
    // a walk goes on past such zeros by searching for what comes next, which
    // may be another file's, and the search then finds that file at its own
    // sector.
    void acceptJumpable(Sig& sig, std::uint64_t length) const { acceptJumpable(sig, length, length); }
    // The same for a file whose walk checked only its first `checked` bytes
    // as its own (chunks whose checksums held, headers that led to the next
    // one): a length read from fields nothing could check (an end record
    // found further on, an atom's stated size) stays the file's, but what
    // lies past the checked bytes may be another file's, cut into this
    // one's first fragment, and the search looks at it again.
    void acceptJumpable(Sig& sig, std::uint64_t length, std::uint64_t checked) const;
    // The answer for a file whose walk broke off before the file's end (its
    // end record gone, bytes that are not its own where its next structure
    // should begin): its first `length` bytes, as far as the walk took them
    // as the file's (its first sector when none), marked as cut and not
    // jumped over, as what follows may be another file's.
    void acceptCut(Sig& sig, std::uint64_t length) const;
    // Whether the candidate's byte at `position` lies before the first
    // sector the walks read that the medium could not give: a walk's marks
    // of the places it walked hold only there, and past it the search looks
    // again.
    bool beforeLoss(std::uint64_t position) const { return bps_ != 0 && lost_.before(firstSector_ + position / bps_); }

    bool readSectors(std::uint64_t sector, std::uint32_t count, std::uint8_t* buffer) override;
    std::uint64_t unreadableSectorsIn(std::uint64_t sector, std::uint64_t count) const override;

private:
    Volume& volume_;
    std::uint32_t bps_;
    std::uint64_t block_;
    std::uint64_t firstSector_ = 0;
    std::uint64_t volumeSectors_ = 0;
    std::uint64_t bytesToEnd_ = 0;
    std::uint64_t readable_ = 0;
    FirstLostSector lost_;
};
