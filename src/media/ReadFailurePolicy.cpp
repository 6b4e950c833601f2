#include "media/ReadFailurePolicy.h"

#include "platform/CheckedMath.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {
// How far a cache below the device may have read beyond what was asked:
// the kernel's read-ahead of a file (128 KiB unless tuned), twice over.
constexpr std::uint64_t kCacheReachBytes = 256u << 10;
// What looks at a medium before any scan does reads near its two ends,
// where partition tables and the labels of file systems and RAID sets are
// kept: the kernel's partition scan, the drive list's probes and libblkid's
// (some of its labels lie a MiB and more before the end), each widened by a
// cache's read-ahead. Any of it may be in a cache; no more than a share of a
// small medium is taken for it.
constexpr std::uint64_t kProbedEndBytes = 2u << 20;
constexpr std::uint64_t kProbedEndShare = 16;
// A come-back asks this many places at the most: when all fail, it comes
// back no further. A bad area so costs a few dozen failed reads in a pass
// whatever its length, and an island in it is found when it is a sizeable
// part of the area wide; a save asks inside what the walks stepped over in
// its files.
constexpr std::uint64_t kComeBackAsks = 4;
// Places that read before asked by a judgement: all of them failing past
// every cache is what makes a disk stopped. A live disk answers at the
// first; a dead one costs this many failed reads once.
constexpr std::uint64_t kPlacesReadBeforeAsked = 4;
// Places asked elsewhere, and where a save still has to read, once those
// that read before have all failed: a disk answering anywhere is never
// given up.
constexpr std::uint64_t kPlacesAsked = 2;
} // namespace

ReadFailurePolicy::ReadFailurePolicy() {
    for (std::atomic<std::uint64_t>& place : recentPlaces_)
        place.store(UINT64_MAX, std::memory_order_relaxed);
    for (std::atomic<std::uint64_t>& place : spreadPlaces_)
        place.store(UINT64_MAX, std::memory_order_relaxed);
}

bool ReadFailurePolicy::errorMeansGone(int error) {
    return error == ENODEV || error == ENXIO;
}

void ReadFailurePolicy::layOut(std::uint64_t mediumBytes, std::uint32_t sectorBytes, std::uint64_t pageBytes) {
    if (endSector() != 0 || mediumBytes == 0 || sectorBytes == 0) return;
    map_.layOut(pageBytes / sectorBytes, kCacheReachBytes / sectorBytes);
    sectorBytes_.store(sectorBytes, std::memory_order_relaxed);
    const std::uint64_t end = mediumBytes / sectorBytes;
    // Whatever looks at a medium reads its last sector before any scan does
    // (the kernel's partition scan, the drive list, the identity check): a
    // cache may answer for it, and for what its read-ahead took in before it.
    if (end != 0) map_.noteReached(end - 1, end - 1);
    probedEnds_.store(std::min(kProbedEndBytes / sectorBytes, end / kProbedEndShare), std::memory_order_relaxed);
    endSector_.store(end, std::memory_order_release);
}

bool ReadFailurePolicy::mayHaveBeenRead(std::uint64_t sector) const {
    const std::uint64_t probed = probedEnds_.load(std::memory_order_relaxed), end = endSector();
    return sector < probed || sector + probed >= end || map_.reachedBefore(sector);
}

