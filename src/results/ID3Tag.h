#pragma once

// The ID3 version 2 tag at the front of a previewed audio file: the lyrics of
// its "USLT" frame, scrolled under the movie view, and the picture of its
// "APIC" frame, shown as the poster when the movie has none of its own.
//
// The bytes come straight off a damaged or hostile medium, cut off wherever
// the preview stopped reading, so every size in the tag is bounded by the
// frame it belongs to and by the bytes actually loaded. A frame that does not
// fit, or that cannot be read (compressed, encrypted, an unknown encoding, a
// missing terminator), gives nothing: no lyrics, no poster. Versions 2.2
// ("ULT", "PIC", 6-byte frame headers), 2.3 and 2.4 (synchsafe frame sizes)
// are read; unsynchronisation is undone before a frame is looked at.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ID3Tag {
public:
    // A 28-bit synchsafe integer: bit 7 of each of the four bytes is
    // dropped and the remaining 7 bits of each are packed, most significant
    // byte first.
    static std::uint32_t mp3BitShredder(std::uint32_t value);

    // True when the data begins with an ID3 version 2 tag header.
    static bool hasTag(platform::ByteView data);

    // The text of the first lyrics frame, up to its terminator; empty when
    // there is no tag, no such frame, or the frame cannot be read.
    static std::u16string lyrics(platform::ByteView data);

    // The bytes of the first attached-picture frame's picture; empty when
    // there is none or the frame cannot be read.
    static std::vector<std::uint8_t> picture(platform::ByteView data);

private:
    // The body of the first frame named id (v2.3/2.4) or id22 (v2.2), with
    // any unsynchronisation undone and the flag-added bytes skipped; also
    // the tag's major version. Empty optional when the walk does not reach
    // a readable frame of that name.
    struct Frame {
        std::vector<std::uint8_t> body;
        int majorVersion = 0;
    };
    static std::optional<Frame> findFrame(platform::ByteView data, std::string_view id, std::string_view id22);
    static std::vector<std::uint8_t> removeUnsynchronisation(platform::ByteView bytes);
    // Offset just past the terminator of the string that starts at `from`
    // in the frame's text encoding (one zero byte for encodings 0 and 3, a
    // zero unit at an even distance for 1 and 2); empty when there is none.
    static std::optional<std::size_t> afterTerminator(platform::ByteView body, std::size_t from, int encoding);
    static std::u16string decodeText(platform::ByteView text, int encoding, bool littleEndianDefault);
};
