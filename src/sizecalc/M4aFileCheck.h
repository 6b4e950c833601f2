#pragma once

#include "sizecalc/AtomWalk.h"
#include "sizecalc/SizeCalculator.h"

class M4aFileCheck final : public SizeCalculator {
public:
    explicit M4aFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    AtomWalk walk_;
};
