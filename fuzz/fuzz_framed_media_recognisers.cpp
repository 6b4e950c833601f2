// Runs the recognisers of DV, DTS and MXF files over a damaged or hostile candidate file, as the signature search
// asks them after a header hit.

#include "RecogniserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzRecognisers(data, size, {58, 59, 60});
}
