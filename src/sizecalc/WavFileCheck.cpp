#include "sizecalc/WavFileCheck.h"

#include "formats/RiffHeader.h"
#include "sizecalc/CarvingContext.h"
#include "walks/WaveFileBounds.h"

#include <algorithm>

namespace {
constexpr std::uint32_t kWave = 0x57415645; // "WAVE"
// Too short to be a recording worth carving.
constexpr std::uint64_t kMinRiffBytes = 4096;
} // namespace

WavFileCheck::WavFileCheck(CarvingContext& context)
    : SizeCalculator("wav", context), cursor_(context.reader(), context.bytesPerSector(), 0, 0, 1) {}

bool WavFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return riff::isRiff(leading) && leading.be32(8) == kWave;
}

std::uint64_t WavFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint32_t bps = context_.bytesPerSector();
    const std::uint64_t room = context_.bytesFrom(sectorNumber);
    cursor_.startFile(sectorNumber, room);
    const auto stopped = [&] { return context_.stopped(); };
    const WaveFileBounds::Length length = WaveFileBounds::length(cursor_, leading, stopped);
    std::uint64_t n = length.bytes;
    // Its chunks are read up to the sound's; nothing leads past the sound.
    if (!length.unendedSoundFrom)
        if (const auto data = WaveFileBounds::dataChunkAt(cursor_, 0, WaveFileBounds::kLongestHeader, stopped))
            context_.measuredUnvouched = {*data + riff::kChunkHeaderBytes, n, 0, {}};
    if (length.unendedSoundFrom && bps != 0) {
        // The sound runs on to where the next file begins, as far as any
        // RIFF file may reach.
        const std::uint64_t longest = std::min(room, WaveFileBounds::kLongestRiff + riff::kChunkHeaderBytes);
        const std::uint64_t end = sectorNumber + (longest + bps - 1) / bps;
        const std::optional<std::uint64_t> next = context_.nextFileFrom(sectorNumber + 1, end);
        n = next ? (*next - sectorNumber) * std::uint64_t{bps} : longest;
    }
    return n < kMinRiffBytes + riff::kChunkHeaderBytes ? 0 : n;
}
