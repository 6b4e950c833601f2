#include "sizecalc/FourByteScan.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

FourByteScan::FourByteScan(CarvingContext& context, ReadWindow& window) : context_(context), window_(window) {}

std::optional<FourByteScan::End> FourByteScan::load(std::uint64_t fileSector, std::uint64_t offset) {
    if (context_.stopped()) return End::Stopped;
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0 || bps > ReadWindow::kBytes) return End::ReadFailed;
    if (!window_.readAt(platform::saturatingAdd(fileSector, offset / bps))) return End::ReadFailed;
    if (window_.beyondVolume()) return End::Exhausted;
    base_ = offset - offset % bps;
    // A window holds whole sectors only.
    held_ = ReadWindow::kBytes / bps * bps;
    return std::nullopt;
}
