#include "sizecalc/AviFileCheck.h"

#include "formats/RiffHeader.h"
#include "sizecalc/CarvingContext.h"
#include "walks/AviChunkWalk.h"

#include <algorithm>

namespace {
constexpr std::uint64_t kAviList = 0x415649204C495354; // "AVI LIST"
// Shorter than any playable clip.
constexpr std::uint64_t kMinRiffBytes = 10240;
} // namespace

AviFileCheck::AviFileCheck(CarvingContext& context) : SizeCalculator("avi", context), cursor_(context.fileCursor()) {}

bool AviFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return riff::isRiff(leading) && leading.be64(8) == kAviList;
}

std::uint64_t AviFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint64_t length = riff::fileBytesWithin(leading, kMinRiffBytes);
    if (length == 0) return 0;
    cursor_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    const AviChunkWalk::Walk walk = AviChunkWalk::walk(cursor_, [this] { return context_.stopped(); });
    if (walk.brokeOffAt) {
        context_.measuredCut = true;
        context_.measuredUnvouched = {*walk.brokeOffAt, *walk.brokeOffAt, 0, walk.bodies.ownSectors(),
                                      walk.bodies.spans()};
        return *walk.brokeOffAt;
    }
    // The first RIFF's length, or past the OpenDML parts that follow it.
    const std::uint64_t end = std::max(length, walk.riffEnd);
    context_.measuredUnvouched = {walk.structureEnd, end, 0, walk.bodies.ownSectors(), walk.bodies.spans()};
    return end;
}
