#include "signatures/ImageRecognisers.h"

#include "formats/BitmapHeader.h"
#include "formats/RiffHeader.h"
#include "platform/ByteView.h"
#include "platform/Crc32.h"
#include "signatures/FileStartProbe.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "walks/ExifThumbnail.h"
#include "walks/JpegScanWalk.h"
#include "walks/SteppedBodies.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kWebP = 0x57454250;      // "WEBP"
constexpr std::uint32_t kExifChunk = 0x45584946; // "EXIF"

// A GIF colour table's length from the packed byte of the descriptor it
// follows: none unless bit 7 is set, else 3 x 2^(N+1) bytes.
std::uint64_t gifColourTableBytes(std::uint8_t packed) {
    return (packed & 0x80) != 0 ? std::uint64_t{3} << ((packed & 7) + 1) : 0;
}

// How far past sectors the medium could not give the next PNG chunk is
// looked for: a chunk whose header was lost may be long.
constexpr std::uint64_t kPngChunkReach = 1048576;
// The longest JPEG segment with its marker.
constexpr std::uint64_t kJpegSegmentReach = 65537;
// A GIF data sub-block: its size byte and up to 255 bytes.
constexpr std::uint64_t kGifLongestSubBlock = 256;

constexpr std::uint32_t kIEND = 0x49454E44;
// A JPEG's APP1 segment, and the word its EXIF block begins with.
constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint32_t kExif = 0x45786966; // "Exif"
// An SGI image's header; its unused bytes after the colour-map field are zero.
constexpr std::size_t kSgiHeaderBytes = 512;
constexpr std::size_t kSgiUnusedFrom = 108;
// An icon or cursor file: a 6-byte directory head (reserved 0, type 1 for
// an icon or 2 for a cursor, entry count), then a 16-byte entry an image.
constexpr std::size_t kIconHeadBytes = 6;
constexpr std::size_t kIconEntryBytes = 16;
// An icon's image is a PNG file or a device-independent bitmap with the
// 40-byte info header.
constexpr std::uint64_t kPngSignature = 0x89504E470D0A1A0A;
constexpr std::uint32_t kBitmapInfoHeaderBytes = 40;

