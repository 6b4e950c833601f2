#include "signatures/AudioVideoRecognisers.h"

#include "formats/RiffHeader.h"
#include "platform/CheckedMath.h"
#include "signatures/FileStartProbe.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "signatures/SignatureSearchState.h"
#include "volume/Volume.h"
#include "walks/AviChunkWalk.h"
#include "walks/MovieAtoms.h"
#include "walks/MpegAudioFileBounds.h"
#include "walks/MpegVideoStreamWalk.h"
#include "walks/ProgramStreamWalk.h"
#include "walks/WaveFileBounds.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr std::uint32_t fourCC(const char (&text)[5]) {
    return std::uint32_t{static_cast<std::uint8_t>(text[0])} << 24 |
           std::uint32_t{static_cast<std::uint8_t>(text[1])} << 16 |
           std::uint32_t{static_cast<std::uint8_t>(text[2])} << 8 | std::uint32_t{static_cast<std::uint8_t>(text[3])};
}

constexpr std::uint32_t kRiff = fourCC("RIFF");
constexpr std::uint32_t kWave = fourCC("WAVE");
constexpr std::uint32_t kForm = fourCC("FORM");
constexpr std::uint32_t kMidiHeader = fourCC("MThd");
constexpr std::uint32_t kMidiTrack = fourCC("MTrk");
// A MIDI file's header chunk: "MThd", its length (6) and six bytes.
constexpr std::uint32_t kMidiHeaderLength = 6;
constexpr std::size_t kMidiHeaderChunkBytes = 14;
constexpr std::uint32_t kAiff = fourCC("AIFF");
constexpr std::uint32_t kAifc = fourCC("AIFC");
constexpr std::uint32_t kCommon = fourCC("COMM");
constexpr std::uint32_t kSound = fourCC("SSND");
// The chunks before an AIFF file's sound come to a few.
constexpr std::uint64_t kMostAiffHeadChunks = 64;
// An AVI file is listed this far past its RIFF's end.
constexpr std::uint64_t kAviMargin = 2048;

// Sectors read at once while the search's lookup is asked where the next
// file begins.
constexpr std::uint32_t kProbeWindowSectors = 64;
// WAVE format tag of MPEG Layer III audio.
constexpr std::uint16_t kMpegLayer3Tag = 0x55;
// Eleven set bits: the sync that opens every MPEG audio frame.
constexpr std::uint32_t kFrameSync = 0xFFE00000;
constexpr std::uint64_t kId3HeaderBytes = 10;
// Where a stream that starts with neither a tag nor a frame may still begin.
constexpr std::uint64_t kFrameSearchSectors = 100;
// A stream shorter than this is more likely a chance run of frame headers than a file.
constexpr std::uint64_t kFewestFrames = 10;
constexpr std::uint32_t kMp3WindowSectors = 64;

// The byte that starts every transport packet.
constexpr std::uint8_t kTransportSync = 0x47;
// A 4-byte arrival-time prefix before each 188-byte transport packet.
constexpr std::uint64_t kTransportPacketBytes = 192;
// A single 0x47 is all a packet has of fixed bytes, and one in 256 sectors
// of any data has it at byte 4: a stream is taken only where this many
// packets follow one another (a chance run of them is one in 2^32 sectors).
constexpr std::uint64_t kTransportRunPackets = 4;
// Such a run is as likely as a header of four bytes, which vouches for no
// file: the stream vouches for its start once the sync bytes of the packets
// after the first are as many as the bytes of a header chance does not make
// (five, RecogniserDispatch::vouchesForStart).
constexpr std::uint64_t kTransportVouchingPackets = 6;
constexpr std::uint64_t kTransportWalkLimit = 5'000'000'000;
constexpr std::uint32_t kTransportWindowSectors = 64;
// Frames of an AAC or AC-3 stream in a row before its sync word counts: two
// bytes of it turn up once in 64 KiB of any data.
constexpr std::uint64_t kFrameRun = 4;
// AC-3 bit rates in kbit/s, one for each pair of frame-size codes.
constexpr std::array<std::uint32_t, 19> kAc3Rates = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                                     192, 224, 256, 320, 384, 448, 512, 576, 640};

