#pragma once

// The directory walk of the TIFF family, which the plain search's TIFF and
// camera-raw recognisers and the carving's TIFF size calculator share. It
// reads the chain of image file directories from the header's first
// position, then the directories the entries of those it read point to (the
// SubIFDs of tag 330, and in a TIFF the EXIF, GPS and interoperability
// directories), tests each with the member's directory test (the first
// directory failing refuses the candidate), and measures the file as the
// furthest byte of those directories and of what they point to: their
// out-of-line values, the end of their last strip or tile and of their JPEG
// interchange stream. A file ends there, whatever order its parts lie in:
// libtiff writes a page's directory behind its image data, a tag editor
// writes every directory first and the pages' data after them, last page
// first, and a DNG-like file keeps its full-size image in a SubIFD behind a
// preview.
//
// The chains come from the medium, so they are bounded: a position already
// visited is not read again, and at most kMostDirectories directories and
// as many SubIFD positions are read. A walk that cannot complete is broken,
// and measures the directories read before: one that leads to a directory
// in bytes that are not the file's (failing its test, or of no entries),
// past the candidate's readable bytes, or in a sector the medium could not
// give, or that meets a value list it needs in such a sector, or a SubIFD
// list it cannot read, or reaches the bound; so is a file measured past its
// readable bytes. One walk serves one candidate.

#include "media/BoundedCursor.h"
#include "media/SectorSource.h"
#include "platform/ByteView.h"
#include "walks/Tiff_IFD.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

class TiffDirectoryWalk {
public:
    enum class ByteOrder {
        FromHeader,   // "MM\0*" big-endian; "II*\0", and any other header, little-endian
        LittleEndian, // whatever the header says
        BigEndian
    };
    struct Rules {
        ByteOrder byteOrder = ByteOrder::FromHeader;
        bool (*directoryTest)(const Tiff_IFD&) = nullptr;
        // A first directory of more entries refuses the candidate.
        std::uint32_t mostFirstEntries = 50;
        // Walk the chains that SubIFDs entries (tag 330) name: the raw
        // formats that keep their full-size image there, and TIFF.
        bool followSubIFDs = false;
        // Walk the EXIF, GPS and interoperability directories.
        bool followExifDirectories = false;
    };

    // A scanned document or a fax holds a directory a page.
    static constexpr std::size_t kMostDirectories = 65536;
    // The entry count that a read of four 512-byte sectors always holds,
    // wherever in its first sector a directory starts.
    static constexpr std::uint32_t kMostEntries = 127;

    // The candidate whose first byte is the device sector `firstSector`, of
    // which `readableBytes` may be read from `source`; stopped() is asked
    // before each directory. `headerAt`: where the TIFF header lies in the
    // file, for a TIFF inside another file (an EXIF block), whose offsets
    // count from its header; the lengths the walk answers count from there
    // too, the part sectors from the file's first.
    TiffDirectoryWalk(SectorSource& source, std::uint32_t bytesPerSector, std::uint64_t firstSector,
                      std::uint64_t readableBytes, std::function<bool()> stopped, const Rules& rules,
                      std::uint64_t headerAt = 0);

    // Walks from the first directory position in the header (`head`: the
    // candidate's first bytes) and answers the length; 0 when the position
    // is odd, the first directory fails its test, has more entries than the
    // rules allow or cannot be read, or the directories point nowhere.
    std::uint64_t measure(platform::ByteView head);
    // Whether a directory of the walk holds a NewSubfileType entry (254).
    bool sawNewSubfileType() const { return newSubfileType_; }
    // Whether the measured walk could not complete.
    bool broken() const { return broken_; }
    // How far the structure the walk read reaches, from the file's first
    // byte: its header, the directories it read and the value lists it read
    // of them. What lies past it up to the length (a tag editor's image data
    // behind every directory) no read structure leads past.
    std::uint64_t structureEnd() const { return structureEnd_; }
    // The file's sectors where a strip, a tile or the JPEG interchange
    // stream of a directory read begins, in the order found (at most
    // kMostPartStarts are read): the file's own parts.
    const std::vector<std::uint64_t>& partSectors() const { return partSectors_; }

    // Strip and tile offsets read to find where the file's parts begin.
    static constexpr std::size_t kMostPartStarts = 1 << 20;

private:
    // Refused: a directory in bytes that are not the file's; Ended: one
    // that cannot be had.
    enum class Step { Accepted, Refused, Ended };

    // The furthest end of the directories read; 0 when the first is refused
    // or cannot be had.
    std::uint64_t walk(std::uint64_t position);
    Step readDirectory(std::uint64_t position, Tiff_IFD& ifd, std::uint32_t mostEntries);
    // Queues the directories the accepted directory's entries point to.
    void queuePointers(const Tiff_IFD& ifd);
    void queueSubIFDs(const Tiff_DE::Record& de);
    void queue(std::uint64_t position);
    // The next directory queued; 0 when none is left.
    std::uint64_t nextChain();
    std::uint64_t directoryEnd(const Tiff_IFD& ifd);
    std::uint64_t lastValue(const Tiff_DE::Record& de);
    // Notes the parts whose offsets the entry (strips, tiles) holds that
    // begin a sector.
    void notePartStarts(const Tiff_DE::Record& de);
    void notePartStart(std::uint64_t offset);
    // The walk read the bytes up to `end` as the file's structure.
    void noteRead(std::uint64_t end) { structureEnd_ = std::max(structureEnd_, end); }
    std::uint16_t u16(platform::ByteView bytes, std::size_t offset) const;
    std::uint32_t u32(platform::ByteView bytes, std::size_t offset) const;

    std::uint32_t bps_;
    // The header's place in the file, and the bytes from it that may be
    // read.
    std::uint64_t base_;
    std::uint64_t readable_;
    std::function<bool()> stopped_;
    Rules rules_;
    // Values and SubIFDs lists; the directories being read.
    BoundedCursor values_;
    BoundedCursor directoryReads_;
    bool bigEndian_ = false;
    bool broken_ = false;
    // Every directory read lies on a word boundary.
    bool wordAligned_ = true;
    // Positions walked or queued, and those queued in the order found.
    std::unordered_set<std::uint64_t> seen_;
    std::vector<std::uint64_t> pending_;
    std::size_t nextPending_ = 0;
    std::size_t listed_ = 0;
    bool newSubfileType_ = false;
    std::uint64_t structureEnd_ = 0;
    std::vector<std::uint64_t> partSectors_;
    std::size_t partStartsRead_ = 0;
};
