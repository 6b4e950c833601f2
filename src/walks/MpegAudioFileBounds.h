#pragma once

// Where an MPEG audio file begins and ends among the frames of a medium,
// which the plain search's recogniser and the carving's size calculator
// share. A stream's frames carry no length, and tracks an album or a card
// holds one after another may touch: what tells them apart is what an
// encoder or a tagger writes at a file's edges. After the last frame come
// the tags players read there: an APE tag (with or without its header), a
// Lyrics3 v2 tag, an ID3v1 tag (the file's last 128 bytes), or several of
// them, the ID3v1 tag last; nothing of the file follows them.
// An encoder's header frame (a frame holding a "Xing" or "Info" header) is
// written only as a file's first frame, and holds the byte count of the
// file's frames, itself included. A file on a medium begins where a sector
// does: one of these inside a sector is that of a track joined to the one
// before it in a file of both (as cat joins them), whose frames go on.

#include "media/BoundedCursor.h"

#include <cstdint>
#include <optional>

class MpegAudioFileBounds {
public:
    // The length of the tags that begin at `at`, right after a stream's last
    // frame: an APE tag whose footer closes it where its header or its items
    // say, a Lyrics3 v2 tag whose size closes its fields, an ID3v1 tag, or
    // several; 0 when none begins there.
    static std::uint64_t tagsAt(BoundedCursor& cursor, std::uint64_t at);
    // Whether the frame whose four header bytes `header` begin at `at` is an
    // encoder's header frame: nothing when it is not; else the byte count it
    // holds, 0 when it holds none.
    static std::optional<std::uint64_t> headerFrameBytes(BoundedCursor& cursor, std::uint64_t at, std::uint32_t header);
};
