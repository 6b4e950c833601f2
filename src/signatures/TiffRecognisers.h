#pragma once

// The recognisers of TIFF. Each reads the candidate
// from the sector `block` of the search's numbering through a RecogniserMedium
// and answers as the Recognisers interface describes.

#include <cstdint>

class Sig;
class Volume;

class TiffRecognisers {
public:
    explicit TiffRecognisers(Volume& volume) noexcept : volume_(volume) {}

    bool checkTIFF_FileAtBlock(std::uint64_t block, Sig& sig);

private:
    Volume& volume_;
};
