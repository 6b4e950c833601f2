#include "sizecalc/Mp3FileCheck.h"

#include "sizecalc/CarvingContext.h"
#include "walks/MpegAudioFileBounds.h"

#include <array>

namespace {

// Below this a stream is taken for a chance match, not a file.
constexpr std::uint64_t kShortest = 10240;
// Lost sectors a walk goes on past, at the most.
constexpr std::uint64_t kLongestLoss = 10485760;
constexpr std::uint64_t kLargestTag = 10485760;
// Past any real stream (hours of audio at the highest bitrate): a walk that
// gets here has left the file.
constexpr std::uint64_t kLongestWalk = 2147483640;
constexpr std::uint64_t kMargin = 512;
// What a tagged walk whose frames lost their bitrate or sampling rate is
// cut to.
constexpr std::uint64_t kInvalidRateCut = 8388608;
constexpr std::uint64_t kInvalidBitrateLimit = 15728640;
constexpr std::uint64_t kInvalidBitrateShortest = 4097;
constexpr std::uint32_t kLongestFirstSyncScan = 2048;
constexpr std::uint32_t kTaggedMisses = 50;
constexpr std::uint32_t kFrameMisses = 5;
// Past sectors the medium could not give, the next frame lies within two
// frames' length of the first sector that was read.
constexpr std::uint64_t kResyncReach = 4096;

// The second byte of a frame header that a file may start with: MPEG-1,
// MPEG-2 and MPEG-2.5 Layer III with and without CRC, and MPEG-1 Layer II
// without.
bool isSyncByte(std::uint8_t b) {
    return b == 0xFB || b == 0xFA || b == 0xF3 || b == 0xF2 || b == 0xE3 || b == 0xE2 || b == 0xFD;
}
// The tagged walk follows Layer III frames only.
bool isLayer3SyncByte(std::uint8_t b) {
    return b != 0xFD && isSyncByte(b);
}

struct FrameHeader {
    std::uint32_t version;
    std::uint32_t layer;
    std::uint32_t bitrateIndex;
    std::uint32_t rateIndex;
    std::uint32_t padding;

    explicit FrameHeader(std::uint32_t h)
        : version(Mp3FileCheck::bitCheck(h, 20, 2)), layer(Mp3FileCheck::bitCheck(h, 18, 2)),
          bitrateIndex(Mp3FileCheck::bitCheck(h, 15, 4)), rateIndex(Mp3FileCheck::bitCheck(h, 11, 2)),
          padding(Mp3FileCheck::bitCheck(h, 9, 1)) {}

    bool reservedVersionOrLayer() const { return version == 1 || layer == 0; }
    bool invalidBitrate() const { return bitrateIndex == 0 || bitrateIndex == 15; }
    bool reservedRate() const { return rateIndex == 3; }
    bool measurable() const { return !reservedVersionOrLayer() && !invalidBitrate() && !reservedRate(); }

    // The frame's length in bytes; the fields must be valid. The sync bytes
    // let no Layer I frame this far.
    std::uint64_t length() const {
        static constexpr std::array<std::uint32_t, 16> kMpeg1Layer3 = {0,   32,  40,  48,  56,  64,  80,  96,
                                                                       112, 128, 160, 192, 224, 256, 320, 0};
        static constexpr std::array<std::uint32_t, 16> kMpeg1Layer2 = {0,   32,  48,  56,  64,  80,  96,  112,
                                                                       128, 160, 192, 224, 256, 320, 384, 0};
        static constexpr std::array<std::uint32_t, 16> kMpeg2 = {0,  8,  16, 24,  32,  40,  48,  56,
                                                                 64, 80, 96, 112, 128, 144, 160, 0};
        static constexpr std::array<std::uint32_t, 3> kMpeg1Rates = {44100, 48000, 32000};
        const bool mpeg1 = version == 3;
        const std::uint32_t kbits =
            mpeg1 ? (layer == 2 ? kMpeg1Layer2 : kMpeg1Layer3)[bitrateIndex] : kMpeg2[bitrateIndex];
        // MPEG-2 halves the sampling rates, MPEG-2.5 quarters them; both
        // halve the samples of a Layer III frame.
        const std::uint32_t rate = kMpeg1Rates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
        const std::uint64_t factor = mpeg1 || layer == 2 ? 144 : 72;
        return factor * kbits * 1000 / rate + padding;
    }
};

} // namespace

Mp3FileCheck::Mp3FileCheck(CarvingContext& context) : SizeCalculator("mp3", context), window_(context.fileCursor()) {}

std::uint32_t Mp3FileCheck::bitCheck(std::uint32_t value, unsigned startBit, unsigned numberOfBits) {
    if (numberOfBits == 0 || numberOfBits > startBit + 1 || startBit > 31) return 0;
    const std::uint32_t mask = numberOfBits == 32 ? ~0u : (1u << numberOfBits) - 1;
    return (value >> (startBit + 1 - numberOfBits)) & mask;
}

