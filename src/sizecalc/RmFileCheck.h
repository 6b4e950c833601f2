#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// RealMedia: a chain of chunks, each with an identifier and its own length
// (header included), walked while the identifiers are RealMedia's.
class RmFileCheck final : public SizeCalculator {
public:
    explicit RmFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    ReadWindow window_;
};
