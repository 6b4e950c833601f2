#include "media/FirstLostSector.h"

#include "platform/CheckedMath.h"

#include <algorithm>

void FirstLostSector::startFile(std::uint64_t first) {
    first_ = first;
    lost_.reset();
}

void FirstLostSector::noteLoss(const SectorSource& source, std::uint64_t sector, std::uint64_t count) {
    // Only a loss before the first one known moves it.
    std::uint64_t from = std::max(sector, first_);
    const std::uint64_t end = std::min(platform::saturatingAdd(sector, count), lost_.value_or(UINT64_MAX));
    if (end <= from || source.unreadableSectorsIn(from, end - from) == 0) return;
    // Halved until the first lost sector is left, as each look takes the
    // medium's lock.
    for (std::uint64_t span = end - from; span > 1;) {
        const std::uint64_t half = span / 2;
        if (source.unreadableSectorsIn(from, half) == 0) {
            from += half;
            span -= half;
        } else {
            span = half;
        }
    }
    lost_ = from;
}

std::uint64_t FirstLostSector::jumpable(std::uint64_t sectors) const {
    return lost_ ? std::min(sectors, *lost_ - first_) : sectors;
}