bool isBitCount(std::uint32_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// A JPEG segment's marker at `position` lies in a sector the medium could
// not give: the next marker after it, one whose segment another marker
// follows (or a scan's start); nothing when none lies within a segment's
// reach.
std::optional<std::uint64_t> jpegMarkerAfterLoss(RecogniserMedium& medium, BoundedCursor& cursor,
                                                 std::uint64_t position) {
    const std::optional<std::uint64_t> from = cursor.readableFrom(position + 3, medium.readableBytes());
    if (!from) return std::nullopt;
    BoundedCursor ahead = medium.cursor(2);
    const BoundedCursor::Found found = cursor.findFourBytes(
        *from, *from + kJpegSegmentReach,
        [&](std::uint64_t at, std::uint32_t marker, std::uint32_t) {
            const std::uint32_t kind = marker >> 16 & 0xFF, length = marker & 0xFFFF;
            if (marker >> 24 != 0xFF || kind < 0xC0 || kind == 0xFF || (kind >= 0xD0 && kind <= 0xD9) || length < 2)
                return false;
            return kind == 0xDA || ahead.at(at + 2 + length, 1).u8(0) == 0xFF;
        },
        [&] { return medium.stopped(); });
    if (found.end != BoundedCursor::Search::Matched) return std::nullopt;
    return found.offset;
}

// The first of the file's sectors from `from` to below `end` that begins as
// a JPEG file does, other than those where a part of its own begins (`own`,
// in order); `end` when none does.
std::uint64_t firstSectorStartingAJpeg(RecogniserMedium& medium, std::uint64_t from, std::uint64_t end,
                                       const std::vector<std::uint64_t>& own = {}) {
    BoundedCursor cursor = medium.cursor(JpegScanWalk::kWindowSectors);
    for (std::uint64_t sector = from; sector < end && cursor.holdsSector(sector); ++sector) {
        if (std::binary_search(own.begin(), own.end(), sector)) continue;
        const platform::ByteView head = cursor.bytes(sector * medium.bytesPerSector(), 3);
        if (head.size() == 3 && head.u8(0) == 0xFF && head.u8(1) == 0xD8 && head.u8(2) == 0xFF) return sector;
    }
    return end;
}

// The chunk header at `position` lies in a sector the medium could not give:
// the next chunk of a standard type after it; nothing when none lies within
// reach.
std::optional<std::uint64_t> pngChunkAfterLoss(RecogniserMedium& medium, BoundedCursor& cursor,
                                               std::uint64_t position) {
    static constexpr std::array<std::uint32_t, 18> kStandardChunks = {
        0x49444154, 0x49484452, 0x49454E44, 0x504C5445, 0x6348524D, 0x67414D41, 0x69434350, 0x73424954, 0x73524742,
        0x624B4744, 0x68495354, 0x74524E53, 0x70485973, 0x73504C54, 0x74494D45, 0x69545874, 0x74455874, 0x7A545874};
    const std::optional<std::uint64_t> from = cursor.readableFrom(position + 7, medium.readableBytes());
    if (!from) return std::nullopt;
    BoundedCursor lengths = medium.cursor();
    const BoundedCursor::Found type = cursor.findFourBytes(
        *from + 4, *from + 4 + kPngChunkReach,
        [&](std::uint64_t at, std::uint32_t name, std::uint32_t) {
            return std::find(kStandardChunks.begin(), kStandardChunks.end(), name) != kStandardChunks.end() &&
                   lengths.at(at - 4, 4).be32(0) <= 0x7FFFFFFF;
        },
        [&] { return medium.stopped(); });
    if (type.end != BoundedCursor::Search::Matched) return std::nullopt;
    return type.offset - 4;
}

// A chunk's CRC is checked over windows of this many sectors.
constexpr std::uint32_t kPngCrcStep = 128;

// Whether the CRC after the chunk at `position`, whose data holds `length`
// bytes, is that of its type and data. A chunk over a sector the medium
// could not give cannot be checked: it is taken as the file's, as the
// search jumps no further than that sector anyway.
bool pngChunkCrcHolds(BoundedCursor& cursor, std::uint64_t position, std::uint32_t length) {
    const std::uint64_t bps = cursor.bytesPerSector();
    const std::uint64_t first = position + 4, end = first + 4 + std::uint64_t{length};
    if (bps == 0 || !cursor.readable(first, end + 4 - first)) return false;
    if (cursor.unreadable(first, end + 4 - first)) return true;
    std::uint32_t crc = 0;
    for (std::uint64_t at = first; at < end;) {
        const std::uint64_t sector = at / bps;
        const platform::ByteView window = cursor.sectors(sector, kPngCrcStep);
        if (window.empty()) return false;
        const std::uint64_t from = at - sector * bps;
        const std::uint64_t take = std::min<std::uint64_t>(window.size() - from, end - at);
        crc = platform::crc32(window.sub(static_cast<std::size_t>(from), static_cast<std::size_t>(take)), crc);
        at += take;
    }
    return cursor.at(end, 4).be32(0) == crc;
}

} // namespace

bool ImageRecognisers::checkJPGFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(1);
    const platform::ByteView first = cursor.at(0, 6);
    if (first.empty() || first.u8(2) != 0xFF) return false;
    // Fill bytes may stand between the start marker and the first segment's.
    const platform::ByteView sector = cursor.bytes(0, medium.bytesPerSector());
    const std::size_t kind = JpegScanWalk::kindAfterFillBytes(sector, 2);
    if (kind >= sector.size() || sector.u8(kind) == 0x00) return false;
    const std::optional<JPEGScanStart> scan = walkJPEGSegments(medium, kind - 1);
    if (!scan) return false;
    // A JPEG whose end is not known, as far as its walk took it as the
    // image's: it is listed to there, marked, and not jumped over, as what
    // follows may be another file's. Its header is structure only where the
    // segments chained to the frame header.
    if (scan->broken)
        medium.acceptCut(sig, scan->position, scan->frameSeen ? scan->position : 0);
    else
        measureJPEG(medium, *scan, sig);
    return true;
}