constexpr std::uint32_t kPackStart = 0x000001BA;
constexpr std::uint32_t kSequenceHeader = 0x000001B3;
constexpr std::uint32_t kPackSearchSectors = 63;
constexpr std::uint32_t kVideoWindowSectors = 64;
// A stream no longer than this is too short to trust its length.
constexpr std::uint64_t kShortestVideoStream = 10240;

struct MpegAudioFrame {
    std::uint32_t rawVersion;
    std::uint32_t rawLayer;
    std::uint32_t protection;
    std::uint64_t length;

    bool sameStreamAs(const MpegAudioFrame& other) const {
        return rawVersion == other.rawVersion && rawLayer == other.rawLayer && protection == other.protection;
    }
};

// The frame whose header is `header`, or nothing when it is no frame a stream can hold.
std::optional<MpegAudioFrame> mpegAudioFrame(std::uint32_t header) {
    using R = AudioVideoRecognisers;
    if (header < kFrameSync) return std::nullopt;
    const std::uint32_t rawVersion = R::mp3BitCheck(header, 20, 2);
    const std::uint32_t rawLayer = R::mp3BitCheck(header, 18, 2);
    const std::uint32_t bitrateIndex = R::mp3BitCheck(header, 15, 4);
    const std::uint32_t rateIndex = R::mp3BitCheck(header, 11, 2);
    if (bitrateIndex == 15 || rateIndex == 3 || rawVersion == 1 || rawLayer == 0) return std::nullopt;
    const std::uint32_t version = rawVersion == 3 ? 1 : rawVersion == 2 ? 2 : 4;
    const std::uint32_t layer = 4 - rawLayer;
    const std::uint64_t bitRate = R::getMP3BitRateIndexValueForVersion(version, layer, bitrateIndex);
    const std::uint64_t sampleRate = R::getMP3SampleRateFreqForVersion(version, rateIndex);
    const std::uint64_t padding = R::mp3BitCheck(header, 9, 1);
    if (bitRate == 0 || sampleRate == 0) return std::nullopt;
    std::uint64_t length = 0;
    if (layer == 1)
        length = (bitRate * 12000 / sampleRate + padding) * 4;
    else if (layer == 2 || version == 1)
        length = bitRate * 144000 / sampleRate + padding;
    else
        length = bitRate * 72000 / sampleRate + padding;
    if (length == 0) return std::nullopt;
    return MpegAudioFrame{rawVersion, rawLayer, R::mp3BitCheck(header, 16, 1), length};
}

// Past sectors the medium could not give, the next frame of a stream lies
// within two of its longest frames of the first sector that was read.
constexpr std::uint64_t kFrameResyncReach = 4096;
// How long a run of such sectors a walk goes on past.
constexpr std::uint64_t kLostReach = std::uint64_t{16} << 20;

// The MPEG audio frame header at `at` lies in a sector that could not be
// read: where the stream goes on after it, at a frame of it that another
// frame of it follows; nothing when none lies within reach.
std::optional<std::uint64_t> mpegAudioFrameAfterLoss(RecogniserMedium& medium, BoundedCursor& cursor, std::uint64_t at,
                                                     const MpegAudioFrame& stream) {
    const auto frameOfStream = [&](std::uint64_t position) -> std::uint64_t {
        const auto frame = mpegAudioFrame(cursor.at(position, 4).be32(0));
        return frame && frame->sameStreamAs(stream) ? frame->length : 0;
    };
    const std::optional<std::uint64_t> from = cursor.readableFrom(at + 3, kLostReach);
    if (!from) return std::nullopt;
    for (std::uint64_t position = *from; position < *from + kFrameResyncReach && !medium.stopped(); ++position)
        if (const std::uint64_t length = frameOfStream(position); length != 0 && frameOfStream(position + length) != 0)
            return position;
    return std::nullopt;
}

// Four characters from space to tilde, as a chunk's identifier is.
bool printableChunkId(std::uint32_t id) {
    for (int shift = 0; shift < 32; shift += 8)
        if (const auto c = static_cast<std::uint8_t>(id >> shift); c < 0x20 || c > 0x7E) return false;
    return true;
}

// The top-level atoms a file of the ISO base media family is made of.
constexpr std::array<std::uint32_t, 8> kTopLevelAtoms = {fourCC("free"), fourCC("ftyp"), fourCC("mdat"),
                                                         fourCC("moov"), fourCC("pnot"), fourCC("skip"),
                                                         fourCC("wide"), fourCC("uuid")};
