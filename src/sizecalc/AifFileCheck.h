#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// AIFF: a FORM header, then chunks each with an identifier and a length.
// The file is measured by walking the chunks while their identifiers are
// ones an AIFF holds, not by the FORM length, which editors leave stale.
class AifFileCheck final : public SizeCalculator {
public:
    explicit AifFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    ReadWindow window_;
};
