#include "walks/ProgramStreamWalk.h"

#include "platform/CheckedMath.h"

#include <algorithm>
#include <optional>

namespace {

constexpr std::uint32_t kPack = 0x1BA;
constexpr std::uint32_t kProgramEnd = 0x1B9;
constexpr std::uint32_t kSystemHeader = 0x1BB;
constexpr std::size_t kMpeg1PackBytes = 12;
constexpr std::size_t kMpeg2PackBytes = 14;
constexpr std::size_t kPacketHeaderBytes = 6;
// Five Video CD sectors of 2,324 bytes: a stretch a damaged stream may have
// lost and go on behind.
constexpr std::uint64_t kProbeDistance = 11620;
// How many bytes of other data, or of zeros, the walk looks through for the
// stream to go on.
constexpr std::uint32_t kDataRun = 50;
constexpr std::uint32_t kZeroRun = 100;
// Past sectors the medium could not give, the next pack lies within the
// longest packet.
constexpr std::uint64_t kPackReach = 65542;

// The system header and the packets of the program's streams: a code from BB
// on, then the packet's length.
bool packetCode(std::uint32_t c) {
    return c >= 0x1BB && c <= 0x1FF;
}

// Where a program stream goes on: a pack, system header, the private and
// padding streams, or the first audio or video stream.
bool continuesProgram(std::uint32_t c) {
    return (c >= kPack && c <= 0x1C0) || c == 0x1DF || c == 0x1E0 || c == 0x1EF;
}

} // namespace

std::optional<std::uint64_t> ProgramStreamWalk::systemClock(platform::ByteView pack) {
    if (pack.size() < kMpeg1PackBytes || pack.be32(0) != kPack) return std::nullopt;
    const auto b = [&](std::size_t at) { return std::uint64_t{pack.u8(at)}; };
    // The base of the clock, 33 bits between marker bits.
    if ((b(4) & 0xC0) == 0x40)
        return (b(4) >> 3 & 7) << 30 | (b(4) & 3) << 28 | b(5) << 20 | (b(6) >> 3) << 15 | (b(6) & 3) << 13 |
               b(7) << 5 | b(8) >> 3;
    if ((b(4) & 0xF0) == 0x20) return (b(4) >> 1 & 7) << 30 | b(5) << 22 | (b(6) >> 1) << 15 | b(7) << 7 | b(8) >> 1;
    return std::nullopt;
}

std::uint64_t ProgramStreamWalk::packHeaderBytes(platform::ByteView head) {
    if (head.be32(0) != kPack) return 0;
    if ((head.u8(4) & 0xC0) == 0x40) return kMpeg2PackBytes + (head.u8(13) & 7);
    if ((head.u8(4) & 0xF0) == 0x20) return kMpeg1PackBytes;
    return 0;
}

