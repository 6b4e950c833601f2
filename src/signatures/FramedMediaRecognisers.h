#pragma once

// The recognisers of the audio and video files made of units that each begin as the file does: DV (DIF) frames,
// DTS frames and MXF partitions. Each walks the units from the candidate's first to where they stop following one
// another, so that the file is measured by them and jumped over, and a unit that begins a sector inside it never
// begins a file of its own. Each reads the candidate from the sector `block` of the search's numbering through a
// RecogniserMedium and answers as RecogniserDispatch describes.

#include <cstdint>

class FileStartProbe;
class Sig;
class Volume;

class FramedMediaRecognisers {
public:
    explicit FramedMediaRecognisers(Volume& volume) noexcept : volume_(volume) {}

    // The search's lookup, offered the sectors inside the frames and packets
    // a walk stepped over; none: nothing is offered.
    void setFileStartProbe(FileStartProbe* probe) { probe_ = probe; }

    // DV: frames of 120,000 bytes (525 lines, 60 fields) or 144,000 (625
    // lines, 50 fields) as the first header block says, each channel of
    // them beginning with a header block.
    bool checkDVFileAtBlock(std::uint64_t block, Sig& sig);
    // DTS: core frames measured by their headers, and the extension
    // substreams between them, while they follow one another.
    bool checkDTSFileAtBlock(std::uint64_t block, Sig& sig);
    // MXF: the key-length-value packets from the header partition pack
    // through the body partitions to the footer partition, and the random
    // index pack after it.
    bool checkMXFFileAtBlock(std::uint64_t block, Sig& sig);

private:
    Volume& volume_;
    FileStartProbe* probe_ = nullptr;
};