std::optional<ReadFailurePolicy::Stretch> ReadFailurePolicy::walk(std::uint64_t failed, const ProbeSector& probe,
                                                                  bool comeBack) {
    // Without a known end nothing past the failed sector is asked for.
    std::uint64_t end = endSector();
    if (end <= failed) end = platform::saturatingAdd(failed, 1);
    map_.addFailed(failed);
    std::vector<std::uint64_t> failedAsks{failed};
    // Whether a sector answered that no cache could have answered for: past
    // every cache, or where nothing may have read before it was asked.
    bool answeredAfresh = false;
    const auto ask = [&](std::uint64_t at) {
        const bool read = mayHaveBeenRead(at);
        const Probe p = probe(at);
        if (p == Probe::Failed) {
            map_.addFailed(at);
            failedAsks.push_back(at);
        }
        answeredAfresh = answeredAfresh || p == Probe::AnsweredPastEveryCache || (p == Probe::Answered && !read);
        return p;
    };
    // Ahead in doubling steps from the last sector that failed, until one
    // answers or the medium ends; then back in halving steps, the stretch
    // ending after `bad` and by `good`. What the map knows to be unreadable
    // is passed over.
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
        if (const std::optional<std::uint64_t> known = map_.runEndAt(at)) {
            bad = std::min(*known, good.value_or(UINT64_MAX)) - 1;
            continue;
        }
        const Probe p = ask(at);
        if (p == Probe::Gone) return std::nullopt;
        if (answered(p))
            good = at;
        else
            bad = at;
    }
    // A walk answered only where a cache may hold what was read before has
    // nothing behind it to come back for: on a disk that died behind the
    // cache it would only ask into the dead rest.
    if (comeBack && good && answeredAfresh) {
        const std::optional<std::optional<std::uint64_t>> island = comeBackOver(failed, *good, ask);
        if (!island) return std::nullopt;
        if (*island) good = **island;
    }
    const std::uint64_t stretchEnd = good.value_or(end);
    map_.addSteppedOver(failed, stretchEnd);
    // Nothing but a cache answered up to the part near the end that anything
    // may have read: a disk that died behind its cache walks so as much as a
    // bad end does, and only the verdict tells them apart.
    const std::uint64_t nearTheEnd = std::max(probedEnds_.load(std::memory_order_relaxed), map_.pageSectors());
    const bool toTheEnd = !answeredAfresh && platform::saturatingAdd(stretchEnd, nearTheEnd) >= end;
    return Stretch{stretchEnd, good.has_value(), toTheEnd, std::move(failedAsks)};
}

std::optional<std::optional<std::uint64_t>>
ReadFailurePolicy::comeBackOver(std::uint64_t failed, std::uint64_t limitOfTheStretch,
                                const std::function<Probe(std::uint64_t)>& ask) {
    // Back over the stretch, a few asks at the most, each in the middle of
    // the widest gap left between its sectors that failed, as long as one is
    // wider than kComeBackBytes: the doubling steps asked densely near its
    // start and sparsely further on, so a readable island a sizeable part of
    // the stretch wide is found wherever it lies. The first sector that
    // answers begins an island; the asks left look for one before it.
    const std::uint64_t bps = sectorBytes_.load(std::memory_order_relaxed);
    const std::uint64_t every = std::max<std::uint64_t>(bps == 0 ? 1 : kComeBackBytes / bps, 1);
    // The runs of the stretch known to have failed, first and last sector:
    // the gaps lie between them.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> failedRuns{{failed, failed}};
    for (const MediumMap::Run& run : map_.runsIn(failed, limitOfTheStretch - failed))
        if (run.failed()) failedRuns.emplace_back(run.begin, run.end - 1);
    std::sort(failedRuns.begin(), failedRuns.end());
    // The last sector that failed before `at`.
    const auto failedBefore = [&](std::uint64_t at) {
        std::uint64_t last = failed;
        for (const auto& [first, lastOfRun] : failedRuns)
            if (first < at) last = std::max(last, std::min(lastOfRun, at - 1));
        return last;
    };
    std::optional<std::uint64_t> island;
    for (std::uint64_t asked = 0; asked < kComeBackAsks; ++asked) {
        // The widest gap before the island found, or the stretch's end.
        const std::uint64_t limit = island.value_or(limitOfTheStretch);
        std::uint64_t from = 0, width = 0;
        for (std::size_t i = 0; i < failedRuns.size(); ++i) {
            const std::uint64_t begin = failedRuns[i].second;
            const std::uint64_t to = i + 1 < failedRuns.size() ? std::min(failedRuns[i + 1].first, limit) : limit;
            if (begin < to && to - begin > width) {
                from = begin;
                width = to - begin;
            }
        }
        if (width <= every) break;
        const std::uint64_t at = from + width / 2;
        const Probe p = ask(at);
        if (p == Probe::Gone) return std::nullopt;
        if (answered(p))
            island = at;
        else
            failedRuns.insert(std::upper_bound(failedRuns.begin(), failedRuns.end(), std::pair{at, at}),
                              std::pair{at, at});
    }
    if (!island) return std::optional<std::uint64_t>();
    // Where the island begins: the stretch ends there.
    std::uint64_t lo = failedBefore(*island), hi = *island;
    while (hi - lo > 1) {
        const std::uint64_t at = lo + (hi - lo) / 2;
        const Probe p = ask(at);
        if (p == Probe::Gone) return std::nullopt;
        (answered(p) ? hi : lo) = at;
    }
    return std::optional<std::uint64_t>(hi);
}

