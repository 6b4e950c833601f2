#include "media/MediumMap.h"

#include "platform/CheckedMath.h"

#include <algorithm>

namespace {
// Reached runs kept before nearby ones are joined into fewer.
constexpr std::size_t kMostReachedRuns = 1u << 16;
// Runs made unreadable since the disk last answered that are kept.
constexpr std::size_t kMostRunsSinceAnswered = 1u << 16;
} // namespace

void MediumMap::layOut(std::uint64_t pageSectors, std::uint64_t cacheReachSectors) {
    pageSectors_.store(std::max<std::uint64_t>(pageSectors, 1), std::memory_order_release);
    std::lock_guard lock(reachedMutex_);
    margin_ = std::max<std::uint64_t>(cacheReachSectors, 1);
    joinGap_ = 0;
}

void MediumMap::addFailed(std::uint64_t first, std::uint64_t end) {
    if (first >= end) return;
    std::lock_guard lock(mutex_);
    put(first, end, Kind::Failed, true);
}

void MediumMap::addFailed(std::uint64_t sector) {
    if (sector != UINT64_MAX) addFailed(sector, sector + 1);
}

void MediumMap::addSteppedOver(std::uint64_t first, std::uint64_t end) {
    if (first >= end) return;
    std::lock_guard lock(mutex_);
    put(first, end, Kind::SteppedOver, false);
}

void MediumMap::unfail(std::uint64_t first, std::uint64_t end) {
    if (first >= end) return;
    std::lock_guard lock(mutex_);
    recast(first, end, Kind::Failed, Kind::SteppedOver);
}

void MediumMap::forgetSteppedOver(std::uint64_t first, std::uint64_t end) {
    if (first >= end) return;
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> found;
    auto run = runs_.upper_bound(first);
    if (run != runs_.begin() && std::prev(run)->second.end > first) --run;
    for (; run != runs_.end() && run->first < end; ++run)
        if (run->second.kind == Kind::SteppedOver)
            found.emplace_back(std::max(run->first, first), std::min(run->second.end, end));
    std::uint64_t taken = 0;
    for (const auto& [b, e] : found)
        taken += cut(b, e);
    if (taken != 0) total_.fetch_sub(taken, std::memory_order_release);
}

void MediumMap::recast(std::uint64_t first, std::uint64_t end, Kind from, Kind to) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> found;
    auto run = runs_.upper_bound(first);
    if (run != runs_.begin() && std::prev(run)->second.end > first) --run;
    for (; run != runs_.end() && run->first < end; ++run)
        if (run->second.kind == from) found.emplace_back(std::max(run->first, first), std::min(run->second.end, end));
    for (const auto& [b, e] : found) {
        cut(b, e);
        join(runs_.emplace(b, Kept{e, to}).first);
    }
}

void MediumMap::noteRead(std::uint64_t first, std::uint64_t end) {
    if (first >= end || total_.load(std::memory_order_acquire) == 0) return;
    std::lock_guard lock(mutex_);
    const std::uint64_t taken = cut(first, end);
    if (taken != 0) total_.fetch_sub(taken, std::memory_order_release);
}

void MediumMap::markAnswered() {
    if (!anySinceAnswered_.load(std::memory_order_acquire)) return;
    std::lock_guard lock(mutex_);
    sinceAnswered_.clear();
    anySinceAnswered_.store(false, std::memory_order_release);
}

std::vector<MediumMap::Run> MediumMap::sinceAnswered() const {
    std::lock_guard lock(mutex_);
    return sinceAnswered_;
}

void MediumMap::noteSinceAnswered(std::uint64_t first, std::uint64_t end, Kind kind) {
    if (!sinceAnswered_.empty() && sinceAnswered_.back().kind == kind && sinceAnswered_.back().end >= first &&
        sinceAnswered_.back().begin <= end) {
        sinceAnswered_.back().begin = std::min(sinceAnswered_.back().begin, first);
        sinceAnswered_.back().end = std::max(sinceAnswered_.back().end, end);
    } else if (sinceAnswered_.size() < kMostRunsSinceAnswered) {
        sinceAnswered_.push_back({first, end, kind});
    }
    anySinceAnswered_.store(true, std::memory_order_release);
}

void MediumMap::put(std::uint64_t first, std::uint64_t end, Kind kind, bool overwrite) {
    std::uint64_t added = 0;
    if (overwrite) {
        const std::uint64_t taken = cut(first, end);
        join(runs_.emplace(first, Kept{end, kind}).first);
        noteSinceAnswered(first, end, kind);
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
            join(runs_.emplace(b, Kept{e, kind}).first);
            noteSinceAnswered(b, e, kind);
            added += e - b;
        }
    }
    // In one step, so that a reader never sees the count fall while it grows.
    if (added != 0) total_.fetch_add(added, std::memory_order_release);
}

