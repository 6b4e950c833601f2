#include "sizecalc/AmrFileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kMagic = 0x2321414D;        // "#!AM"
constexpr std::uint32_t kWideBandTail = 0x2D57420A; // "-WB\n"
constexpr std::uint64_t kNarrowMagicBytes = 6;      // "#!AMR\n"
constexpr std::uint64_t kWideMagicBytes = 9;        // "#!AMR-WB\n"
// Longer than any recording a phone or recorder writes: a run of
// frame-shaped bytes that long is not a file.
constexpr std::uint64_t kMaxBytes = 2040109465; // 1.9 GiB

// Frame bytes, header byte included, by frame type, for speech frames with
// the quality bit set (header byte = type x 8 + 4). 0: the walk ends there.
constexpr std::array<std::uint8_t, 9> kNarrowFrame = {13, 14, 16, 18, 20, 21, 27, 32, 0};
constexpr std::array<std::uint8_t, 9> kWideFrame = {18, 24, 33, 37, 41, 47, 51, 59, 61};
constexpr std::uint64_t kLongestFrame = 61;
// Frames in a row that show where a stream goes on after sectors the medium
// could not give: a header byte is one in sixteen of any bytes.
constexpr std::uint32_t kResyncFrames = 6;
// How far the runs that may go on after such sectors are followed to judge
// between them: about five minutes of speech.
constexpr std::uint32_t kJudgedFrames = 16384;

std::uint64_t frameBytes(std::uint8_t header, bool wide) {
    if ((header & 7) != 4 || header / 8 >= kNarrowFrame.size()) return 0;
    return wide ? kWideFrame[header / 8] : kNarrowFrame[header / 8];
}

} // namespace

AmrFileCheck::AmrFileCheck(CarvingContext& context) : SizeCalculator("amr", context), window_(context) {}

bool AmrFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    if (leading.be32(0) != kMagic || leading.u8(4) != 'R') return false;
    bWideBandAmr = leading.be32(5) == kWideBandTail;
    return true;
}

std::optional<std::uint8_t> AmrFileCheck::headerAt(std::uint64_t offset) {
    const std::uint32_t bps = context_.bytesPerSector();
    const std::uint64_t windowOffset = (window_.sector() - fileSector_) * bps;
    if (offset < windowOffset || offset - windowOffset >= ReadWindow::kBytes) {
        if (!window_.readAt(platform::saturatingAdd(fileSector_, offset / bps))) return std::nullopt;
        return window_.view().u8(offset % bps);
    }
    return window_.view().u8(offset - windowOffset);
}

AmrFileCheck::Run AmrFileCheck::framesFrom(std::uint64_t at, std::uint32_t most) {
    Run run{at, 0};
    for (; run.frames < most && run.end <= kMaxBytes && !context_.stopped(); ++run.frames) {
        const std::optional<std::uint8_t> header = headerAt(run.end);
        const std::uint64_t size = header ? frameBytes(*header, bWideBandAmr) : 0;
        if (size == 0) break;
        run.end += size;
    }
    return run;
}

std::optional<std::uint64_t> AmrFileCheck::frameAfterLoss(std::uint64_t offset) {
    const std::optional<std::uint64_t> from = window_.readableFrom(fileSector_, offset, kMaxBytes);
    if (!from) return std::nullopt;
    // Speech of one sound (a tone, silence) repeats its frames, so a run of
    // frames may also begin inside one: such a run breaks off where the
    // sound changes, the stream's own goes on. Of the places a run begins,
    // the first whose run reaches about as far as the longest (followed a
    // few minutes at most): one that breaks off early would cut the file
    // short.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs; // where each begins and breaks off
    std::uint64_t farthest = 0;
    for (std::uint64_t next = *from; next < *from + kLongestFrame && !context_.stopped(); ++next) {
        if (framesFrom(next, kResyncFrames).frames < kResyncFrames) continue;
        runs.emplace_back(next, framesFrom(next, kJudgedFrames).end);
        farthest = std::max(farthest, runs.back().second);
    }
    for (const auto& [begin, end] : runs)
        if (end + kLongestFrame >= farthest) return begin;
    return std::nullopt;
}

std::uint64_t AmrFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    fileSector_ = sectorNumber;
    std::uint64_t n = bWideBandAmr ? kWideMagicBytes : kNarrowMagicBytes;
    while (!context_.stopped()) {
        const std::optional<std::uint8_t> header = headerAt(n);
        if (!header) return 0;
        const std::uint64_t size = frameBytes(*header, bWideBandAmr);
        // Zeros of a sector that could not be read are no end of the stream.
        if (size == 0 && window_.unreadable(fileSector_, n, 1))
            if (const std::optional<std::uint64_t> next = frameAfterLoss(n); next && *next <= kMaxBytes) {
                n = *next;
                continue;
            }
        if (size == 0) break;
        n += size;
        if (n > kMaxBytes) break;
    }
    return n;
}
