#pragma once

// The length of a WAVE file as its header gives it, which the plain
// search's recogniser and the carving's size calculator share. The RIFF
// header's length is the file's. A writer that could not go back to the
// header (one writing to a pipe, a recording cut off) leaves it at
// 0xFFFFFFFF, or at a length that does not reach the sound (0, as a recorder
// that writes its header first leaves it): the file then ends with its data
// chunk where that chunk's length was written. Where neither was, nothing in
// the file tells where its sound ends: it runs on to where the next file
// begins, which only a search can tell.

#include "media/BoundedCursor.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <functional>
#include <optional>

class WaveFileBounds {
public:
    struct Length {
        // The file's length as its header gives it, the 8 bytes before the
        // RIFF length included; 0 when it gives none.
        std::uint64_t bytes = 0;
        // Where the sound of a file whose header gives no length begins.
        std::optional<std::uint64_t> unendedSoundFrom;
    };
    // The longest RIFF length believed; one above it was never written.
    static constexpr std::uint64_t kLongestRiff = 0xFFFFFFF0;
    // The chunks before the sound (format, facts, broadcast extension, lists
    // of tags, padding) come to far less.
    static constexpr std::uint64_t kLongestHeader = 1048576;

    // The length of the file that the cursor reads from its first byte on,
    // whose first 12 bytes, `header`, are a RIFF WAVE header. stopped() is
    // asked between the chunks walked.
    static Length length(BoundedCursor& cursor, platform::ByteView header, const std::function<bool()>& stopped);
    // Where the data chunk's header lies in the RIFF file that begins at
    // `riffStart`, among the chunks that begin no later than `lastChunkAt`;
    // nothing when the chunks before it are not a header's (more than a
    // header has, or one of no chunk's identifier).
    static std::optional<std::uint64_t> dataChunkAt(BoundedCursor& cursor, std::uint64_t riffStart,
                                                    std::uint64_t lastChunkAt, const std::function<bool()>& stopped);
};
