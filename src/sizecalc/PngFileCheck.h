#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

#include <optional>

// A PNG is measured by following its chunks. The walk does not trust "IEND":
// it ends at the first chunk whose type is not a standard one, which on a
// medium is usually the first bytes behind the file.
class PngFileCheck final : public SizeCalculator {
public:
    explicit PngFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // The chunk header `p` bytes into the device sector `sector` lies in a
    // sector the medium could not give: the offset from that sector of the
    // next chunk after it; nothing when none lies within reach.
    std::optional<std::uint64_t> chunkAfterLoss(std::uint64_t sector, std::uint64_t p);

    ReadWindow window_;
};
