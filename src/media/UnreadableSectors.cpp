#include "media/UnreadableSectors.h"

#include "platform/CheckedMath.h"

#include <algorithm>

void UnreadableSectors::add(std::uint64_t sector) {
    if (sector == UINT64_MAX) return;
    std::lock_guard lock(mutex_);
    auto next = runs_.upper_bound(sector);
    if (next != runs_.begin()) {
        auto run = std::prev(next);
        if (sector < run->second) return;
        if (sector == run->second) {
            run->second = sector + 1;
            // The run now reaches the next one: they become one.
            if (next != runs_.end() && next->first == run->second) {
                run->second = next->second;
                runs_.erase(next);
            }
            ++total_;
            return;
        }
    }
    if (next != runs_.end() && next->first == sector + 1) {
        const std::uint64_t end = next->second;
        runs_.erase(next);
        runs_.emplace(sector, end);
    } else {
        runs_.emplace(sector, sector + 1);
    }
    ++total_;
}

std::uint64_t UnreadableSectors::count() const {
    std::lock_guard lock(mutex_);
    return total_;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> UnreadableSectors::runsIn(std::uint64_t first,
                                                                               std::uint64_t count) const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
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
    std::uint64_t n = 0;
    for (const auto& [begin, end] : runsIn(first, count))
        n += end - begin;
    return n;
}

void UnreadableSectors::clear() {
    std::lock_guard lock(mutex_);
    runs_.clear();
    total_ = 0;
}