std::optional<ImageRecognisers::JPEGScanStart> ImageRecognisers::walkJPEGSegments(RecogniserMedium& medium,
                                                                                  std::uint64_t position) {
    BoundedCursor cursor = medium.cursor(1);
    JPEGScanStart scan;
    const platform::ByteView first = cursor.at(position, 4);
    const std::uint8_t firstKind = first.u8(1);
    std::uint32_t length = first.be16(2);
    bool scanSeen = false;
    bool markerFollowed = false;
    // The segment at `at`, of `kind` and `bytes` long with its length field:
    // an EXIF block, where its data says so, may place a thumbnail in it.
    const auto noteExif = [&](std::uint64_t at, std::uint8_t kind, std::uint32_t bytes) {
        if (kind == kApp1 && scan.exifLength == 0 && bytes > 8 && cursor.at(at + 4, 4).be32(0) == kExif) {
            scan.exifAt = at + 4;
            scan.exifLength = bytes - 2;
        }
    };
    noteExif(position, firstKind, length);
    // Past the readable bytes a marker reads as zeros, as an unread buffer
    // would: a zero length ends the walk, and before the first scan a zero
    // marker breaks it.
    while (length != 0 && !medium.stopped()) {
        position += length + 2;
        platform::ByteView marker = cursor.at(position, 4);
        // A marker in a sector the medium could not give reads as zeros too,
        // but the file goes on: the walk goes on at the next marker after it,
        // or, when none follows within reach, the image's end is looked for
        // from there.
        if ((marker.u8(0) != 0xFF || marker.u8(1) == 0x00 || marker.u8(1) == 0xFF || marker.be16(2) == 0) &&
            cursor.unreadable(position, 4)) {
            const std::optional<std::uint64_t> next = jpegMarkerAfterLoss(medium, cursor, position);
            if (!next) {
                scan.position = std::min(cursor.readableFrom(position, medium.readableBytes()).value_or(position),
                                         medium.readableBytes());
                return scan;
            }
            position = *next;
            marker = cursor.at(position, 4);
        }
        for (std::uint32_t fills = 0;
             marker.u8(0) == 0xFF && marker.u8(1) == 0xFF && fills < JpegScanWalk::kMostFillBytes; ++fills)
            marker = cursor.at(++position, 4);
        const std::uint8_t kind = marker.u8(1);
        const bool isMarker = marker.u8(0) == 0xFF;
        length = marker.be16(2);
        if (isMarker && kind == 0xDA) scanSeen = true;
        if (isMarker && JpegScanWalk::isFrameHeader(kind)) scan.frameSeen = true;
        if (isMarker) noteExif(position, kind, length);
        // A segment that ran into bytes that are no marker: the image is
        // known up to there, once a segment before led to a marker or the
        // first is of a kind images open with (three bytes of random data
        // and any other kind look like a JPEG's start).
        if (!scanSeen && (!isMarker || kind == 0x00 || kind == 0xFF)) {
            if (!markerFollowed && !JpegScanWalk::opensImage(firstKind)) return std::nullopt;
            scan.position = position;
            scan.broken = true;
            return scan;
        }
        markerFollowed = true;
        // The scan data holds no length fields: it is walked by the markers
        // that end it.
        if (scanSeen) {
            position += length + 2;
            break;
        }
    }
    scan.position = std::min(position, medium.readableBytes());
    return scan;
}

void ImageRecognisers::measureJPEG(RecogniserMedium& medium, const JPEGScanStart& scan, Sig& sig) {
    const std::uint32_t bps = medium.bytesPerSector();
    const std::uint64_t scanSector = scan.position / bps;
    // The header segments were walked by their lengths, but a thumbnail they
    // hold, or a photo that cut them, may begin a sector: the search looks
    // at it.
    std::uint64_t headerSectors = firstSectorStartingAJpeg(medium, 1, scanSector);
    // A thumbnail its EXIF block places there is the image's own.
    if (headerSectors < scanSector && scan.exifLength != 0)
        headerSectors = firstSectorStartingAJpeg(
            medium, headerSectors, scanSector,
            ExifThumbnail::sectors(medium, bps, medium.firstSector(), medium.readableBytes(), scan.exifAt,
                                   scan.exifLength, [&] { return medium.stopped(); }));
    // The end marker is looked for as far as can be read: a dense image
    // (fine noise, high quality, lossless) takes two bytes a pixel or more.
    JpegScanWalk walk(medium, bps, medium.firstSector(), medium.readableBytes(), [&] { return medium.stopped(); });
    // A file that holds no 0xFF byte (plain text, a document written without
    // compression) between the image's fragments reads as its scan data:
    // each sector the search would jump over is put to the search's own
    // lookup, which finds such a file at its first sector.
    if (probe_ && headerSectors == scanSector)
        walk.showSectors([&](std::uint64_t sector, platform::ByteView bytes) {
            return probe_->startsFile(medium.block() + sector, bytes);
        });
    if (const std::optional<JpegScanWalk::End> end = walk.end(scan.position)) {
        // Its markers lead to its end, and the walk showed the lookup every
        // sector of its scan data itself. A cut image's data, or one that
        // holds another file's first sector, may hold other files' first
        // sectors anywhere: only its header is jumped over.
        const bool cut = end->cut || walk.sectorTaken();
        medium.acceptJumpable(sig, end->position, end->position);
        sig.foundCut = cut;
        if (cut || headerSectors < scanSector) medium.jumpNoFurtherThan(sig, headerSectors * bps);
        return;
    }
    // No end marker where the walk could read: all it looked through may be
    // the image's, but that the image ends there is not known.
    const std::uint64_t looked = std::max(walk.looked(), std::min(scan.position, medium.readableBytes()));
    medium.acceptCut(sig, looked, looked);
}

