#include "signatures/ImageRecognisers.h"

#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "volume/Volume.h"

bool ImageRecognisers::checkJPGFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool ImageRecognisers::checkPNGFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool ImageRecognisers::checkGIFFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool ImageRecognisers::checkBMPFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool ImageRecognisers::checkICNS_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}
