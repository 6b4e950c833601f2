#include "signatures/FramedMediaRecognisers.h"

#include "platform/ByteView.h"
#include "platform/CheckedMath.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "walks/SteppedBodies.h"

#include <array>
#include <optional>

namespace {

// A DIF block, and a DIF sequence of 150 of them; a channel of a frame is
// ten sequences (525 lines) or twelve (625 lines), as the header block's
// top bit says.
constexpr std::uint64_t kDifBlockBytes = 80;
constexpr std::uint64_t kDifSequenceBytes = 150 * kDifBlockBytes;
constexpr std::uint8_t kDifHeaderId = 0x1F;
// A film of a day at 30 frames a second, each of four channels.
constexpr std::uint64_t kDvMostChannels = std::uint64_t{4} * 30 * 86400;

constexpr std::uint32_t kDtsCoreSync = 0x7FFE8001;
constexpr std::uint32_t kDtsSubstreamSync = 0x64582025;
// The core header's fields the walk reads, sync word included.
constexpr std::size_t kDtsHeaderBytes = 10;
// A core frame is 96 bytes at least.
constexpr std::uint32_t kDtsShortestFrame = 96;
// Blocks of 32 samples a frame holds, less one; fewer than six are no
// frame.
constexpr std::uint32_t kDtsFewestBlocks = 5;
// The sampling-rate codes the format gives a rate (8 to 48 kHz).
constexpr std::array<bool, 16> kDtsRates = {false, true,  true,  true, false, false, true,  true,
                                            true,  false, false, true, true,  true,  false, false};
// The four bytes of a sync word turn up once in 2^32 sectors of any data,
// and the header fields after it narrow that further; a run this long
// holds the sync word of each frame after the first.
constexpr std::uint64_t kDtsFrameRun = 4;
// Frames of an hour and a half at the shortest frame there is.
constexpr std::uint64_t kDtsMostFrames = std::uint64_t{1} << 24;
constexpr std::uint32_t kDtsWindowSectors = 64;

// A key of the SMPTE registry: every packet of an MXF file opens with one.
constexpr std::array<std::uint8_t, 4> kMxfKey = {0x06, 0x0E, 0x2B, 0x34};
constexpr std::size_t kMxfKeyBytes = 16;
// The first thirteen bytes of a partition pack's key, then the kind: a
// header, body or footer partition, the random index pack.
constexpr std::array<std::uint8_t, 13> kMxfPartitionKey = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01,
                                                           0x01, 0x0D, 0x01, 0x02, 0x01, 0x01};
constexpr std::uint8_t kMxfHeaderPartition = 0x02, kMxfBodyPartition = 0x03, kMxfFooterPartition = 0x04;
constexpr std::uint8_t kMxfRandomIndexPack = 0x11;
// Where a partition pack says where it lies itself, from the file's first
// byte.
constexpr std::size_t kMxfThisPartitionAt = 8;
// More packets than a file of the largest size limit holds, each at least
// a key and a length.
constexpr std::uint64_t kMxfMostPackets = std::uint64_t{1} << 28;

// Whether the DIF block at the view's start is the header block that opens
// a channel of a frame: DIF sequence 0, block 0, of the header section.
// The timecode a DV channel's subcode gives (its frames, seconds, minutes
// and hours, their flag bits cleared), from the SMPTE time code pack among
// its first sequence's subcode blocks; none where it gives none.
constexpr std::uint8_t kDvTimecodePack = 0x13;
constexpr std::size_t kDvSubcodeSyncBlocks = 6, kDvSyncBlockBytes = 8;
std::optional<std::uint32_t> dvTimecode(BoundedCursor& cursor, std::uint64_t channel) {
    const platform::ByteView subcode = cursor.at(channel + kDifBlockBytes, 2 * kDifBlockBytes);
    for (std::size_t block = 0; block < 2 && !subcode.empty(); ++block)
        for (std::size_t sync = 0; sync < kDvSubcodeSyncBlocks; ++sync) {
            // A sync block: its two ID bytes, a reserved byte, then its pack.
            const platform::ByteView pack = subcode.sub(block * kDifBlockBytes + 3 + sync * kDvSyncBlockBytes + 3, 5);
            if (pack.u8(0) != kDvTimecodePack || pack.be32(1) == 0xFFFFFFFF) continue;
            return pack.be32(1) & 0x3F7F7F3F;
        }
    return std::nullopt;
}