std::uint64_t MediumMap::cut(std::uint64_t first, std::uint64_t end) {
    std::uint64_t taken = 0;
    auto run = runs_.upper_bound(first);
    if (run != runs_.begin() && std::prev(run)->second.end > first) --run;
    while (run != runs_.end() && run->first < end) {
        const std::uint64_t b = run->first;
        const Kept kept = run->second;
        run = runs_.erase(run);
        taken += std::min(kept.end, end) - std::max(b, first);
        if (b < first) runs_.emplace(b, Kept{first, kept.kind});
        if (kept.end > end) run = runs_.emplace(end, Kept{kept.end, kept.kind}).first;
    }
    return taken;
}

void MediumMap::join(std::map<std::uint64_t, Kept>::iterator at) {
    if (at != runs_.begin()) {
        const auto before = std::prev(at);
        if (before->second.end == at->first && before->second.kind == at->second.kind) {
            before->second.end = at->second.end;
            runs_.erase(at);
            at = before;
        }
    }
    const auto after = std::next(at);
    if (after != runs_.end() && after->first == at->second.end && after->second.kind == at->second.kind) {
        at->second.end = after->second.end;
        runs_.erase(after);
    }
}

std::optional<std::uint64_t> MediumMap::runEndAt(std::uint64_t sector) const {
    if (total_.load(std::memory_order_acquire) == 0) return std::nullopt;
    std::lock_guard lock(mutex_);
    auto next = runs_.upper_bound(sector);
    if (next == runs_.begin()) return std::nullopt;
    if (sector >= std::prev(next)->second.end) return std::nullopt;
    std::uint64_t end = std::prev(next)->second.end;
    // Runs of other kinds may follow on without a gap.
    for (; next != runs_.end() && next->first == end; ++next)
        end = next->second.end;
    return end;
}

std::optional<MediumMap::Run> MediumMap::runAt(std::uint64_t sector) const {
    if (total_.load(std::memory_order_acquire) == 0) return std::nullopt;
    std::lock_guard lock(mutex_);
    const auto next = runs_.upper_bound(sector);
    if (next == runs_.begin() || sector >= std::prev(next)->second.end) return std::nullopt;
    return Run{std::prev(next)->first, std::prev(next)->second.end, std::prev(next)->second.kind};
}

std::vector<MediumMap::Run> MediumMap::runsIn(std::uint64_t first, std::uint64_t count) const {
    std::vector<Run> out;
    if (total_.load(std::memory_order_acquire) == 0) return out;
    const std::uint64_t end = platform::saturatingAdd(first, count);
    std::lock_guard lock(mutex_);
    if (runs_.empty() || count == 0) return out;
    auto run = runs_.upper_bound(first);
    if (run != runs_.begin()) --run;
    for (; run != runs_.end() && run->first < end; ++run)
        if (run->second.end > first)
            out.push_back({std::max(run->first, first), std::min(run->second.end, end), run->second.kind});
    return out;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> MediumMap::steppedOverIn(std::uint64_t first,
                                                                              std::uint64_t count) const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
    // Whether the runs since the last stretch's end touch each other, up to
    // `reach`.
    bool unbroken = false;
    std::uint64_t reach = 0;
    for (const Run& run : runsIn(first, count)) {
        const bool touches = unbroken && run.begin == reach;
        if (!run.failed()) {
            if (touches)
                out.back().second = run.end;
            else
                out.emplace_back(run.begin, run.end);
        }
        unbroken = !run.failed() || touches;
        reach = run.end;
    }
    return out;
}

std::uint64_t MediumMap::countIn(std::uint64_t first, std::uint64_t count) const {
    if (total_.load(std::memory_order_acquire) == 0) return 0;
    std::uint64_t n = 0;
    for (const Run& run : runsIn(first, count))
        n += run.end - run.begin;
    return n;
}

std::uint64_t MediumMap::failedIn(std::uint64_t first, std::uint64_t count) const {
    if (total_.load(std::memory_order_acquire) == 0) return 0;
    std::uint64_t n = 0;
    for (const Run& run : runsIn(first, count))
        if (run.failed()) n += run.end - run.begin;
    return n;
}

