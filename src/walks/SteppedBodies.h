#pragma once

// The bodies a container's walk steps over by their lengths: a movie's media
// data, the chunks of an AVI file's lists, a WebP's image data and frames, a
// PNG's chunk data, a GIF's image data. A walk reads their headers, not what
// they hold, so they are the container's only by those headers: another file
// written over the container's sectors there reads as its body all the same.
// A sector that begins inside a body is offered to the search's lookup, as
// the bytes past the structure a walk read are, and a file found there cuts
// the container. A file found where a part of the container's own begins is
// that part and cuts nothing: a sample a movie header places, an AVI file's
// frame, where it begins as its coding's do (a JPEG frame of a stream of
// JPEG frames) or is as long as such a file (one whole JPEG). A body's first
// byte is such a place only as any sample's is: the walk that checked what
// begins there says so, else a photo written over the body from its first
// sector on cuts the container as one a sector later does.
//
// Bodies are taken in the order the walk meets them. Two that only a few
// bytes of headers part are kept as one stretch, so that a film of a million
// frames keeps a few stretches, and the sectors where its checked frames
// begin.

#include <cstdint>
#include <vector>

class SteppedBodies {
public:
    // Bytes from the file's first.
    struct Span {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
    };

    explicit SteppedBodies(std::uint32_t bytesPerSector) : bps_(bytesPerSector) {}

    // A body from `from` to `to` that the walk stepped over.
    void add(std::uint64_t from, std::uint64_t to);
    // A part of the file's own begins at `at` inside a body, a body's first
    // byte included (a sample its movie header places there, checked to
    // begin as its coding's do).
    void ownPartAt(std::uint64_t at);
    // The walk found the file to end at `end`: nothing from there on is its.
    void endAt(std::uint64_t end);

    const std::vector<Span>& spans() const { return spans_; }
    // The file's sectors (counted from its first) where a body or an own part
    // begins, in order.
    const std::vector<std::uint64_t>& ownSectors() const { return own_; }

    // A walk keeps no more own sectors than a film's frames come to.
    static constexpr std::size_t kMostOwnSectors = std::size_t{1} << 22;

private:
    std::uint32_t bps_;
    std::vector<Span> spans_;
    std::vector<std::uint64_t> own_;
};
