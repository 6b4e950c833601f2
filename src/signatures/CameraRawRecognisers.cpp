#include "signatures/CameraRawRecognisers.h"

#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "volume/Volume.h"

bool CameraRawRecognisers::checkCR2FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool CameraRawRecognisers::checkNEF_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool CameraRawRecognisers::checkSONY_RAWFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool CameraRawRecognisers::checkORF_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}
