// Offers the input, as a candidate file at sectors 0 to 7 of an image, to the
// recognisers of the mail-database records and of the layout-document
// databases: record headers, master pages and the object walk.

#include "RecogniserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzRecognisers(data, size, {32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47});
}
