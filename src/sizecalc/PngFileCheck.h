#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// A PNG is measured by following its chunks. The walk does not trust "IEND":
// it ends at the first chunk whose type is not a standard one, which on a
// medium is usually the first bytes behind the file.
class PngFileCheck final : public SizeCalculator {
public:
    explicit PngFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    ReadWindow window_;
};
