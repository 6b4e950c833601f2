#pragma once

// The first sector a file's measurement read that the medium could not give.
// A walk that meets those zeros goes on past them where its format lets it,
// by searching for its next structure or its end marker, and what it finds
// there may be another file's: the length it measured stands, but a search
// that jumps over the files it finds jumps no further than this sector, and
// looks at what lies past it again.

#include "media/SectorSource.h"

#include <cstdint>
#include <optional>

class FirstLostSector {
public:
    // Starts on the file whose first sector is the device sector `first`;
    // what was lost before it is not the file's.
    void startFile(std::uint64_t first);
    // A read of the `count` device sectors from `sector` through `source`
    // lost some of them.
    void noteLoss(const SectorSource& source, std::uint64_t sector, std::uint64_t count);
    // Of `sectors` sectors from the file's first on, those before the first
    // lost one: all of them when none was read.
    std::uint64_t jumpable(std::uint64_t sectors) const;
    // Whether the device sector lies before the first lost one.
    bool before(std::uint64_t sector) const { return !lost_ || sector < *lost_; }

private:
    std::uint64_t first_ = 0;
    std::optional<std::uint64_t> lost_;
};
