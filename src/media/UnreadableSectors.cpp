#include "media/UnreadableSectors.h"

#include "platform/CheckedMath.h"

#include <algorithm>

void UnreadableSectors::add(std::uint64_t sector) {
    if (sector != UINT64_MAX) addRun(sector, sector + 1);
}

void UnreadableSectors::addRun(std::uint64_t first, std::uint64_t end) {
    if (first >= end) return;
    std::lock_guard lock(mutex_);
    // The runs that overlap or touch [first, end) are taken out, their
    // sectors uncounted, and one run covering them all goes in.
    auto run = runs_.upper_bound(first);
    if (run != runs_.begin() && std::prev(run)->second >= first) --run;
    std::uint64_t taken = 0;
    while (run != runs_.end() && run->first <= end) {
        first = std::min(first, run->first);
        end = std::max(end, run->second);
        taken += run->second - run->first;
        run = runs_.erase(run);
    }
    runs_.emplace(first, end);
    // In one step, so that a reader never sees the count fall.
    total_.fetch_add(end - first - taken, std::memory_order_release);
}

std::optional<std::uint64_t> UnreadableSectors::runEndAt(std::uint64_t sector) const {
    if (total_.load(std::memory_order_acquire) == 0) return std::nullopt;
    std::lock_guard lock(mutex_);
    auto next = runs_.upper_bound(sector);
    if (next == runs_.begin()) return std::nullopt;
    const auto run = std::prev(next);
    if (sector < run->second) return run->second;
    return std::nullopt;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> UnreadableSectors::runsIn(std::uint64_t first,
                                                                               std::uint64_t count) const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
    if (total_.load(std::memory_order_acquire) == 0) return out;
    const std::uint64_t end = platform::saturatingAdd(first, count);
    std::lock_guard lock(mutex_);
    if (runs_.empty() || count == 0) return out;
    auto run = runs_.upper_bound(first);
    if (run != runs_.begin()) --run;
    for (; run != runs_.end() && run->first < end; ++run)
        if (run->second > first) out.emplace_back(std::max(run->first, first), std::min(run->second, end));
    return out;
}

std::uint64_t UnreadableSectors::countIn(std::uint64_t first, std::uint64_t count) const {
    if (total_.load(std::memory_order_acquire) == 0) return 0;
    std::uint64_t n = 0;
    for (const auto& [begin, end] : runsIn(first, count))
        n += end - begin;
    return n;
}

void UnreadableSectors::clear() {
    std::lock_guard lock(mutex_);
    runs_.clear();
    total_.store(0, std::memory_order_release);
}
