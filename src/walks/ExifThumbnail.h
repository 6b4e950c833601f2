#pragma once

// The thumbnail a file's own EXIF block places: the JPEG stream that IFD1's
// JPEGInterchangeFormat and JPEGInterchangeFormatLength entries name (or the
// strips of an uncompressed one), inside a JPEG's APP1 segment, a WebP's
// "EXIF" chunk or a PNG's "eXIf" chunk. Written there by the camera or the
// editor, it is the file's own part, wherever it lies: a search that finds a
// JPEG at its first sector has found that part, not a photo written over the
// file. The block is read with the TIFF directory walk from its own header,
// whose offsets count from there; a part placed outside the block is none of
// the file's.

#include "media/SectorSource.h"

#include <cstdint>
#include <functional>
#include <vector>

class ExifThumbnail {
public:
    // The file's sectors (counted from its first) where a part that the EXIF
    // block of `length` bytes at `at` places begins: the thumbnail, in
    // order; none when the block holds no TIFF header ("Exif\0\0" may stand
    // before it). The file begins at the device sector `firstSector`, and
    // `readableBytes` of it may be read.
    static std::vector<std::uint64_t> sectors(SectorSource& source, std::uint32_t bytesPerSector,
                                              std::uint64_t firstSector, std::uint64_t readableBytes, std::uint64_t at,
                                              std::uint64_t length, std::function<bool()> stopped);
};