// How far past sectors the medium could not give the next atom is looked
// for: an atom whose header was lost may be long.
constexpr std::uint64_t kAtomResyncReach = 1048576;

// The atom header at `at` lies in a sector that could not be read: the next
// top-level atom after it; nothing when none lies within reach.
std::optional<std::uint64_t> atomAfterLoss(RecogniserMedium& medium, BoundedCursor& cursor, std::uint64_t at) {
    const std::optional<std::uint64_t> from = cursor.readableFrom(at + 7, kLostReach);
    if (!from) return std::nullopt;
    BoundedCursor sizes = medium.cursor();
    // The four-letter type, behind a size that holds at least the header.
    const BoundedCursor::Found type = cursor.findFourBytes(
        *from + 4, *from + 4 + kAtomResyncReach,
        [&](std::uint64_t position, std::uint32_t name, std::uint32_t) {
            return std::find(kTopLevelAtoms.begin(), kTopLevelAtoms.end(), name) != kTopLevelAtoms.end() &&
                   sizes.at(position - 4, 4).be32(0) >= 8;
        },
        [&] { return medium.stopped(); });
    if (type.end != BoundedCursor::Search::Matched) return std::nullopt;
    return type.offset - 4;
}

// The first audio byte of a RIFF file that starts at `riffStart`, its data
// chunk among the chunks that begin no later than `lastChunkAt`.
std::optional<std::uint64_t> riffAudioStart(RecogniserMedium& medium, BoundedCursor& cursor, std::uint64_t riffStart,
                                            std::uint64_t lastChunkAt) {
    const std::optional<std::uint64_t> data =
        WaveFileBounds::dataChunkAt(cursor, riffStart, lastChunkAt, [&] { return medium.stopped(); });
    if (!data) return std::nullopt;
    return *data + 8;
}

} // namespace

std::uint32_t AudioVideoRecognisers::mp3BitCheck(std::uint32_t value, std::uint32_t startBit, std::uint32_t numBits) {
    if (numBits == 0 || startBit > 31 || numBits > startBit + 1) return 0;
    const std::uint32_t shifted = value >> (startBit + 1 - numBits);
    return numBits == 32 ? shifted : shifted & ((std::uint32_t{1} << numBits) - 1);
}

std::uint32_t AudioVideoRecognisers::getMP3SampleRateFreqForVersion(std::uint32_t version, std::uint32_t samplingRate) {
    constexpr std::array<std::uint32_t, 3> kMpeg1Rates = {44100, 48000, 32000};
    if ((version != 1 && version != 2 && version != 4) || samplingRate >= kMpeg1Rates.size()) return 0;
    return kMpeg1Rates[samplingRate] / version;
}

