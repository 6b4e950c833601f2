#include "media/UnreadableSectors.h"

#include "platform/CheckedMath.h"

#include <algorithm>

void UnreadableSectors::addFailed(std::uint64_t first, std::uint64_t end) {
    if (first >= end) return;
    std::lock_guard lock(mutex_);
    put(first, end, true, true);
}

void UnreadableSectors::addFailed(std::uint64_t sector) {
    if (sector != UINT64_MAX) addFailed(sector, sector + 1);
}

void UnreadableSectors::addSkipped(std::uint64_t first, std::uint64_t end) {
    if (first >= end) return;
    std::lock_guard lock(mutex_);
    put(first, end, false, false);
}

void UnreadableSectors::forget(std::uint64_t first, std::uint64_t end) {
    if (first >= end || total_.load(std::memory_order_acquire) == 0) return;
    std::lock_guard lock(mutex_);
    const std::uint64_t taken = cut(first, end);
    if (taken != 0) total_.fetch_sub(taken, std::memory_order_release);
}

void UnreadableSectors::put(std::uint64_t first, std::uint64_t end, bool failed, bool overwrite) {
    std::uint64_t added = 0;
    if (overwrite) {
        const std::uint64_t taken = cut(first, end);
        join(runs_.emplace(first, Kept{end, failed}).first);
        added = end - first - taken;
    } else {
        // Only the gaps between the runs already kept.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
        std::uint64_t from = first;
        auto run = runs_.upper_bound(first);
        if (run != runs_.begin() && std::prev(run)->second.end > first) --run;
        for (; run != runs_.end() && run->first < end && from < end; ++run) {
            if (run->first > from) gaps.emplace_back(from, run->first);
            from = std::max(from, run->second.end);
        }
        if (from < end) gaps.emplace_back(from, end);
        for (const auto& [b, e] : gaps) {
            join(runs_.emplace(b, Kept{e, failed}).first);
            added += e - b;
        }
    }
    // In one step, so that a reader never sees the count fall while it grows.
    if (added != 0) total_.fetch_add(added, std::memory_order_release);
}

std::uint64_t UnreadableSectors::cut(std::uint64_t first, std::uint64_t end) {
    std::uint64_t taken = 0;
    auto run = runs_.upper_bound(first);
    if (run != runs_.begin() && std::prev(run)->second.end > first) --run;
    while (run != runs_.end() && run->first < end) {
        const std::uint64_t b = run->first;
        const Kept kept = run->second;
        run = runs_.erase(run);
        taken += std::min(kept.end, end) - std::max(b, first);
        if (b < first) runs_.emplace(b, Kept{first, kept.failed});
        if (kept.end > end) run = runs_.emplace(end, Kept{kept.end, kept.failed}).first;
    }
    return taken;
}

void UnreadableSectors::join(std::map<std::uint64_t, Kept>::iterator at) {
    if (at != runs_.begin()) {
        const auto before = std::prev(at);
        if (before->second.end == at->first && before->second.failed == at->second.failed) {
            before->second.end = at->second.end;
            runs_.erase(at);
            at = before;
        }
    }
    const auto after = std::next(at);
    if (after != runs_.end() && after->first == at->second.end && after->second.failed == at->second.failed) {
        at->second.end = after->second.end;
        runs_.erase(after);
    }
}

std::optional<std::uint64_t> UnreadableSectors::runEndAt(std::uint64_t sector) const {
    if (total_.load(std::memory_order_acquire) == 0) return std::nullopt;
    std::lock_guard lock(mutex_);
    auto next = runs_.upper_bound(sector);
    if (next == runs_.begin()) return std::nullopt;
    if (sector >= std::prev(next)->second.end) return std::nullopt;
    std::uint64_t end = std::prev(next)->second.end;
    // Runs of the other kind may follow on without a gap.
    for (; next != runs_.end() && next->first == end; ++next)
        end = next->second.end;
    return end;
}

std::optional<UnreadableSectors::Run> UnreadableSectors::runAt(std::uint64_t sector) const {
    if (total_.load(std::memory_order_acquire) == 0) return std::nullopt;
    std::lock_guard lock(mutex_);
    const auto next = runs_.upper_bound(sector);
    if (next == runs_.begin() || sector >= std::prev(next)->second.end) return std::nullopt;
    return Run{std::prev(next)->first, std::prev(next)->second.end, std::prev(next)->second.failed};
}

std::vector<UnreadableSectors::Run> UnreadableSectors::runsIn(std::uint64_t first, std::uint64_t count) const {
    std::vector<Run> out;
    if (total_.load(std::memory_order_acquire) == 0) return out;
    const std::uint64_t end = platform::saturatingAdd(first, count);
    std::lock_guard lock(mutex_);
    if (runs_.empty() || count == 0) return out;
    auto run = runs_.upper_bound(first);
    if (run != runs_.begin()) --run;
    for (; run != runs_.end() && run->first < end; ++run)
        if (run->second.end > first)
            out.push_back({std::max(run->first, first), std::min(run->second.end, end), run->second.failed});
    return out;
}

std::uint64_t UnreadableSectors::countIn(std::uint64_t first, std::uint64_t count) const {
    if (total_.load(std::memory_order_acquire) == 0) return 0;
    std::uint64_t n = 0;
    for (const Run& run : runsIn(first, count))
        n += run.end - run.begin;
    return n;
}

void UnreadableSectors::clear() {
    std::lock_guard lock(mutex_);
    runs_.clear();
    total_.store(0, std::memory_order_release);
}
