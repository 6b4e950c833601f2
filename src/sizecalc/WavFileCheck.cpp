#include "sizecalc/WavFileCheck.h"

#include "sizecalc/CarvingContext.h"
#include "sizecalc/RiffHeader.h"

#include <algorithm>

namespace {
constexpr std::uint32_t kWave = 0x57415645; // "WAVE"
constexpr std::uint32_t kData = 0x64617461; // "data"
// Too short to be a recording worth carving.
constexpr std::uint64_t kMinRiffBytes = 4096;
// The longest RIFF length believed; one above it was never written.
constexpr std::uint64_t kLongestRiff = 0xFFFFFFF0;
constexpr std::uint64_t kRiffHeaderBytes = 12;
constexpr std::uint64_t kChunkHeaderBytes = 8;
// The chunks before the sound (format, facts, broadcast extension, lists of
// tags, padding) come to far less, and are far fewer.
constexpr std::uint64_t kLongestHeader = 1048576;
constexpr unsigned kMostHeaderChunks = 64;

// Four characters from space to tilde, as every chunk's identifier is.
bool printable(std::uint32_t id) {
    for (unsigned shift = 0; shift < 32; shift += 8) {
        const std::uint32_t c = (id >> shift) & 0xFF;
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}
} // namespace

WavFileCheck::WavFileCheck(CarvingContext& context)
    : SizeCalculator("wav", context), cursor_(context.reader(), context.bytesPerSector(), 0, 0, 1) {}

bool WavFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return riff::isRiff(leading) && leading.be32(8) == kWave;
}

std::uint64_t WavFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint64_t riffBytes = leading.le32(4);
    // Past the longest header, a length ends past the chunks before the
    // sound whatever they are.
    if (riffBytes > kLongestRiff || riffBytes <= kLongestHeader) {
        const std::optional<std::uint64_t> data = dataChunkAt(sectorNumber);
        // A length that ends before the sound's first byte (a recorder that
        // writes its header first leaves it at 0) was never finished either.
        if (data && (riffBytes > kLongestRiff || riffBytes <= *data)) return unfinishedFileBytes(sectorNumber, *data);
    }
    return riff::fileBytesWithin(leading, kMinRiffBytes);
}

std::optional<std::uint64_t> WavFileCheck::dataChunkAt(std::uint64_t sectorNumber) {
    if (context_.bytesPerSector() == 0) return std::nullopt;
    cursor_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    // The chunks from the header's on, to the data chunk.
    std::uint64_t at = kRiffHeaderBytes;
    for (unsigned chunks = 0;; ++chunks) {
        const platform::ByteView header = cursor_.at(at, kChunkHeaderBytes);
        const std::uint32_t id = header.be32(0);
        if (id == kData) return at;
        if (chunks == kMostHeaderChunks || context_.stopped() || !printable(id)) return std::nullopt;
        const std::uint64_t length = header.le32(4);
        at += kChunkHeaderBytes + length + (length & 1);
        if (at > kLongestHeader) return std::nullopt;
    }
}

std::uint64_t WavFileCheck::unfinishedFileBytes(std::uint64_t sectorNumber, std::uint64_t at) {
    const std::uint32_t bps = context_.bytesPerSector();
    const std::uint64_t room = context_.bytesFrom(sectorNumber);
    const std::uint64_t sound = at + kChunkHeaderBytes;
    const std::uint64_t soundBytes = cursor_.at(at, kChunkHeaderBytes).le32(4);
    const std::uint64_t longest = std::min(room, kLongestRiff + kChunkHeaderBytes);
    std::uint64_t n = 0;
    if (soundBytes != 0 && sound + soundBytes <= kLongestRiff + kChunkHeaderBytes) {
        n = sound + soundBytes;
    } else {
        // The sound runs on to where the next file begins, as far as any
        // RIFF file may reach.
        const std::uint64_t end = sectorNumber + (longest + bps - 1) / bps;
        const std::optional<std::uint64_t> next = context_.nextFileFrom(sectorNumber + 1, end);
        n = next ? (*next - sectorNumber) * std::uint64_t{bps} : longest;
    }
    return n < kMinRiffBytes + kChunkHeaderBytes ? 0 : n;
}
