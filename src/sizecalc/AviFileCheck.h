#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/SizeCalculator.h"

// AVI: the RIFF header's length is the file's, or the last OpenDML part's
// end where parts of form "AVIX" follow it. Its chunks are walked as far as
// they lead (AviChunkWalk): what lies past them up to that length, and
// the bodies of the chunks stepped over, nothing vouches for; a walk that
// broke off on what is no chunk measures the file to there, cut.
class AviFileCheck final : public SizeCalculator {
public:
    explicit AviFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    BoundedCursor cursor_;
};
