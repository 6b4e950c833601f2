#pragma once

// The one entry point a signature search asks whether a hit is a file of the
// hit's type: it picks the recogniser by the record's typeOfFile from one
// table (a row per recogniser: the number and the member that serves it) and
// passes its answer on. Numbers without a row (the user's own types, the
// types the carving measures itself, gaps in the numbering) are accepted
// unchecked, so the recorder sizes them by the type's limits. Adding a
// recogniser is its member in a family below and its row in the table.
//
// A recogniser reads the candidate file from the sector `block` (counted from
// the start of the search's sector numbering) on, answers whether a file of
// its format starts there and, when it can, sets the record's foundSize,
// skipSize and skipFileSize (which the caller reset). It never writes to the
// medium and may rewrite the record's extension to name the sub-format it
// found. What lasts of a call are the recognisers' effects on the search's
// state and the "indb" rewrite.

#include "signatures/ArchiveRecognisers.h"
#include "signatures/AudioVideoRecognisers.h"
#include "signatures/CameraRawRecognisers.h"
#include "signatures/DatabaseRecordRecognisers.h"
#include "signatures/DocumentRecognisers.h"
#include "signatures/FramedMediaRecognisers.h"
#include "signatures/ImageRecognisers.h"
#include "signatures/TextRecognisers.h"
#include "signatures/TiffRecognisers.h"

#include <cstdint>
#include <tuple>

class FileStartProbe;
class Sig;
class SignatureSearchState;
class Volume;

class RecogniserDispatch {
public:
    // The recognisers read `volume` and keep what lasts in `search`.
    RecogniserDispatch(Volume& volume, SignatureSearchState& search);

    // sig's foundSize, skipSize and skipFileSize are the caller's to reset
    // first. wHeaderForMP3 is the candidate's first two bytes, byte 0 high;
    // bMP3SkippedOnce becomes true whenever the MP3 recogniser runs, whatever
    // it answers, and is left alone otherwise. atBlock counts from the start
    // of the search's sector numbering.
    bool runCheckForSig(Sig& sig, std::uint16_t wHeaderForMP3, bool& bMP3SkippedOnce, std::uint64_t atBlock);

    // The search's lookup, offered the sectors of a found file that its walk
    // did not vouch for (RecogniserMedium), asked of the sectors a JPEG's
    // walk would have the search jump over, and where the next file begins
    // after a WAVE file whose header gives no length; none (as at first):
    // nothing is asked.
    void setFileStartProbe(FileStartProbe* probe) {
        std::apply([probe](auto&... family) { (family.setFileStartProbe(probe), ...); }, families_);
    }

    // Whether runCheckForSig would refuse the candidate on its first two
    // bytes alone (byte 0 high), doing nothing else: the MP3 recogniser's
    // gate.
    static bool refusesAtOnce(const Sig& sig, std::uint16_t firstTwoBytes);

    // Whether a typeOfFile has a recogniser of its own.
    static bool hasRecogniser(std::uint32_t typeOfFile);

    // Whether the file the last call accepted for this record is known to
    // begin where it was found, so that another file whose walk reads that
    // sector as its own data was cut there: its recogniser's walk read its
    // structure past the header the search matched (Sig::foundOnHeaderAlone
    // clear), or, for a type accepted on its header alone, that header holds
    // five bytes that are not zero. Any data begins a sector with four given
    // bytes about once in 2^32 sectors, and compressed data with a shorter
    // header far more often (a picture format's three or four bytes, a
    // font's 00 01 00 00 00 in the sparse scans of a progressive photo): such
    // a hit cuts nothing.
    static bool vouchesForStart(const Sig& sig);

private:
    struct Row;
    static const Row* rowOf(std::uint32_t typeOfFile);
    // A row's call: the member Check of the family that declares it.
    template <auto Check> static bool run(RecogniserDispatch& dispatch, std::uint64_t block, Sig& sig);

    std::tuple<ImageRecognisers, AudioVideoRecognisers, DocumentRecognisers, DatabaseRecordRecognisers, TiffRecognisers,
               CameraRawRecognisers, ArchiveRecognisers, FramedMediaRecognisers, TextRecognisers>
        families_;
};
