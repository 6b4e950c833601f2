#pragma once

// The measure of an MPEG program stream, which the plain search's recogniser
// and the carving's size calculator share. Nothing in such a stream gives its
// length, and muxers seldom end it with the end code: it runs as far as its
// packs and the packets after each lead, one by its length to the next, however
// many packets a pack holds (a muxer's first pack carries the system header and
// may hold hundreds). Muxers fill a pack out to their unit (a Video CD's 2,324
// bytes) with a padding packet or with zero bytes; the zeros a pack ends with,
// a pack start code right behind them, are the stream's too.
//
// Where neither a pack, a packet nor such padding follows, the stream may go
// on past a damaged stretch: the walk looks a few video CD sectors further on
// (11,620 bytes), and failing that, byte by byte through up to 50 bytes of
// other data or 100 zero bytes, for a code the program goes on with. The
// stretches so passed, and sectors the medium could not give, are the
// stream's by nothing the walk read: they are stepped over. Where none of
// that finds the stream going on, it has ended; so has it where a pack that
// opens a stream (its system header behind it) begins a sector with its
// clock set back: a muxer starts the clock of each stream it writes afresh.

#include "media/BoundedCursor.h"
#include "walks/SteppedBodies.h"

#include <cstdint>
#include <functional>
#include <optional>

class ProgramStreamWalk {
public:
    struct Measure {
        // Bytes from the stream's first to where the walk stopped, past the
        // bytes it looked through for the stream to go on: what the carving
        // takes as the stream's length.
        std::uint64_t length = 0;
        // The byte after the last pack header, packet or end code read.
        std::uint64_t structureEnd = 0;
        // structureEnd with the zero bytes behind it up to the end of its
        // sector, unless the end code ends the stream: the padding a muxer
        // closes its last pack with, where no other file can begin.
        std::uint64_t paddedEnd = 0;
        // From the first pack, its packets (and the padding behind them, or
        // sectors the medium could not give) led to another pack or to the
        // end code: the walk read structure chance does not make.
        bool ledOn = false;
        // Or they led into sectors the medium could not give, where the next
        // pack lies lost or not.
        bool ledIntoLoss = false;
        // The walk followed the stream to where it stops: false when a packet
        // runs past the bytes that may be read, or sectors the medium could
        // not give end it with no pack found after them.
        bool ended = true;
        // A read failed: nothing is known of the stream.
        bool readFailed = false;
        // The walk went past the length bound, and gave up there.
        bool capped = false;
        // Stretches passed without reading them as the stream's.
        SteppedBodies bodies{0};
    };

    struct Options {
        // The length of each pack header, as its first gives it.
        std::uint64_t packHeaderBytes = 0;
        // How far past the first byte of sectors the medium could not give
        // their readable end is looked for.
        std::uint64_t lossReach = 0;
        // The walk gives up past this many bytes (its length then is this).
        std::uint64_t lengthBound = 0;
        std::function<bool()> stopped;
        // Told of every pack the walk read that begins a sector, where a
        // search would take another stream to begin.
        std::function<void(std::uint64_t)> sectorPack;
    };

    // The stream whose first pack begins the bytes `cursor` reads; `probe`
    // reads the same bytes, so that a look ahead keeps the walk's window.
    static Measure measure(BoundedCursor& cursor, BoundedCursor& probe, const Options& options);

    // The system clock reference of the pack header that begins `pack`;
    // none when it is no MPEG-1 or MPEG-2 pack header.
    static std::optional<std::uint64_t> systemClock(platform::ByteView pack);
    // The length of the pack header that begins `head` (at least 14 bytes):
    // 12 for MPEG-1, 14 and its stuffing for MPEG-2; 0 when it is neither.
    static std::uint64_t packHeaderBytes(platform::ByteView head);
};