void MediumMap::addFailedPage(std::uint64_t sector) {
    const std::uint64_t page = sector / pageSectors();
    std::lock_guard lock(mutex_);
    auto run = failedPages_.upper_bound(page);
    if (run != failedPages_.begin() && std::prev(run)->second >= page) {
        --run;
        if (run->second > page) return;
        run->second = page + 1;
    } else {
        run = failedPages_.emplace(page, page + 1).first;
    }
    const auto after = std::next(run);
    if (after != failedPages_.end() && after->first == run->second) {
        run->second = after->second;
        failedPages_.erase(after);
    }
    anyFailedPage_.store(true, std::memory_order_release);
}

bool MediumMap::readPastTheCache(std::uint64_t sector) const {
    const std::uint64_t pageSectors = this->pageSectors();
    const std::uint64_t first = sector - sector % pageSectors;
    if (pageSectors > 1 && countIn(first, pageSectors) != 0) return true;
    if (!anyFailedPage_.load(std::memory_order_acquire)) return false;
    std::lock_guard lock(mutex_);
    const auto run = failedPages_.upper_bound(sector / pageSectors);
    return run != failedPages_.begin() && std::prev(run)->second > sector / pageSectors;
}

std::uint64_t MediumMap::throughTheCacheTo(std::uint64_t first, std::uint64_t end) const {
    const std::uint64_t pageSectors = this->pageSectors();
    // Only the page that `end` cuts may hold an unreadable sector, after it.
    std::uint64_t to = end;
    const std::uint64_t lastPage = (end - 1) - (end - 1) % pageSectors;
    if (end % pageSectors != 0 && lastPage > first && countIn(lastPage, pageSectors) != 0) to = lastPage;
    if (!anyFailedPage_.load(std::memory_order_acquire)) return to;
    std::lock_guard lock(mutex_);
    const auto run = failedPages_.upper_bound(first / pageSectors);
    if (run != failedPages_.end()) to = std::min(to, std::max(first, platform::saturatingMul(run->first, pageSectors)));
    return to;
}

bool MediumMap::noteReached(std::uint64_t first, std::uint64_t last) {
    std::lock_guard lock(reachedMutex_);
    std::uint64_t begin = first > margin_ ? first - margin_ : 0;
    std::uint64_t end = platform::saturatingAdd(last + 1, margin_);
    // Sequential reads extend the run before them; most reads change nothing.
    auto run = reached_.upper_bound(first);
    if (run != reached_.begin() && std::prev(run)->second > last) return false;
    if (run != reached_.begin() && platform::saturatingAdd(std::prev(run)->second, joinGap_) >= begin) --run;
    while (run != reached_.end() && run->first <= platform::saturatingAdd(end, joinGap_)) {
        begin = std::min(begin, run->first);
        end = std::max(end, run->second);
        run = reached_.erase(run);
    }
    reached_.emplace(begin, end);
    if (reached_.size() <= kMostReachedRuns) return true;
    // Too many: the gap that joins runs doubles, and they are joined again.
    joinGap_ = std::max(platform::saturatingMul(joinGap_, 2), margin_);
    std::map<std::uint64_t, std::uint64_t> joined;
    for (const auto& [b, e] : reached_) {
        if (!joined.empty() && platform::saturatingAdd(std::prev(joined.end())->second, joinGap_) >= b)
            std::prev(joined.end())->second = std::max(std::prev(joined.end())->second, e);
        else
            joined.emplace(b, e);
    }
    reached_.swap(joined);
    return true;
}

bool MediumMap::reachedBefore(std::uint64_t sector) const {
    return reachEndAt(sector).has_value();
}

std::optional<std::uint64_t> MediumMap::reachEndAt(std::uint64_t sector) const {
    std::lock_guard lock(reachedMutex_);
    const auto run = reached_.upper_bound(sector);
    if (run == reached_.begin() || std::prev(run)->second <= sector) return std::nullopt;
    return std::prev(run)->second;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> MediumMap::unreached(std::uint64_t end) const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
    std::lock_guard lock(reachedMutex_);
    std::uint64_t from = 0;
    for (const auto& [begin, runEnd] : reached_) {
        if (begin >= end) break;
        if (begin > from) gaps.emplace_back(from, begin);
        from = std::max(from, runEnd);
    }
    if (from < end) gaps.emplace_back(from, end);
    return gaps;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> MediumMap::reached(std::uint64_t end) const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
    std::lock_guard lock(reachedMutex_);
    for (const auto& [begin, runEnd] : reached_) {
        if (begin >= end) break;
        runs.emplace_back(begin, std::min(runEnd, end));
    }
    return runs;
}

void MediumMap::clear() {
    std::lock_guard lock(mutex_);
    runs_.clear();
    sinceAnswered_.clear();
    anySinceAnswered_.store(false, std::memory_order_release);
    failedPages_.clear();
    anyFailedPage_.store(false, std::memory_order_release);
    total_.store(0, std::memory_order_release);
}
