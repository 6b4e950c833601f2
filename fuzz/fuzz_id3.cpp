// Runs the ID3 tag reading of the preview over arbitrary bytes, as a found
// audio file's first bytes come off a damaged medium: once as given, and
// once behind a well-formed tag header of each version so the fuzzer spends
// its time in the frame walk rather than on the three magic letters.

#include "platform/ByteView.h"
#include "results/ID3Tag.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void readAll(const std::vector<std::uint8_t>& bytes) {
    const platform::ByteView data(bytes);
    (void)ID3Tag::hasTag(data);
    // Nothing a frame yields can be larger than the bytes it came from.
    const std::u16string lyrics = ID3Tag::lyrics(data);
    if (lyrics.size() > bytes.size()) std::abort();
    const std::vector<std::uint8_t> picture = ID3Tag::picture(data);
    if (picture.size() > bytes.size()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> input(data, data + size);
    readAll(input);

    if (size >= 2) {
        // Byte 0 picks the version (2, 3 or 4) and byte 1 the tag flags; the
        // rest follows a header whose size covers it, in synchsafe form.
        const std::uint8_t major = static_cast<std::uint8_t>(2 + data[0] % 3);
        const std::uint32_t body = static_cast<std::uint32_t>(std::min<std::size_t>(size - 2, 0x0FFFFFFF));
        std::vector<std::uint8_t> tagged = {'I',
                                            'D',
                                            '3',
                                            major,
                                            0,
                                            data[1],
                                            static_cast<std::uint8_t>((body >> 21) & 0x7F),
                                            static_cast<std::uint8_t>((body >> 14) & 0x7F),
                                            static_cast<std::uint8_t>((body >> 7) & 0x7F),
                                            static_cast<std::uint8_t>(body & 0x7F)};
        tagged.insert(tagged.end(), data + 2, data + size);
        readAll(tagged);
    }

    if (size >= 4) {
        const std::uint32_t v = (static_cast<std::uint32_t>(data[0]) << 24) |
                                (static_cast<std::uint32_t>(data[1]) << 16) |
                                (static_cast<std::uint32_t>(data[2]) << 8) | data[3];
        if (ID3Tag::mp3BitShredder(v) > 0x0FFFFFFFu) std::abort();
    }
    return 0;
}
