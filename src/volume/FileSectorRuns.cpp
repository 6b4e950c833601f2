#include "volume/FileSectorRuns.h"

#include "platform/CheckedMath.h"
#include "volume/NewDir.h"

#include <algorithm>
#include <optional>

void FileSectorRuns::visit(const NewDir& node, const Geometry& geometry, bool singleExtentSizedFromFile,
                           const std::function<bool(std::uint64_t first, std::uint64_t end)>& run) {
    const std::uint64_t bytesPerSector = geometry.bytesPerSector;
    const std::uint64_t unitSectors = node.sectorsPerBlock;
    const auto base = platform::checkedAdd(geometry.volumeStart, node.dataStartSector);
    if (bytesPerSector == 0 || unitSectors == 0 || node.fileSize == 0 || !base) return;
    // Whole sectors before the file's first byte, and the sectors from there
    // that hold its bytes.
    std::uint64_t skip = node.firstSectorOffset / bytesPerSector;
    std::uint64_t needed =
        platform::saturatingAdd(node.fileSize, node.firstSectorOffset % bytesPerSector + bytesPerSector - 1) /
        bytesPerSector;
    const bool sizedFromFile = singleExtentSizedFromFile && node.extents.size() == 1;
    for (const ExtP& extent : node.extents) {
        if (needed == 0) break;
        const std::uint64_t sectors = sizedFromFile ? platform::saturatingAdd(skip, needed)
                                                    : platform::saturatingMul(extent.blockCount, unitSectors);
        if (skip >= sectors) {
            skip -= sectors;
            continue;
        }
        const std::optional<std::uint64_t> first = platform::checkedMulAdd(*base, extent.startBlock, unitSectors);
        const std::uint64_t count = std::min(sectors - skip, needed);
        if (!first) break;
        const std::uint64_t begin = platform::saturatingAdd(*first, skip);
        const std::uint64_t end = platform::saturatingAdd(begin, count);
        if (begin < geometry.volumeStart || (geometry.volumeEnd != 0 && end > geometry.volumeEnd)) break;
        if (!run(begin, end)) break;
        needed -= count;
        skip = 0;
    }
}

FileSectorRuns::Runs FileSectorRuns::of(const NewDir& node, const Geometry& geometry, bool singleExtentSizedFromFile,
                                        std::size_t most) {
    Runs runs;
    if (most == 0) return runs;
    visit(node, geometry, singleExtentSizedFromFile, [&](std::uint64_t first, std::uint64_t end) {
        runs.emplace_back(first, end);
        return runs.size() < most;
    });
    return runs;
}
