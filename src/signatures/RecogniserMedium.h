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
#include "walks/SteppedBodies.h"

#include <cstdint>
#include <optional>
#include <vector>

class FileStartProbe;
class Sig;
class Volume;

class RecogniserMedium final : public SectorSource {
public:
    // block: the candidate's first sector, counted from the search's sector
    // numbering (the volume's start plus blocksStartsAtSector). probe: the
    // search's lookup, offered the sectors a file's walk did not vouch for;
    // none: nothing is offered.
    RecogniserMedium(Volume& volume, std::uint64_t block, const Sig& sig, FileStartProbe* probe);

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

    // The answers a recogniser gives for a file it found. Each says how far
    // its walk read the file's structure (`structureEnd`, bytes from its
    // first: headers, records, directories, chunk heads that led on to the
    // next): the file is its own as far as that. A hit whose walk read
    // nothing past the header the search matched vouches for no file's start
    // (RecogniserDispatch::vouchesForStart): it is listed, and jumps over and
    // offers nothing. The bytes before the structure's end are the file's,
    // and a file stored in them (a photo in an archive, a movie's frame) is
    // its part. The sectors from there to the file's end (image strips after
    // its last directory, sound or picture data nothing leads past) nothing
    // vouches for: the start of each is offered to the search's lookup, and
    // the first where the search lists a file known to begin there cuts this
    // one there, marked.
    //
    // A file the search may jump over, its length cut to the readable bytes
    // (a hostile length would otherwise make the search leave the volume or
    // jump over files the user wants): as far as its structure, and, once
    // the lookup found no file in the sectors after it, to its end; never
    // past the first sector the walks read that the medium could not give (a
    // walk goes on past such zeros by searching for what comes next, which
    // may be another file's, and the search then finds that file at its own
    // sector). With no lookup set, only its structure is jumped over.
    void acceptJumpable(Sig& sig, std::uint64_t length, std::uint64_t structureEnd);
    // A file the search looks at again, not jumped over: its length is
    // nothing the search may rely on to pass over what follows (a length its
    // header claims and nothing else ties to its first sectors).
    void acceptListed(Sig& sig, std::uint64_t length, std::uint64_t structureEnd);
    // A file whose length is the walk's estimate or bound, not the file's
    // claim (a stream whose end nothing marks, the most its allocation table
    // can map, where the search finds the next file): listed to it, neither
    // jumped over nor cut by what lies past its structure.
    void acceptEstimated(Sig& sig, std::uint64_t length, std::uint64_t structureEnd);
    // A file whose walk broke off before the file's end (its end record
    // gone, bytes that are not its own where its next structure should
    // begin): its first `length` bytes, as far as the walk took them as the
    // file's (its first sector when none; no more than the readable bytes),
    // marked as cut and not jumped over, as what follows may be another
    // file's.
    void acceptCut(Sig& sig, std::uint64_t length, std::uint64_t structureEnd);
    // The sectors of the file (counted from its first) where parts of its
    // own begin that its structure points to (a TIFF's strips): a file the
    // lookup finds at one of them is that part, and cuts nothing. Asked
    // before the answer.
    void ownPartsBeginAt(std::vector<std::uint64_t> sectors);
    // The bodies its walk stepped over before the structure's end (a movie's
    // media data, an AVI file's frames): a sector that begins inside one, not
    // where a body or a part of the file's own begins, is offered to the
    // lookup as those past the structure are, the first such file cuts this
    // one there, and the search jumps no further than the first body when it
    // has no lookup. A file cut where its walk broke off is offered its
    // bodies too. Asked before the answer.
    void steppedOver(const SteppedBodies& bodies);
    // After an answer: the search jumps no further than `bytes` of the
    // file, whose walk showed the lookup the sectors past them itself.
    void jumpNoFurtherThan(Sig& sig, std::uint64_t bytes) const;
    // Whether the candidate's byte at `position` lies before the first
    // sector the walks read that the medium could not give: a walk's marks
    // of the places it walked hold only there, and past it the search looks
    // again.
    bool beforeLoss(std::uint64_t position) const { return bps_ != 0 && lost_.before(firstSector_ + position / bps_); }

    bool readSectors(std::uint64_t sector, std::uint32_t count, std::uint8_t* buffer) override;
    std::uint64_t unreadableSectorsIn(std::uint64_t sector, std::uint64_t count) const override;

private:
    enum class Take { Jump, List, Estimate, Cut };
    void take(Sig& sig, Take how, std::uint64_t length, std::uint64_t structureEnd);
    // The first of the file's sectors from `from` to below `end` where the
    // lookup finds a file known to begin; nothing when none, or no lookup
    // was set.
    std::optional<std::uint64_t> firstFileStartIn(std::uint64_t from, std::uint64_t end);

    Volume& volume_;
    FileStartProbe* probe_;
    std::uint32_t bps_;
    std::uint64_t block_;
    std::uint64_t firstSector_ = 0;
    std::uint64_t volumeSectors_ = 0;
    std::uint64_t bytesToEnd_ = 0;
    std::uint64_t readable_ = 0;
    FirstLostSector lost_;
    std::vector<std::uint64_t> ownSectors_;
    std::vector<SteppedBodies::Span> bodies_;
};