std::uint32_t AudioVideoRecognisers::getMP3BitRateIndexValueForVersion(std::uint32_t version, std::uint32_t layer,
                                                                       std::uint32_t bitrateIndex) {
    using Row = std::array<std::uint16_t, 16>;
    // Layers I, II and III of MPEG-1; MPEG-2 and MPEG-2.5 share one row for Layer I and one for Layers II and III.
    static constexpr std::array<Row, 3> kMpeg1 = {
        Row{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
        Row{0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        Row{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
    static constexpr std::array<Row, 2> kMpeg2 = {
        Row{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
        Row{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
    if (layer < 1 || layer > 3 || bitrateIndex > 15) return 0;
    if (version == 1) return kMpeg1[layer - 1][bitrateIndex];
    if (version == 2 || version == 4) return kMpeg2[layer == 1 ? 0 : 1][bitrateIndex];
    return 0;
}

std::uint32_t AudioVideoRecognisers::mp3BitShredder(std::uint32_t value) {
    return (value & 0x7F000000) >> 3 | (value & 0x007F0000) >> 2 | (value & 0x00007F00) >> 1 | (value & 0x0000007F);
}

bool AudioVideoRecognisers::checkMP4AtomName(std::uint32_t atomType) {
    for (int shift = 0; shift < 32; shift += 8) {
        const auto letter = static_cast<std::uint8_t>(atomType >> shift);
        if (letter < 'a' || letter > 'z') return false;
    }
    return true;
}

bool AudioVideoRecognisers::checkMOVAtomName(std::uint32_t atomType) {
    return checkMP4AtomName(atomType);
}

bool AudioVideoRecognisers::checkMP3FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    const std::uint64_t bps = medium.bytesPerSector();
    const std::uint64_t first = medium.firstSector();
    if (bps == 0 || search_.mp3DoneArray.contains(first)) return false;
    BoundedCursor cursor = medium.cursor(kMp3WindowSectors);

    BoundedCursor leading = medium.cursor(1);
    const platform::ByteView head = leading.sectors(0, 1);
    std::uint64_t start = 0;
    if (head.u8(0) == 'I' && head.u8(1) == 'D') {
        const std::uint32_t tagSize = head.be32(6);
        if (head.u8(2) != '3' || (tagSize & 0x80808080) != 0) return false;
        start = mp3BitShredder(tagSize) + kId3HeaderBytes;
    }
    if (head.be32(0) == kRiff) {
        const auto audio = riffAudioStart(medium, cursor, 0, bps - 9);
        if (!audio || head.le16(20) != kMpegLayer3Tag) return false;
        start = *audio;
        search_.mp3DoneArray.add(first);
    }

    std::uint32_t header = cursor.at(start, 4).be32(0);
    if (header != kRiff && header < kFrameSync) {
        const std::uint64_t searchEnd = (start / bps + kFrameSearchSectors) * bps;
        std::uint64_t at = start;
        for (; at < searchEnd; ++at) {
            const platform::ByteView field = cursor.at(at, 4);
            if (field.empty()) return false;
            header = field.be32(0);
            if (header == kRiff || header >= kFrameSync) break;
        }
        if (at == searchEnd) return false;
        start = at;
    }
    if (header == kRiff) {
        if (cursor.at(start + 20, 2).le16(0) != kMpegLayer3Tag) return false;
        if (start % bps == 0) search_.mp3DoneArray.add(first + start / bps);
        const auto audio = riffAudioStart(medium, cursor, start, (start / bps + 2) * bps - 9);
        if (!audio) return false;
        start = *audio;
        header = cursor.at(start, 4).be32(0);
    }
    // A lone frame header is common in any data: the one after it must decode too.
    const auto stream = mpegAudioFrame(header);
    if (!stream || !mpegAudioFrame(cursor.at(start + stream->length, 4).be32(0))) return false;

    // A stream that begins with an encoder's header frame ends where its byte count puts the end of its frames,
    // when a frame and a sector end there (MpegAudioFileBounds).
    std::uint64_t countedEnd = UINT64_MAX;
    // Where that count puts the end of the frames, wherever it lies.
    std::optional<std::uint64_t> counted;
    if (const auto bytes = MpegAudioFileBounds::headerFrameBytes(cursor, start, header);
        bytes && *bytes > stream->length) {
        counted = start + *bytes;
        if (*counted % bps == 0) countedEnd = *counted;
    }
    std::uint64_t end = start;
    std::uint64_t frames = 0;
    while (!medium.stopped() && end != countedEnd) {
        const std::uint32_t h = cursor.at(end, 4).be32(0);
        const auto frame = mpegAudioFrame(h);
        // Zeros of a sector that could not be read are no end of the stream.
        if ((!frame || !frame->sameStreamAs(*stream)) && cursor.unreadable(end, 4))
            if (const auto next = mpegAudioFrameAfterLoss(medium, cursor, end, *stream)) {
                end = *next;
                continue;
            }
        // A header frame where a sector begins begins another file.
        if (!frame || (end != start && end % bps == 0 && MpegAudioFileBounds::headerFrameBytes(cursor, end, h))) break;
        if (end % bps == 0 && medium.beforeLoss(end)) search_.mp3DoneArray.add(first + end / bps);
        end += frame->length;
        ++frames;
        if (!frame->sameStreamAs(*stream)) break;
    }
    if (frames < kFewestFrames) return false;
    // The tags after the last frame are the file's last bytes, and every
    // frame was read.
    const std::uint64_t length = end + MpegAudioFileBounds::tagsAt(cursor, end);
    medium.acceptJumpable(sig, length, length);
    // Frames that end short of the count their header frame gives, at bytes
    // that are no frame (not at a sector the medium could not give): the
    // file was cut there.
    if (counted && end < *counted && !medium.stopped() && !cursor.unreadable(end, 4)) sig.foundCut = true;
    return true;
}

bool AudioVideoRecognisers::checkWAVFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor leading = medium.cursor(1);
    const platform::ByteView head = leading.sectors(0, 1);
    if (head.be32(8) != kWave) return false;
    if (head.le16(20) == kMpegLayer3Tag) return checkMP3FileAtBlock(block, sig);
    BoundedCursor cursor = medium.cursor();
    const auto stopped = [&] { return medium.stopped(); };
    const WaveFileBounds::Length length = WaveFileBounds::length(cursor, head, stopped);
    // Its chunks are read up to the sound's; nothing leads past the sound.
    const std::optional<std::uint64_t> data =
        WaveFileBounds::dataChunkAt(cursor, 0, WaveFileBounds::kLongestHeader, stopped);
    const std::uint64_t sound = data ? *data + riff::kChunkHeaderBytes : riff::kHeaderBytes;
    if (!length.unendedSoundFrom && length.bytes != 0) {
        medium.acceptListed(sig, length.bytes, sound);
        return true;
    }
    // A header whose lengths were never written: the sound runs on to where
    // the search lists the next file, as the carving measures it; with none
    // in reach, where it ends is not known.
    const std::uint64_t bps = medium.bytesPerSector();
    if (const std::optional<std::uint64_t> next = nextFileSector(medium, 1)) {
        medium.acceptEstimated(sig, *next * bps, sound);
        return true;
    }
    medium.acceptCut(sig, medium.readableBytes(), sound);
    return true;
}

std::optional<std::uint64_t> AudioVideoRecognisers::nextFileSector(RecogniserMedium& medium, std::uint64_t from) {
    if (!probe_) return std::nullopt;
    const std::uint64_t bps = medium.bytesPerSector();
    BoundedCursor cursor = medium.cursor(kProbeWindowSectors);
    for (std::uint64_t sector = from; cursor.holdsSector(sector) && !medium.stopped(); ++sector) {
        const platform::ByteView bytes = cursor.bytes(sector * bps, FileStartProbe::kProbedBytes);
        if (!bytes.empty() && probe_->startsFile(medium.block() + sector, bytes)) return sector;
    }
    return std::nullopt;
}

bool AudioVideoRecognisers::checkAIFF_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor leading = medium.cursor(1);
    const platform::ByteView head = leading.sectors(0, 1);
    if (head.be32(0) != kForm) return false;
    const std::uint64_t length = std::uint64_t{head.be32(4)} + 8;
    // Its form type, then chunks up to the sound's, among them the common
    // chunk every AIFF file has: nothing leads past the sound. A FORM of
    // another type, or one without the common chunk, is read no further
    // than its header.
    const std::uint32_t form = head.be32(8);
    std::uint64_t read = 0;
    if (form == kAiff || form == kAifc) {
        BoundedCursor cursor = medium.cursor();
        bool common = false;
        for (std::uint64_t at = riff::kHeaderBytes, chunks = 0; at < length && chunks < kMostAiffHeadChunks; ++chunks) {
            const platform::ByteView chunk = cursor.at(at, 8);
            if (chunk.empty() || !printableChunkId(chunk.be32(0)) || medium.stopped()) break;
            common = common || chunk.be32(0) == kCommon;
            at += 8;
            if (common) read = at;
            if (chunk.be32(0) == kSound) break;
            at += std::uint64_t{chunk.be32(4)} + (chunk.be32(4) & 1);
        }
    }
    medium.acceptListed(sig, length, read);
    return true;
}

bool AudioVideoRecognisers::checkAVIFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor();
    // The other RIFF forms (WAVE, WebP, MIDI …) are their own rows' files.
    if (!AviChunkWalk::isAvi(cursor.at(0, riff::kHeaderBytes))) return false;
    const AviChunkWalk::Walk walk = AviChunkWalk::walk(cursor, [&] { return medium.stopped(); });
    medium.steppedOver(walk.bodies);
    if (walk.brokeOffAt) {
        medium.acceptCut(sig, *walk.brokeOffAt, walk.structureEnd);
        return true;
    }
    // The RIFF size (to the last OpenDML part's end) is taken with a margin
    // of 2 KiB rather than its 8-byte header; what the search is offered
    // ends at the RIFF's end.
    medium.acceptListed(sig, walk.riffEnd, walk.structureEnd);
    const std::uint64_t riffLength = walk.riffEnd - std::min(walk.riffEnd, riff::kChunkHeaderBytes);
    if (!sig.foundCut) sig.foundSize = std::min(riffLength + kAviMargin, medium.readableBytes());
    return true;
}

bool AudioVideoRecognisers::checkMIDIFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor();
    // Chunk lengths are 32-bit and the end 64-bit, so a step always advances; a chunk that claims more than can be
    // read ends the walk there. The chunks' heads are read, their events are not.
    std::uint64_t end = 0, read = 0;
    platform::ByteView chunk = cursor.at(0, 8);
    while ((chunk.be32(0) == kMidiTrack || chunk.be32(0) == kMidiHeader) && !medium.stopped()) {
        read = end + 8;
        end += std::uint64_t{chunk.be32(4)} + 8;
        chunk = cursor.at(end, 8);
    }
    // A header of six bytes, then a track: a MIDI file's structure. Else
    // only its header was read.
    const platform::ByteView head = cursor.at(0, kMidiHeaderChunkBytes + 4);
    if (head.be32(4) != kMidiHeaderLength || head.be32(kMidiHeaderChunkBytes) != kMidiTrack) read = 0;
    medium.acceptJumpable(sig, end + 2, read);
    return true;
}

bool AudioVideoRecognisers::checkMTSFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    // The first packets lie in the first two sectors: a chance 0x47 costs no
    // large read.
    BoundedCursor first = medium.cursor();
    BoundedCursor cursor = medium.cursor(kTransportWindowSectors);
    std::uint64_t packets = 0;
    while (packets * kTransportPacketBytes <= kTransportWalkLimit && !medium.stopped()) {
        const std::uint64_t at = packets * kTransportPacketBytes + 4;
        const platform::ByteView header = packets < kTransportRunPackets ? first.at(at, 4) : cursor.at(at, 4);
        // Every packet starts with the sync byte, and its adaptation-field
        // control is never the reserved 00 (which also turns away a stretch
        // of 0x47 bytes): where either fails, the stream has ended.
        if (header.empty() || header.u8(0) != kTransportSync || (header.u8(3) & 0x30) == 0) break;
        ++packets;
    }
    if (packets < kTransportRunPackets) return false;
    const std::uint64_t end = packets * kTransportPacketBytes;
    medium.acceptJumpable(sig, end, packets < kTransportVouchingPackets ? 0 : end);
    return true;
}

AudioVideoRecognisers::AtomWalk AudioVideoRecognisers::atomWalkEnd(RecogniserMedium& medium, BoundedCursor& cursor,
                                                                   bool (*atomNameCheck)(std::uint32_t)) {
    const std::uint64_t bps = medium.bytesPerSector();
    AtomWalk walk;
    if (bps == 0) return walk;
    // Children and samples are read in windows of their own, large enough
    // for a movie's frames to lie close together in one.
    BoundedCursor reader = medium.cursor(kProbeWindowSectors);
    MovieAtoms atoms(reader, [&] { return medium.stopped(); });
    while (!medium.stopped()) {
        const platform::ByteView atom = cursor.at(walk.end, 8);
        // Zeros of a sector that could not be read are no end of the file.
        if (walk.end != 0 && !atom.empty() && (!atomNameCheck(atom.be32(4)) || atom.be32(0) == 0) &&
            cursor.unreadable(walk.end, 8))
            if (const std::optional<std::uint64_t> next = atomAfterLoss(medium, cursor, walk.end)) {
                atoms.passed(walk.end, *next);
                walk.end = *next;
                continue;
            }
        if (atom.empty() || !atomNameCheck(atom.be32(4))) break;
        std::uint64_t size = atom.be32(0);
        // Size 1: the real size follows the type as a 64-bit field.
        const bool largeSize = size == 1;
        if (largeSize) size = cursor.at(walk.end + 8, 8).be64(0);
        // Smaller than its own header: no atom, and no step forward.
        if (size < 8) break;
        if (platform::saturatingAdd(platform::saturatingAdd(size / bps, medium.block()), walk.end / bps) >
            medium.volumeSectors())
            break;
        const std::uint64_t end = platform::saturatingAdd(walk.end, size);
        atoms.take(walk.end, walk.end + (largeSize ? 16 : 8), end, atom.be32(4));
        walk.end = end;
    }
    // A movie's first atom that no other follows, and that holds no atoms
    // that fill it, is read no further than its header.
    walk.structureEnd = atoms.readPastFirstHeader() ? walk.end : 0;
    walk.bodies = atoms.bodies();
    return walk;
}

bool AudioVideoRecognisers::checkMP4FileAtBlock(std::uint64_t block, Sig& sig) {
    sig.extension = "mp4";
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor();
    const platform::ByteView brand = cursor.at(8, 3);
    // 3GPP files have file types of their own.
    if (brand.u8(0) == '3' && brand.u8(1) == 'g') return false;
    if (brand.u8(0) == 'M' && brand.u8(1) == '4') {
        if (brand.u8(2) == 'V') sig.extension = "m4v";
        if (brand.u8(2) == 'A') sig.extension = "m4a";
    }
    const AtomWalk walk = atomWalkEnd(medium, cursor, checkMP4AtomName);
    medium.steppedOver(walk.bodies);
    medium.acceptJumpable(sig, walk.end, walk.structureEnd);
    return true;
}

bool AudioVideoRecognisers::check3GPP_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor();
    const AtomWalk walk = atomWalkEnd(medium, cursor, checkMP4AtomName);
    medium.steppedOver(walk.bodies);
    medium.acceptJumpable(sig, walk.end, walk.structureEnd);
    return true;
}

