#pragma once

// The walk of an AVI file's chunks, which the plain search's recogniser and
// the carving's size calculator share. An AVI file is a RIFF file of form
// "AVI " whose first chunk is the header list ("LIST", its length, "hdrl");
// the lists and chunks after it (padding, tags, the "movi" list of the
// streams' chunks, the index) each lead by their lengths to the next, up to
// the RIFF's end. A chunk that another follows is the file's to its end,
// the frames of a "movi" list among them. Where the chunks after the "movi"
// list cannot be read (a file cut after its first fragment, another file
// written over its later sectors), the walk goes on through the list's own
// chunks as far as they lead.

#include "media/BoundedCursor.h"

#include <cstdint>
#include <functional>

class AviChunkWalk {
public:
    struct Walk {
        // The file's end as its RIFF header gives it: the 8 bytes before the
        // RIFF length, and that length.
        std::uint64_t riffEnd = 0;
        // How far the chunks the walk read reach, from the file's first
        // byte; 0 when its header is no AVI file's (no "AVI " form with the
        // header list first), which the walk then reads no further.
        std::uint64_t structureEnd = 0;
    };

    // Chunks of a "movi" list walked at the most: a long film's frames.
    static constexpr std::uint64_t kMostListChunks = std::uint64_t{1} << 24;

    // The file that `cursor` reads from its first byte, which begins with a
    // RIFF header; stopped() is asked between the chunks.
    static Walk walk(BoundedCursor& cursor, const std::function<bool()>& stopped);
};
