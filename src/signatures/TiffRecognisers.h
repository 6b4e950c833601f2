#pragma once

// The recogniser of TIFF and the structure tests of the TIFF family. Each
// recogniser reads the candidate from the sector `block` of the search's
// numbering through a RecogniserMedium and answers as RecogniserDispatch
// describes; the camera-raw recognisers share the steps before
// the directory walk (TiffDirectoryWalk) with it, and its answer.

#include "platform/ByteView.h"
#include "walks/TiffDirectoryWalk.h"

#include <cstdint>
#include <string_view>
#include <vector>

class RecogniserMedium;
class FileStartProbe;
class Sig;
class Volume;

class TiffRecognisers {
public:
    explicit TiffRecognisers(Volume& volume) noexcept : volume_(volume) {}

    // The search's lookup, offered the sectors of a found file that its walk
    // did not vouch for; none: nothing is offered.
    void setFileStartProbe(FileStartProbe* probe) { probe_ = probe; }

    bool checkTIFF_FileAtBlock(std::uint64_t block, Sig& sig);

    // A directory at an even position, of even length, with an even next
    // position, whose entries all pass checkTIFF_DE.
    static bool checkTIFF_IFD(const Tiff_IFD& ifd);
    // An entry with values, of a defined field type, whose SHORT or LONG
    // values kept outside it lie at an even position.
    static bool checkTIFF_DE(const Tiff_DE& de);

    // The candidate's first bytes, enough for the raw makers' window (whole
    // sectors, zero past the readable bytes); false when not even its first
    // sector can be read.
    static bool readHead(RecogniserMedium& medium, std::vector<std::uint8_t>& head);
    // Whether `mark` (four letters of a maker's name) lies within the first
    // 1015 bytes, whatever the sector size.
    static bool makerWindowHas(platform::ByteView head, std::string_view mark);
    // Bytes 8-11 "CR", 2, 0: a Canon raw file.
    static bool hasCR2Marker(platform::ByteView head);

    // The directory walk of the candidate the medium reads.
    static TiffDirectoryWalk directoryWalk(RecogniserMedium& medium, const TiffDirectoryWalk::Rules& rules);
    // Sets the record's per-hit fields for the length the walk measured,
    // which is cut to the candidate's readable bytes: a whole file is jumped
    // over as far as its walk read its directories, and past them as far as
    // the search finds no file in the image data behind them (the strips
    // and tiles they point to are the file's own); a broken one is marked
    // and not jumped over, as what lies past the break may be another
    // file's. False (the record untouched) for 0.
    static bool report(RecogniserMedium& medium, Sig& sig, std::uint64_t length, const TiffDirectoryWalk& walk);

private:
    Volume& volume_;
    FileStartProbe* probe_ = nullptr;
};
