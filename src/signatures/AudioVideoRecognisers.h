#pragma once

// The recognisers of MPEG audio, WAVE, AIFF, MIDI, AVI, MPEG transport, program and video streams, and the ISO base
// media family (MP4, 3GPP, 3GPP2, QuickTime). Each reads the candidate from the sector `block` of the search's
// numbering through a RecogniserMedium and answers as the Recognisers interface describes.

#include <cstdint>

class Sig;
class Volume;

class AudioVideoRecognisers {
public:
    explicit AudioVideoRecognisers(Volume& volume) noexcept : volume_(volume) {}

    bool checkMP3FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkWAVFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkAIFF_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMIDIFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkAVIFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMTSFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMP4FileAtBlock(std::uint64_t block, Sig& sig);
    bool check3GPP_FileAtBlock(std::uint64_t block, Sig& sig);
    bool check3GPP2_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMOVFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMPGFileAtBlock(std::uint64_t block, Sig& sig);

private:
    Volume& volume_;
};
