#pragma once

// Where a BoundedCursor's sectors come from: one of the medium's readers,
// with that reader's own way of telling the user about a failure.

#include <cstdint>

class SectorSource {
public:
    // `count` sectors from the device sector `sector` into `buffer`, which
    // holds them; a read past the device's end succeeds with the rest zero.
    // False when the read failed.
    virtual bool readSectors(std::uint64_t sector, std::uint32_t count, std::uint8_t* buffer) = 0;

protected:
    ~SectorSource() = default;
};
