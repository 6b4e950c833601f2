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
    // How many of the `count` device sectors from `sector` the medium could
    // not give, of those read so far: they read as zeros, which stand for
    // data lost, never for a file's structure.
    virtual std::uint64_t unreadableSectorsIn(std::uint64_t sector, std::uint64_t count) const = 0;

protected:
    ~SectorSource() = default;
};