bool AudioVideoRecognisers::check3GPP2_FileAtBlock(std::uint64_t block, Sig& sig) {
    return check3GPP_FileAtBlock(block, sig);
}

bool AudioVideoRecognisers::checkHEIF_FileAtBlock(std::uint64_t block, Sig& sig) {
    // A HEIF or AVIF image is a file of the same boxes (ftyp, meta, mdat), walked alike.
    return check3GPP_FileAtBlock(block, sig);
}

bool AudioVideoRecognisers::checkMOVFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor();
    const AtomWalk walk = atomWalkEnd(medium, cursor, checkMOVAtomName);
    medium.steppedOver(walk.bodies);
    medium.acceptListed(sig, walk.end, walk.structureEnd);
    return true;
}

bool AudioVideoRecognisers::checkMPGFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    const std::uint64_t bps = medium.bytesPerSector();
    if (bps == 0 || search_.mpgDoneArray.contains(medium.firstSector())) return false;
    BoundedCursor leading = medium.cursor(kPackSearchSectors);
    const platform::ByteView head = leading.sectors(0, kPackSearchSectors);
    if (head.be32(0) == kPackStart) {
        // Another pack follows the first within its sectors, or the first's
        // packets lead on to one (however many a muxer puts in its first
        // pack), or into sectors the medium could not give.
        std::uint64_t next = 4;
        while (head.has(next, 4) && head.be32(next) != kPackStart)
            ++next;
        const bool packWithin = head.has(next, 4);
        const std::uint64_t packHeaderBytes = ProgramStreamWalk::packHeaderBytes(head);
        if (packHeaderBytes == 0) {
            if (!packWithin) return false;
            medium.acceptJumpable(sig, 0, 0);
            return true;
        }
        BoundedCursor cursor = medium.cursor(kPackSearchSectors + 1);
        BoundedCursor probe = medium.cursor();
        ProgramStreamWalk::Options options;
        options.packHeaderBytes = packHeaderBytes;
        options.lossReach = kLostReach;
        options.lengthBound = medium.readableBytes();
        options.stopped = [&] { return medium.stopped(); };
        options.sectorPack = [&](std::uint64_t at) {
            if (medium.beforeLoss(at)) search_.mpgDoneArray.add(medium.firstSector() + at / bps);
        };
        const ProgramStreamWalk::Measure walk = ProgramStreamWalk::measure(cursor, probe, options);
        if (walk.readFailed || (!packWithin && !walk.ledOn && !walk.ledIntoLoss)) return false;
        // A pack's start code holds two bytes that are not zero, and an x264
        // movie's data begins a sector with it wherever a unit of 442 bytes
        // does (its length prefix), another such unit within reach: only a
        // walk whose packets led on to the next pack, or to the end code,
        // read the stream's structure.
        const std::uint64_t vouched = walk.ledOn ? walk.paddedEnd : 0;
        medium.steppedOver(walk.bodies);
        // A stream whose walk could not follow it to where it stops is
        // listed as far as it could, marked: never as a whole short file.
        if (!walk.ended)
            medium.acceptCut(sig, std::min(walk.paddedEnd, medium.readableBytes()), vouched);
        else
            medium.acceptJumpable(sig, walk.paddedEnd, vouched);
        return true;
    }
    if (head.be32(0) != kSequenceHeader) {
        medium.acceptJumpable(sig, 0, 0);
        return true;
    }
    // A video stream found again from a sector inside it is the same stream.
    BoundedCursor cursor = medium.cursor(kVideoWindowSectors);
    const MpegVideoStreamWalk::Measure stream = MpegVideoStreamWalk::measure(
        cursor, [&] { return medium.stopped(); },
        [&](std::uint64_t at) {
            if (medium.beforeLoss(at)) search_.mpgDoneArray.add(medium.firstSector() + at / bps);
        });
    // A stream this short is too short to trust its length; one whose end nothing marks is not jumped over, as what
    // follows it may lie inside its estimate. Nor is the rest of one past its last start code: nothing checked those
    // bytes as the stream's, and another file may lie in them before what ends it.
    if (stream.length <= kShortestVideoStream) {
        medium.acceptJumpable(sig, 0, 0);
        return true;
    }
    if (!stream.endMarked) {
        medium.acceptEstimated(sig, stream.length, stream.structureEnd);
        return true;
    }
    medium.acceptJumpable(sig, stream.length, stream.structureEnd);
    return true;
}

