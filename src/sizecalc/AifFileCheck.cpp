#include "sizecalc/AifFileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::uint32_t kForm = 0x464F524D; // "FORM"
constexpr std::uint32_t kName = 0x4E414D45; // "NAME"
constexpr std::uint32_t kAnno = 0x414E4E4F; // "ANNO"
constexpr std::array<std::uint32_t, 13> kChunks = {
    0x434F4D4D, // COMM
    kAnno,      // ANNO
    0x53534E44, // SSND
    0x4D41524B, // MARK
    0x494E5354, // INST
    0x4D494449, // MIDI
    0x41455344, // AESD
    0x4150504C, // APPL
    kName,      // NAME
    0x434F4D54, // COMT
    0x41555448, // AUTH
    0x46564552, // FVER
    0x28632920, // "(c) "
};
constexpr std::uint64_t kFormHeaderBytes = 12;
// A sum of chunks past these is not believed: the carved file gets a fixed
// 60 MiB instead.
constexpr std::uint64_t kRunawayBytes = 4294967280;
constexpr std::uint64_t kMaxBytes = 2147483640;
constexpr std::uint64_t kRunawayAnswer = 62914560;
// Shorter than any real recording; trailing bytes are taken along.
constexpr std::uint64_t kMinBytes = 1024;
constexpr std::uint64_t kMargin = 512;

bool knownChunk(std::uint32_t id) {
    return std::find(kChunks.begin(), kChunks.end(), id) != kChunks.end();
}

} // namespace

AifFileCheck::AifFileCheck(CarvingContext& context) : SizeCalculator("aif", context), window_(context) {}

bool AifFileCheck::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (leading.be32(0) != kForm || leading.u8(8) != 'A' || leading.u8(9) != 'I' || leading.u8(10) != 'F') return false;
    // "FORM....AIF" alone is common in other data; the chunk after the first
    // must be an AIFF chunk as well.
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0) return false;
    const std::uint64_t second = std::uint64_t{leading.be32(16)} + 20;
    if (!window_.readAt(platform::saturatingAdd(sectorNumber, second / bps))) return false;
    return knownChunk(window_.view().be32(second % bps));
}

std::uint64_t AifFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint32_t bps = context_.bytesPerSector();
    std::uint64_t n = 0; // the chunks, without the FORM header
    std::uint64_t p = kFormHeaderBytes;
    while (!context_.stopped()) {
        const std::uint32_t id = window_.view().be32(p);
        if (!knownChunk(id)) break;
        // A text chunk's odd length is followed by a pad byte; these are
        // taken to have one whatever their length.
        const std::uint64_t step = std::uint64_t{window_.view().be32(p + 4)} + 8 + (id == kName || id == kAnno);
        n += step;
        p += step;
        if (p >= ReadWindow::kBytes) {
            const std::uint64_t next = n + kFormHeaderBytes;
            if (!window_.readAt(platform::saturatingAdd(sectorNumber, next / bps))) return 0;
            p = next % bps;
        }
        if (n > kRunawayBytes) return kRunawayAnswer;
    }
    if (n > kMaxBytes) n = kRunawayAnswer;
    if (n < kMinBytes) n = 0;
    return n + kMargin;
}