bool ImageRecognisers::checkPNG_Chunk(const PNGChunk& chunk) {
    const auto letter = [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return chunk.length <= 0x7FFFFFFF && std::all_of(chunk.type.begin(), chunk.type.end(), letter);
}

bool ImageRecognisers::checkPNGFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(2);
    const platform::ByteView header = cursor.at(0, 29);
    if (header.empty() || header.be32(8) != 13 || header.be32(12) != 0x49484452) return false;
    const auto dimension = [](std::uint32_t v) { return v >= 1 && v <= 0x7FFFFFFF; };
    const std::uint8_t depth = header.u8(24), colour = header.u8(25);
    if (!dimension(header.be32(16)) || !dimension(header.be32(20)) || depth == 0 || depth > 16 ||
        (depth != 1 && depth % 2 != 0) || (colour != 0 && colour != 2 && colour != 3 && colour != 4 && colour != 6) ||
        header.u8(26) != 0 || header.u8(27) != 0 || header.u8(28) > 1)
        return false;

    std::uint64_t position = 33; // the signature and the IHDR chunk
    // The chunks whose CRC holds, from the first on: a file's first fragment
    // followed by another's sectors reads as a chunk that claims more than
    // the fragment holds, and such a chunk is not jumped over.
    BoundedCursor crcReader = medium.cursor(kPngCrcStep);
    std::uint64_t checked = pngChunkCrcHolds(crcReader, 8, 13) ? position : 0;
    bool ended = false;
    while (!ended && !medium.stopped()) {
        const platform::ByteView head = cursor.at(position, 8);
        if (head.empty()) break;
        PNGChunk chunk;
        chunk.length = head.be32(0);
        std::copy_n(head.data() + 4, 4, chunk.type.begin());
        chunk.position = position;
        chunk.total = std::uint64_t{chunk.length} + 12;
        // Zeros of a sector that could not be read are no end of the file.
        if (!checkPNG_Chunk(chunk) && cursor.unreadable(position, 8))
            if (const std::optional<std::uint64_t> next = pngChunkAfterLoss(medium, cursor, position)) {
                position = *next;
                continue;
            }
        // A chunk that claims more than is left ends the file before it.
        if (!checkPNG_Chunk(chunk) || !cursor.readable(position, chunk.total)) break;
        ended = head.be32(4) == kIEND;
        if (checked == position && pngChunkCrcHolds(crcReader, position, chunk.length)) checked += chunk.total;
        position += chunk.total;
    }
    // The chunks whose CRCs held are the file's structure.
    medium.acceptJumpable(sig, position, checked);
    // A walk that broke off before IEND, on a chunk that claims more than is
    // left or one that is no chunk, has not found the file's end.
    sig.foundCut = sig.foundCut || !ended;
    return true;
}

bool ImageRecognisers::checkGIFFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(2);
    const platform::ByteView screen = cursor.at(0, 13);
    if (screen.empty()) return false;
    const GIFWalk walk = walkGIFBlocks(medium, 13, gifColourTableBytes(screen.u8(10)));
    medium.steppedOver(walk.bodies);
    medium.acceptJumpable(sig, walk.end, walk.checked);
    // Bytes that are no block where the next should begin: the file's end
    // is not known.
    sig.foundCut = sig.foundCut || walk.cut;
    return true;
}