namespace {

// The frames that follow one another from the candidate's start, each
// measured by `frameBytes` from its first bytes (0: no frame), and the bytes
// they cover.
template <class FrameBytes>
std::pair<std::uint64_t, std::uint64_t> frameRun(RecogniserMedium& medium, std::size_t headerBytes,
                                                 FrameBytes frameBytes) {
    BoundedCursor cursor = medium.cursor(kTransportWindowSectors);
    std::uint64_t frames = 0, end = 0;
    while (!medium.stopped()) {
        const platform::ByteView header = cursor.at(end, headerBytes);
        const std::uint64_t bytes = header.empty() ? 0 : frameBytes(header);
        if (bytes == 0) break;
        end += bytes;
        ++frames;
    }
    return {frames, end};
}

} // namespace

bool AudioVideoRecognisers::checkAACFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(1);
    const platform::ByteView first = cursor.at(0, 3);
    if (first.empty()) return false;
    // Each ADTS frame repeats the first's sync word, version, layer and
    // sampling rate, and gives its own length (header included).
    const std::uint16_t sync = first.be16(0);
    const std::uint8_t rate = first.u8(2) & 0x3C;
    const auto [frames, end] = frameRun(medium, 6, [&](platform::ByteView h) -> std::uint64_t {
        const std::uint32_t length = (std::uint32_t{h.u8(3)} & 3) << 11 | std::uint32_t{h.u8(4)} << 3 | h.u8(5) >> 5;
        const bool valid = h.be16(0) == sync && (h.u8(2) & 0x3C) == rate && rate < (13 << 2) && length >= 7;
        return valid ? length : 0;
    });
    if (frames < kFrameRun) return false;
    medium.acceptJumpable(sig, end, end);
    return true;
}

