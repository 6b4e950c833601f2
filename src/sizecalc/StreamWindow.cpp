#include "sizecalc/StreamWindow.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

#include <limits>

StreamWindow::StreamWindow(CarvingContext& context) : context_(context), window_(context) {}

void StreamWindow::startFile(std::uint64_t sectorNumber) {
    fileSector_ = sectorNumber;
    loaded_ = false;
}

bool StreamWindow::cover(std::uint64_t offset, std::uint32_t length) {
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0 || bps > ReadWindow::kBytes || length > bps) return false;
    // A window holds whole sectors only.
    const std::uint64_t held = ReadWindow::kBytes / bps * bps;
    if (loaded_ && offset >= base_ && offset - base_ <= held - length) return true;
    const auto sector = platform::checkedAdd(fileSector_, offset / bps);
    loaded_ = sector && window_.readAt(*sector);
    base_ = offset - offset % bps;
    return loaded_;
}

std::size_t StreamWindow::place(std::uint64_t offset) const {
    // Anything the window does not hold reads as zero.
    if (!loaded_ || offset < base_ || offset - base_ > ReadWindow::kBytes)
        return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(offset - base_);
}
