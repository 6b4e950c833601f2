#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

#include <optional>

// AMR speech in its file storage form: a magic line, then frames whose one
// header byte gives their length. There is no length field for the whole
// stream, so the file ends where the first frame that is not a good speech
// frame begins.
class AmrFileCheck final : public SizeCalculator {
public:
    explicit AmrFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // The header byte of the frame at a file offset; nothing when its read
    // failed.
    std::optional<std::uint8_t> headerAt(std::uint64_t offset);
    // The frames in a row from `at`, `most` at the most: where the run
    // breaks off and how many it holds.
    struct Run {
        std::uint64_t end = 0;
        std::uint32_t frames = 0;
    };
    Run framesFrom(std::uint64_t at, std::uint32_t most);
    // The frame header at `offset` lies in a sector the medium could not
    // give: the offset of the next frame after it, one a run of frames
    // follows that goes on about as far as any; nothing when none lies
    // within a frame's reach.
    std::optional<std::uint64_t> frameAfterLoss(std::uint64_t offset);

    ReadWindow window_;
    std::uint64_t fileSector_ = 0;
    // The stream is wideband (its own magic line and frame sizes).
    bool bWideBandAmr = false;
};
