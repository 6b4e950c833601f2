#pragma once

// What one carving run shares with its size calculators: the reader of the
// device being carved, and the results a calculator leaves for the run to
// act on right after it measured a file (the JPEG preview found inside a
// camera raw file, whether to jump over the file, and whether it was cut). A
// run owns one; its calculators hold it by reference, so two runs (or two
// tests) never meet.

#include "media/BoundedCursor.h"
#include "sizecalc/ReadVolume.h"
#include "walks/SteppedBodies.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

class DMedia;
class SizeCalculatorChain;

class CarvingContext {
public:
    // The device whose sectors the calculators are given, numbered from its
    // first sector.
    explicit CarvingContext(DMedia& medium);

    ReadVolume& reader() { return reader_; }
    std::uint32_t bytesPerSector() const { return bytesPerSector_; }
    // The device sector after the carved volume's last (0: not known). What
    // lies beyond it belongs to another partition, or to nothing.
    std::uint64_t endSector() const { return endSector_; }
    // The user stopped the scan, or the device has gone: walks end with what
    // they measured.
    bool stopped() const;

    // A cursor for walks that step through a file by its offsets, reading
    // windows of a ReadWindow's size; put it on a file with startFile(sector,
    // bytesFrom(sector)).
    BoundedCursor fileCursor();
    // The bytes from the device sector to the carved volume's end: all that
    // follow when the end is not known.
    std::uint64_t bytesFrom(std::uint64_t sector) const;

    // The first device sector from `from` on, before `end`, where the run's
    // calculators find a file (one takes the sector and measures it): where
    // a file whose header gives no end stops. Nothing when none does, the run
    // has no chain of calculators, or they are looking already.
    std::optional<std::uint64_t> nextFileFrom(std::uint64_t from, std::uint64_t end);
    // The chain whose calculators nextFileFrom asks (none: nullptr).
    void setChain(SizeCalculatorChain* chain) { chain_ = chain; }
    SizeCalculatorChain* chain() const { return chain_; }

    // The JPEG preview inside the camera raw file measured last.
    struct RawJpeg {
        bool found = false;
        // The device sector holding its first byte, its length, and its
        // offset inside that sector.
        std::uint64_t sectorNumber = 0;
        std::uint64_t fileSize = 0;
        std::uint32_t extraBytes = 0;
    };
    RawJpeg rawJpeg;
    // The file measured last covers its sectors: the run jumps over them.
    bool skipCarvedFileBlocks = false;
    // The bytes from the file's first that its walk checked as its own,
    // where its measure runs on past them to an end it could not check (a
    // video stream's bytes after its last start code may be another file's,
    // whatever ends them): the jump ends there, and the sectors after them
    // are examined. Unset: the jump covers the whole measure.
    std::optional<std::uint64_t> checkedBytes;
    // The file measured last was cut by another file's bytes where its
    // length ends (before its margin): the run records it damaged.
    bool measuredCut = false;
    // The bytes of the file measured last that its walk could not tell from
    // another file's, in bytes from the file's start (both 0: none): the
    // scan data a photo's walk looked through, from where it begins to its
    // end marker, the marker that cut it, or as far as the walk looked for
    // one (it holds no marker before that end, yet a file that holds no 0xFF
    // byte may begin inside it); or what lies past the last structure a
    // walk read up to the file's end (a TIFF's strips after its last
    // directory, sound data); and the bodies the walk stepped over.
    // A file another calculator or a signature finds at a sector there,
    // known to begin there, was written over this one, and the run cuts it
    // there.
    struct Unvouched {
        std::uint64_t from = 0;
        std::uint64_t end = 0;
        // What a file cut there keeps past the cut (a photo, its margin).
        std::uint64_t cutMargin = 0;
        // The file's sectors (counted from its first) where parts of its own
        // begin that its structure points to (strips, a preview, a movie's
        // frames): a file found at one of them is that part, and cuts
        // nothing.
        std::vector<std::uint64_t> ownSectors;
        // The bodies its walk stepped over before `from` (SteppedBodies): a
        // file found at a sector inside one cuts it as well.
        std::vector<SteppedBodies::Span> bodies{};

        // Whether a file found at the sector that begins `at` bytes from the
        // file's start cuts it.
        bool cutsAt(std::uint64_t at, std::uint32_t bytesPerSector) const;
        // The bytes from the file's start up to which a file found may cut it.
        std::uint64_t reach() const;
    };
    Unvouched measuredUnvouched;
    // The file measured last was read no further than its first record, or
    // past it only by what chance makes as often (a JPEG whose first
    // segment's length leads to no marker, a lone chunk whose length leads
    // to no next one): compressed data begins sectors with such bytes
    // often enough. It vouches for no file's start: the run lists it, but
    // it cuts no file it lies in, is neither held open nor jumped over, and
    // ends no other file's walk.
    bool measuredOnHeaderAlone = false;
    // The sectors of the file measured last (counted from its first) where
    // a thumbnail its own metadata places begins (ExifThumbnail), among its
    // own sectors too: the run lists no file there.
    std::vector<std::uint64_t> thumbnails;

    // What the TIFF-family calculators learnt of the sector being offered:
    // the first of them to look classifies the header, and those after it
    // answer from these flags. Cleared after every sector.
    struct TiffClassification {
        bool littleEndianFormatFlag = false;
        bool bigEndianFormatFlag = false;
        bool cr2FormatFlag = false;
        bool crwFormatFlag = false;
        bool k25FormatFlag = false;
        bool kdcFormatFlag = false;
        bool dcrFormatFlag = false;
        bool leicaFormatFlag = false;
        bool nefFormatFlag = false;
        bool orfFormatFlag = false;
        bool pefFormatFlag = false;
        bool dngFormatFlag = false;
        bool panasonicFormatFlag = false;
        bool sr2FormatFlag = false;
        bool hasselbladFormatFlag = false;
        bool tiffFormatFlag = false;
        bool cameraTiffFormatFlag = false;
        bool canonTiffFormatFlag = false;
    };
    TiffClassification tiff;
    // Which TIFF-family calculators the run has, so that a later one knows
    // an earlier one has classified the sector already. Set once, when the
    // run makes its calculators.
    struct TiffFamilyInUse {
        bool arw = false, sr2 = false, kdc = false, k25 = false, dcr = false, pef = false, dng = false;
        bool cr2 = false, nef = false, tiff = false, orf = false, panasonic = false, leica = false;
        bool hasselblad = false;
    };
    TiffFamilyInUse tiffInUse;
    // Marks the TIFF-family calculator of a carving-table key in use.
    void markInUse(std::string_view key);

private:
    ReadVolume reader_;
    std::uint32_t bytesPerSector_;
    std::uint64_t endSector_;
    SizeCalculatorChain* chain_ = nullptr;
};
