#include "walks/MpegVideoStreamWalk.h"

#include "platform/CheckedMath.h"

#include <algorithm>
#include <optional>

namespace {

constexpr std::uint32_t kSequenceHeader = 0x000001B3;
// The codes that follow a start code's 00 00 01; 01 to AF begin slices, and
// are the row of the picture the slice begins in.
constexpr std::uint8_t kPicture = 0x00;
constexpr std::uint8_t kLastSlice = 0xAF;
constexpr std::uint8_t kUserData = 0xB2;
constexpr std::uint8_t kSequenceHeaderCode = 0xB3;
constexpr std::uint8_t kSequenceError = 0xB4;
constexpr std::uint8_t kExtension = 0xB5;
constexpr std::uint8_t kSequenceEnd = 0xB7;
constexpr std::uint8_t kGroupOfPictures = 0xB8;
// A macroblock's 16 x 16 pixels at three bytes a pixel: more than any coded
// macroblock takes.
constexpr std::uint64_t kMacroblockBytes = 768;
// How long a run of sectors the medium could not give the walk goes on past.
constexpr std::uint64_t kLostReach = std::uint64_t{16} << 20;
// Bytes looked through at once.
constexpr std::uint64_t kChunkBytes = 65536;

} // namespace

MpegVideoStreamWalk::Measure MpegVideoStreamWalk::measure(BoundedCursor& cursor, const std::function<bool()>& stopped,
                                                          const std::function<void(std::uint64_t)>& sectorHeader) {
    Measure out;
    const std::uint64_t bps = cursor.bytesPerSector();
    const std::uint64_t readable = cursor.readableBytes();
    const platform::ByteView head = cursor.at(0, 8);
    if (bps == 0 || head.empty() || head.be32(0) != kSequenceHeader) return out;
    const std::uint64_t macroblocksWide = ((head.be16(4) >> 4) + 15) / 16;
    const std::uint64_t rows = ((head.be16(5) & 0xFFF) + 15) / 16;
    // How far the next start code may follow one that codes `rowsCoded` rows
    // of a picture: their bytes, and two sectors for the headers, their
    // tables and user data.
    const auto reachOf = [&](std::uint64_t rowsCoded) {
        return rowsCoded * macroblocksWide * kMacroblockBytes + 2 * bps;
    };

    // Where the last start code taken as the stream's begins, and its reach.
    std::uint64_t last = 0;
    std::uint64_t reach = reachOf(rows);
    std::uint64_t structureEnd = 4;
    // What the walk vouches for is the sequence it read: each start code
    // where the one before puts the next, a header's right behind its fields,
    // tables and user data (two sectors at the most), a slice's within its
    // rows' reach, and from the first slice of a picture on. A start code
    // merely within reach may be chance bytes of other data (a photo's scan
    // data holds 00 00 01 now and then): the walk goes on through it to
    // measure the stream, but vouches for nothing from there.
    bool chained = true;
    bool afterHeader = true;
    bool sliceRead = false;
    bool inPicture = false;
    std::uint8_t lastSlice = 0;
    // Past a sequence end code the stream ends, unless another sequence
    // begins at once.
    std::optional<std::uint64_t> endCodeEnd;
    // The zero bytes just before the one looked at; whether they and a 01
    // made a start code's prefix, and how many there were.
    std::uint64_t zeros = 0;
    bool codeNext = false;
    std::uint64_t prefixZeros = 0;

    // Zeros from `from` to `to` that run to the end of their first sector:
    // the slack behind a file's last byte, where the next file, which begins
    // at a sector start, cannot lie.
    const auto toSectorEnd = [&](std::uint64_t from, std::uint64_t to) { return to >= (from / bps + 1) * bps; };
    const auto finish = [&](std::uint64_t length, bool marked) {
        if (endCodeEnd) {
            length = *endCodeEnd;
            marked = true;
        }
        out.length = std::min(length, readable);
        out.endMarked = marked;
        out.structureEnd = std::min(structureEnd, readable);
        return out;
    };

    for (std::uint64_t p = 4;;) {
        // The next start code's 00 00 01 begins within the last one's reach.
        const std::uint64_t limit = std::min(platform::saturatingAdd(last, reach + 3), readable);
        if (p >= limit) {
            if (zeros >= 3) return finish(p - zeros + 2, toSectorEnd(p - zeros, p));
            return finish(platform::saturatingAdd(last, reach), false);
        }
        if (stopped()) return finish(p, false);
        const std::uint64_t count = std::min(limit - p, kChunkBytes);
        const platform::ByteView chunk = cursor.bytes(p, static_cast<std::size_t>(count));
        if (chunk.empty()) return finish(p, false);
        std::uint64_t held = count;
        if (cursor.unreadable(p, static_cast<std::size_t>(count)))
            for (std::uint64_t at = p; at < p + count; at = (at / bps + 1) * bps)
                if (cursor.unreadable(at, 1)) {
                    held = at - p;
                    break;
                }
        const std::uint8_t* bytes = chunk.data();
        for (std::uint64_t i = 0; i < held; ++i) {
            const std::uint8_t byte = bytes[i];
            if (codeNext) {
                codeNext = false;
                zeros = 0;
                const std::uint64_t at = p + i - 3;
                const std::uint64_t stuffing = at - (prefixZeros - 2);
                if (endCodeEnd) {
                    if (at != *endCodeEnd || byte != kSequenceHeaderCode) return finish(*endCodeEnd, true);
                    endCodeEnd.reset();
                }
                std::uint64_t rowsCoded = rows;
                bool ours = true;
                const bool slice = byte != kPicture && byte <= kLastSlice;
                chained = chained && at - last <= (afterHeader ? reachOf(0) : reach);
                if (byte == kPicture) {
                    inPicture = true;
                    lastSlice = 0;
                } else if (slice) {
                    // A slice belongs to a picture, and begins in no row above
                    // the slice before it.
                    ours = inPicture && byte >= lastSlice;
                    lastSlice = byte;
                    rowsCoded = std::max<std::uint64_t>(rows, byte) - byte + 1;
                } else if (byte == kSequenceHeaderCode || byte == kGroupOfPictures) {
                    inPicture = false;
                    if (byte == kSequenceHeaderCode && at % bps == 0 && chained && sectorHeader) sectorHeader(at);
                } else if (byte == kSequenceEnd) {
                    endCodeEnd = at + 4;
                    rowsCoded = 0;
                } else {
                    ours = byte == kUserData || byte == kExtension || byte == kSequenceError;
                }
                // Another structure begins: the stream ends before its start
                // code and the zeros stuffed before that (two of which may be
                // the stream's last bytes). Only one that begins a sector, or
                // after zeros to a sector's end, begins where another file may.
                if (!ours) return finish(std::min(at, stuffing + 2), at % bps == 0 || toSectorEnd(stuffing, at));
                last = at;
                reach = reachOf(rowsCoded);
                afterHeader = !slice;
                sliceRead = sliceRead || (chained && slice);
                if (chained && sliceRead) structureEnd = at + 4;
                continue;
            }
            if (byte == 0) {
                ++zeros;
                continue;
            }
            if (byte == 1 && zeros >= 2) {
                codeNext = true;
                prefixZeros = zeros;
                zeros = 0;
                continue;
            }
            // 23 zero bits in a row are none of the stream's, but for a start
            // code's: at most two of these zero bytes are its last. Zeros
            // inside a sector may be another file's bytes the walk reached.
            if (zeros >= 3) return finish(p + i - zeros + 2, toSectorEnd(p + i - zeros, p + i));
            zeros = 0;
        }
        if (held == count) {
            p += count;
            continue;
        }
        // The zeros of a sector the medium could not give: the stream goes on
        // at the first start code after them, maybe inside a picture.
        const std::optional<std::uint64_t> resume = cursor.readableFrom(p + held, kLostReach);
        if (!resume) return finish(platform::saturatingAdd(last, reach), false);
        p = *resume;
        last = *resume;
        reach = reachOf(rows);
        afterHeader = false;
        inPicture = true;
        lastSlice = 0;
        zeros = 0;
        codeNext = false;
    }
}
