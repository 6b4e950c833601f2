#pragma once

// The recognisers of JPEG, PNG, GIF, BMP and Apple icon files. Each reads the candidate
// from the sector `block` of the search's numbering through a RecogniserMedium
// and answers as the Recognisers interface describes.

#include <cstdint>

class Sig;
class Volume;

class ImageRecognisers {
public:
    explicit ImageRecognisers(Volume& volume) noexcept : volume_(volume) {}

    bool checkJPGFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkPNGFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkGIFFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkBMPFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkICNS_FileAtBlock(std::uint64_t block, Sig& sig);

private:
    Volume& volume_;
};
