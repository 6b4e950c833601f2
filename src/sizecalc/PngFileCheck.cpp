#include "sizecalc/PngFileCheck.h"

#include "sizecalc/CarvingContext.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {
// The last chunk's CRC and the bytes a file may still have behind it.
constexpr std::uint64_t kMargin = 516;
constexpr std::uint64_t kWalkLimit = 52428800;
constexpr std::uint64_t kLargestChunk = 51404800;
// A walk that ends beyond this has lost the file; it is carved at a fixed size.
constexpr std::uint64_t kSizeLimit = 102809600;
constexpr std::uint64_t kCappedSize = 5242880;
// Anything shorter than this is not taken for a picture.
constexpr std::uint64_t kSmallestFile = 50;

constexpr std::array<std::string_view, 18> kKnownChunks = {
    "IDAT", "IHDR", "IEND", "PLTE", "cHRM", "gAMA", "iCCP", "sBIT", "sRGB",
    "bKGD", "hIST", "tRNS", "pHYs", "sPLT", "tIME", "iTXt", "tEXt", "zTXt",
};

bool isKnownChunk(platform::ByteView type) {
    const std::string_view name(reinterpret_cast<const char*>(type.data()), type.size());
    return std::find(kKnownChunks.begin(), kKnownChunks.end(), name) != kKnownChunks.end();
}
} // namespace

PngFileCheck::PngFileCheck(CarvingContext& context) : SizeCalculator("png", context), window_(context) {}

bool PngFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return leading.be32(0) == 0x89504E47 && leading.be32(12) == 0x49484452; // 0x89 "PNG", "IHDR"
}

std::optional<std::uint64_t> PngFileCheck::chunkAfterLoss(std::uint64_t sector, std::uint64_t p) {
    // A standard chunk type behind a length a chunk may have.
    return window_.headerAfterLoss(
        sector, p + 7, kWalkLimit,
        [](std::uint32_t name) {
            const std::uint8_t bytes[] = {std::uint8_t(name >> 24), std::uint8_t(name >> 16), std::uint8_t(name >> 8),
                                          std::uint8_t(name)};
            return isKnownChunk(platform::ByteView(bytes, 4));
        },
        [](std::uint32_t length) { return length <= kLargestChunk; });
}

std::uint64_t PngFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint32_t bytesPerSector = context_.bytesPerSector();
    // n: the file offset of the CRC of the chunk walked last (the header's
    // first); p: the same place in the window.
    std::uint64_t p = 29;
    std::uint64_t n = 29;
    while (n < kWalkLimit && !context_.stopped()) {
        p += 4;
        const platform::ByteView w = window_.view();
        // Zeros of a sector that could not be read are no end of the file.
        if ((!isKnownChunk(w.sub(p + 4, 4)) || w.be32(p) > kLargestChunk) && window_.unreadable(window_.sector(), p, 8))
            if (const std::optional<std::uint64_t> next = chunkAfterLoss(window_.sector(), p)) {
                // n: as if the chunk found followed a CRC.
                n += *next - p;
                if (!window_.readAt(sectorNumber + n / bytesPerSector)) return 0;
                p = n % bytesPerSector;
                continue;
            }
        if (!isKnownChunk(w.sub(p + 4, 4))) break;
        const std::uint64_t length = w.be32(p);
        if (length > kLargestChunk) break;
        n += length + 12;
        p += length + 8;
        if (p >= ReadWindow::kBytes) {
            if (!window_.readAt(sectorNumber + n / bytesPerSector)) return 0;
            p = n % bytesPerSector;
        }
    }
    if (n > kSizeLimit) return kCappedSize + kMargin;
    return n >= kSmallestFile ? n + kMargin : 0;
}