bool Mp3FileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    bId3File_ = leading.u8(0) == 'I' && leading.u8(1) == 'D' && leading.u8(2) == '3';
    if (bId3File_) return true;
    const std::uint32_t h = leading.be32(0);
    return leading.u8(0) == 0xFF && isSyncByte(leading.u8(1)) && (h & 0x180000) != 0x080000 && (h & 0x60000) != 0 &&
           (h & 0xF000) != 0 && (h & 0xF000) != 0xF000 && (h & 0xC00) < 0xC00;
}

std::uint64_t Mp3FileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    context_.skipCarvedFileBlocks = false;
    window_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    countedFramesEnd_.reset();
    lastFrameEnd_ = 0;
    framesChained_ = false;
    const std::uint64_t length = bId3File_ ? id3Walk() : frameWalk();
    // Three bytes begin a tag, and its length may lead to a frame header
    // found within 2 KiB and end the walk there: such a file was read no
    // further than chance makes once in 2^31 sectors. A frame that led to
    // the next is the stream's. (The untagged walk reads more than 10 KiB of
    // frames that follow one another.)
    context_.measuredOnHeaderAlone = bId3File_ && !framesChained_;
    // Frames that end short of the count their header frame gives, at bytes
    // that are no frame (not at a sector the medium could not give): the
    // file was cut there.
    if (length != 0 && countedFramesEnd_ && lastFrameEnd_ < *countedFramesEnd_ && !context_.stopped() &&
        !window_.unreadable(lastFrameEnd_, 4))
        context_.measuredCut = true;
    return length;
}

std::uint64_t Mp3FileCheck::endAt(std::uint64_t length) {
    if (length <= kShortest) return 0;
    context_.skipCarvedFileBlocks = true;
    return length;
}

bool Mp3FileCheck::beginsASector(std::uint64_t n) const {
    const std::uint32_t bps = context_.bytesPerSector();
    return bps != 0 && n % bps == 0;
}

std::optional<std::uint64_t> Mp3FileCheck::frameAfterLoss(std::uint64_t n, std::uint8_t reference) {
    const auto startsFrame = [&](std::uint64_t at) -> std::uint64_t {
        const std::uint32_t h = window_.bytes(at, 4).be32(0);
        const auto second = static_cast<std::uint8_t>(h >> 16);
        const FrameHeader header(h);
        const bool sync = (h >> 24) == 0xFF && (reference != 0 ? second == reference : isSyncByte(second));
        return sync && header.measurable() ? header.length() : 0;
    };
    const std::optional<std::uint64_t> from = window_.readableFrom(n + 3, kLongestLoss);
    if (!from) return std::nullopt;
    for (std::uint64_t at = *from; at < *from + kResyncReach && !context_.stopped(); ++at)
        if (const std::uint64_t length = startsFrame(at); length != 0 && startsFrame(at + length) != 0) return at;
    return std::nullopt;
}

std::uint64_t Mp3FileCheck::frameWalk() {
    // n: the file offset reached. Frames are 24 to 1729 bytes long, so every
    // step advances and the walk stays far below any overflow.
    std::uint64_t n = 0;
    // Where the last frame taken ends: tags may follow it there.
    std::uint64_t frameEnd = UINT64_MAX;
    // Where the byte count of the header frame the file begins with puts
    // the end of its frames (none: UINT64_MAX).
    std::uint64_t countedEnd = UINT64_MAX;
    // The stream's frames have ended, at its tags or where its count put
    // their end, and a sector begins there: a frame from here on begins
    // another file.
    bool closed = false;
    std::uint32_t misses = 0;
    while (!context_.stopped() && n < kLongestWalk) {
        const platform::ByteView frame = window_.bytes(n, 4);
        if (frame.empty()) return 0;
        const std::uint32_t h = frame.be32(0);
        const FrameHeader header(h);
        const bool sync = (h >> 24) == 0xFF && isSyncByte(static_cast<std::uint8_t>(h >> 16));
        // Zeros of a sector that could not be read are no end of the stream.
        if (!closed && !(sync && header.measurable()) && window_.unreadable(n, 4))
            if (const std::optional<std::uint64_t> next = frameAfterLoss(n, 0)) {
                n = *next;
                misses = 0;
                continue;
            }
        if (!sync) {
            if (n == frameEnd)
                if (const std::uint64_t tags = MpegAudioFileBounds::tagsAt(window_, n)) {
                    n += tags;
                    closed = beginsASector(n);
                    continue;
                }
            if (misses > kFrameMisses) {
                if (n <= kShortest) return 0;
                context_.skipCarvedFileBlocks = true;
                return n + context_.bytesPerSector();
            }
            ++misses;
            ++n;
            continue;
        }
        if (closed) return endAt(n);
        misses = 0;
        if (!header.measurable()) return endAt(n);
        if (beginsASector(n))
            if (const std::optional<std::uint64_t> counted = MpegAudioFileBounds::headerFrameBytes(window_, n, h)) {
                if (n != 0) return endAt(n);
                if (*counted > header.length()) countedFramesEnd_ = *counted;
                if (*counted > header.length() && beginsASector(*counted)) countedEnd = *counted;
            }
        frameEnd = lastFrameEnd_ = n + header.length();
        if (frameEnd == countedEnd) {
            // The frames agree with the count: the stream ends here. The
            // step over the frame's last byte counts as the miss it is
            // taken for below.
            closed = true;
            n = frameEnd;
            misses = 1;
            continue;
        }
        // Onto the frame's last byte, which the next pass takes as a miss:
        // a frame must be followed right away by the next one.
        n = frameEnd - 1;
    }
    if (n <= kShortest) return 0;
    context_.skipCarvedFileBlocks = true;
    return n + kMargin;
}

