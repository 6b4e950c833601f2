#include "walks/AviChunkWalk.h"

#include "formats/RiffHeader.h"
#include "walks/JpegSample.h"

#include <algorithm>
#include <bitset>

namespace {
constexpr std::uint32_t kAvi = 0x41564920;          // "AVI "
constexpr std::uint32_t kAvix = 0x41564958;         // "AVIX"
constexpr std::uint32_t kList = 0x4C495354;         // "LIST"
constexpr std::uint32_t kHdrl = 0x6864726C;         // "hdrl"
constexpr std::uint32_t kStreamHeader = 0x73747268; // "strh"
constexpr std::uint32_t kStreamFormat = 0x73747266; // "strf"
constexpr std::uint32_t kVideo = 0x76696473;        // "vids"
// The codes a stream of JPEG frames goes by, in its header's handler or its
// format's compression, in capital letters: ffmpeg's and most cameras'
// "MJPG", and those of capture cards and editors.
constexpr std::uint32_t kJpegCodings[] = {
    0x4D4A5047, // "MJPG"
    0x4A504547, // "JPEG"
    0x4156524E, // "AVRN"
    0x41564444, // "AVDJ"
    0x444D4231, // "DMB1"
    0x494A5047, // "IJPG"
    0x4C4A5047, // "LJPG"
};
// A list's header: "LIST", its length and its type.
constexpr std::uint64_t kListHeaderBytes = 12;
// Lists inside lists: the stream lists of the header list, and any a
// writer nests in those.
constexpr int kDeepestList = 4;
// A stream's chunks are named by its number in two decimal digits.
constexpr std::size_t kMostStreams = 100;
// A video format's compression: after its length, width, height, planes and
// bit count.
constexpr std::uint64_t kCompressionAt = 16;

bool jpegCoding(std::uint32_t code) {
    std::uint32_t capitals = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const std::uint32_t c = code >> shift & 0xFF;
        capitals = capitals << 8 | (c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
    }
    return std::find(std::begin(kJpegCodings), std::end(kJpegCodings), capitals) != std::end(kJpegCodings);
}

// The stream a chunk of the "movi" list belongs to, by its name's first two
// characters; kMostStreams when they are no stream number.
std::size_t streamOf(std::uint32_t id) {
    const std::uint32_t tens = (id >> 24) - '0', ones = (id >> 16 & 0xFF) - '0';
    return tens < 10 && ones < 10 ? tens * 10 + ones : kMostStreams;
}

struct ListWalk {
    BoundedCursor& cursor;
    const std::function<bool()>& stopped;
    AviChunkWalk::Walk& walk;
    std::uint64_t chunks = 0;
    // The streams the header list described, in order, and which of them
    // are coded as JPEG frames.
    std::size_t streams = 0;
    std::bitset<kMostStreams> jpegStreams;

    // A stream's header or format, at `body`: the streams of JPEG frames.
    void noteStream(std::uint32_t id, std::uint64_t body) {
        if (id == kStreamHeader && streams < kMostStreams) {
            const platform::ByteView header = cursor.at(body, 8);
            const bool video = header.be32(0) == kVideo;
            jpegStreams[streams++] = video && jpegCoding(header.be32(4));
        } else if (id == kStreamFormat && streams != 0) {
            if (jpegCoding(cursor.at(body + kCompressionAt, 4).be32(0))) jpegStreams[streams - 1] = true;
        }
    }

    // The chunks from `at` to the list's `end`; false when the walk ended
    // before it.
    bool chunksOf(std::uint64_t at, std::uint64_t end, int depth) {
        while (at < end) {
            if (stopped() || ++chunks > AviChunkWalk::kMostChunks) return false;
            const platform::ByteView header = cursor.at(at, kListHeaderBytes);
            // A sector that could not be read, or the volume's end: what
            // follows is not known, but nothing shows the file ends here.
            if (header.size() < riff::kChunkHeaderBytes || cursor.unreadable(at, riff::kChunkHeaderBytes)) return false;
            const std::optional<riff::Chunk> chunk = riff::chunkAt(header, at);
            if (!chunk || chunk->next > end + (end & 1)) {
                walk.brokeOffAt = at;
                return false;
            }
            walk.structureEnd = at + riff::kChunkHeaderBytes;
            if (chunk->id == kList && depth < kDeepestList && chunk->next - at >= kListHeaderBytes &&
                header.size() == kListHeaderBytes) {
                walk.structureEnd = at + kListHeaderBytes;
                if (!chunksOf(at + kListHeaderBytes, chunk->next, depth + 1)) return false;
            } else {
                const std::uint64_t body = at + riff::kChunkHeaderBytes, bodyEnd = body + header.le32(4);
                // A frame is the file's own where it begins only as a JPEG
                // frame of its stream is, or as one whole JPEG: a photo
                // written over any other frame's first byte cuts the file.
                const std::size_t stream = streamOf(chunk->id);
                if (JpegSample::begins(header.sub(riff::kChunkHeaderBytes, 3)) && stream < kMostStreams &&
                    (jpegStreams[stream] || JpegSample::isWhole(cursor, body, bodyEnd)))
                    walk.bodies.ownPartAt(body);
                else if (stream == kMostStreams)
                    noteStream(chunk->id, body);
                walk.bodies.add(body, chunk->next);
            }
            at = chunk->next;
        }
        return true;
    }
};
} // namespace

bool AviChunkWalk::isAvi(platform::ByteView header) {
    return riff::isRiff(header) && header.be32(8) == kAvi;
}

AviChunkWalk::Walk AviChunkWalk::walk(BoundedCursor& cursor, const std::function<bool()>& stopped) {
    const platform::ByteView header = cursor.at(0, 24);
    Walk walk;
    walk.bodies = SteppedBodies(cursor.bytesPerSector());
    if (header.empty()) return walk;
    walk.riffEnd = riff::fileBytes(header);
    if (!isAvi(header) || header.be32(12) != kList || header.be32(20) != kHdrl) return walk;
    ListWalk lists{cursor, stopped, walk, 0, 0, {}};
    if (!lists.chunksOf(riff::kHeaderBytes, walk.riffEnd, 0)) return walk;
    walk.structureEnd = walk.riffEnd;
    // Past 1 GiB a writer goes on in parts of form "AVIX" (OpenDML), each
    // right after the one before and each with its own "movi" list: the same
    // file, whose end is the last part's.
    for (;;) {
        const std::uint64_t at = walk.riffEnd + (walk.riffEnd & 1);
        const platform::ByteView part = cursor.at(at, riff::kHeaderBytes);
        if (part.empty() || cursor.unreadable(at, riff::kHeaderBytes) || !riff::isRiff(part) || part.be32(8) != kAvix)
            break;
        // A part that runs past the medium's end is no part of a file on it,
        // nor one too short to hold its form.
        const std::uint64_t partBytes = riff::fileBytes(part);
        if (partBytes < riff::kHeaderBytes || !cursor.readable(at, partBytes) || stopped() ||
            ++lists.chunks > kMostChunks)
            break;
        walk.riffEnd = at + partBytes;
        walk.structureEnd = at + riff::kHeaderBytes;
        if (!lists.chunksOf(at + riff::kHeaderBytes, walk.riffEnd, 0)) return walk;
        walk.structureEnd = walk.riffEnd;
    }
    return walk;
}
