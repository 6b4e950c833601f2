#pragma once

// The recognisers of the camera-raw formats that are TIFF underneath: Canon CR2, Nikon NEF, Sony raw and Olympus ORF.
// Each reads the candidate from the sector `block` of the search's numbering through a RecogniserMedium and answers as
// the Recognisers interface describes.

#include <cstdint>

class Sig;
class Volume;

class CameraRawRecognisers {
public:
    explicit CameraRawRecognisers(Volume& volume) noexcept : volume_(volume) {}

    bool checkCR2FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkNEF_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkSONY_RAWFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkORF_FileAtBlock(std::uint64_t block, Sig& sig);

private:
    Volume& volume_;
};
