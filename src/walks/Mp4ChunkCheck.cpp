#include "walks/Mp4ChunkCheck.h"

#include "platform/ByteView.h"
#include "walks/JpegSample.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

namespace {

using platform::ByteView;

constexpr std::uint32_t fourCC(const char (&name)[5]) {
    return std::uint32_t(std::uint8_t(name[0])) << 24 | std::uint32_t(std::uint8_t(name[1])) << 16 |
           std::uint32_t(std::uint8_t(name[2])) << 8 | std::uint8_t(name[3]);
}

// The bytes a video sample entry holds before its child atoms.
constexpr std::size_t kVisualSampleEntryBytes = 78;
// A sample of more NAL units than this is taken as checked once they all
// held this far.
constexpr int kMostNalUnitsWalked = 256;
// The samples of a movie checked at the most: hours of video.
constexpr std::size_t kMostSamples = std::size_t{1} << 22;

// The body of the first child atom of `type` in the atoms that fill
// [from, end) of the header; nothing when none does.
std::optional<std::pair<std::size_t, std::size_t>> child(ByteView header, std::size_t from, std::size_t end,
                                                         std::uint32_t type) {
    while (from <= end && end - from >= 8) {
        std::uint64_t size = header.be32(from);
        std::size_t head = 8;
        if (size == 1) {
            if (end - from < 16) return std::nullopt;
            size = header.be64(from + 8);
            head = 16;
        } else if (size == 0) {
            size = end - from;
        }
        if (size < head || size > end - from) return std::nullopt;
        if (header.be32(from + 4) == type) return std::pair{from + head, from + static_cast<std::size_t>(size)};
        from += static_cast<std::size_t>(size);
    }
    return std::nullopt;
}

// The body found by following `path` from the atoms in [from, end).
std::optional<std::pair<std::size_t, std::size_t>> descend(ByteView header, std::size_t from, std::size_t end,
                                                           std::initializer_list<std::uint32_t> path) {
    std::optional<std::pair<std::size_t, std::size_t>> body{{from, end}};
    for (const std::uint32_t type : path)
        if (body) body = child(header, body->first, body->second, type);
    return body;
}

enum class Coding { Unchecked, H264, H265, Mpeg4Visual, Jpeg };

struct Sample {
    std::uint64_t offset;
    std::uint64_t bytes;
    Coding coding;
    std::uint32_t lengthBytes;
};

// The coding of a track's first sample description, and the length of the
// NAL unit lengths where it has them.
std::pair<Coding, std::uint32_t> codingOf(ByteView header, std::pair<std::size_t, std::size_t> stsd) {
    const auto [from, end] = stsd;
    if (end - from < 16 || header.be32(from + 4) == 0) return {Coding::Unchecked, 0};
    const std::size_t entry = from + 8;
    const std::uint64_t entrySize = header.be32(entry);
    if (entrySize < 8 + kVisualSampleEntryBytes || entrySize > end - entry) return {Coding::Unchecked, 0};
    const std::size_t children = entry + 8 + kVisualSampleEntryBytes, entryEnd = entry + entrySize;
    switch (header.be32(entry + 4)) {
    case fourCC("avc1"):
    case fourCC("avc3"):
        if (const auto config = child(header, children, entryEnd, fourCC("avcC"));
            config && config->second > config->first + 4)
            return {Coding::H264, (header.u8(config->first + 4) & 3u) + 1};
        return {Coding::Unchecked, 0};
    case fourCC("hvc1"):
    case fourCC("hev1"):
        if (const auto config = child(header, children, entryEnd, fourCC("hvcC"));
            config && config->second > config->first + 21)
            return {Coding::H265, (header.u8(config->first + 21) & 3u) + 1};
        return {Coding::Unchecked, 0};
    case fourCC("mp4v"):
        return {Coding::Mpeg4Visual, 0};
    case fourCC("jpeg"):
    case fourCC("mjpa"):
        return {Coding::Jpeg, 0};
    default:
        return {Coding::Unchecked, 0};
    }
}

// The samples of one track whose coding can be checked, each where its
// chunk's offset and the lengths of the samples before it in the chunk put
// it; no more than `most` in all.
void addSamples(ByteView header, std::pair<std::size_t, std::size_t> trak, std::vector<Sample>& samples,
                std::size_t most) {
    const auto stbl = descend(header, trak.first, trak.second, {fourCC("mdia"), fourCC("minf"), fourCC("stbl")});
    if (!stbl) return;
    const auto stsd = child(header, stbl->first, stbl->second, fourCC("stsd"));
    const auto stsc = child(header, stbl->first, stbl->second, fourCC("stsc"));
    const auto stsz = child(header, stbl->first, stbl->second, fourCC("stsz"));
    auto offsets = child(header, stbl->first, stbl->second, fourCC("stco"));
    std::size_t offsetBytes = 4;
    if (!offsets) offsets = child(header, stbl->first, stbl->second, fourCC("co64")), offsetBytes = 8;
    if (!stsd || !stsc || !stsz || !offsets) return;
    const auto [coding, lengthBytes] = codingOf(header, *stsd);
    if (coding == Coding::Unchecked) return;
    // Each table: version and flags, then its count (the sizes after the
    // size they share, 0 when they differ), then its entries.
    const auto count = [&](std::pair<std::size_t, std::size_t> table, std::size_t at, std::size_t entryBytes) {
        const std::uint64_t n = header.be32(table.first + at);
        const std::size_t bytes = table.second - table.first;
        return bytes < at + 4 ? 0 : std::min<std::uint64_t>(n, (bytes - at - 4) / entryBytes);
    };
    const std::uint64_t chunks = count(*offsets, 4, offsetBytes);
    const std::uint64_t runs = count(*stsc, 4, 12);
    const std::uint32_t sharedSize = header.be32(stsz->first + 4);
    const std::uint64_t sizes = sharedSize != 0 ? header.be32(stsz->first + 8) : count(*stsz, 8, 4);
    if (runs == 0) return;
    std::uint64_t sample = 0;
    for (std::uint64_t chunk = 0, run = 0; chunk < chunks && sample < sizes; ++chunk) {
        // The run of the sample-to-chunk table the chunk (numbered from 1)
        // lies in.
        while (run + 1 < runs && header.be32(stsc->first + 8 + (run + 1) * 12) <= chunk + 1)
            ++run;
        std::uint64_t offset = offsetBytes == 4 ? header.be32(offsets->first + 8 + chunk * 4)
                                                : header.be64(offsets->first + 8 + chunk * 8);
        const std::uint64_t inChunk = header.be32(stsc->first + 8 + run * 12 + 4);
        for (std::uint64_t i = 0; i < inChunk && sample < sizes; ++i, ++sample) {
            if (samples.size() == most) return;
            const std::uint64_t bytes = sharedSize != 0 ? sharedSize : header.be32(stsz->first + 12 + sample * 4);
            samples.push_back({offset, bytes, coding, lengthBytes});
            offset += bytes;
        }
    }
}

// Whether the sample begins as its coding's do (and, of NAL units, is filled
// by them): a JPEG's start, an MPEG-4 start code, NAL units.
bool sampleHolds(BoundedCursor& cursor, const Sample& chunk) {
    const std::uint64_t end = chunk.offset + chunk.bytes;
    switch (chunk.coding) {
    case Coding::H264:
    case Coding::H265: {
        std::uint64_t at = chunk.offset;
        for (int units = 0; at < end && units < kMostNalUnitsWalked; ++units) {
            const ByteView unit = cursor.at(at, chunk.lengthBytes + 2);
            if (unit.empty()) return false;
            std::uint64_t length = 0;
            for (std::uint32_t i = 0; i < chunk.lengthBytes; ++i)
                length = length << 8 | unit.u8(i);
            const std::uint8_t head = unit.u8(chunk.lengthBytes);
            // The forbidden bit is clear, and the unit type is one a stream
            // carries (H.265: up to 40, with the layer's temporal id above 0).
            const bool type = chunk.coding == Coding::H264
                                  ? (head & 0x1F) >= 1 && (head & 0x1F) <= 23
                                  : (head >> 1) <= 40 && (unit.u8(chunk.lengthBytes + 1) & 7) != 0;
            if (length == 0 || (head & 0x80) != 0 || !type || length > end - at - chunk.lengthBytes) return false;
            at += chunk.lengthBytes + length;
        }
        return true;
    }
    case Coding::Mpeg4Visual: {
        const std::uint32_t code = cursor.at(chunk.offset, 4).be32(0);
        const std::uint32_t kind = code & 0xFF;
        return code >> 8 == 1 && (kind <= 0x2F || kind == 0xB0 || kind == 0xB3 || kind == 0xB5 || kind == 0xB6);
    }
    case Coding::Jpeg:
        return cursor.at(chunk.offset, 3).be16(0) == 0xFFD8;
    case Coding::Unchecked:
        break;
    }
    return false;
}

} // namespace

