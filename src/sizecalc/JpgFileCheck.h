#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// A JPEG is measured by following its marker segments up to the start of
// scan and then looking through the entropy-coded data for the end-of-image
// marker. A thumbnail inside an APP1 segment is jumped over with its segment.
class JpgFileCheck final : public SizeCalculator {
public:
    explicit JpgFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    ReadWindow window_;
};
