// The TIFF recogniser and the camera-raw recognisers of the formats that are
// TIFF underneath, over one candidate. Any TIFF, or a camera raw file, cut to
// a few KiB makes a seed.

#include "RecogniserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzRecognisers(data, size, {5, 8, 9, 10, 12});
}
