#include "walks/SteppedBodies.h"

#include <algorithm>

void SteppedBodies::add(std::uint64_t from, std::uint64_t to) {
    if (bps_ == 0 || to <= from) return;
    // A header or two between this body and the one before begins no sector
    // that anything is found at.
    if (!spans_.empty() && from >= spans_.back().from && from - std::min(from, spans_.back().to) < bps_) {
        spans_.back().to = std::max(spans_.back().to, to);
        return;
    }
    spans_.push_back({from, to});
}

void SteppedBodies::ownPartAt(std::uint64_t at) {
    if (bps_ == 0 || at % bps_ != 0 || own_.size() >= kMostOwnSectors) return;
    const std::uint64_t sector = at / bps_;
    if (own_.empty() || sector > own_.back()) {
        own_.push_back(sector);
        return;
    }
    const auto place = std::lower_bound(own_.begin(), own_.end(), sector);
    if (*place != sector) own_.insert(place, sector);
}

void SteppedBodies::endAt(std::uint64_t end) {
    while (!spans_.empty() && spans_.back().from >= end)
        spans_.pop_back();
    if (!spans_.empty()) spans_.back().to = std::min(spans_.back().to, end);
    if (bps_ != 0) own_.erase(std::lower_bound(own_.begin(), own_.end(), (end + bps_ - 1) / bps_), own_.end());
}