ProgramStreamWalk::Measure ProgramStreamWalk::measure(BoundedCursor& cursor, BoundedCursor& probe, const Options& o) {
    Measure m;
    const std::uint64_t bps = cursor.bytesPerSector();
    m.bodies = SteppedBodies(static_cast<std::uint32_t>(bps));
    const auto stopped = [&] { return o.stopped && o.stopped(); };

    // The pack after sectors the medium could not give from `at` on that the
    // program goes on behind; nothing when none lies within reach.
    const auto packAfterLoss = [&](std::uint64_t at) -> std::optional<std::uint64_t> {
        const std::optional<std::uint64_t> from = cursor.readableFrom(at, o.lossReach);
        if (!from) return std::nullopt;
        const BoundedCursor::Found pack = probe.findFourBytes(
            *from, platform::saturatingAdd(*from, kPackReach),
            [&](std::uint64_t p, std::uint32_t code, std::uint32_t) {
                if (code != kPack) return false;
                const std::uint32_t next = cursor.bytes(p + o.packHeaderBytes, 4).be32(0);
                return continuesProgram(next) || packetCode(next);
            },
            stopped);
        if (pack.end != BoundedCursor::Search::Matched) return std::nullopt;
        return pack.offset;
    };

    std::uint64_t n = 0;
    bool running = true;
    // Looking byte by byte for the stream to go on, from searchFrom; inData
    // turns false once the bytes looked through are too many to lie inside
    // it.
    bool searching = false;
    bool inData = true;
    std::uint64_t searchFrom = 0;
    std::uint32_t counter = 0;
    // Every step from the first pack so far followed from what the walk read.
    bool chained = true;
    // Sectors the medium could not give that no pack was found behind.
    std::optional<std::uint64_t> lostAt;
    // The stream ended with its end code: nothing behind it is its.
    bool endCoded = false;
    // The clock of the last pack read, and whether another stream begins
    // where the walk stopped.
    std::optional<std::uint64_t> lastClock;
    bool endsHere = false;
    // A structure read: what the walk looked through before it was passed
    // over, not read.
    const auto structureAt = [&] {
        if (searching && n > searchFrom) {
            m.bodies.add(searchFrom, n);
            chained = false;
        }
        searching = false;
        inData = true;
        counter = 0;
    };
    while (running && !stopped()) {
        const platform::ByteView packet = cursor.bytes(n, kPacketHeaderBytes);
        if (packet.empty()) {
            m.readFailed = true;
            return m;
        }
        const std::uint32_t c = packet.be32(0);
        // Zeros of a sector that could not be read are no end of the stream,
        // nor a packet's length.
        if (c != kPack && cursor.unreadable(n, kPacketHeaderBytes)) {
            m.ledIntoLoss = m.ledIntoLoss || chained;
            if (const std::optional<std::uint64_t> next = packAfterLoss(n)) {
                m.bodies.add(n, *next);
                n = *next;
                searching = false;
                inData = true;
                counter = 0;
                continue;
            }
            lostAt = n;
        }
        if (c == kPack) {
            // A muxer starts its clock at a stream's first pack, which holds
            // the system header: such a pack at a sector start, its clock
            // behind the last pack's or its header of another kind than the
            // stream's, is another stream written right after this one.
            const platform::ByteView head = cursor.bytes(n, kMpeg2PackBytes);
            const std::uint64_t headerBytes = packHeaderBytes(head);
            const std::optional<std::uint64_t> clock = systemClock(head);
            if (n != 0 && bps != 0 && n % bps == 0 && headerBytes != 0 &&
                cursor.bytes(n + headerBytes, 4).be32(0) == kSystemHeader &&
                (headerBytes != o.packHeaderBytes || (clock && lastClock && *clock < *lastClock))) {
                endsHere = true;
                break;
            }
            lastClock = clock;
            structureAt();
            if (n != 0) {
                m.ledOn = m.ledOn || chained;
                if (bps != 0 && n % bps == 0 && o.sectorPack) o.sectorPack(n);
            }
            // Packs of one stream share their header's length.
            n += o.packHeaderBytes;
            m.structureEnd = n;
        } else if (packetCode(c)) {
            structureAt();
            n += std::uint64_t{packet.be16(4)} + kPacketHeaderBytes;
            m.structureEnd = n;
        } else if (c == kProgramEnd) {
            structureAt();
            m.ledOn = m.ledOn || chained;
            n += 4;
            m.structureEnd = n;
            const platform::ByteView next = cursor.bytes(n, 4);
            if (next.empty()) {
                m.readFailed = true;
                return m;
            }
            running = continuesProgram(next.be32(0));
            endCoded = !running;
        } else if (!searching) {
            // The zeros a muxer closes a pack with, the next pack's code (or
            // the end code) right behind them.
            const platform::ByteView run = cursor.bytes(n, kZeroRun + 4);
            std::size_t zeros = 0;
            while (zeros < kZeroRun + 2 && run.u8(zeros) == 0)
                ++zeros;
            const std::uint32_t behind = zeros >= 2 ? run.be32(zeros - 2) : 0;
            if (behind == kPack || behind == kProgramEnd) {
                n += zeros - 2;
                continue;
            }
            // A damaged or foreign stretch inside the stream: the stream goes
            // on where a packet starts a little further.
            const std::uint64_t ahead = n + kProbeDistance;
            const platform::ByteView probed = probe.bytes(ahead, 4);
            if (probed.empty()) {
                m.readFailed = true;
                return m;
            }
            if (continuesProgram(probed.be32(0))) {
                m.bodies.add(n, ahead);
                chained = false;
                n = ahead;
            } else {
                searching = true;
                searchFrom = n;
            }
        } else {
            // Byte by byte, until a run of data or zeros too long to be
            // inside the stream.
            if (!inData) break;
            ++n;
            ++counter;
            if (counter > (c != 0 ? kDataRun : kZeroRun)) inData = false;
        }
        if (n > o.lengthBound) {
            m.capped = true;
            m.length = n;
            m.paddedEnd = m.structureEnd;
            m.ended = false;
            return m;
        }
    }
    m.length = n;
    if (endsHere) m.structureEnd = n;
    m.bodies.endAt(m.structureEnd);
    m.ended = m.structureEnd <= cursor.readableBytes() && !(lostAt && *lostAt >= m.structureEnd);
    m.paddedEnd = m.structureEnd;
    if (bps != 0 && m.ended && !endCoded && m.structureEnd % bps != 0) {
        const std::uint64_t rest = bps - m.structureEnd % bps;
        const platform::ByteView tail = cursor.bytes(m.structureEnd, rest);
        std::uint64_t zeros = 0;
        while (zeros < rest && !tail.empty() && tail.u8(zeros) == 0)
            ++zeros;
        m.paddedEnd += zeros;
    }
    return m;
}
