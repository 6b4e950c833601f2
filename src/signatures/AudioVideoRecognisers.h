#pragma once

// The recognisers of MPEG audio, WAVE, AIFF, MIDI, AVI, MPEG transport, program and video streams, the ISO base
// media family (MP4, 3GPP, 3GPP2, QuickTime, and the HEIF and AVIF images kept in its boxes), and AAC (ADTS) and AC-3
// streams. Each reads the candidate from the sector
// `block` of the search's numbering through a RecogniserMedium and answers as RecogniserDispatch describes.
//
// The MPEG audio and MPEG stream recognisers note in the search's done lists every sector at which a frame or pack of
// a stream they walked begins, so that a stream is carved once, from its first sector, and not again from each of the
// sectors inside it.

#include "platform/ByteView.h"
#include "walks/SteppedBodies.h"

#include <cstdint>
#include <optional>

class BoundedCursor;
class FileStartProbe;
class RecogniserMedium;
class Sig;
class SignatureSearchState;
class Volume;

class AudioVideoRecognisers {
public:
    AudioVideoRecognisers(Volume& volume, SignatureSearchState& search) noexcept : volume_(volume), search_(search) {}

    // The search's lookup, offered the sectors of a found file that its walk
    // did not vouch for, and asked by a WAVE file whose header gives no
    // length where the next file begins; none: nothing is asked.
    void setFileStartProbe(FileStartProbe* probe) { probe_ = probe; }

    bool checkMP3FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkWAVFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkAIFF_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMIDIFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkAVIFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMTSFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMP4FileAtBlock(std::uint64_t block, Sig& sig);
    bool check3GPP_FileAtBlock(std::uint64_t block, Sig& sig);
    bool check3GPP2_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkHEIF_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMOVFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMPGFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkAACFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkAC3FileAtBlock(std::uint64_t block, Sig& sig);

    // The `numBits` bits of `value` that run from bit `startBit` (31 is the most significant) downward; 0 for a
    // field that does not fit in 32 bits.
    static std::uint32_t mp3BitCheck(std::uint32_t value, std::uint32_t startBit, std::uint32_t numBits);
    // Samples per second of an MPEG audio frame: version 1 (MPEG-1), 2 (MPEG-2) or 4 (MPEG-2.5) and the header's
    // sample-rate index; 0 for the reserved index or another version.
    static std::uint32_t getMP3SampleRateFreqForVersion(std::uint32_t version, std::uint32_t samplingRate);
    // Kilobits per second of an MPEG audio frame; 0 for the free format, the forbidden index and any other version
    // or layer.
    static std::uint32_t getMP3BitRateIndexValueForVersion(std::uint32_t version, std::uint32_t layer,
                                                           std::uint32_t bitrateIndex);
    // The value of an ID3v2 synchsafe integer: seven bits of each of its four bytes.
    static std::uint32_t mp3BitShredder(std::uint32_t value);
    // Whether an atom type (its four bytes) is four lower-case letters, as the top-level atoms of these files are.
    static bool checkMP4AtomName(std::uint32_t atomType);
    static bool checkMOVAtomName(std::uint32_t atomType);

private:
    // The byte just past the last top-level atom that reads as one, from the candidate's start; how far the walk read
    // the atoms as the file's structure (0: no further than the first atom's header, when nothing follows it and it
    // holds no atoms that fill it); and the bodies it stepped over (MovieAtoms).
    struct AtomWalk {
        std::uint64_t end = 0;
        std::uint64_t structureEnd = 0;
        SteppedBodies bodies{0};
    };
    static AtomWalk atomWalkEnd(RecogniserMedium& medium, BoundedCursor& cursor, bool (*atomNameCheck)(std::uint32_t));
    // The first of the candidate's sectors from `from` on, among its readable bytes, where the search lists
    // another file; nothing when none does, or no lookup was set.
    std::optional<std::uint64_t> nextFileSector(RecogniserMedium& medium, std::uint64_t from);

    Volume& volume_;
    SignatureSearchState& search_;
    FileStartProbe* probe_ = nullptr;
};