void Mp4ChunkCheck::markFrames(BoundedCursor& cursor, std::uint64_t moov, std::uint64_t moovSize,
                               std::uint64_t mediaStart, std::uint64_t mediaEnd, const std::function<bool()>& stopped,
                               SteppedBodies& bodies) {
    if (moovSize < 8 || moovSize > kLargestMovieHeader || mediaEnd < mediaStart) return;
    const ByteView read = cursor.at(moov, static_cast<std::size_t>(moovSize));
    if (read.empty()) return;
    // The cursor's window moves as the chunks are read.
    const std::vector<std::uint8_t> bytes(read.data(), read.data() + read.size());
    const ByteView header(bytes);
    std::vector<Sample> samples;
    const std::size_t size = bytes.size();
    for (std::size_t from = 8; from < size;) {
        const auto trak = child(header, from, size, fourCC("trak"));
        if (!trak) break;
        addSamples(header, *trak, samples, kMostSamples);
        from = trak->second;
    }
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.offset < b.offset; });
    for (const Sample& sample : samples) {
        if (stopped() || sample.offset < mediaStart || sample.offset > mediaEnd || sample.bytes == 0 ||
            sample.bytes > mediaEnd - sample.offset ||
            !(sampleHolds(cursor, sample) || JpegSample::isWhole(cursor, sample.offset, sample.offset + sample.bytes)))
            break;
        bodies.ownPartAt(sample.offset);
    }
}
