#pragma once

#include "sizecalc/AtomWalk.h"
#include "sizecalc/SizeCalculator.h"

class MovFileCheck final : public SizeCalculator {
public:
    explicit MovFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    AtomWalk walk_;
};
