#include "signatures/AudioVideoRecognisers.h"

#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "volume/Volume.h"

bool AudioVideoRecognisers::checkMP3FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool AudioVideoRecognisers::checkWAVFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool AudioVideoRecognisers::checkAIFF_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool AudioVideoRecognisers::checkMIDIFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool AudioVideoRecognisers::checkAVIFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool AudioVideoRecognisers::checkMTSFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool AudioVideoRecognisers::checkMP4FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool AudioVideoRecognisers::check3GPP_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool AudioVideoRecognisers::check3GPP2_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool AudioVideoRecognisers::checkMOVFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool AudioVideoRecognisers::checkMPGFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}