ImageRecognisers::GIFWalk ImageRecognisers::walkGIFBlocks(RecogniserMedium& medium, std::uint64_t table,
                                                          std::uint64_t tableBytes) {
    BoundedCursor cursor = medium.cursor(2);
    std::uint64_t position = table + tableBytes;
    // Nothing but the trailer, or the zeros after a file without one, ends a
    // GIF; writers cut an image's data into sub-blocks of one length but the
    // last, and LZW starts from a code size of 2 to 8 bits: a walk that
    // breaks off another way, meets a short sub-block that is not the last
    // or a code size LZW has not, has read another file's bytes as sizes.
    // Their first byte lies after the start of the last few blocks it
    // walked, as a chance block byte is rare in them: the blocks from there
    // are not vouched for.
    std::array<std::uint64_t, 4> recent;
    recent.fill(position);
    // Past a sector the medium could not give the search jumps no further
    // anyway, and the walk may break off there for want of its bytes.
    std::optional<std::uint64_t> brokenAt;
    const auto walked = [&](std::uint64_t start) {
        if (!brokenAt) std::rotate(recent.begin(), recent.begin() + 1, recent.end()), recent.back() = start;
    };
    const auto broken = [&](std::uint64_t at) {
        if (!brokenAt && medium.beforeLoss(at)) brokenAt = recent.front();
    };
    // What the walk steps over by a length: the colour tables, and the data
    // of extensions and images by their sub-blocks' sizes. The file's own
    // only by the headers that size them, as a cut may have put another
    // file's bytes anywhere in them.
    SteppedBodies bodies(medium.bytesPerSector());
    bodies.add(table, position);
    const auto finish = [&](std::uint64_t end, bool whole) {
        if (!whole) broken(end);
        bodies.endAt(end);
        return GIFWalk{end, std::min(end, brokenAt.value_or(end)), !whole, std::move(bodies)};
    };
    // The byte at a position, or -1 past what can be read, where the walk
    // ends.
    const auto byteAt = [&cursor](std::uint64_t at) -> int {
        const platform::ByteView b = cursor.at(at, 1);
        return b.empty() ? -1 : b.u8(0);
    };
    // Zeros of a sector the medium could not give end no block: the walk
    // goes on at a data sub-block after them, from which the sub-blocks run
    // to a terminator that a block follows. Sectors after which none was
    // found are not looked past again.
    std::uint64_t lostUntil = 0;
    const auto subBlocksReachABlock = [&](std::uint64_t at) {
        for (int size = byteAt(at); size != 0; size = byteAt(at)) {
            if (size < 0 || medium.stopped()) return false;
            at += static_cast<std::uint64_t>(size) + 1;
        }
        if (cursor.unreadable(at, 4)) return false;
        const int b = byteAt(at + 1), label = byteAt(at + 2), first = byteAt(at + 3);
        if (b == 0x3B) return true;
        // A graphic control, plain text, application or comment extension.
        if (b == 0x21)
            return (label == 0xF9 && first == 4) || (label == 0x01 && first == 12) || (label == 0xFF && first == 11) ||
                   (label == 0xFE && first > 0);
        if (b != 0x2C || cursor.unreadable(at + 1, 10)) return false;
        // An image descriptor, its colour table and a code size LZW allows.
        const int packed = byteAt(at + 10);
        if (packed < 0) return false;
        const int codeSize = byteAt(at + 11 + gifColourTableBytes(static_cast<std::uint8_t>(packed)));
        return codeSize >= 2 && codeSize <= 8;
    };
    // `step`: the length of the sub-blocks before the loss with their size
    // byte (0: none); writers cut the data into sub-blocks of one length.
    const auto subBlockAfterLoss = [&](std::uint64_t at, std::uint64_t step) -> std::optional<std::uint64_t> {
        if (at < lostUntil) return std::nullopt;
        const std::optional<std::uint64_t> from = cursor.readableFrom(at, medium.readableBytes());
        lostUntil = from.value_or(UINT64_MAX);
        if (!from) return std::nullopt;
        if (step != 0)
            if (const std::uint64_t next = at + (*from - at + step - 1) / step * step; subBlocksReachABlock(next))
                return next;
        for (std::uint64_t next = *from; next < *from + kGifLongestSubBlock; ++next)
            if (subBlocksReachABlock(next)) return next;
        return std::nullopt;
    };
    // The data sub-blocks from the one whose size byte follows `position`:
    // Ended leaves it on their terminator, Stopped on the last byte walked,
    // Cut where the bytes that can be read end. `evenLengths`: an image's,
    // cut into sub-blocks of one length but the last (an extension's follow
    // what they hold: an XMP packet's the characters of its text).
    enum class Blocks { Ended, Stopped, Cut };
    const auto subBlocks = [&](bool evenLengths) {
        std::uint64_t step = 0;
        bool shortSeen = false;
        for (;;) {
            const int size = byteAt(position + 1);
            if (size < 0) return Blocks::Cut;
            if (size == 0 && cursor.unreadable(position + 1, 1))
                if (const std::optional<std::uint64_t> next = subBlockAfterLoss(position + 1, step)) {
                    position = *next - 1;
                    shortSeen = false;
                    continue;
                }
            if (size != 0 && shortSeen) broken(position + 1);
            shortSeen = evenLengths && (shortSeen || (step != 0 && static_cast<std::uint64_t>(size) + 1 != step));
            position += static_cast<std::uint64_t>(size) + 1;
            if (size == 0) return Blocks::Ended;
            if (medium.stopped()) return Blocks::Stopped;
            step = static_cast<std::uint64_t>(size) + 1;
        }
    };
    // Where a block byte at `at` could not be read, the walk goes on at the
    // sub-blocks after it, and on to the byte after their terminator; false
    // when there are none. `walked`: how they ended.
    const auto goOnAfterLoss = [&](std::uint64_t at, Blocks& walked) {
        const std::optional<std::uint64_t> next = subBlockAfterLoss(at, 0);
        if (!next) return false;
        position = *next - 1;
        walked = subBlocks(false);
        if (walked != Blocks::Cut) ++position;
        return true;
    };
    // Zero bytes between blocks are stepped over, but a sector's worth of
    // them is the free space after a GIF without a trailer: it ends there.
    const std::uint64_t zeroTail = medium.bytesPerSector();
    std::uint64_t zeros = 0;
    int b = byteAt(position);
    while (b != 0x3B) {
        if (b < 0 || medium.stopped()) return finish(position, true);
        b = byteAt(position);
        // A block byte the medium could not give: a block's start, an
        // extension's sub-block size, an image descriptor.
        std::optional<std::uint64_t> lostAt;
        if (b == 0x00) lostAt = position;
        if (const int first = byteAt(position + 2); b == 0x21)
            lostAt = first == 0 ? position + 2 : position + 3 + static_cast<std::uint64_t>(std::max(first, 0));
        if (lostAt && (byteAt(*lostAt) != 0 || !cursor.unreadable(*lostAt, 1))) lostAt.reset();
        if (b == 0x2C && cursor.unreadable(position, 10)) lostAt = position + 9;
        if (Blocks ended = Blocks::Ended; lostAt && goOnAfterLoss(*lostAt, ended)) {
            if (ended != Blocks::Ended) return finish(position, true);
            zeros = 0;
            b = byteAt(position);
            continue;
        }
        if (b == 0x00) {
            if (++zeros == zeroTail) return finish(position + 1 - zeroTail, true);
            ++position;
            continue;
        }
        zeros = 0;
        walked(position);
        if (b == 0x21) {
            // Extension: the introducer and the label, then the data
            // sub-blocks to their terminator, however many: an ICC profile
            // or an XMP packet takes dozens.
            ++position;
            const std::uint64_t data = position + 1;
            const Blocks ended = subBlocks(false);
            bodies.add(data, position);
            if (ended == Blocks::Cut) return finish(position, true);
            ++position;
            b = byteAt(position);
        } else if (b == 0x2C) {
            // Image: the descriptor and its colour table, then the data
            // sub-blocks from the code-size byte to the empty one.
            const int packed = byteAt(position + 9);
            if (packed < 0) return finish(position, true);
            const std::uint64_t colours = position + 10;
            position = colours + gifColourTableBytes(static_cast<std::uint8_t>(packed));
            bodies.add(colours, position);
            if (const int codeSize = byteAt(position); codeSize >= 0 && (codeSize < 2 || codeSize > 8))
                broken(position);
            const std::uint64_t data = position + 1;
            const Blocks ended = subBlocks(true);
            bodies.add(data, position);
            if (ended == Blocks::Cut) return finish(position, true);
            ++position;
            b = byteAt(position);
        } else {
            break;
        }
    }
    // The trailer belongs to the file.
    return b == 0x3B ? finish(position + 1, true) : finish(position, false);
}

