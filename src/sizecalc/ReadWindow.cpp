#include "sizecalc/ReadWindow.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

#include <array>

namespace {

platform::ByteView zeros() {
    static const std::array<std::uint8_t, ReadWindow::kBytes + ReadWindow::kSlack> kZeros{};
    return platform::ByteView(kZeros.data(), kZeros.size());
}

std::uint32_t sectorsOfWindow(std::uint32_t bps) {
    return bps == 0 || bps > ReadWindow::kBytes ? 1 : ReadWindow::kBytes / bps;
}

// Whole sectors fill the window; the slack makes the buffer at least the
// window and its slack long.
std::size_t slackFor(std::uint32_t bps) {
    return ReadWindow::kBytes + ReadWindow::kSlack - std::size_t{sectorsOfWindow(bps)} * bps;
}

} // namespace

ReadWindow::ReadWindow(CarvingContext& context)
    : context_(context),
      // The device from its first sector; past the volume's end the window
      // reads as zeros, as past the device's end: a walk ends there on its
      // zero fields, and never reads on into the next partition.
      cursor_(context.reader(), context.bytesPerSector(), 0,
              context.endSector() == 0 ? UINT64_MAX
                                       : platform::saturatingMul(context.endSector(), context.bytesPerSector()),
              sectorsOfWindow(context.bytesPerSector()), slackFor(context.bytesPerSector())),
      view_(zeros()) {}

bool ReadWindow::readAt(std::uint64_t sector) {
    sector_ = sector;
    beyondVolume_ = false;
    view_ = zeros();
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0 || bps > kBytes) return false;
    const std::uint64_t end = context_.endSector();
    beyondVolume_ = end != 0 && sector >= end;
    if (beyondVolume_) return true;
    const platform::ByteView window = cursor_.sectors(sector, kBytes / bps);
    if (window.empty()) return false;
    // A whole window is served only by one that starts at `sector`, and the
    // cursor keeps the slack zero behind it.
    view_ = platform::ByteView(window.data(), kBytes + kSlack);
    return true;
}

bool ReadWindow::unreadable(std::uint64_t sector, std::uint64_t offset, std::size_t length) const {
    const std::uint64_t base = platform::saturatingMul(sector, context_.bytesPerSector());
    return cursor_.unreadable(platform::saturatingAdd(base, offset), length);
}

std::optional<std::uint64_t> ReadWindow::readableFrom(std::uint64_t sector, std::uint64_t offset,
                                                      std::uint64_t reach) const {
    const std::uint64_t base = platform::saturatingMul(sector, context_.bytesPerSector());
    const std::optional<std::uint64_t> at = cursor_.readableFrom(platform::saturatingAdd(base, offset), reach);
    if (!at || *at < base) return std::nullopt;
    return *at - base;
}

std::optional<std::uint64_t>
ReadWindow::headerAfterLoss(std::uint64_t sector, std::uint64_t offset, std::uint64_t reach,
                            const std::function<bool(std::uint32_t type)>& takesType,
                            const std::function<bool(std::uint32_t length)>& takesLength) const {
    const std::optional<std::uint64_t> from = readableFrom(sector, offset, reach);
    if (!from) return std::nullopt;
    BoundedCursor cursor = context_.fileCursor();
    cursor.startFile(sector, context_.bytesFrom(sector));
    const BoundedCursor::Found type = cursor.findFourBytes(
        *from + 4, *from + 4 + kResyncReach,
        [&](std::uint64_t at, std::uint32_t name, std::uint32_t) {
            return takesType(name) && takesLength(cursor.bytes(at - 4, 4).be32(0));
        },
        [&] { return context_.stopped(); });
    if (type.end != BoundedCursor::Search::Matched) return std::nullopt;
    return type.offset - 4;
}
