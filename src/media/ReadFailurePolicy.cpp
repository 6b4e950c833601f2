#include "media/ReadFailurePolicy.h"

#include "platform/CheckedMath.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {
// How far a cache below the device may have read beyond what was asked:
// the kernel's read-ahead of a file (128 KiB unless tuned), twice over.
constexpr std::uint64_t kCacheReachBytes = 256u << 10;
// Touched runs kept before nearby ones are joined into fewer.
constexpr std::size_t kMostTouchedRuns = 1u << 16;
// Stretches walked in a row with no read answering from a region no read
// had reached: a disk behind a cache may answer a walk from what it holds.
constexpr std::uint32_t kWalksUnanswered = 3;
} // namespace

bool ReadFailurePolicy::errorMeansGone(int error) {
    return error == ENODEV || error == ENXIO;
}

void ReadFailurePolicy::layOut(std::uint64_t mediumBytes, std::uint32_t sectorBytes) {
    if (endSector() != 0 || mediumBytes == 0 || sectorBytes == 0) return;
    std::lock_guard lock(touchedMutex_);
    margin_ = std::max<std::uint64_t>(kCacheReachBytes / sectorBytes, 1);
    joinGap_ = 0;
    sectorBytes_.store(sectorBytes, std::memory_order_relaxed);
    endSector_.store(mediumBytes / sectorBytes, std::memory_order_release);
}

std::optional<ReadFailurePolicy::Stretch> ReadFailurePolicy::walk(std::uint64_t failed, UnreadableSectors& known,
                                                                  const ProbeSector& probe) const {
    // Without a known end nothing past the failed sector is asked for.
    std::uint64_t end = endSector();
    if (end <= failed) end = platform::saturatingAdd(failed, 1);
    // Ahead in doubling steps from the last sector that failed, until one
    // answers or the medium ends; then back in halving steps, the stretch
    // ending after `bad` and by `good`.
    std::uint64_t bad = failed;
    std::uint64_t step = 1;
    std::optional<std::uint64_t> good;
    for (;;) {
        std::uint64_t at = 0;
        if (!good) {
            at = platform::saturatingAdd(bad, step);
            // The step never jumps over the medium's last sector.
            if (at >= end) {
                if (bad + 1 >= end) break;
                at = end - 1;
            }
            step = platform::saturatingMul(step, 2);
        } else {
            if (*good - bad <= 1) break;
            at = bad + (*good - bad) / 2;
        }
        if (const std::optional<std::uint64_t> runEnd = known.runEndAt(at)) {
            bad = std::min(*runEnd, good.value_or(UINT64_MAX)) - 1;
            continue;
        }
        switch (probe(at)) {
        case Probe::Gone:
            return std::nullopt;
        case Probe::Answered:
            good = at;
            break;
        case Probe::Failed:
            bad = at;
            break;
        }
    }
    const std::uint64_t stretchEnd = good.value_or(end);
    known.addRun(failed, stretchEnd);
    return Stretch{stretchEnd, good.has_value()};
}

void ReadFailurePolicy::noteRead(std::uint64_t offset, std::uint64_t length) {
    const std::uint64_t bps = sectorBytes_.load(std::memory_order_relaxed);
    if (bps == 0 || length == 0) return;
    std::lock_guard lock(touchedMutex_);
    const std::uint64_t first = offset / bps, last = platform::saturatingAdd(offset, length - 1) / bps;
    std::uint64_t begin = first > margin_ ? first - margin_ : 0;
    std::uint64_t end = platform::saturatingAdd(last + 1, margin_);
    // Sequential reads extend the run before them; most reads change nothing.
    auto run = touched_.upper_bound(first);
    if (run != touched_.begin() && std::prev(run)->second > last) return;
    // A read that reaches past every run near it answered where no cache
    // could have.
    freshAnswers_.fetch_add(1, std::memory_order_release);
    if (run != touched_.begin() && platform::saturatingAdd(std::prev(run)->second, joinGap_) >= begin) --run;
    while (run != touched_.end() && run->first <= platform::saturatingAdd(end, joinGap_)) {
        begin = std::min(begin, run->first);
        end = std::max(end, run->second);
        run = touched_.erase(run);
    }
    touched_.emplace(begin, end);
    if (touched_.size() <= kMostTouchedRuns) return;
    // Too many: the gap that joins runs doubles, and they are joined again.
    joinGap_ = std::max(platform::saturatingMul(joinGap_, 2), margin_);
    std::map<std::uint64_t, std::uint64_t> joined;
    for (const auto& [b, e] : touched_) {
        if (!joined.empty() && platform::saturatingAdd(std::prev(joined.end())->second, joinGap_) >= b)
            std::prev(joined.end())->second = std::max(std::prev(joined.end())->second, e);
        else
            joined.emplace(b, e);
    }
    touched_.swap(joined);
}

bool ReadFailurePolicy::stillAnswers(const Stretch& stretch, std::uint64_t freshBefore, UnreadableSectors& known,
                                     const ProbeSector& probe) {
    std::lock_guard lock(judging_);
    const std::uint64_t fresh = freshAnswers();
    // The walk itself was answered where no cache could: the disk lives.
    if (fresh > freshBefore) {
        walksUnanswered_ = 0;
        freshAtLastWalk_ = fresh;
        return true;
    }
    if (fresh > freshAtLastWalk_) walksUnanswered_ = 0;
    freshAtLastWalk_ = fresh;
    ++walksUnanswered_;
    if (stretch.answeredAfter && walksUnanswered_ < kWalksUnanswered) return true;
    const std::optional<bool> answers = answersElsewhere(known, probe);
    if (answers.value_or(stretch.answeredAfter)) {
        walksUnanswered_ = 0;
        freshAtLastWalk_ = freshAnswers();
        return true;
    }
    return false;
}

std::optional<bool> ReadFailurePolicy::answersElsewhere(UnreadableSectors& known, const ProbeSector& probe) {
    // The stretches no read has reached, nor a cache next to one: the
    // middle of each, unless it is known to be unreadable.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> places; // sector, width of its stretch
    {
        std::lock_guard lock(touchedMutex_);
        const std::uint64_t mediumEnd = endSector();
        std::uint64_t from = 0;
        const auto gap = [&](std::uint64_t to) {
            if (to > from) {
                const std::uint64_t middle = from + (to - from) / 2;
                if (!known.runEndAt(middle)) places.emplace_back(middle, to - from);
            }
        };
        for (const auto& [begin, end] : touched_) {
            if (begin >= mediumEnd) break;
            gap(begin);
            from = std::max(from, end);
        }
        gap(mediumEnd);
    }
    if (places.empty()) return std::nullopt;
    // The first such place, the widest and one in the middle: a bad area of
    // a live disk lies somewhere, a dead disk fails everywhere.
    std::vector<std::uint64_t> asked{places.front().first, places[places.size() / 2].first,
                                     std::max_element(places.begin(), places.end(), [](const auto& a, const auto& b) {
                                         return a.second < b.second;
                                     })->first};
    std::sort(asked.begin(), asked.end());
    asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
    for (const std::uint64_t sector : asked) {
        switch (probe(sector)) {
        case Probe::Answered:
            return true;
        case Probe::Gone:
            return false;
        case Probe::Failed:
            // Not asked again.
            known.add(sector);
            break;
        }
    }
    return false;
}
