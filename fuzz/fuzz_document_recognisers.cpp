// Runs the recognisers of ZIP, RAR, PDF, RTF, compound documents, MRW, compress, ARJ and Windows programs over
// arbitrary bytes, as the signature search asks them after a header hit.

#include "RecogniserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzRecognisers(data, size, {11, 21, 23, 24, 25, 30, 51, 52, 53});
}