std::optional<ReadFailurePolicy::Stretch> ReadFailurePolicy::comeBackToTheEnd(Stretch stretch, std::uint64_t failed,
                                                                              const ProbeSector& probe) {
    // Only as far as a bad end found before: it was come back over then.
    const std::uint64_t badEnd = badEndFrom();
    const std::uint64_t limit = std::max(failed + 1, std::min(stretch.end, badEnd));
    const auto ask = [&](std::uint64_t at) {
        const Probe p = probe(at);
        if (p == Probe::Failed) {
            map_.addFailed(at);
            stretch.failed.push_back(at);
        }
        return p;
    };
    const std::optional<std::optional<std::uint64_t>> island = comeBackOver(failed, limit, ask);
    if (!island) return std::nullopt;
    if (!*island) {
        // Nothing answers in it: the disk's bad end begins here.
        std::uint64_t from = badEndFrom_.load(std::memory_order_acquire);
        while (failed < from && !badEndFrom_.compare_exchange_weak(from, failed, std::memory_order_acq_rel)) {
        }
        return stretch;
    }
    // An island: the stretch ends where it begins, and what the walk stepped
    // over past it is not known to be unreadable after all.
    map_.forgetSteppedOver(**island, stretch.end);
    stretch.end = **island;
    stretch.answeredAfter = true;
    stretch.unansweredToTheEnd = false;
    return stretch;
}

void ReadFailurePolicy::noteAnswer(std::uint64_t offset, std::uint64_t length, Source source) {
    const std::uint64_t bps = sectorBytes_.load(std::memory_order_relaxed);
    if (bps == 0 || length == 0) return;
    const std::uint64_t first = offset / bps, last = platform::saturatingAdd(offset, length - 1) / bps;
    // The place is read: a cache below the device answers for it from now
    // on, and none of it is unreadable any more.
    const bool fresh = map_.noteReached(first, last);
    map_.noteRead(first, last + 1);
    // What the page cache gave tells nothing of the disk, nor that this
    // program ever read the place from it.
    if (source == Source::PageCache) return;
    // The medium's answer where no read had reached, nor a cache's
    // read-ahead next to one: evidence where none past every cache is to be
    // had.
    if (fresh) {
        freshAnswers_.fetch_add(1, std::memory_order_release);
        if (cacheOnly()) map_.markAnswered();
    }
    const std::uint64_t place = first + (last - first) / 2, end = endSector();
    recentPlaces_[nextRecentPlace_.fetch_add(1, std::memory_order_relaxed) % kRecentPlaces].store(
        place, std::memory_order_relaxed);
    if (end != 0 && place < end)
        spreadPlaces_[static_cast<std::size_t>(place / (end / kSpreadParts + 1))].store(place,
                                                                                        std::memory_order_relaxed);
    // The one rule of what proves the disk alive: an answer no cache could
    // have given.
    if (source == Source::PastEveryCache) noteAlive();
}

void ReadFailurePolicy::noteAlive() {
    diskAnswers_.fetch_add(1, std::memory_order_release);
    map_.markAnswered();
}

ReadFailurePolicy::Verdict ReadFailurePolicy::judge(const std::optional<Stretch>& walked, std::uint64_t where,
                                                    std::uint64_t liveBefore, const Asking& asking) {
    std::lock_guard lock(judging_);
    // Another reader's judgement has found it so already.
    if (stopped()) return Verdict::Stopped;
    // Where the medium cannot be asked past every cache, the weaker evidence
    // counts from now on.
    if (!asking.pastEveryCache) setCacheOnly(true);
    // The disk itself answered since the walk began and since the last
    // judgement. A walk that met nothing but a cache up to the medium's end
    // is asked of at once, whatever answered before: a disk that dies in the
    // middle of a sweep gave it answers up to the moment it died.
    const std::uint64_t live = liveAnswers();
    const bool toTheEnd = walked && walked->unansweredToTheEnd;
    if (!toTheEnd && live > liveBefore && live > liveAtLastJudgement_) {
        liveAtLastJudgement_ = live;
        return Verdict::Answers;
    }
    const Verdict verdict = asking.pastEveryCache ? askPlaces(asking) : askPlacesCacheOnly(asking);
    liveAtLastJudgement_ = liveAnswers();
    if (verdict == Verdict::Stopped) {
        stoppedAt_.store(where, std::memory_order_release);
        stopped_.store(true, std::memory_order_release);
    }
    return verdict;
}

