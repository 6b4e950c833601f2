#pragma once

// The recognisers of the camera-raw formats that are TIFF underneath: Canon CR2, Nikon NEF, Sony raw and Olympus ORF.
// Each reads the candidate from the sector `block` of the search's numbering through a RecogniserMedium and answers as
// RecogniserDispatch describes. They walk and measure the directories as the TIFF recogniser does
// (TiffDirectoryWalk), each with its own identifying test, byte orders and directory test.

#include <cstdint>

class FileStartProbe;
class Sig;
class Tiff_IFD;
class Volume;

class CameraRawRecognisers {
public:
    explicit CameraRawRecognisers(Volume& volume) noexcept : volume_(volume) {}

    // The search's lookup, offered the sectors of a found file that its walk
    // did not vouch for; none: nothing is offered.
    void setFileStartProbe(FileStartProbe* probe) { probe_ = probe; }

    bool checkCR2FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkNEF_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkSONY_RAWFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkORF_FileAtBlock(std::uint64_t block, Sig& sig);

    // Canon writes directories at odd positions, so only the directory's
    // length and its entries are tested.
    static bool checkCR2_IFD(const Tiff_IFD& ifd);
    // The NEF and Sony raw directory test: the TIFF one.
    static bool checkNEF_IFD(const Tiff_IFD& ifd);

private:
    Volume& volume_;
    FileStartProbe* probe_ = nullptr;
};
