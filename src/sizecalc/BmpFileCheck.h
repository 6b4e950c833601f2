#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// A BMP states its own length in its header; nothing further is read but
// whether an info header follows it, without which nothing of the file
// was read that chance does not make.
class BmpFileCheck final : public SizeCalculator {
public:
    explicit BmpFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    ReadWindow window_;
};