ReadFailurePolicy::Verdict ReadFailurePolicy::askAgain(const Asking& asking) {
    std::lock_guard lock(judging_);
    if (!stopped()) return Verdict::Answers;
    // What failed since the disk last answered, and what walks stepped over
    // since: nothing has answered since it stopped.
    const std::vector<MediumMap::Run> diedWith = map_.sinceAnswered();
    const Verdict verdict = asking.pastEveryCache ? askPlaces(asking) : askPlacesCacheOnly(asking);
    liveAtLastJudgement_ = liveAnswers();
    if (verdict != Verdict::Answers) return verdict;
    // What failed as it stopped may well read now, and what its walks
    // stepped over from there, or was not asked for since, is not known to be
    // unreadable: it is read again as any place is.
    for (const MediumMap::Run& run : diedWith) {
        if (run.failed()) map_.unfail(run.begin, run.end);
        map_.forgetSteppedOver(run.begin, run.end);
    }
    std::lock_guard notAskedLock(notAskedMutex_);
    for (const auto& [first, end] : notAsked_)
        map_.forgetSteppedOver(first, end);
    notAsked_.clear();
    stopped_.store(false, std::memory_order_release);
    return verdict;
}

void ReadFailurePolicy::forget() {
    map_.clear();
    badEndFrom_.store(UINT64_MAX, std::memory_order_release);
    std::lock_guard lock(notAskedMutex_);
    notAsked_.clear();
}

void ReadFailurePolicy::noteNotAsked(std::uint64_t first, std::uint64_t end) {
    if (first >= end) return;
    map_.addSteppedOver(first, end);
    std::lock_guard lock(notAskedMutex_);
    auto run = notAsked_.upper_bound(first);
    if (run != notAsked_.begin() && std::prev(run)->second >= first) {
        --run;
        run->second = std::max(run->second, end);
    } else {
        run = notAsked_.emplace(first, end).first;
    }
    for (auto next = std::next(run); next != notAsked_.end() && next->first <= run->second;) {
        run->second = std::max(run->second, next->second);
        next = notAsked_.erase(next);
    }
}

ReadFailurePolicy::Verdict ReadFailurePolicy::askPlaces(const Asking& asking) {
    // Where the disk answered this program before: a live disk, however
    // wide its bad areas, answers there again.
    const std::vector<std::uint64_t> readBefore = placesReadBefore(kPlacesReadBeforeAsked);
    // Nothing read before, nothing can show that it stopped.
    if (readBefore.empty()) return Verdict::Answers;
    Probe heard = askAt(readBefore, asking.ask, false);
    // None answering is the evidence that it stopped, unless it answers
    // anywhere else: where no read has reached, and where the save still
    // has to read (a disk unreadable but for the files on it answers there,
    // and nowhere else the save would ever read).
    if (heard == Probe::Failed) heard = askAt(placesElsewhere(kPlacesAsked), asking.ask);
    if (heard == Probe::Failed && stillToRead_) heard = askAt(placesStillToRead(kPlacesAsked), asking.ask);
    if (heard == Probe::Gone) return Verdict::Gone;
    if (answered(heard)) return Verdict::Answers;
    return Verdict::Stopped;
}

ReadFailurePolicy::Verdict ReadFailurePolicy::askPlacesCacheOnly(const Asking& asking) {
    // Where the medium answered this program before, asked again once the
    // caches the program can let go of have let go of it: a live disk
    // answers there, however wide its damage, where a failure at a place no
    // read has reached may be its damage, and one inside a run found bad (as
    // every place a save's second pass asks) always may. An answer there may
    // still be a cache's that could not be let go of, which tells nothing:
    // the pass goes on, as it does for a disk that answers.
    const std::vector<std::uint64_t> readBefore = placesReadBefore(kPlacesReadBeforeAsked);
    if (readBefore.empty()) return Verdict::Answers;
    // Any answer of the medium keeps it; one the page cache's kind of answer
    // (zeros, which a hole of a file on the way gives without any disk) only
    // where it read before, and so was no hole.
    const auto askAfresh = [&](const std::vector<std::uint64_t>& places, bool wereRead) {
        if (asking.letGo) asking.letGo(places);
        for (const std::uint64_t sector : places) {
            const Probe p = asking.ask(sector);
            if (p == Probe::Gone) return p;
            if (p == Probe::AnsweredPastEveryCache) noteAlive();
            if (p == Probe::Answered || p == Probe::AnsweredPastEveryCache || (p == Probe::FromTheCache && wereRead))
                return Probe::Answered;
            if (p == Probe::Failed && !wereRead) map_.addFailed(sector);
        }
        return Probe::Failed;
    };
    Probe heard = askAfresh(readBefore, true);
    // None answering is what a dead disk shows, unless it answers anywhere
    // else: where no read has reached, and where the save still has to read.
    if (heard == Probe::Failed) heard = askAfresh(placesElsewhere(kPlacesAsked), false);
    if (heard == Probe::Failed && stillToRead_) heard = askAfresh(placesStillToRead(kPlacesAsked), false);
    if (heard == Probe::Gone) return Verdict::Gone;
    return answered(heard) ? Verdict::Answers : Verdict::Stopped;
}

