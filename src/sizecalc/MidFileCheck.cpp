#include "sizecalc/MidFileCheck.h"

#include "formats/RiffHeader.h"
#include "sizecalc/CarvingContext.h"

namespace {

constexpr std::uint32_t kHeaderChunk = 0x4D546864; // "MThd"
constexpr std::uint32_t kTrackChunk = 0x4D54726B;  // "MTrk"
constexpr std::uint32_t kRiffMidi = 0x524D4944;    // "RMID"
constexpr std::uint64_t kHeaderBytes = 14;         // MThd, its length and its 6 bytes
constexpr std::uint64_t kChunkHeaderBytes = 8;
// A RIFF-wrapped file shorter than this is taken only when the standard file
// it wraps begins as one does.
constexpr std::uint64_t kMinRiffBytes = 4096;
// The RIFF header and the data chunk's before the standard file.
constexpr std::uint64_t kRiffWrapBytes = 20;
// Longer than any MIDI file is a damaged header: the carved file gets a
// fixed 15 MiB instead.
constexpr std::uint64_t kMaxBytes = 2147483640;
constexpr std::uint64_t kMaxFileBytes = 4294967280;
constexpr std::uint64_t kRunawayAnswer = 15728640;
// A walk that met something other than a track before the last announced
// one takes the bytes after it along.
constexpr std::uint64_t kMargin = 512;

} // namespace

MidFileCheck::MidFileCheck(CarvingContext& context) : SizeCalculator("mid", context), cursor_(context.fileCursor()) {}

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
    cursor_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    const platform::ByteView head = cursor_.bytes(0, kRiffWrapBytes + kHeaderBytes + kChunkHeaderBytes);
    if (head.empty()) return 0;
    if (bRiffMidiFile) {
        const std::uint64_t n = riff::fileBytes(head);
        if (n > kMaxBytes) return kRunawayAnswer;
        // A short one holds at least the smallest whole standard file: its
        // header and one track.
        const bool wrapsTrack = head.be32(kRiffWrapBytes) == kHeaderChunk &&
                                head.be32(kRiffWrapBytes + kHeaderBytes) == kTrackChunk &&
                                n >= kRiffWrapBytes + kHeaderBytes + kChunkHeaderBytes;
        return n < kMinRiffBytes && !wrapsTrack ? 0 : n;
    }
    return standardFileBytes(head.be16(10));
}

std::uint64_t MidFileCheck::standardFileBytes(std::uint32_t tracks) {
    std::uint64_t n = kHeaderBytes;
    // The chunks' heads are read, their events are not.
    std::uint64_t read = kHeaderBytes;
    bool allTracks = true;
    // A file is carved from its smallest whole form, a header and one track.
    bool oneTrack = false;
    for (; tracks > 0 && !context_.stopped(); --tracks) {
        const platform::ByteView track = cursor_.bytes(n, kChunkHeaderBytes);
        if (track.empty()) return 0;
        if (track.be32(0) != kTrackChunk) {
            allTracks = false;
            break;
        }
        read = n + kChunkHeaderBytes;
        n += track.be32(4) + kChunkHeaderBytes;
        if (n > kMaxBytes) return kRunawayAnswer;
        oneTrack = true;
    }
    context_.measuredUnvouched = {read, n, 0, {}};
    if (allTracks) {
        if (n > kMaxFileBytes) return kRunawayAnswer;
        return oneTrack ? n : 0;
    }
    if (n > kMaxBytes) return kRunawayAnswer + kMargin;
    return oneTrack ? n + kMargin : 0;
}
