// Offers the input, as a candidate file at sectors 0 to 7 of an image, to the
// recognisers of BMP, JPEG, GIF, PNG, Apple icon, SGI, Windows icon and
// cursor and WebP files: header tests, directory, marker and chunk walks,
// block walks and the end-of-image search.

#include "RecogniserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzRecognisers(data, size, {2, 3, 4, 6, 20, 48, 54, 55});
}