bool ImageRecognisers::checkBMPFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(1);
    const platform::ByteView header = cursor.at(0, bmp::kHeadBytes);
    // Both reserved fields are zero in a bitmap. Its length field is the
    // file's, which nothing past its headers ties to its first sectors; the
    // headers are its structure only where an info header follows.
    if (header.empty() || header.be32(6) != 0) return false;
    medium.acceptListed(sig, header.le32(2), bmp::infoHeaderEnd(header).value_or(0));
    return true;
}

bool ImageRecognisers::checkICNS_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(1);
    const platform::ByteView header = cursor.at(0, 8);
    if (header.empty() || header.be32(4) > 10'000'000) return false;
    // A length is all that follows the header: nothing of the file's
    // structure is read.
    medium.acceptListed(sig, header.be32(4), 0);
    return true;
}

bool ImageRecognisers::checkSGIFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(1);
    const platform::ByteView header = cursor.at(0, kSgiHeaderBytes);
    if (header.empty()) return false;
    const std::uint8_t storage = header.u8(2), bytesPerChannel = header.u8(3);
    const std::uint16_t dimension = header.be16(4);
    const std::uint64_t width = header.be16(6), height = header.be16(8), channels = header.be16(10);
    // The published header: verbatim (0) or run-length (1) storage, one or two
    // bytes a channel, one to three dimensions, a colour map of 0 to 3, and
    // zeros in its unused fields.
    if (storage > 1 || bytesPerChannel < 1 || bytesPerChannel > 2 || dimension < 1 || dimension > 3 || width == 0 ||
        height == 0 || channels == 0 || header.be32(20) != 0 || header.be32(104) > 3)
        return false;
    for (std::size_t at = kSgiUnusedFrom; at < kSgiHeaderBytes; ++at)
        if (header.u8(at) != 0) return false;
    // The pixels after the header, and after the tables of run-length rows,
    // are nothing the walk reads.
    if (storage == 0) {
        medium.acceptJumpable(sig, kSgiHeaderBytes + width * height * channels * bytesPerChannel, kSgiHeaderBytes);
        return true;
    }
    // Run-length rows: a table of their starts, then one of their lengths.
    const std::uint64_t rows = height * channels;
    std::uint64_t end = kSgiHeaderBytes + 8 * rows;
    std::uint64_t tables = kSgiHeaderBytes;
    BoundedCursor starts = medium.cursor();
    BoundedCursor lengths = medium.cursor();
    for (std::uint64_t row = 0; row < rows && !medium.stopped(); ++row) {
        const platform::ByteView start = starts.at(kSgiHeaderBytes + 4 * row, 4);
        if (start.empty()) break;
        const std::uint64_t offset = start.be32(0);
        const platform::ByteView length = lengths.at(kSgiHeaderBytes + 4 * (rows + row), 4);
        if (length.empty()) break;
        end = std::max(end, offset + length.be32(0));
        tables = kSgiHeaderBytes + 4 * (rows + row + 1);
    }
    medium.acceptJumpable(sig, end, tables);
    return true;
}

