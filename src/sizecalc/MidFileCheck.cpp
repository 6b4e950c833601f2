#include "sizecalc/MidFileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"
#include "sizecalc/RiffHeader.h"

namespace {

constexpr std::uint32_t kHeaderChunk = 0x4D546864; // "MThd"
constexpr std::uint32_t kTrackChunk = 0x4D54726B;  // "MTrk"
constexpr std::uint32_t kRiffMidi = 0x524D4944;    // "RMID"
constexpr std::uint64_t kHeaderBytes = 14;         // MThd, its length and its 6 bytes
// Shorter than any tune worth carving.
constexpr std::uint64_t kMinBytes = 4096;
// Longer than any MIDI file is a damaged header: the carved file gets a
// fixed 15 MiB instead.
constexpr std::uint64_t kMaxBytes = 2147483640;
constexpr std::uint64_t kMaxFileBytes = 4294967280;
constexpr std::uint64_t kRunawayAnswer = 15728640;
// A walk that met something other than a track before the last announced
// one takes the bytes after it along.
constexpr std::uint64_t kMargin = 512;
// The walk keeps windows aligned to 64 KiB of the file.
constexpr unsigned kWindowShift = 16;

} // namespace

MidFileCheck::MidFileCheck(CarvingContext& context) : SizeCalculator("mid", context), window_(context) {}

bool MidFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    bRiffMidiFile = false;
    if (leading.be32(0) == kHeaderChunk && leading.be32(14) == kTrackChunk) return true;
    if (riff::isRiff(leading) && leading.be32(8) == kRiffMidi) {
        bRiffMidiFile = true;
        return true;
    }
    return false;
}

std::uint64_t MidFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    if (bRiffMidiFile) {
        const std::uint64_t n = riff::fileBytes(window_.view());
        if (n > kMaxBytes) return kRunawayAnswer;
        return n < kMinBytes ? 0 : n;
    }
    return standardFileBytes(sectorNumber);
}

std::uint64_t MidFileCheck::standardFileBytes(std::uint64_t sectorNumber) {
    const std::uint32_t sectorsPerWindow = ReadWindow::kBytes / context_.bytesPerSector();
    std::int32_t tracks = window_.view().be16(10);
    std::uint64_t n = kHeaderBytes;
    std::uint64_t windowInHand = 0;
    bool allTracks = true;
    while (tracks > 0 && !context_.stopped()) {
        const std::uint64_t at = n & (ReadWindow::kBytes - 1);
        if (window_.view().be32(at) != kTrackChunk) {
            allTracks = false;
            break;
        }
        n += std::uint64_t{window_.view().be32(at + 4)} + 8;
        if (n > kMaxBytes) return kRunawayAnswer;
        if (n >> kWindowShift != windowInHand) {
            windowInHand = n >> kWindowShift;
            if (!window_.readAt(platform::saturatingMulAdd(sectorNumber, windowInHand, sectorsPerWindow))) return 0;
        }
        --tracks;
    }
    if (allTracks) {
        if (n > kMaxFileBytes) return kRunawayAnswer;
        return n < kMinBytes ? 0 : n;
    }
    if (n > kMaxBytes) return kRunawayAnswer + kMargin;
    return n < kMinBytes ? 0 : n + kMargin;
}
