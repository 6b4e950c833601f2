#include "sizecalc/AifFileCheck.h"

#include "sizecalc/CarvingContext.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::uint32_t kForm = 0x464F524D; // "FORM"
constexpr std::array<std::uint32_t, 14> kChunks = {
    0x434F4D4D, // COMM
    0x414E4E4F, // ANNO
    0x53534E44, // SSND
    0x4D41524B, // MARK
    0x494E5354, // INST
    0x4D494449, // MIDI
    0x41455344, // AESD
    0x4150504C, // APPL
    0x4E414D45, // NAME
    0x434F4D54, // COMT
    0x41555448, // AUTH
    0x46564552, // FVER
    0x28632920, // "(c) "
    // The tags taggers and ffmpeg write after the sound.
    0x49443320, // "ID3 "
};
constexpr std::uint64_t kFormHeaderBytes = 12;
constexpr std::uint64_t kChunkHeaderBytes = 8;
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

// Four characters from space to tilde, as every chunk's identifier is.
bool printable(std::uint32_t id) {
    for (unsigned shift = 0; shift < 32; shift += 8) {
        const std::uint32_t c = (id >> shift) & 0xFF;
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

} // namespace

AifFileCheck::AifFileCheck(CarvingContext& context) : SizeCalculator("aif", context), cursor_(context.fileCursor()) {}

bool AifFileCheck::isChunkAt(std::uint64_t at) {
    const platform::ByteView header = cursor_.bytes(at, kChunkHeaderBytes);
    const std::uint32_t id = header.be32(0);
    if (knownChunk(id)) return true;
    // Another chunk ends inside the FORM's length, which random bytes after
    // the file do not keep to (the chunks the list names are walked past a
    // length an editor left stale).
    const std::uint64_t length = header.be32(4);
    const std::uint64_t end = at + kChunkHeaderBytes + length + (length & 1);
    return printable(id) && end <= kFormHeaderBytes + chunkBytes_;
}

std::uint64_t AifFileCheck::chunkStep(std::uint64_t at, std::uint64_t length) {
    const std::uint64_t unpadded = kChunkHeaderBytes + length;
    if ((length & 1) == 0) return unpadded;
    // A chunk of odd length is followed by a pad byte, unless its writer left
    // it out and the next chunk follows at once.
    return !isChunkAt(at + unpadded + 1) && isChunkAt(at + unpadded) ? unpadded : unpadded + 1;
}

bool AifFileCheck::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (leading.be32(0) != kForm || leading.u8(8) != 'A' || leading.u8(9) != 'I' || leading.u8(10) != 'F') return false;
    // "FORM....AIF" alone is common in other data; the chunk after the first
    // must be an AIFF chunk as well.
    if (context_.bytesPerSector() == 0) return false;
    cursor_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    chunkBytes_ = leading.be32(4) < 4 ? 0 : leading.be32(4) - 4ull;
    return isChunkAt(kFormHeaderBytes + chunkStep(kFormHeaderBytes, leading.be32(16)));
}

std::uint64_t AifFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    cursor_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    chunkBytes_ = leading.be32(4) < 4 ? 0 : leading.be32(4) - 4ull;
    std::uint64_t n = 0; // the chunks, without the FORM header
    // The chunks' heads are read; the last one's body nothing leads past.
    std::uint64_t read = kFormHeaderBytes;
    while (!context_.stopped()) {
        const std::uint64_t at = kFormHeaderBytes + n;
        if (cursor_.bytes(at, kChunkHeaderBytes).empty()) return 0;
        if (!isChunkAt(at)) break;
        read = at + kChunkHeaderBytes;
        n += chunkStep(at, cursor_.bytes(at, kChunkHeaderBytes).be32(4));
        if (n > kRunawayBytes) return kRunawayAnswer;
    }
    if (n > kMaxBytes) n = kRunawayAnswer;
    // A walk that did not get this far found no file.
    if (n < kMinBytes) return 0;
    context_.measuredUnvouched = {read, kFormHeaderBytes + n, 0, {}};
    return n + kMargin;
}