bool ImageRecognisers::checkICOFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor directory = medium.cursor(1);
    BoundedCursor images = medium.cursor(1);
    const platform::ByteView head = directory.at(0, kIconHeadBytes);
    const std::uint16_t type = head.le16(2), count = head.le16(4);
    if (head.empty() || head.le16(0) != 0 || (type != 1 && type != 2) || count == 0) return false;
    const std::uint64_t imagesFrom = kIconHeadBytes + std::uint64_t{count} * kIconEntryBytes;
    // The directory and the head of each image are read; the rest of the
    // images is not.
    std::uint64_t end = imagesFrom, read = imagesFrom;
    for (std::uint16_t i = 0; i < count; ++i) {
        const platform::ByteView entry =
            directory.at(kIconHeadBytes + std::uint64_t{i} * kIconEntryBytes, kIconEntryBytes);
        if (entry.empty() || entry.u8(3) != 0) return false;
        // 0 stands for 256 pixels.
        const std::uint32_t width = entry.u8(0) != 0 ? entry.u8(0) : 256, height = entry.u8(1) != 0 ? entry.u8(1) : 256;
        // An icon's colour planes and bits a pixel (0 where the image says), a
        // cursor's hotspot inside the image.
        if (type == 1 && (entry.le16(4) > 1 || (entry.le16(6) != 0 && !isBitCount(entry.le16(6))))) return false;
        if (type == 2 && (entry.le16(4) >= width || entry.le16(6) >= height)) return false;
        const std::uint32_t bytes = entry.le32(8), offset = entry.le32(12);
        if (offset < imagesFrom || !images.readable(offset, bytes)) return false;
        const platform::ByteView image = images.at(offset, std::min<std::uint32_t>(bytes, kBitmapInfoHeaderBytes));
        const bool png = image.size() >= 8 && image.be64(0) == kPngSignature;
        const bool bitmap = image.size() == kBitmapInfoHeaderBytes && image.le32(0) == kBitmapInfoHeaderBytes &&
                            image.le32(4) == width && (image.le32(8) == height || image.le32(8) == 2 * height) &&
                            image.le16(12) == 1 && isBitCount(image.le16(14));
        if (!png && !bitmap) return false;
        end = std::max(end, std::uint64_t{offset} + bytes);
        read = std::max(read, std::uint64_t{offset} + image.size());
    }
    medium.acceptJumpable(sig, end, read);
    return true;
}

