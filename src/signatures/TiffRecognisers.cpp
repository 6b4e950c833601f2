#include "signatures/TiffRecognisers.h"

#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "volume/Volume.h"

bool TiffRecognisers::checkTIFF_FileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}
