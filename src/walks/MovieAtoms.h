#pragma once

// What a walk of a movie's top-level atoms read of them, which the plain
// search's recogniser and the carving's size calculator of the QuickTime
// family (MOV, MP4, M4A, M4V, 3GP, 3G2) share. An atom whose body is atoms
// that fill it (the movie header, a fragment's header, metadata) is the
// file's structure: its children's headers are read, the movie header's
// sample tables too. Any other atom's body (the media data, free space, an
// atom of a kind nothing reads) is a body the walk steps over
// (SteppedBodies), the media data's frames, where the movie header places
// them and they hold as their coding's do, parts of the movie's own
// (Mp4ChunkCheck): the media data's first byte no more than a later one.

#include "media/BoundedCursor.h"
#include "walks/SteppedBodies.h"

#include <cstdint>
#include <functional>

class MovieAtoms {
public:
    // `cursor` reads the file from its first byte, the children of the
    // atoms taken and the samples the movie header places.
    MovieAtoms(BoundedCursor& cursor, std::function<bool()> stopped);

    // The atom from `start` to `end` whose body begins at `body`.
    void take(std::uint64_t start, std::uint64_t body, std::uint64_t end, std::uint32_t type);
    // The walk went on from `from` to `to` by searching for the next atom,
    // past sectors the medium could not give.
    void passed(std::uint64_t from, std::uint64_t to) { bodies_.add(from, to); }

    // Atoms taken.
    std::uint64_t atoms() const { return atoms_; }
    // Whether the walk read past the header of the first atom: another atom
    // followed it, or its children fill it.
    bool readPastFirstHeader() const { return atoms_ > 1 || firstFilled_; }
    // The bodies the walk stepped over, the frames the movie header places
    // in the media data marked as the movie's own.
    SteppedBodies bodies();

    // A movie header holds a few hundred atoms at the most.
    static constexpr std::uint32_t kMostChildren = 65536;

private:
    // Whether the atoms inside the body from `body` to `end` (four printable
    // characters each, each at least its header) end exactly at `end`.
    bool childrenFill(std::uint64_t body, std::uint64_t end);

    BoundedCursor& cursor_;
    std::function<bool()> stopped_;
    SteppedBodies bodies_;
    std::uint64_t atoms_ = 0;
    bool firstFilled_ = false;
    // The first movie header whose children fill it, and the first media
    // data: where and how long.
    std::uint64_t moov_ = 0, moovSize_ = 0;
    std::uint64_t media_ = 0, mediaEnd_ = 0;
};
