#include "sizecalc/PsdFileCheck.h"

#include "sizecalc/CarvingContext.h"

#include <algorithm>

namespace {
// Covers the bytes a file may still have behind the measured part.
constexpr std::uint64_t kMargin = 512;
// The window is moved once a position reaches this.
constexpr std::uint64_t kWindowEnd = 65535;
// Zero bytes in a row (in whole words) after which the pixel data is taken
// to have ended.
constexpr std::uint32_t kLongestZeroRun = 50;
constexpr std::uint32_t kMostLayers = 100;
constexpr double kLargestEstimate = 2040109465.6;
// The pixel data's compression: none, the channels' rows one after another;
// or each row run-length coded (PackBits), a table of every row's byte count
// first.
constexpr std::uint16_t kRaw = 0;
constexpr std::uint16_t kRle = 1;
constexpr std::uint64_t kRowCountBytes = 2;
// A PSD's bounds: channels, and pixels a side.
constexpr std::uint32_t kMostChannels = 56;
constexpr std::uint32_t kLongestSide = 30000;

// The rows of the header's picture, all channels', and the bytes of each
// uncoded; none where the header gives no picture (a depth or a size a PSD
// does not have).
struct Rows {
    std::uint64_t count = 0;
    std::uint64_t bytes = 0;
};
Rows compositeRows(platform::ByteView header) {
    const std::uint64_t channels = header.be16(12), height = header.be32(14), width = header.be32(18);
    const std::uint16_t depth = header.be16(22);
    if (channels == 0 || channels > kMostChannels || height > kLongestSide || width > kLongestSide) return {};
    if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return {};
    return {channels * height, depth == 1 ? (width + 7) / 8 : width * (depth / 8)};
}

// Bytes of pixel data per square inch at 72 pixels per inch for a colour
// mode and depth; 0 where the pair is not one a writer makes.
float pixelFactor(std::uint16_t mode, std::uint16_t depth) {
    switch (mode) {
    case 0: // bitmap
        return depth == 1 ? 648.0f : 0.0f;
    case 1: // grayscale
    case 2: // indexed
    case 7: // multichannel
    case 8: // duotone
        return depth == 8 ? 5181.44f : depth == 16 ? 10342.4f : depth == 32 ? 20787.2f : 0.0f;
    case 3: // RGB
        return depth == 8 ? 15564.8f : depth == 16 ? 31129.6f : depth == 32 ? 62259.2f : 0.0f;
    case 4: // CMYK
        return depth == 8 ? 20787.2f : depth == 16 ? 41574.4f : 0.0f;
    case 9: // Lab
        return depth == 8 ? 15564.8f : depth == 16 ? 31129.6f : 0.0f;
    default:
        return 0.0f;
    }
}
} // namespace

PsdFileCheck::PsdFileCheck(CarvingContext& context)
    : SizeCalculator("psd", context), window_(context), cursor_(context.fileCursor()) {}

bool PsdFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    // "8BPS", version 1 and the reserved bytes, which are zero.
    return leading.be32(0) == 0x38425053 && leading.be32(4) == 0x00010000 && leading.be32(8) == 0;
}

std::uint64_t PsdFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint32_t bytesPerSector = context_.bytesPerSector();
    // The header is read from the window: the colour mode's low byte lies
    // just past the leading bytes.
    const platform::ByteView header = window_.view();
    const std::uint32_t height = header.be32(14);
    const std::uint32_t width = header.be32(18);
    if (height == 0 || width == 0) return 0;
    const double f = pixelFactor(header.be16(24), header.be16(22));
    const double longSide = std::max(width, height);
    const double shortSide = std::min(width, height);
    double estimate = ((longSide / 72.0) * f * (longSide / 72.0)) / (longSide / shortSide);
    // The window moves on: the header is read now.
    const Rows rows = compositeRows(header);
    const std::uint64_t raw = rows.count * rows.bytes <= kLargestEstimate ? rows.count * rows.bytes : 0;

    // n: bytes of the file measured so far; p: the same place in the window.
    std::uint64_t p = 26;
    std::uint64_t n = 26;
    std::uint32_t layers = 1;
    // A length read from a sector the medium could not give is no length:
    // the composite is then not where the walk looks for it.
    bool lost = false;
    // Colour mode data, image resources, layer and mask information.
    for (int section = 0; section < 3; ++section) {
        lost = lost || window_.unreadable(window_.sector(), p, 4);
        const std::uint64_t length = std::uint64_t(window_.view().be32(p)) + 4;
        n += length;
        p += length;
        if (p >= kWindowEnd) {
            if (!window_.readAt(sectorNumber + n / bytesPerSector)) return 0;
            p = n % bytesPerSector;
        }
        if (section == 1) {
            const std::uint32_t count = window_.view().be16(p + 8);
            if (count >= 1 && count <= kMostLayers) layers = count;
        }
    }
    // The composite's compression, then its data: raw data has the length
    // the header gives it, zeros and all; coded rows, the counts of their
    // table.
    if (rows.count != 0 && !lost && !window_.unreadable(window_.sector(), p, 2)) {
        const std::uint16_t compression = window_.view().be16(p);
        if (compression == kRaw && raw != 0) return n + 2 + raw + kMargin;
        if (compression == kRle)
            if (const std::uint64_t coded = codedRowBytes(sectorNumber, n + 2, rows.count, rows.bytes))
                return n + 2 + rows.count * kRowCountBytes + coded + kMargin;
    }
    estimate = std::min(estimate * layers, kLargestEstimate);
    const auto target = static_cast<std::uint64_t>(std::max(double(3 * n), estimate));

    std::uint32_t zeroRun = 0;
    while (n < target && !context_.stopped()) {
        if (window_.view().be32(p) == 0) {
            zeroRun += 4;
            if (zeroRun > kLongestZeroRun) break;
        } else {
            zeroRun = 0;
        }
        p += 4;
        n += 4;
        if (p >= kWindowEnd) {
            if (!window_.readAt(sectorNumber + n / bytesPerSector)) return 0;
            // The window starts at n's sector, not at n: from here the
            // zero-run test reads up to a sector behind the count, so the
            // file is carved up to a sector longer.
            p = 0;
        }
    }
    return n + kMargin;
}

std::uint64_t PsdFileCheck::codedRowBytes(std::uint64_t sectorNumber, std::uint64_t table, std::uint64_t rows,
                                          std::uint64_t rowBytes) {
    cursor_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    std::uint64_t sum = 0;
    for (std::uint64_t row = 0; row < rows; ++row) {
        if (row % 65536 == 0 && context_.stopped()) return 0;
        // A coded row takes a byte at least, and its header byte; at the
        // most, a header byte for each of its bytes. Zeros, of a table cut
        // off or of sectors the medium could not give, are no count.
        const std::uint64_t count = cursor_.bytes(table + row * kRowCountBytes, kRowCountBytes).be16(0);
        if (count < 2 || count > 2 * rowBytes) return 0;
        sum += count;
    }
    return sum;
}
