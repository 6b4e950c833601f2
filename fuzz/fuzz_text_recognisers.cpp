// Runs the recognisers of PostScript files and scripts over arbitrary bytes, as the signature search asks them after
// a header hit: a first line that never ends, text that never stops, bytes that are no text.

#include "RecogniserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzRecognisers(data, size, {62, 63});
}
