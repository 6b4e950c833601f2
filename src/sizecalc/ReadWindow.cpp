#include "sizecalc/ReadWindow.h"

#include "sizecalc/CarvingContext.h"

#include <algorithm>

ReadWindow::ReadWindow(CarvingContext& context) : context_(context), buffer_(kBytes + kSlack, 0) {}

bool ReadWindow::readAt(std::uint64_t sector) {
    std::fill(buffer_.begin(), buffer_.end(), 0);
    sector_ = sector;
    beyondVolume_ = false;
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0 || bps > kBytes) return false;
    // Past the volume's end the window reads as zeros, as past the device's
    // end: a walk ends there on its zero fields, and never reads on into
    // the next partition.
    std::uint64_t sectors = kBytes / bps;
    if (const std::uint64_t end = context_.endSector(); end != 0)
        sectors = sector >= end ? 0 : std::min(sectors, end - sector);
    beyondVolume_ = sectors == 0;
    return sectors == 0 ||
           context_.reader().readSaveSector(sector, static_cast<std::uint32_t>(sectors), buffer_.data());
}