void ReadFailurePolicy::notePageRead(std::uint64_t sector, std::uint64_t count, bool answered) {
    const std::uint64_t pageSectors = map_.pageSectors();
    if (count == 0 || pageSectors <= 1) return;
    const std::uint64_t page = sector / pageSectors;
    if (platform::saturatingAdd(sector, count - 1) / pageSectors != page) return;
    std::lock_guard lock(pagesMutex_);
    for (const PageRead& read : pageReads_) {
        if (read.page == page && read.answered != answered) {
            splitPages_.fetch_add(1, std::memory_order_release);
            if (cacheOnly()) map_.markAnswered();
            break;
        }
    }
    pageReads_[nextPageRead_] = {page, answered};
    nextPageRead_ = (nextPageRead_ + 1) % pageReads_.size();
}

void ReadFailurePolicy::setStillToRead(StillToRead stillToRead) {
    std::lock_guard lock(judging_);
    stillToRead_ = std::move(stillToRead);
}

ReadFailurePolicy::Probe ReadFailurePolicy::askAt(const std::vector<std::uint64_t>& places, const ProbeSector& ask,
                                                  bool mapFailures) {
    for (const std::uint64_t sector : places) {
        const Probe p = ask(sector);
        // Only an answer past every cache tells of the disk; any other was
        // a cache's, and the next place is asked.
        if (p == Probe::Gone) return p;
        if (p == Probe::AnsweredPastEveryCache) {
            noteAlive();
            return p;
        }
        if (p == Probe::Failed && mapFailures) map_.addFailed(sector);
    }
    return Probe::Failed;
}

std::vector<std::uint64_t> ReadFailurePolicy::placesStillToRead(std::uint64_t placesAsked) {
    std::vector<std::uint64_t> places;
    const std::uint64_t mediumEnd = endSector();
    const std::uint64_t pageSectors = map_.pageSectors();
    // Not asked again: what failed, and what this save gave up on.
    const auto notAsked = [&](std::uint64_t at, std::uint64_t to) -> std::optional<std::uint64_t> {
        const std::vector<MediumMap::Run> known = map_.runsIn(at, to - at);
        if (known.empty() || known.front().begin != at || known.front().kind == MediumMap::Kind::SteppedOver)
            return std::nullopt;
        return known.front().end;
    };
    for (const SectorRuns& file : stillToRead_()) {
        if (places.size() >= placesAsked) break;
        // The file's first sector that no read has reached and that is not
        // known to fail: a file read already, or within a cache's reach of a
        // read, is passed over for the next. Where the file holds the whole
        // page, the page's first: the page cache fails a page whole for one
        // bad sector, and a page shared with the file before may hold that
        // file's.
        std::optional<std::uint64_t> first;
        for (const auto& [begin, end] : file) {
            const std::uint64_t to = std::min(end, mediumEnd);
            for (std::uint64_t at = begin; !first && at < to;) {
                if (const std::optional<std::uint64_t> reached = map_.reachEndAt(at)) {
                    at = *reached;
                    continue;
                }
                if (const std::optional<std::uint64_t> known = notAsked(at, to)) {
                    at = *known;
                    continue;
                }
                const std::uint64_t page = platform::saturatingAdd(at, (pageSectors - at % pageSectors) % pageSectors);
                if (page != at && platform::saturatingAdd(page, pageSectors) <= to) {
                    at = page;
                    continue;
                }
                first = at;
            }
            if (first) break;
        }
        if (first && std::find(places.begin(), places.end(), *first) == places.end()) places.push_back(*first);
    }
    return places;
}

