#include "results/ID3Tag.h"

#include "volume/NewDir.h"

using platform::ByteView;

namespace {

constexpr std::size_t kTagHeaderLength = 10;

// Tag header flags.
constexpr std::uint8_t kTagUnsynchronised = 0x80;
constexpr std::uint8_t kTagExtendedHeader = 0x40;

// Frame format flags (second flag byte) of version 2.3 ...
constexpr std::uint16_t kV3Compressed = 0x0080;
constexpr std::uint16_t kV3Encrypted = 0x0040;
constexpr std::uint16_t kV3Grouped = 0x0020;
// ... and of version 2.4.
constexpr std::uint16_t kV4Grouped = 0x0040;
constexpr std::uint16_t kV4Compressed = 0x0008;
constexpr std::uint16_t kV4Encrypted = 0x0004;
constexpr std::uint16_t kV4Unsynchronised = 0x0002;
constexpr std::uint16_t kV4DataLengthIndicator = 0x0001;

bool isFrameIdCharacter(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

std::uint32_t ID3Tag::mp3BitShredder(std::uint32_t value) {
    return ((value & 0x7F000000u) >> 3) | ((value & 0x007F0000u) >> 2) | ((value & 0x00007F00u) >> 1) |
           (value & 0x0000007Fu);
}

bool ID3Tag::hasTag(ByteView data) {
    return data.has(0, kTagHeaderLength) && data.u8(0) == 'I' && data.u8(1) == 'D' && data.u8(2) == '3';
}

std::vector<std::uint8_t> ID3Tag::removeUnsynchronisation(ByteView bytes) {
    // The writer put a zero after every 0xFF that could be mistaken for an
    // MPEG sync; taking those zeros out again gives the real bytes.
    std::vector<std::uint8_t> out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = bytes.u8(i);
        out.push_back(b);
        if (b == 0xFF && i + 1 < bytes.size() && bytes.u8(i + 1) == 0x00) ++i;
    }
    return out;
}

std::optional<ID3Tag::Frame> ID3Tag::findFrame(ByteView data, std::string_view id, std::string_view id22) {
    if (!hasTag(data)) return std::nullopt;
    const int major = data.u8(3);
    if (major < 2 || major > 4) return std::nullopt;
    const std::uint8_t tagFlags = data.u8(5);
    const std::uint32_t tagSize = mp3BitShredder(data.be32(6));

    // The frames lie between the header and the end the tag claims, and
    // never beyond what was loaded.
    const ByteView area = data.sub(kTagHeaderLength, tagSize);
    std::vector<std::uint8_t> resynchronised;
    ByteView frames = area;
    if ((tagFlags & kTagUnsynchronised) && major < 4) {
        // Before 2.4 the whole tag was unsynchronised at once.
        resynchronised = removeUnsynchronisation(area);
        frames = ByteView(resynchronised);
    }

    std::uint64_t pos = 0;
    if (tagFlags & kTagExtendedHeader) {
        // In 2.2 this bit marks a compressed tag, which no reader ever
        // defined; nothing in it can be found.
        if (major == 2) return std::nullopt;
        if (!frames.has(0, 4)) return std::nullopt;
        if (major == 3) {
            pos = 4 + static_cast<std::uint64_t>(frames.be32(0)); // the size leaves itself out
        } else {
            pos = mp3BitShredder(frames.be32(0)); // the size counts itself
            if (pos < 6) return std::nullopt;
        }
        if (pos > frames.size()) return std::nullopt;
    }

    const std::size_t headerLength = major == 2 ? 6 : 10;
    const std::size_t idLength = major == 2 ? 3 : 4;
    const std::string_view wanted = major == 2 ? id22 : id;

    while (frames.has(static_cast<std::size_t>(pos), headerLength)) {
        const std::size_t at = static_cast<std::size_t>(pos);
        std::string name;
        for (std::size_t i = 0; i < idLength; ++i) {
            const std::uint8_t c = frames.u8(at + i);
            // Padding (zeros) or garbage: the frames end here.
            if (!isFrameIdCharacter(c)) return std::nullopt;
            name.push_back(static_cast<char>(c));
        }
        std::uint64_t size = 0;
        std::uint16_t frameFlags = 0;
        if (major == 2) {
            size = (static_cast<std::uint32_t>(frames.u8(at + 3)) << 16) |
                   (static_cast<std::uint32_t>(frames.u8(at + 4)) << 8) | frames.u8(at + 5);
        } else {
            const std::uint32_t raw = frames.be32(at + 4);
            size = major == 4 ? mp3BitShredder(raw) : raw;
            frameFlags = frames.be16(at + 8);
        }
        const std::size_t bodyStart = at + headerLength;
        // A frame that runs past the tag or the loaded bytes ends the walk
        // unfound: nothing of it is read.
        if (!frames.has(bodyStart, static_cast<std::size_t>(size))) return std::nullopt;

        if (name == wanted) {
            std::uint64_t skip = 0;
            bool unsynchronised = false;
            if (major == 3) {
                if (frameFlags & (kV3Compressed | kV3Encrypted)) return std::nullopt;
                if (frameFlags & kV3Grouped) skip += 1;
            } else if (major == 4) {
                if (frameFlags & (kV4Compressed | kV4Encrypted)) return std::nullopt;
                if (frameFlags & kV4Grouped) skip += 1;
                if (frameFlags & kV4DataLengthIndicator) skip += 4;
                unsynchronised = (frameFlags & kV4Unsynchronised) || (tagFlags & kTagUnsynchronised);
            }
            if (skip > size) return std::nullopt;
            const ByteView body =
                frames.sub(bodyStart + static_cast<std::size_t>(skip), static_cast<std::size_t>(size - skip));
            Frame frame;
            frame.majorVersion = major;
            if (unsynchronised)
                frame.body = removeUnsynchronisation(body);
            else
                frame.body.assign(body.data(), body.data() + body.size());
            return frame;
        }
        pos = bodyStart + size;
    }
    return std::nullopt;
}

std::optional<std::size_t> ID3Tag::afterTerminator(ByteView body, std::size_t from, int encoding) {
    if (encoding == 1 || encoding == 2) {
        for (std::size_t i = from; body.has(i, 2); i += 2)
            if (body.be16(i) == 0) return i + 2;
        return std::nullopt;
    }
    for (std::size_t i = from; i < body.size(); ++i)
        if (body.u8(i) == 0) return i + 1;
    return std::nullopt;
}

std::u16string ID3Tag::decodeText(ByteView text, int encoding, bool littleEndianDefault) {
    std::u16string out;
    switch (encoding) {
    case 0: // ISO-8859-1: each byte is its own code point.
        for (std::size_t i = 0; i < text.size() && text.u8(i) != 0; ++i)
            out.push_back(static_cast<char16_t>(text.u8(i)));
        return out;
    case 3: { // UTF-8
        std::size_t n = 0;
        while (n < text.size() && text.u8(n) != 0)
            ++n;
        return newdir::utf16(std::string_view(reinterpret_cast<const char*>(text.data()), n));
    }
    case 1:
    case 2: {
        std::size_t i = 0;
        bool little = encoding == 1 && littleEndianDefault;
        if (encoding == 1 && text.has(0, 2)) {
            // The text's own byte-order mark wins over the descriptor's.
            if (text.u8(0) == 0xFF && text.u8(1) == 0xFE)
                little = true, i = 2;
            else if (text.u8(0) == 0xFE && text.u8(1) == 0xFF)
                little = false, i = 2;
        }
        for (; text.has(i, 2); i += 2) {
            const std::uint16_t unit = little ? text.le16(i) : text.be16(i);
            if (unit == 0) break;
            out.push_back(static_cast<char16_t>(unit));
        }
        return out;
    }
    default:
        return out;
    }
}

std::u16string ID3Tag::lyrics(ByteView data) {
    const std::optional<Frame> frame = findFrame(data, "USLT", "ULT");
    if (!frame) return {};
    const ByteView body(frame->body);
    // Encoding, a three-letter language, the content descriptor, the text.
    if (!body.has(0, 4)) return {};
    const int encoding = body.u8(0);
    if (encoding > 3) return {};
    const std::optional<std::size_t> textStart = afterTerminator(body, 4, encoding);
    if (!textStart) return {};
    // Without a mark of its own the text follows the descriptor's byte
    // order; a descriptor without one leaves the host's (little-endian).
    const bool descriptorBigEndian = encoding == 1 && body.u8(4) == 0xFE && body.u8(5) == 0xFF;
    return decodeText(body.sub(*textStart), encoding, !descriptorBigEndian);
}

std::vector<std::uint8_t> ID3Tag::picture(ByteView data) {
    const std::optional<Frame> frame = findFrame(data, "APIC", "PIC");
    if (!frame) return {};
    const ByteView body(frame->body);
    if (body.empty()) return {};
    const int encoding = body.u8(0);
    if (encoding > 3) return {};
    std::size_t descriptionStart = 0;
    if (frame->majorVersion == 2) {
        // Encoding, a three-letter image format, the picture type.
        if (!body.has(0, 5)) return {};
        descriptionStart = 5;
    } else {
        // Encoding, a NUL-terminated MIME type, the picture type.
        const std::optional<std::size_t> mimeEnd = afterTerminator(body, 1, 0);
        if (!mimeEnd || *mimeEnd >= body.size()) return {};
        descriptionStart = *mimeEnd + 1;
    }
    const std::optional<std::size_t> pictureStart = afterTerminator(body, descriptionStart, encoding);
    if (!pictureStart) return {};
    const ByteView bytes = body.sub(*pictureStart);
    return std::vector<std::uint8_t>(bytes.data(), bytes.data() + bytes.size());
}