bool opensDvChannel(platform::ByteView block) {
    return block.size() >= 4 && block.u8(0) == kDifHeaderId && (block.u8(1) & 0xF0) == 0 && block.u8(2) == 0;
}

// The DTS core frame whose header opens the view: its length in bytes, with
// the sampling rate and the channel arrangement a stream keeps; nothing when
// the fields are none a frame has.
struct DtsFrame {
    std::uint64_t bytes = 0;
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
};

std::optional<DtsFrame> dtsCoreFrame(platform::ByteView h) {
    if (h.size() < kDtsHeaderBytes || h.be32(0) != kDtsCoreSync) return std::nullopt;
    const std::uint32_t blocks = (std::uint32_t{h.u8(4)} & 1) << 6 | h.u8(5) >> 2;
    const std::uint32_t size = (std::uint32_t{h.u8(5)} & 3) << 12 | std::uint32_t{h.u8(6)} << 4 | h.u8(7) >> 4;
    const std::uint32_t channels = (std::uint32_t{h.u8(7)} & 0x0F) << 2 | h.u8(8) >> 6;
    const std::uint32_t rate = h.u8(8) >> 2 & 0x0F;
    if (blocks < kDtsFewestBlocks || size + 1 < kDtsShortestFrame || !kDtsRates[rate]) return std::nullopt;
    return DtsFrame{size + 1u, rate, channels};
}

// The `count` bits of the view from bit `at` on, the first byte's top bit
// first.
std::uint32_t bitsAt(platform::ByteView bytes, std::size_t at, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = at; i < at + count; ++i)
        value = value << 1 | (bytes.u8(i / 8) >> (7 - i % 8) & 1);
    return value;
}

// The length of the DTS-HD extension substream whose header opens the view
// (its header and the assets after it); 0 when it is none.
std::uint64_t dtsSubstreamBytes(platform::ByteView h) {
    if (h.size() < kDtsHeaderBytes || h.be32(0) != kDtsSubstreamSync) return 0;
    // After the sync word: eight bits of the writer's, the substream's index
    // (two), then whether the sizes are long.
    const bool wide = bitsAt(h, 42, 1) != 0;
    const std::uint32_t headerBytes = bitsAt(h, 43, wide ? 12 : 8) + 1;
    const std::uint32_t bytes = bitsAt(h, 43 + (wide ? 12 : 8), wide ? 20 : 16) + 1;
    return bytes >= headerBytes && headerBytes >= kDtsHeaderBytes ? bytes : 0;
}

bool isMxfKey(platform::ByteView head) {
    return head.size() >= kMxfKeyBytes && std::equal(kMxfKey.begin(), kMxfKey.end(), head.data()) && head.u8(4) >= 1 &&
           head.u8(4) <= 4;
}

bool isMxfPartitionKey(platform::ByteView head) {
    return head.size() >= kMxfKeyBytes && std::equal(kMxfPartitionKey.begin(), kMxfPartitionKey.end(), head.data());
}

} // namespace

bool FramedMediaRecognisers::checkDVFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    const std::uint32_t bps = medium.bytesPerSector();
    if (bps == 0) return false;
    BoundedCursor cursor = medium.cursor();
    const platform::ByteView first = cursor.at(0, 4);
    if (!opensDvChannel(first) || first.u8(1) != 0x07) return false;
    const std::uint8_t lines = first.u8(3) & 0x80;
    const std::uint64_t sequences = lines != 0 ? 12 : 10, channel = sequences * kDifSequenceBytes;
    // The first channel's sequences each open with their header block,
    // numbered in turn: the frame's structure past the bytes the search
    // matched.
    for (std::uint64_t s = 1; s < sequences; ++s) {
        const platform::ByteView header = cursor.at(s * kDifSequenceBytes, 4);
        if (header.empty() || header.u8(0) != kDifHeaderId || header.u8(1) >> 4 != s || header.u8(2) != 0) return false;
    }
    // Channel after channel while each opens with its header block. One
    // whose first sector the medium could not give is stepped over, as the
    // next lies a channel further on all the same: the film goes on past
    // such channels when a header block follows them.
    SteppedBodies bodies(bps);
    std::uint64_t end = 0, walked = 0;
    std::optional<std::uint32_t> lastTimecode;
    for (std::uint64_t channels = 0; channels < kDvMostChannels && !medium.stopped(); ++channels) {
        const platform::ByteView header = cursor.at(walked, 4);
        if (!header.empty() && cursor.unreadable(walked, 4)) {
            walked += channel;
            continue;
        }
        if (!opensDvChannel(header) || (header.u8(3) & 0x80) != lines) break;
        // A recording starts its timecode at 00:00:00:00: where a frame that
        // begins a sector does so behind one that did not, another film
        // written right after this one begins.
        const std::optional<std::uint32_t> timecode = dvTimecode(cursor, walked);
        if (walked % bps == 0 && timecode == 0u && lastTimecode && *lastTimecode != 0) break;
        lastTimecode = timecode;
        bodies.add(end + kDifBlockBytes, walked);
        bodies.ownPartAt(walked);
        bodies.add(walked + kDifBlockBytes, walked + channel);
        end = walked += channel;
    }
    bodies.endAt(end);
    medium.steppedOver(bodies);
    medium.acceptJumpable(sig, end, end);
    return true;
}