std::vector<std::uint64_t> ReadFailurePolicy::placesElsewhere(std::uint64_t placesAsked) {
    // The stretches no read has reached, nor a cache next to one: first
    // where nothing is known, then what walks stepped over. A live disk with
    // a wide bad area answers in what is left of it, however narrow.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> unreached = map_.unreached(endSector());
    std::vector<std::uint64_t> places = placesSpreadOver(unreached, placesAsked, false);
    if (places.size() < placesAsked)
        for (const std::uint64_t place : placesSpreadOver(unreached, placesAsked - places.size(), true))
            if (std::find(places.begin(), places.end(), place) == places.end()) places.push_back(place);
    return places;
}

std::vector<std::uint64_t> ReadFailurePolicy::placesReadBefore(std::uint64_t placesAsked) const {
    // The latest first, as a disk that has just died has surely died there;
    // then spread over the medium, as a part of it may have died alone.
    std::vector<std::uint64_t> candidates;
    const std::uint64_t next = nextRecentPlace_.load(std::memory_order_relaxed);
    for (std::uint64_t k = 1; k <= kRecentPlaces; ++k)
        candidates.push_back(recentPlaces_[(next + kRecentPlaces - k) % kRecentPlaces].load(std::memory_order_relaxed));
    // The parts in an order that halves the gaps left: first, middle,
    // quarters, and so on.
    for (std::size_t stride = kSpreadParts; stride >= 1; stride /= 2)
        for (std::size_t part = 0; part < kSpreadParts; part += stride)
            if (part % (2 * stride) != 0 || stride == kSpreadParts)
                candidates.push_back(spreadPlaces_[part].load(std::memory_order_relaxed));
    const std::uint64_t pageSectors = map_.pageSectors();
    std::vector<std::uint64_t> places;
    for (const std::uint64_t place : candidates) {
        if (places.size() >= placesAsked) break;
        if (place == UINT64_MAX) continue;
        // One that failed since is not asked again; a walk stepping over it
        // asked it nothing.
        if (const std::optional<MediumMap::Run> known = map_.runAt(place); known && known->failed()) continue;
        if (std::any_of(places.begin(), places.end(),
                        [&](std::uint64_t p) { return p / pageSectors == place / pageSectors; }))
            continue;
        places.push_back(place);
    }
    return places;
}

std::vector<std::uint64_t>
ReadFailurePolicy::placesSpreadOver(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& stretches,
                                    std::uint64_t placesAsked, bool steppedOverToo) const {
    // The stretches but for what is not asked again (what failed, what this
    // save gave up on): a wide bad area takes none of the places from the
    // readable rest, however narrow.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
    for (const auto& [from, to] : stretches) {
        std::uint64_t at = from;
        for (const MediumMap::Run& run : map_.runsIn(from, to - from)) {
            if (steppedOverToo && run.kind == MediumMap::Kind::SteppedOver) continue;
            if (run.begin > at) gaps.emplace_back(at, run.begin);
            at = std::max(at, run.end);
        }
        if (at < to) gaps.emplace_back(at, to);
    }
    std::uint64_t untouched = 0;
    for (const auto& [from, to] : gaps)
        untouched += to - from;
    // Spread evenly over them, in order, and each at another sector of its
    // page: damage that repeats with the reads' alignment, or with the
    // page, does not fail them all.
    const std::uint64_t pageSectors = map_.pageSectors();
    std::vector<std::uint64_t> places;
    auto in = gaps.begin();
    std::uint64_t before = 0;
    for (std::uint64_t i = 0; i < placesAsked && untouched != 0; ++i) {
        const std::uint64_t half = 2 * placesAsked, share = 2 * i + 1;
        const std::uint64_t target = untouched / half * share + untouched % half * share / half;
        while (in != gaps.end() && before + (in->second - in->first) <= target) {
            before += in->second - in->first;
            ++in;
        }
        if (in == gaps.end()) break;
        const std::uint64_t at = in->first + (target - before);
        std::uint64_t place = at - at % pageSectors + (3 * i + 1) % pageSectors;
        if (place < in->first || place >= in->second) place = at;
        if (places.empty() || places.back() != place) places.push_back(place);
    }
    return places;
}
