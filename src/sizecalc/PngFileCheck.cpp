#include "sizecalc/PngFileCheck.h"

#include "platform/Crc32.h"
#include "sizecalc/CarvingContext.h"
#include "walks/ExifThumbnail.h"
#include "walks/SteppedBodies.h"

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

// Every chunk type the format allows, registered, private or yet to come, is
// four ASCII letters.
bool isChunkName(platform::ByteView type) {
    const auto letter = [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return type.size() == 4 && std::all_of(type.data(), type.data() + 4, letter);
}

constexpr std::uint32_t kIend = 0x49454E44;
constexpr std::uint32_t kExif = 0x65584966; // "eXIf"
} // namespace

PngFileCheck::PngFileCheck(CarvingContext& context)
    : SizeCalculator("png", context), window_(context), crcReader_(context.fileCursor()) {}

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

bool PngFileCheck::crcHolds(std::uint64_t sectorNumber, std::uint64_t chunk, std::uint32_t length) {
    crcReader_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    const std::uint64_t bps = context_.bytesPerSector();
    // The type and the data, then the CRC.
    const std::uint64_t first = chunk + 4, end = first + 4 + std::uint64_t{length};
    if (bps == 0 || !crcReader_.readable(first, end + 4 - first)) return false;
    std::uint32_t crc = 0;
    for (std::uint64_t at = first; at < end;) {
        const std::uint64_t sector = at / bps;
        const platform::ByteView window = crcReader_.sectors(sector, ReadWindow::kBytes / bps);
        if (window.empty()) return false;
        const std::uint64_t from = at - sector * bps;
        const std::uint64_t take = std::min<std::uint64_t>(window.size() - from, end - at);
        crc = platform::crc32(window.sub(static_cast<std::size_t>(from), static_cast<std::size_t>(take)), crc);
        at += take;
    }
    // A chunk over sectors the medium could not give cannot be checked: it
    // is taken as the file's, as a known chunk would be.
    return crcReader_.at(end, 4).be32(0) == crc || crcReader_.unreadable(first, end + 4 - first);
}

std::uint64_t PngFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint32_t bytesPerSector = context_.bytesPerSector();
    // n: the file offset of the CRC of the chunk walked last (the header's
    // first); p: the same place in the window.
    std::uint64_t p = 29;
    std::uint64_t n = 29;
    bool ended = false;
    // The chunks' data, which the walk steps over by their lengths.
    SteppedBodies data(bytesPerSector);
    std::vector<std::uint64_t> thumbnails;
    while (n < kWalkLimit && !context_.stopped()) {
        p += 4;
        const platform::ByteView w = window_.view();
        const platform::ByteView type = w.sub(p + 4, 4);
        const std::uint64_t length = w.be32(p);
        const bool chunk = isChunkName(type) && length <= kLargestChunk;
        // Zeros of a sector that could not be read are no end of the file.
        if (!chunk && window_.unreadable(window_.sector(), p, 8))
            if (const std::optional<std::uint64_t> next = chunkAfterLoss(window_.sector(), p)) {
                // n: as if the chunk found followed a CRC.
                n += *next - p;
                if (!window_.readAt(sectorNumber + n / bytesPerSector)) return 0;
                p = n % bytesPerSector;
                continue;
            }
        if (!chunk) break;
        // A type the list above does not hold is the file's when the chunk's
        // CRC says so: on a medium, the bytes behind a file rarely make one.
        if (!isKnownChunk(type) && !crcHolds(sectorNumber, n + 4, static_cast<std::uint32_t>(length))) break;
        ended = type.be32(0) == kIend;
        // An eXIf chunk holds the picture's metadata as a TIFF structure: a
        // TIFF found where it begins is the picture's own.
        if (const std::uint32_t order = w.be32(p + 8);
            type.be32(0) == kExif && (order == 0x49492A00 || order == 0x4D4D002A))
            data.ownPartAt(n + 12);
        data.add(n + 12, n + 12 + length);
        // The thumbnail an eXIf chunk places is the image's own part.
        if (type.be32(0) == kExif && thumbnails.empty()) {
            thumbnails = ExifThumbnail::sectors(context_.reader(), bytesPerSector, sectorNumber,
                                                context_.bytesFrom(sectorNumber), n + 12, length,
                                                [this] { return context_.stopped(); });
            for (const std::uint64_t sector : thumbnails)
                data.ownPartAt(sector * bytesPerSector);
        }
        n += length + 12;
        p += length + 8;
        if (ended) break;
        if (p >= ReadWindow::kBytes) {
            if (!window_.readAt(sectorNumber + n / bytesPerSector)) return 0;
            p = n % bytesPerSector;
        }
    }
    // A walk that broke off before IEND (on a chunk that claims more than is
    // left, one that is no chunk, or at its limit) has not found the file's
    // end: what it walked is listed, marked.
    context_.measuredCut = !ended || n > kSizeLimit;
    if (n > kSizeLimit) return kCappedSize + kMargin;
    if (n < kSmallestFile) return 0;
    data.endAt(n);
    std::erase_if(thumbnails, [&](std::uint64_t sector) { return sector * bytesPerSector >= n; });
    context_.measuredUnvouched = {n, n, 0, data.ownSectors(), data.spans()};
    context_.thumbnails = std::move(thumbnails);
    return n + kMargin;
}
