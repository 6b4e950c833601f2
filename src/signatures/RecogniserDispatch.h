#pragma once

// The one entry point a signature search asks whether a hit is a file of the
// hit's type: it picks the recogniser by the record's typeOfFile and passes
// its answer on. Numbers without a recogniser (the user's own types, the
// types the carving measures itself, gaps in the numbering) are accepted
// unchecked, so the recorder sizes them by the type's limits. No state of its
// own: what lasts are the recognisers' effects and the "indb" rewrite.

#include <cstdint>

class Recognisers;
class Sig;

class RecogniserDispatch {
public:
    explicit RecogniserDispatch(Recognisers& recognisers) noexcept : recognisers_(recognisers) {}

    // sig's foundSize, skipSize and skipFileSize are the caller's to reset
    // first. wHeaderForMP3 is the candidate's first two bytes, byte 0 high;
    // bMP3SkippedOnce becomes true whenever the MP3 recogniser runs, whatever
    // it answers, and is left alone otherwise. atBlock counts from the start
    // of the search's sector numbering.
    bool runCheckForSig(Sig& sig, std::uint16_t wHeaderForMP3, bool& bMP3SkippedOnce, std::uint64_t atBlock);

private:
    Recognisers& recognisers_;
};
