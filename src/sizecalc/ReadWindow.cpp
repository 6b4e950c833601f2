#include "sizecalc/ReadWindow.h"

#include "sizecalc/CarvingContext.h"

#include <algorithm>

ReadWindow::ReadWindow(CarvingContext& context) : context_(context), buffer_(kBytes + kSlack, 0) {}

bool ReadWindow::readAt(std::uint64_t sector) {
    std::fill(buffer_.begin(), buffer_.end(), 0);
    sector_ = sector;
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0 || bps > kBytes) return false;
    return context_.reader().readSaveSector(sector, kBytes / bps, buffer_.data());
}
