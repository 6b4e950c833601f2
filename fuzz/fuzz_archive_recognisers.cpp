// Runs the recognisers of tar archives and Virtual PC disks over arbitrary bytes, as the signature search asks them
// after a header hit.

#include "RecogniserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzRecognisers(data, size, {57, 61});
}