bool AudioVideoRecognisers::checkAC3FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    const auto [frames, end] = frameRun(medium, 6, [](platform::ByteView h) -> std::uint64_t {
        if (h.be16(0) != 0x0B77) return 0;
        const std::uint32_t bitstreamId = h.u8(5) >> 3;
        // Enhanced AC-3 gives its frame size in words; AC-3 a code of the
        // sampling rate and the bit rate.
        if (bitstreamId > 10 && bitstreamId <= 16) return 2 * ((std::uint64_t{h.u8(2)} & 7) << 8 | h.u8(3)) + 2;
        const std::uint32_t rateCode = h.u8(4) >> 6, sizeCode = h.u8(4) & 0x3F;
        if (bitstreamId > 10 || rateCode > 2 || sizeCode >= 2 * kAc3Rates.size()) return 0;
        const std::uint64_t kbits = kAc3Rates[sizeCode / 2];
        // 1,536 samples a frame at 48, 44.1 or 32 kHz, in 16-bit words; at 44.1
        // kHz the odd code adds the word the rate does not divide into.
        const std::uint64_t words = rateCode == 0   ? 2 * kbits
                                    : rateCode == 1 ? kbits * 320 / 147 + sizeCode % 2
                                                    : 3 * kbits;
        return 2 * words;
    });
    if (frames < kFrameRun) return false;
    medium.acceptJumpable(sig, end, end);
    return true;
}
