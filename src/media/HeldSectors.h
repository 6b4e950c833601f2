#pragma once

// The sectors a search of the medium holds in memory: the window its batches
// are examined in and the one being read ahead of it. The readers of the
// files it examines (the size calculators' windows, the recognisers'
// cursors) take what it holds from there instead of asking the medium again
// (DMedia::readExaminedRange).

#include <cstdint>

class HeldSectors {
public:
    struct Stretch {
        // Device sectors [first, first + count); count 0 for none.
        std::uint64_t first = 0;
        std::uint64_t count = 0;
        const std::uint8_t* bytes = nullptr;
    };
    // The stretch that holds the device sector, once it has been read (a
    // window being read is waited for); none when no stretch holds it. Its
    // bytes last until the search moves on, which it does not do while a
    // reader it lent them to runs.
    virtual Stretch holding(std::uint64_t sector) = 0;

protected:
    ~HeldSectors() = default;
};
