#pragma once

// The walk of a JPEG image from its first scan's data on, which the plain
// search's recogniser and the carving's size calculator share: the
// entropy-coded data runs to the next marker, a segment (a table, a comment,
// the next scan's header) leads by its length to the marker after it, and
// the end marker ends the image. Baseline or not, only a restart marker, a
// stuffed 0xFF or a fill byte stands inside a scan's data: a marker no image
// holds after its first scan (a start of image, a reserved one), or a
// segment that no marker follows, is not the image's. Another file's bytes
// begin before it (a photo written over this one's later sectors, or
// whatever follows its first fragment), and the image is cut there. Zeros of
// sectors the medium could not give hold no marker: the walk goes on through
// them to the next.
//
// The data is looked through in windows of whole sectors, and a caller may
// be shown each sector whose start the walk passes: a file that holds no
// 0xFF byte (plain text, a document written without compression) reads as
// scan data, and only what its first sector begins with tells it apart.

#include "media/BoundedCursor.h"
#include "media/SectorSource.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <functional>
#include <optional>

class JpegScanWalk {
public:
    // Sectors looked through at once.
    static constexpr std::uint32_t kWindowSectors = 63;
    // A sector shown to the caller comes with at least this many bytes from
    // its start: a search reads a header of up to eight bytes as far as
    // 1,024 bytes into a sector.
    static constexpr std::uint32_t kShownBytes = 1032;
    // Fill bytes (0xFF) may stand before any marker, as many as a writer
    // likes: the walks and the header checks pass over them to the marker's
    // kind. A run longer than this is no writer's (an erased flash memory
    // reads as 0xFF throughout) and ends a walk as a byte that is no marker.
    static constexpr std::uint32_t kMostFillBytes = 1024;

    // The offset in `bytes` of the kind of the marker whose 0xFF lies at
    // `at`, past the fill bytes after that 0xFF; bytes.size() when they run
    // to the end of `bytes` or past kMostFillBytes.
    static std::size_t kindAfterFillBytes(platform::ByteView bytes, std::size_t at);
    // Whether the segment after an image's start marker is of a kind images
    // open with: an application segment (JFIF, Exif, an ICC profile, Ducky,
    // Adobe and the others), a comment, quantisation or Huffman tables.
    static bool opensImage(std::uint8_t kind);
    // Whether a marker of this kind begins a frame header (SOF0 to SOF15).
    // Three bytes and a kind images open with begin a sector of compressed
    // data by chance once in tens of gigabytes, with a first segment whose
    // length leads to no marker; a header walk that chained its segments to
    // the frame header has read what chance does not make.
    static bool isFrameHeader(std::uint8_t kind);

    struct End {
        // Past the end marker, or at the marker that cut the image.
        std::uint64_t position = 0;
        bool cut = false;
    };

    // The image whose first byte is the device sector `firstSector`, of
    // which `readableBytes` may be read from `source`; stopped() is asked
    // before each window.
    JpegScanWalk(SectorSource& source, std::uint32_t bytesPerSector, std::uint64_t firstSector,
                 std::uint64_t readableBytes, std::function<bool()> stopped);

    // The walk shows `look` every sector of the image whose start lies in
    // the data it looks through (not in a segment it steps over), in order,
    // with the bytes after it, until `look` answers true.
    void showSectors(std::function<bool(std::uint64_t fileSector, platform::ByteView bytes)> look) {
        look_ = std::move(look);
    }
    // Whether `look` answered true for a sector.
    bool sectorTaken() const { return taken_; }

    // From `position`, the first byte of the first scan's data: where the
    // image ends; nothing when no marker lies in the readable bytes or the
    // walk was stopped.
    std::optional<End> end(std::uint64_t position);
    // The bytes from the image's start that the walk looked through.
    std::uint64_t looked() const { return looked_; }

private:
    // Where the first 0xFF from `from` on lies whose next byte `takes`
    // accepts (the windows start at the sector `firstData_`); nothing when
    // none lies in the readable bytes.
    template <class Takes> std::optional<std::uint64_t> find(std::uint64_t from, Takes takes);
    // Shows `look` the sectors of the window at the file's sector `window`
    // whose start lies from `from` to below `to` bytes into it.
    void show(platform::ByteView bytes, std::uint64_t window, std::uint64_t from, std::uint64_t to);

    std::uint32_t bps_;
    std::uint32_t tail_;
    BoundedCursor data_;
    BoundedCursor fields_;
    std::function<bool()> stopped_;
    std::function<bool(std::uint64_t, platform::ByteView)> look_;
    bool taken_ = false;
    std::uint64_t firstData_ = 0;
    std::uint64_t nextShown_ = 0;
    std::uint64_t looked_ = 0;
};