bool FramedMediaRecognisers::checkDTSFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(kDtsWindowSectors);
    const std::optional<DtsFrame> first = dtsCoreFrame(cursor.at(0, kDtsHeaderBytes));
    if (!first) return false;
    // Core frames of the first one's rate and channels, and the DTS-HD
    // substreams that follow each.
    std::uint64_t frames = 0, end = 0;
    while (frames < kDtsMostFrames && !medium.stopped()) {
        const platform::ByteView header = cursor.at(end, kDtsHeaderBytes);
        if (const std::optional<DtsFrame> frame = dtsCoreFrame(header)) {
            if (frame->rate != first->rate || frame->channels != first->channels) break;
            end += frame->bytes;
            ++frames;
        } else if (const std::uint64_t substream = dtsSubstreamBytes(header); substream != 0 && frames != 0) {
            end += substream;
        } else {
            break;
        }
    }
    if (frames < kDtsFrameRun) return false;
    medium.acceptJumpable(sig, end, end);
    return true;
}

bool FramedMediaRecognisers::checkMXFFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    const std::uint32_t bps = medium.bytesPerSector();
    if (bps == 0) return false;
    BoundedCursor cursor = medium.cursor();
    SteppedBodies bodies(bps);
    std::uint64_t at = 0;
    bool footer = false;
    for (std::uint64_t packets = 0; packets < kMxfMostPackets && !medium.stopped(); ++packets) {
        // A key, then the value's length in BER: one byte under 0x80, else
        // the count of the big-endian bytes that follow.
        if (!cursor.readable(at, kMxfKeyBytes + 1)) break;
        const platform::ByteView head = cursor.bytes(at, kMxfKeyBytes + 9);
        if (!isMxfKey(head)) break;
        const std::uint8_t berFirst = head.u8(kMxfKeyBytes);
        const std::size_t lengthBytes = berFirst < 0x80 ? 0 : berFirst & 0x7F;
        if (lengthBytes > 8) break;
        std::uint64_t length = berFirst < 0x80 ? berFirst : 0;
        for (std::size_t i = 0; i < lengthBytes; ++i)
            length = length << 8 | head.u8(kMxfKeyBytes + 1 + i);
        const std::uint64_t value = at + kMxfKeyBytes + 1 + lengthBytes;
        // A value that runs past what may be read is no packet of the file.
        if (value > medium.readableBytes() || length > medium.readableBytes() - value) break;
        const bool partition = isMxfPartitionKey(head);
        const std::uint8_t kind = head.u8(13);
        if (partition && (kind == kMxfHeaderPartition || kind == kMxfBodyPartition || kind == kMxfFooterPartition)) {
            // A partition pack says where it lies: one that lies elsewhere
            // is another file's (a header partition of the next file begins
            // right after a file with no index pack).
            const platform::ByteView where = cursor.at(value + kMxfThisPartitionAt, 8);
            if (where.empty() || where.be64(0) != at) break;
            footer = footer || kind == kMxfFooterPartition;
        } else if (at == 0) {
            // A file opens with its header partition.
            return false;
        }
        if (at == 0 && kind != kMxfHeaderPartition) return false;
        bodies.ownPartAt(at);
        bodies.add(value, value + length);
        at = value + length;
        // The random index pack ends the file.
        if (partition && kind == kMxfRandomIndexPack) break;
    }
    if (at == 0) return false;
    bodies.endAt(at);
    medium.steppedOver(bodies);
    // With no footer partition the file breaks off before its end.
    if (footer)
        medium.acceptJumpable(sig, at, at);
    else
        medium.acceptCut(sig, at, at);
    return true;
}
