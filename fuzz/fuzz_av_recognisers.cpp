// Runs the audio and video recognisers over a damaged or hostile candidate file: MPEG audio, WAVE, AIFF, MIDI, AVI,
// transport, program and video streams, the atom files, AAC and AC-3, with the done lists of one scan between them.

#include "RecogniserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzRecognisers(data, size, {13, 14, 15, 16, 17, 18, 19, 26, 27, 28, 31, 49, 50, 56});
}
