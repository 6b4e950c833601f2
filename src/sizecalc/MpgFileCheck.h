#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/SizeCalculator.h"

// MPEG program streams and MPEG video elementary streams. Neither says how
// long it is: the walk follows packs and packets (ProgramStreamWalk), or
// start codes (MpegVideoStreamWalk), until the stream stops.
class MpgFileCheck final : public SizeCalculator {
public:
    explicit MpgFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // A start code the stream's content begins with lies shortly behind its
    // first header; remembers where.
    bool isFileValidated(std::uint64_t sectorNumber);
    std::uint64_t videoStreamLength(std::uint64_t sectorNumber);
    std::uint64_t programStreamLength();

    // The stream by its offsets.
    BoundedCursor window_;
    // Looks ahead across a gap in a program stream without losing the
    // window in hand.
    BoundedCursor probe_;
    // The file begins with a video sequence header, not a pack header.
    bool bHeader0x1B3_ = false;
    std::uint32_t mpgFirstStartCodeOffset_ = 0;
    // Whether the video stream measured last ends where its bytes mark, and
    // the device sectors its walk took as its own (after its first).
    bool videoEndMarked_ = false;
    std::uint64_t walkedFrom_ = 0;
    std::uint64_t walkedTo_ = 0;
};