bool ImageRecognisers::checkWebPFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor();
    const platform::ByteView header = cursor.at(0, riff::kHeaderBytes);
    if (header.empty() || !riff::isRiff(header) || header.be32(8) != kWebP) return false;
    // The RIFF header gives the file's length; its chunks (the image's
    // data, and a simple file holds nothing else) lead there.
    const std::uint64_t length = riff::fileBytes(header);
    const std::uint64_t walked = std::min(length, medium.readableBytes());
    std::uint64_t at = riff::kHeaderBytes;
    // The chunk heads read; the chunks' data (the image's, a frame of an
    // animation) the walk steps over.
    std::uint64_t heads = at;
    SteppedBodies bodies(medium.bytesPerSector());
    // The thumbnail an EXIF chunk places is the image's own part.
    std::vector<std::uint64_t> thumbnails;
    while (at < walked && !medium.stopped()) {
        const std::optional<riff::Chunk> chunk = riff::chunkAt(cursor.at(at, riff::kChunkHeaderBytes), at);
        if (!chunk) break;
        heads = at + riff::kChunkHeaderBytes;
        // An EXIF chunk holds the picture's metadata as a TIFF structure: a
        // TIFF found where it begins is the WebP's own.
        if (const std::uint32_t order = cursor.at(heads, 4).be32(0);
            chunk->id == kExifChunk && (order == 0x49492A00 || order == 0x4D4D002A))
            bodies.ownPartAt(heads);
        bodies.add(heads, chunk->next);
        if (chunk->id == kExifChunk && thumbnails.empty()) {
            thumbnails = ExifThumbnail::sectors(medium, medium.bytesPerSector(), medium.firstSector(),
                                                std::min(length, medium.readableBytes()), heads, chunk->next - heads,
                                                [&] { return medium.stopped(); });
            for (const std::uint64_t sector : thumbnails)
                bodies.ownPartAt(sector * medium.bytesPerSector());
        }
        at = chunk->next;
    }
    bodies.endAt(std::min(at, length));
    medium.steppedOver(bodies);
    if (at != length) {
        // Bytes that are no chunk where one should begin: the first fragment
        // of a file, another's sectors after it; or chunks that run past the
        // end the header gives.
        medium.acceptCut(sig, std::min(at, length), heads);
    } else {
        // Nothing checks the image's data as its own: what follows its
        // header may be another file's, and the search looks at it again.
        medium.acceptListed(sig, length, heads);
    }
    // A thumbnail past where the file was cut is none of its own.
    std::erase_if(thumbnails, [&](std::uint64_t sector) { return sector * medium.bytesPerSector() >= sig.foundSize; });
    sig.ownThumbnails = std::move(thumbnails);
    return true;
}
