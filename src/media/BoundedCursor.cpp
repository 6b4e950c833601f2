#include "media/BoundedCursor.h"

#include "platform/CheckedMath.h"

#include <algorithm>
#include <cstring>

BoundedCursor::BoundedCursor(SectorSource& source, std::uint32_t bytesPerSector, std::uint64_t firstSector,
                             std::uint64_t readableBytes, std::uint32_t windowSectors, std::size_t slackBytes)
    : source_(source), bps_(bytesPerSector), windowSectors_(std::max<std::uint32_t>(windowSectors, 1)),
      slack_(slackBytes) {
    startFile(firstSector, readableBytes);
}

void BoundedCursor::startFile(std::uint64_t firstSector, std::uint64_t readableBytes) {
    firstSector_ = firstSector;
    readable_ = readableBytes;
    readableSectors_ = bps_ == 0 ? 0 : readable_ / bps_ + (readable_ % bps_ != 0 ? 1 : 0);
    loaded_ = false;
}

platform::ByteView BoundedCursor::bytes(std::uint64_t position, std::size_t length) {
    if (bps_ == 0) return {};
    const std::uint64_t sector = position / bps_;
    const std::uint64_t offset = position % bps_;
    const std::uint64_t needed = (offset + length + bps_ - 1) / bps_;
    if (!cover(sector, std::max<std::uint64_t>(needed, 1))) return {};
    return platform::ByteView(window_.data() + (sector - windowSector_) * bps_ + offset, length);
}

platform::ByteView BoundedCursor::sectors(std::uint64_t fileSector, std::uint32_t count) {
    if (bps_ == 0 || count == 0 || !cover(fileSector, count)) return {};
    return platform::ByteView(window_.data() + (fileSector - windowSector_) * bps_, std::size_t{count} * bps_);
}

bool BoundedCursor::unreadable(std::uint64_t position, std::size_t length) const {
    if (bps_ == 0 || length == 0) return false;
    const std::uint64_t first = position / bps_;
    if (first >= readableSectors_) return false;
    const std::uint64_t end = std::min(platform::saturatingAdd(position, length - 1) / bps_ + 1, readableSectors_);
    return source_.unreadableSectorsIn(platform::saturatingAdd(firstSector_, first), end - first) != 0;
}

std::optional<std::uint64_t> BoundedCursor::readableFrom(std::uint64_t position, std::uint64_t reach) const {
    if (bps_ == 0) return std::nullopt;
    const std::uint64_t sector = position / bps_;
    if (sector >= readableSectors_) return std::nullopt;
    const std::uint64_t device = platform::saturatingAdd(firstSector_, sector);
    // Whether the `n` sectors from `sector` all could not be read.
    const auto lost = [&](std::uint64_t n) { return source_.unreadableSectorsIn(device, n) == n; };
    if (!lost(1)) return position;
    // The run of lost sectors is measured in doubling steps and halved back,
    // as a run may be long and each look takes the medium's lock; `most`
    // lost sectors at the most, and never past the bound.
    const std::uint64_t most = std::min(reach / bps_ + 1, readableSectors_ - sector);
    std::uint64_t lostRun = 1;
    while (lostRun < most && lost(std::min(2 * lostRun, most)))
        lostRun = std::min(2 * lostRun, most);
    if (lostRun == most) return std::nullopt;
    for (std::uint64_t kept = std::min(2 * lostRun, most); kept - lostRun > 1;) {
        const std::uint64_t middle = lostRun + (kept - lostRun) / 2;
        (lost(middle) ? lostRun : kept) = middle;
    }
    return (sector + lostRun) * bps_;
}

bool BoundedCursor::cover(std::uint64_t sector, std::uint64_t count) {
    if (loaded_ && sector >= windowSector_ && count <= windowCount_ && sector - windowSector_ <= windowCount_ - count)
        return true;
    count = std::max<std::uint64_t>(count, windowSectors_);
    // No request of a walk comes near this; one that does is no field.
    if (count > UINT32_MAX / bps_) return false;
    const std::size_t windowBytes = static_cast<std::size_t>(count) * bps_;
    window_.resize(windowBytes + slack_);
    const std::uint64_t inside = sector < readableSectors_ ? std::min(count, readableSectors_ - sector) : 0;
    loaded_ = inside == 0 || fetch(sector, static_cast<std::uint32_t>(inside), window_.data());
    windowSector_ = sector;
    windowCount_ = count;
    // Past the bound, and in the slack, the window holds zeros.
    if (loaded_) std::memset(window_.data() + inside * bps_, 0, window_.size() - inside * bps_);
    return loaded_;
}

bool BoundedCursor::fetch(std::uint64_t fileSector, std::uint32_t count, std::uint8_t* into) {
    return source_.readSectors(platform::saturatingAdd(firstSector_, fileSector), count, into);
}