std::uint64_t Mp3FileCheck::id3Walk() {
    const platform::ByteView tag = window_.bytes(0, 10);
    if (tag.empty()) return 0;
    // The tag's size, a synchsafe integer, leaves out its 10-byte header:
    // the walk starts 10 bytes short of the first frame and finds it.
    std::uint64_t n = 0;
    for (std::uint64_t i = 6; i < 10; ++i)
        n = (n << 7) | (tag.u8(i) & 0x7F);
    if (n > kLargestTag) return 0;

    platform::ByteView sync = window_.bytes(n, 2);
    if (sync.empty()) return 0;
    if (sync.u8(0) != 0xFF || !isLayer3SyncByte(sync.u8(1))) {
        std::uint32_t scanned = 0;
        for (;; ++scanned) {
            if (scanned == kLongestFirstSyncScan) return 0;
            sync = window_.bytes(n + scanned, 2);
            if (sync.empty()) return 0;
            if (sync.u8(0) == 0xFF && isSyncByte(sync.u8(1))) break;
        }
        n += scanned;
    }
    // Every frame of the stream starts with the first frame's two bytes.
    const std::uint8_t reference = sync.u8(1);
    const std::uint64_t first = n;

    // As in the frame walk.
    std::uint64_t frameEnd = UINT64_MAX;
    std::uint64_t countedEnd = UINT64_MAX;
    bool closed = false;
    std::uint32_t misses = 0;
    while (!context_.stopped() && n < kLongestWalk) {
        const platform::ByteView frame = window_.bytes(n, 4);
        if (frame.empty()) return 0;
        const std::uint32_t h = frame.be32(0);
        const auto second = static_cast<std::uint8_t>(h >> 16);
        if (!closed && ((h >> 24) != 0xFF || second != reference || !FrameHeader(h).measurable()) &&
            window_.unreadable(n, 4))
            if (const std::optional<std::uint64_t> next = frameAfterLoss(n, reference)) {
                n = *next;
                continue;
            }
        if ((h >> 24) != 0xFF || !isLayer3SyncByte(second)) {
            if (n == frameEnd)
                if (const std::uint64_t tags = MpegAudioFileBounds::tagsAt(window_, n)) {
                    n += tags;
                    closed = beginsASector(n);
                    continue;
                }
            // Misses add up over the whole walk.
            if (misses == kTaggedMisses) {
                if (n <= kShortest) return 0;
                context_.skipCarvedFileBlocks = true;
                return n;
            }
            ++misses;
            ++n;
            continue;
        }
        if (closed || second != reference) return endAt(n);
        const FrameHeader header(h);
        if (header.reservedVersionOrLayer()) return endAt(n);
        if (header.invalidBitrate()) {
            if (n > kInvalidBitrateLimit) n = kInvalidRateCut;
            if (n < kInvalidBitrateShortest) return 0;
            context_.skipCarvedFileBlocks = true;
            return n;
        }
        if (header.reservedRate()) return endAt(n > kInvalidRateCut ? kInvalidRateCut : n);
        if (n == first || beginsASector(n))
            if (const std::optional<std::uint64_t> counted = MpegAudioFileBounds::headerFrameBytes(window_, n, h)) {
                if (n != first) return endAt(n);
                if (*counted > header.length()) countedFramesEnd_ = n + *counted;
                if (*counted > header.length() && beginsASector(n + *counted)) countedEnd = n + *counted;
            }
        framesChained_ = framesChained_ || n == frameEnd;
        n += header.length();
        frameEnd = lastFrameEnd_ = n;
        if (n == countedEnd) closed = true;
    }
    if (n > kLongestWalk) return 0;
    return endAt(n);
}
