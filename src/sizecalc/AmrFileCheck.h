#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

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
    ReadWindow window_;
    // The stream is wideband (its own magic line and frame sizes).
    bool bWideBandAmr = false;
};
