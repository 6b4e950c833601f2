#pragma once

// The walk that measures a JPEG stream on the device: its marker segments
// are followed up to the start of scan, then the entropy-coded data is
// looked through for the end-of-image marker. A carved JPEG's is walked by
// its markers as the plain search walks it (JpegScanWalk): a marker that
// cannot stand inside scan data ends it, cut. The JPEG a Canon TIFF carries
// and the previews of raw files are looked through for the end marker
// alone. A thumbnail inside an APP1 segment is jumped over with its segment,
// and fill bytes before a marker are passed over.

#include "media/BoundedCursor.h"
#include "sizecalc/ReadWindow.h"

#include <cstdint>
#include <optional>

class CarvingContext;

class JpegStreamWalk {
public:
    // Bytes a complete stream may still have behind its end marker.
    static constexpr std::uint64_t kMargin = 512;
    // A walk that gets this far has lost the stream; it is carved at a
    // fixed size.
    static constexpr std::uint64_t kWalkLimit = 26214400;
    static constexpr std::uint64_t kCappedSize = 5242880;
    // How far a carved JPEG's scan data is looked through for its end
    // marker: further than any photo reaches (the finest of a 100 MP camera,
    // a panorama or a scan takes tens of MiB). One whose end marker lies
    // nowhere in them is measured that far and left marked.
    static constexpr std::uint64_t kScanReach = 268435456;

    // How a walk ends. The defaults measure a Canon TIFF's JPEG, and a
    // carved one with its scan data walked by markers; the previews of the
    // Pentax-family raw files are measured without a margin, their length
    // answered at their cap, and their segments followed whatever comes
    // after one.
    struct Rules {
        std::uint64_t margin = kMargin;
        std::uint64_t walkLimit = kWalkLimit;
        // Past the limit: the length reached, or kCappedSize.
        bool limitAnswersLength = false;
        // A segment length of 0 steps over 2 bytes (else over none).
        bool zeroLengthIsTwo = true;
        // A segment not followed by a marker ends the walk.
        bool missingMarkerEnds = true;
        // The scan data is walked by its markers, and one that cannot stand
        // there ends the stream, cut (else only an end marker ends it).
        bool scanByMarkers = false;
    };

    explicit JpegStreamWalk(CarvingContext& context);

    // The stream whose start-of-image marker lies `offset` bytes into the
    // device sector (offset below a sector): its length with the margin
    // when its end marker is found, the length up to a segment not followed
    // by a marker, kCappedSize past the walk limit (or once only the zeros
    // past the volume's end are left), the length so far when the run
    // stops, 0 when no start-of-image marker is there or a read fails.
    std::uint64_t length(std::uint64_t sector, std::uint32_t offset);
    std::uint64_t length(std::uint64_t sector, std::uint32_t offset, const Rules& rules);
    // Whether the stream length() measured last is not known whole: another
    // file's bytes cut it where its length ends, before its margin (by rules
    // that walk the scan data by markers), a segment ran into bytes that are
    // no marker, or no end marker was found within the walk's limit.
    bool cut() const { return cut_; }
    // Whether that stream broke off in its header segments before they
    // chained to its frame header (JpegScanWalk::isFrameHeader): nothing of
    // it was read that chance does not make.
    bool brokeBeforeFrame() const { return brokeBeforeFrame_; }
    // The scan data the walk of the stream measured last looked through, by
    // rules that walk it by markers: from where its first scan's data begins
    // to its end marker, the marker that cut it, or as far as the walk looked
    // for one; in bytes from its start-of-image marker, both 0 when the walk
    // reached no scan.
    std::uint64_t scanFrom() const { return scanFrom_; }
    std::uint64_t scanTo() const { return scanTo_; }
    // The data of the first APP1 segment of that stream that holds an EXIF
    // block, and its length (0: none), in bytes from its start-of-image
    // marker.
    std::uint64_t exifFrom() const { return exifFrom_; }
    std::uint64_t exifLength() const { return exifLength_; }

private:
    // The marker `p` bytes into the device sector `sector` lies in a sector
    // the medium could not give: the offset from that sector of the next
    // marker after it whose segment another marker follows (or a scan's
    // start); nothing when none lies within a segment's reach.
    std::optional<std::uint64_t> markerAfterLoss(std::uint64_t sector, std::uint64_t p);
    // The length of the stream `offset` bytes into the device sector
    // `first`, whose scan data begins `position` bytes from that sector's
    // start, walked by its markers.
    std::uint64_t scanLength(std::uint64_t first, std::uint32_t offset, std::uint64_t position, const Rules& rules);

    CarvingContext& context_;
    ReadWindow window_;
    // Looks for a marker past sectors that could not be read.
    BoundedCursor ahead_;
    bool cut_ = false;
    bool brokeBeforeFrame_ = false;
    std::uint64_t scanFrom_ = 0;
    std::uint64_t scanTo_ = 0;
    std::uint64_t exifFrom_ = 0;
    std::uint64_t exifLength_ = 0;
};
