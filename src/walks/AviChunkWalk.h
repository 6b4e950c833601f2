#pragma once

// The walk of an AVI file's chunks, which the plain search's recogniser and
// the carving's size calculator share. An AVI file is a RIFF file of form
// "AVI " whose first chunk is the header list ("LIST", its length, "hdrl");
// the lists and chunks after it (padding, tags, the "movi" list of the
// streams' chunks, the index) each lead by their lengths to the next, up to
// the RIFF's end. A file past 1 GiB goes on in RIFF parts of form "AVIX"
// (OpenDML), each right after the one before, with its own "movi" list: the
// file ends where the last of them does. The walk goes into every list, the
// "movi" lists' frames among them: their headers are the file's structure,
// the bodies of the chunks it steps over are the file's only by those
// headers (SteppedBodies), and a frame's first byte is where a part of its
// own begins only as its stream's coding has it (a JPEG frame of a stream
// of JPEG frames) or where the frame is one whole JPEG. A chunk whose
// length runs past the end of the list or RIFF that holds it, or bytes that
// are no chunk where one should begin (a file cut after its first fragment,
// another file written over its later sectors), are no structure: the walk
// breaks off there, and the file ends there, cut.

#include "media/BoundedCursor.h"
#include "walks/SteppedBodies.h"

#include <cstdint>
#include <functional>
#include <optional>

class AviChunkWalk {
public:
    struct Walk {
        // The file's end as its RIFF headers give it: the 8 bytes before the
        // RIFF length, and that length; the last "AVIX" part's end where any
        // follow the first RIFF.
        std::uint64_t riffEnd = 0;
        // How far the chunk headers the walk read reach, from the file's
        // first byte; 0 when its header is no AVI file's (no "AVI " form with
        // the header list first), which the walk then reads no further.
        std::uint64_t structureEnd = 0;
        // Where the walk broke off on what is no structure: the file's end,
        // cut. Nothing when the chunks led to the RIFF's end, or up to what
        // could not be read (a sector the medium could not give, the end of
        // the volume).
        std::optional<std::uint64_t> brokeOffAt;
        SteppedBodies bodies{0};
    };

    // Chunk headers and parts read at the most: a long film's frames.
    static constexpr std::uint64_t kMostChunks = std::uint64_t{1} << 24;

    // The file that `cursor` reads from its first byte, which begins with a
    // RIFF header; stopped() is asked between the chunks.
    static Walk walk(BoundedCursor& cursor, const std::function<bool()>& stopped);
    // Whether the header is an AVI file's: RIFF of form "AVI ".
    static bool isAvi(platform::ByteView header);
};
