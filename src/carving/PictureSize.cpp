#include "carving/PictureSize.h"

#include <cstdlib>
#include <cstring>

namespace {

using platform::ByteView;
using Size = PictureSize::Size;

constexpr double kPointsPerInch = 72.0;
constexpr double kInchesPerMetre = 1.0 / 0.0254;
constexpr double kInchesPerCentimetre = 1.0 / 2.54;

bool startsWith(ByteView bytes, const char* magic, std::size_t length) {
    return bytes.has(0, length) && std::memcmp(bytes.data(), magic, length) == 0;
}

// Pixels at so many dots per inch, in points; pixels as they are when the
// resolution is unknown.
double points(double pixels, double dotsPerInch) {
    return dotsPerInch > 0 ? pixels * kPointsPerInch / dotsPerInch : pixels;
}

std::optional<Size> sized(double width, double height, double xDpi, double yDpi) {
    if (width == 0) return std::nullopt;
    return Size{points(width, xDpi), points(height, yDpi)};
}

} // namespace

std::optional<Size> PictureSize::of(ByteView bytes) {
    if (startsWith(bytes, "\xFF\xD8", 2)) return jpeg(bytes);
    if (startsWith(bytes, "\x89PNG\r\n\x1A\n", 8)) return png(bytes);
    if (startsWith(bytes, "GIF8", 4)) return gif(bytes);
    if (startsWith(bytes, "BM", 2)) return bmp(bytes);
    if (startsWith(bytes, "II*\0", 4) || startsWith(bytes, "MM\0*", 4)) return tiff(bytes);
    return std::nullopt;
}

std::optional<Size> PictureSize::jpeg(ByteView bytes) {
    double xDpi = 0, yDpi = 0;
    std::size_t at = 2;
    while (bytes.has(at, 4)) {
        if (bytes.u8(at) != 0xFF) return std::nullopt;
        const std::uint8_t marker = bytes.u8(at + 1);
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt; // no frame header before the data
        const std::size_t length = bytes.be16(at + 2);
        if (length < 2) return std::nullopt;
        if (marker == 0xE0 && startsWith(bytes.sub(at + 4), "JFIF\0", 5)) {
            const std::uint8_t units = bytes.u8(at + 11);
            const double scale = units == 1 ? 1.0 : units == 2 ? 1.0 / kInchesPerCentimetre : 0.0;
            xDpi = bytes.be16(at + 12) * scale;
            yDpi = bytes.be16(at + 14) * scale;
        }
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (!bytes.has(at + 5, 4)) return std::nullopt;
            return sized(bytes.be16(at + 7), bytes.be16(at + 5), xDpi, yDpi);
        }
        at += 2 + length;
    }
    return std::nullopt;
}

std::optional<Size> PictureSize::png(ByteView bytes) {
    if (!bytes.has(16, 8) || std::memcmp(bytes.data() + 12, "IHDR", 4) != 0) return std::nullopt;
    const double width = bytes.be32(16), height = bytes.be32(20);
    double xDpi = 0, yDpi = 0;
    // pHYs comes before the image data, if at all.
    for (std::size_t at = 8; bytes.has(at, 8);) {
        const std::uint64_t length = bytes.be32(at);
        const ByteView type = bytes.sub(at + 4, 4);
        if (startsWith(type, "IDAT", 4) || startsWith(type, "IEND", 4)) break;
        if (startsWith(type, "pHYs", 4) && length >= 9 && bytes.u8(at + 16) == 1) {
            xDpi = bytes.be32(at + 8) / kInchesPerMetre;
            yDpi = bytes.be32(at + 12) / kInchesPerMetre;
            break;
        }
        if (length > bytes.size()) break;
        at += 12 + static_cast<std::size_t>(length);
    }
    return sized(width, height, xDpi, yDpi);
}

std::optional<Size> PictureSize::gif(ByteView bytes) {
    if (!bytes.has(6, 4)) return std::nullopt;
    return sized(bytes.le16(6), bytes.le16(8), 0, 0);
}

std::optional<Size> PictureSize::bmp(ByteView bytes) {
    const std::uint32_t header = bytes.le32(14);
    if (header == 12) {
        if (!bytes.has(18, 4)) return std::nullopt;
        return sized(bytes.le16(18), bytes.le16(20), 0, 0);
    }
    if (header < 40 || !bytes.has(14, 40)) return std::nullopt;
    // A negative height is a top-down bitmap of that many rows.
    const double width = std::abs(static_cast<double>(static_cast<std::int32_t>(bytes.le32(18))));
    const double height = std::abs(static_cast<double>(static_cast<std::int32_t>(bytes.le32(22))));
    const double xDpi = static_cast<std::int32_t>(bytes.le32(38)) / kInchesPerMetre;
    const double yDpi = static_cast<std::int32_t>(bytes.le32(42)) / kInchesPerMetre;
    return sized(width, height, xDpi, yDpi);
}

std::optional<Size> PictureSize::tiff(ByteView bytes) {
    const bool big = bytes.u8(0) == 'M';
    const auto u16 = [&](std::size_t at) { return big ? bytes.be16(at) : bytes.le16(at); };
    const auto u32 = [&](std::size_t at) { return big ? bytes.be32(at) : bytes.le32(at); };
    const std::size_t ifd = u32(4);
    if (!bytes.has(ifd, 2)) return std::nullopt;
    const std::size_t count = u16(ifd);
    double width = 0, height = 0, xRes = 0, yRes = 0;
    std::uint32_t unit = 2; // inches unless the file says otherwise
    const auto rational = [&](std::size_t entry) {
        const std::size_t at = u32(entry + 8);
        const std::uint32_t denominator = u32(at + 4);
        return bytes.has(at, 8) && denominator != 0 ? double(u32(at)) / denominator : 0.0;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + i * 12;
        if (!bytes.has(entry, 12)) break;
        const std::uint16_t tag = u16(entry);
        // SHORT values sit in the first half of the value field.
        const double value = u16(entry + 2) == 3 ? u16(entry + 8) : u32(entry + 8);
        if (tag == 256)
            width = value;
        else if (tag == 257)
            height = value;
        else if (tag == 282)
            xRes = rational(entry);
        else if (tag == 283)
            yRes = rational(entry);
        else if (tag == 296)
            unit = static_cast<std::uint32_t>(value);
    }
    const double scale = unit == 2 ? 1.0 : unit == 3 ? 1.0 / kInchesPerCentimetre : 0.0;
    return sized(width, height, xRes * scale, yRes * scale);
}
