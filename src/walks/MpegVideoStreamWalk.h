#pragma once

// The measure of an MPEG-1 or MPEG-2 video elementary stream, which the plain
// search's recogniser and the carving's size calculator share. Nothing in
// such a stream gives its length, and many end with no sequence end code:
// what shows how far it runs is its start codes. Each follows the one before
// within the bytes of the rows it codes (three bytes a pixel at the most),
// a picture's slices follow its header in the order of their rows, and
// nowhere else in the stream do 23 zero bits follow one another. Other data
// holds 00 00 01 about once in 16 MiB, so the walk takes the start codes that
// follow one another so, and the stream ends where they stop: at its end
// code, or at the zeros or the start code of another structure that follow
// its last start code within that code's reach. The end is marked where the
// stream's bytes show that nothing of it follows: its end code, zeros to the
// end of a sector, or another structure's start code where a sector begins.
// Elsewhere (zeros or a start code inside a sector may be a following file's
// bytes the walk reached), and where neither comes within reach (other data
// follows the stream, or what may be read ends first), the end is an
// estimate.

#include "media/BoundedCursor.h"

#include <cstdint>
#include <functional>

class MpegVideoStreamWalk {
public:
    struct Measure {
        // Bytes from the stream's first; 0 when it does not begin with a
        // sequence header or its first bytes could not be read.
        std::uint64_t length = 0;
        // Whether the stream's bytes mark that end. Else the length is an
        // estimate: it holds the stream, and may hold what follows it.
        bool endMarked = false;
        // The byte after the last start code of the sequence the walk read:
        // headers each right behind the one before, a picture and its slices,
        // each within the reach of the one before; 4 (the sequence header's
        // code) until a picture's first slice was read so. What the walk
        // checked as its own. The bytes from there to the end, marked or not,
        // nothing checked (a start code merely within reach may be chance
        // bytes of other data); another file may lie in them.
        std::uint64_t structureEnd = 0;
    };

    // The stream whose sequence header begins the bytes `cursor` reads.
    // stopped() is asked before each read; sectorHeader(position) is told of
    // every sequence header of the sequence read (structureEnd) that begins a
    // sector, where a search would take another stream to begin. Sectors the medium could
    // not give are lost data, never the stream's end: the walk goes on at the
    // first start code after them.
    static Measure measure(BoundedCursor& cursor, const std::function<bool()>& stopped,
                           const std::function<void(std::uint64_t)>& sectorHeader = {});
};
