#include "signatures/DocumentRecognisers.h"

#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "volume/Volume.h"

bool DocumentRecognisers::checkZIP_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DocumentRecognisers::checkRAR_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DocumentRecognisers::checkPDF_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DocumentRecognisers::checkRTF_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DocumentRecognisers::checkMSOFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DocumentRecognisers::checkMRWFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}
