#include "media/MediumReader.h"

#include "media/HeldSectors.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
using Answer = MediumDevice::Answer;
using Way = MediumDevice::Way;
using Probe = ReadFailurePolicy::Probe;

constexpr std::uint64_t kMaxReadBytes = 1ull << 31;
// What a save's second pass reads at a time of what was read since it was
// stepped over.
constexpr std::uint64_t kExtraReadBytes = 1u << 20;
// A save's scrape asks inside a run that walks stepped over at least once in
// every this many sectors of the medium: any readable run this long holds an
// ask, whatever its alignment, until kScrapeFailuresInARun of them fail in a
// row (see placeFrom).
constexpr std::uint64_t kScrapeSectors = 64;
// From then on, at least once in every this many bytes: an island this wide
// inside a file is found wherever it lies, however wide the bad area round
// it. The places are the same for every file, so a second file over the same
// area asks none of them again, and they lie at uneven distances, so damage
// that repeats at a power of two apart does not miss them all.
constexpr std::uint64_t kScrapeGridBytes = 128u << 10;
// A device that fails a read through the page cache whole, rather than up to
// the page that failed, has the rest of it read past the cache in pieces this
// long, and the piece that fails sector by sector: a bad sector costs a failed
// read more, and a request of thousands of sectors no more single reads than
// this.
constexpr std::uint64_t kPieceSectors = 64;
// Asks that fail in a row before the save judges whether the disk still
// answers, as after a walked stretch: a dead disk ends a save of a large file
// as soon as one of a small file.
constexpr std::uint32_t kScrapeFailuresJudged = 16;
// Asks of one file that fail in a row, nothing answering between, after
// which the scrape asks half as often; and how many more before it asks only
// once in every kScrapeGridBytes: a readable run of kScrapeSectors, or of
// twice that up to this many times it past the last answer, is still found
// sector-exact.
constexpr std::uint32_t kDenseAsksInARow = 16;
constexpr std::uint32_t kScrapeFailuresInARun = 16;

// The first from `from` on of the places a scrape asks at, at least one in
// every `grid` sectors of the medium: one in each step of seven eighths of
// it, at a distance into the step that a hash of the step's number gives
// (under an eighth of it), so no two lie `grid` or more apart, and damage that
// repeats at a power of two apart does not miss them all.
std::uint64_t placeFrom(std::uint64_t from, std::uint64_t grid) {
    const std::uint64_t step = std::max<std::uint64_t>(grid - grid / 8, 1),
                        spread = std::max<std::uint64_t>(grid / 8, 1);
    const auto place = [&](std::uint64_t k) {
        return platform::saturatingAdd(platform::saturatingMul(k, step), (k * 0x9E3779B97F4A7C15ull >> 32) % spread);
    };
    const std::uint64_t k = from / step;
    return place(k) >= from ? place(k) : place(k + 1);
}

// Whether `count` sectors from `sector` are a request a device could answer.
bool fits(std::uint64_t sector, std::int32_t count, std::uint64_t bps) {
    return count >= 0 && bps != 0 && static_cast<std::uint64_t>(count) * bps <= kMaxReadBytes &&
           platform::checkedMul(platform::saturatingAdd(sector, static_cast<std::uint64_t>(count)), bps);
}

Probe probeOf(Answer answer) {
    switch (answer) {
    case Answer::Failed:
        return Probe::Failed;
    case Answer::Hopeless:
        return Probe::Gone;
    case Answer::FromTheCache:
        return Probe::FromTheCache;
    case Answer::Read:
        return Probe::Answered;
    case Answer::ReadPastEveryCache:
        break;
    }
    return Probe::AnsweredPastEveryCache;
}
} // namespace

void MediumReader::Request::zero(std::uint64_t from, std::uint64_t to) const {
    if (from < to) std::memset(at(from), 0, static_cast<std::size_t>((to - from) * bps));
}

std::optional<std::uint64_t> MediumReader::readRange(Asker asker, std::uint64_t sector, std::int32_t count,
                                                     std::uint8_t* buffer) {
    const std::uint64_t bps = device_.sectorBytes();
    // A request no device could answer (a position a damaged structure made
    // up) fails by itself; it says nothing about the device.
    if (!fits(sector, count, bps)) return std::nullopt;
    const Request r{asker, sector, buffer, bps};
    const std::uint64_t end = sector + static_cast<std::uint64_t>(count);
    const bool saving = asker == Asker::Save;
    // A disk judged to have stopped is asked nothing more: a scan reads what
    // the page cache holds, and a save takes it from there itself, file by
    // file.
    if (policy_.stopped()) {
        if (!saving) return readFromTheCache(r, sector, end);
        tellStopped(asker);
        r.zero(sector, end);
        return std::nullopt;
    }
    std::uint64_t lost = 0;
    // A save finds nothing to save past the medium's end, and each sector
    // asked for there would cost a read: they are lost at once. The end is
    // known from the first open on.
    std::uint64_t readable = end;
    if (saving && count > 0 && (policy_.endSector() != 0 || device_.opens())) {
        const std::uint64_t mediumEnd = policy_.endSector();
        if (mediumEnd != 0 && end > mediumEnd) {
            readable = std::max(sector, mediumEnd);
            r.zero(readable, end);
            lost += end - readable;
            platform::logFormat("Sectors %llu to %llu lie past the end of %@; they are unreadable",
                                static_cast<unsigned long long>(readable), static_cast<unsigned long long>(end - 1),
                                device_.name());
        }
    }
    for (std::uint64_t at = sector; at < readable;) {
        // Judged stopped by a walk of this read: the rest of a scan's read
        // comes from the page cache.
        if (!saving && policy_.stopped()) {
            lost += readFromTheCache(r, at, readable);
            break;
        }
        const std::optional<Progress> step = readOn(r, at, readable);
        if (!step) {
            r.zero(sector, end);
            return std::nullopt;
        }
        lost += step->lost;
        at = step->next;
    }
    return lost;
}

bool MediumReader::scrapeRange(std::uint64_t sector, std::uint64_t count, const Take& take, const Asked& asked,
                               const Stop& stop) {
    const std::uint64_t bps = device_.sectorBytes();
    if (bps == 0 || !platform::checkedMul(platform::saturatingAdd(sector, count), bps)) return false;
    if (policy_.stopped()) {
        tellStopped(Asker::Save);
        return false;
    }
    // Past the medium's end there is nothing to ask.
    const std::uint64_t mediumEnd = policy_.endSector();
    const std::uint64_t end = std::min(sector + count, mediumEnd != 0 ? std::max(sector, mediumEnd) : UINT64_MAX);
    Runs taken;
    const Take keep = [&](std::uint64_t first, std::uint64_t n, const std::uint8_t* bytes) {
        if (!taken.empty() && taken.back().second == first)
            taken.back().second = first + n;
        else
            taken.emplace_back(first, first + n);
        take(first, n, bytes);
    };
    if (!scrape(sector, end, keep, asked, stop)) return false;
    if (stop && stop()) return true;
    std::sort(taken.begin(), taken.end());
    // What is readable now and was not read by the asks was read since it
    // was stepped over (by a judgement's ask where the save still had to
    // read, say): it is read as the first pass reads, from the page cache
    // that still holds it, most likely, and handed over as it came.
    const MediumMap& map = policy_.map();
    const auto readableIn = [&](std::uint64_t first, std::uint64_t last) {
        Runs runs;
        for (const MediumMap::Run& run : map.runsIn(first, last - first)) {
            if (run.begin > first) runs.emplace_back(first, run.begin);
            first = run.end;
        }
        if (first < last) runs.emplace_back(first, last);
        return runs;
    };
    const std::uint64_t piece = std::max<std::uint64_t>(kExtraReadBytes / bps, 1);
    std::vector<std::uint8_t> bytes;
    std::size_t t = 0;
    for (const auto& [first, last] : readableIn(sector, end)) {
        for (std::uint64_t at = first; at < last;) {
            while (t < taken.size() && taken[t].second <= at)
                ++t;
            if (t < taken.size() && taken[t].first <= at) {
                at = std::min(last, taken[t].second);
                continue;
            }
            const std::uint64_t to = std::min({t < taken.size() ? taken[t].first : last, last, at + piece});
            bytes.resize(static_cast<std::size_t>((to - at) * bps));
            const Request r{Asker::Save, at, bytes.data(), bps};
            for (std::uint64_t next = at; next < to;) {
                const std::optional<Progress> step = readOn(r, next, to);
                if (!step) return false;
                next = step->next;
            }
            for (const auto& [b, e] : readableIn(at, to))
                take(b, e - b, r.at(b));
            at = to;
        }
    }
    return true;
}

std::uint64_t MediumReader::readFromTheCache(const Request& r, std::uint64_t at, std::uint64_t end) {
    // Past the medium's end there is nothing to hold: a scan reads it as
    // zeros, as ever.
    const std::uint64_t mediumEnd = policy_.endSector();
    const std::uint64_t to = mediumEnd != 0 ? std::min(end, std::max(at, mediumEnd)) : end;
    r.zero(to, end);
    if (at >= to) return 0;
    const MediumDevice::Runs notHeld = device_.readFromTheCache(at, to - at, r.at(at));
    // What the cache gave is the medium's bytes, and no sign of the disk;
    // what it did not is unreadable for now, stepped over: a save on a disk
    // that answers again asks there.
    std::uint64_t lost = 0, from = at;
    const auto held = [&](std::uint64_t upTo) {
        if (upTo > from) policy_.noteAnswer(from * r.bps, (upTo - from) * r.bps, ReadFailurePolicy::Source::PageCache);
    };
    for (const auto& [first, last] : notHeld) {
        const std::uint64_t b = std::clamp(first, from, to), e = std::clamp(last, b, to);
        held(b);
        policy_.noteNotAsked(b, e);
        lost += e - b;
        from = e;
    }
    held(to);
    return lost;
}

std::optional<MediumReader::Progress> MediumReader::readOn(const Request& r, std::uint64_t at, std::uint64_t to) {
    const MediumMap& map = policy_.map();
    const std::vector<MediumMap::Run> known = map.runsIn(at, to - at);
    if (!known.empty() && known.front().begin == at) {
        // What is known to be unreadable reads as zeros: what failed is never
        // asked again, and what a walk stepped over only a save's scrape asks.
        const std::uint64_t runEnd = known.front().end;
        r.zero(at, runEnd);
        return Progress{runEnd - at, runEnd};
    }
    const std::uint64_t fresh = known.empty() ? to : known.front().begin;
    if (map.readPastTheCache(at)) {
        const std::uint64_t pageSectors = map.pageSectors();
        return readPastTheCache(r, at, std::min(fresh, at - at % pageSectors + pageSectors));
    }
    return readThroughTheCache(r, at, map.throughTheCacheTo(at, fresh));
}

std::optional<MediumReader::Progress> MediumReader::readThroughTheCache(const Request& r, std::uint64_t at,
                                                                        std::uint64_t to) {
    const MediumDevice::Outcome got =
        device_.readSectors(r.asker, at, static_cast<std::int32_t>(to - at), r.at(at), Way::ThroughTheCache);
    if (MediumDevice::answered(got.answer)) return Progress{0, to};
    if (got.answer == Answer::Hopeless) return std::nullopt;
    // The cache answered up to the page that failed, which is never read
    // through it again: its bad sector is looked for from there, past the
    // cache, and may lie in a neighbour's part of the page. (A device that
    // fails a request whole tells less: it is looked for from the request's
    // first sector on.)
    const std::uint64_t from = at + std::min(got.sectorsBefore, to - at);
    policy_.map().addFailedPage(from);
    // Asked again through the cache, the page could only fail again.
    if (!device_.readsPastTheCache()) return passStretch(r, from, to);
    return readPastTheCache(r, from, to, true);
}

std::optional<MediumReader::Progress> MediumReader::readPastTheCache(const Request& r, std::uint64_t at,
                                                                     std::uint64_t to, bool failedThroughTheCache) {
    // Sectors [from, end) each alone, up to the first that fails, whose
    // stretch is walked: nothing when none fails, else the step (itself
    // nothing when the medium has gone).
    const auto eachAlone = [&](std::uint64_t from, std::uint64_t end) -> std::optional<std::optional<Progress>> {
        for (std::uint64_t s = from; s < end; ++s) {
            const MediumDevice::Outcome got = device_.readSectors(r.asker, s, 1, r.at(s), Way::PastTheCache);
            if (MediumDevice::answered(got.answer)) continue;
            if (got.answer == Answer::Hopeless) return std::optional<Progress>();
            if (failedThroughTheCache) policy_.map().addFailedPage(s);
            // The first bad sector: its stretch is walked, not read.
            return passStretch(r, s, to);
        }
        return std::nullopt;
    };
    const std::uint64_t pageSectors = policy_.map().pageSectors();
    const std::uint64_t pageEnd = std::min(to, at - at % pageSectors + pageSectors);
    const std::uint64_t end = failedThroughTheCache ? pageEnd : to;
    if (const auto step = eachAlone(at, end)) return *step;
    if (end == to) return Progress{0, to};
    // The page the cache stopped at answers past it: the device failed the
    // request whole, and its bad sector lies further on. The rest is read
    // past the cache in pieces, and the piece that fails each sector alone.
    for (std::uint64_t piece = end; piece < to;) {
        const std::uint64_t n = std::min(kPieceSectors, to - piece);
        const MediumDevice::Outcome got =
            device_.readSectors(r.asker, piece, static_cast<std::int32_t>(n), r.at(piece), Way::PastTheCache);
        if (got.answer == Answer::Hopeless) return std::nullopt;
        if (!MediumDevice::answered(got.answer))
            if (const auto step = eachAlone(piece, piece + n)) return *step;
        piece += n;
    }
    return Progress{0, to};
}

std::optional<MediumReader::Progress> MediumReader::passStretch(const Request& r, std::uint64_t failed,
                                                                std::uint64_t to) {
    std::vector<std::uint8_t> after(static_cast<std::size_t>(r.bps));
    bool endRead = false;
    const std::optional<ReadFailurePolicy::Stretch> stretch = walkStretch(r.asker, failed, after.data(), endRead);
    if (!stretch) return std::nullopt;
    const std::uint64_t stop = std::min(stretch->end, to);
    r.zero(failed, stop);
    // "Could not be read" only of what a read asked for: the walk stepped
    // over the rest.
    const std::uint64_t sectors = stretch->end - failed, asked = policy_.map().failedIn(failed, sectors);
    if (asked >= sectors)
        platform::logFormat("Sectors %llu to %llu of %@ could not be read: they are unreadable and taken as zeros",
                            static_cast<unsigned long long>(failed), static_cast<unsigned long long>(stretch->end - 1),
                            device_.name());
    else
        platform::logFormat("Sectors %llu to %llu of %@ are taken as zeros: %llu of them could not be read, and the "
                            "walk over the bad area stepped over the other %llu, which were not read",
                            static_cast<unsigned long long>(failed), static_cast<unsigned long long>(stretch->end - 1),
                            device_.name(), static_cast<unsigned long long>(asked),
                            static_cast<unsigned long long>(sectors - asked));
    // The sector that ended the stretch has been read already, unless the
    // walk's last answer came from elsewhere; then it is read with what
    // follows.
    if (!stretch->answeredAfter || stop == to || stop != stretch->end || !endRead) return Progress{stop - failed, stop};
    std::memcpy(r.at(stop), after.data(), after.size());
    return Progress{stop - failed, stop + 1};
}

std::optional<ReadFailurePolicy::Stretch> MediumReader::walkStretch(Asker asker, std::uint64_t failed,
                                                                    std::uint8_t* endSector, bool& endRead) {
    std::vector<std::uint8_t> one(device_.sectorBytes());
    // The sector whose bytes the walk's last answer holds: they are the
    // stretch end's only when that sector ends it.
    std::optional<std::uint64_t> held;
    const auto ask = [&](std::uint64_t at) {
        const Probe p = probe(asker, at, one.data(), Way::PastTheCache);
        if (ReadFailurePolicy::answered(p)) {
            std::memcpy(endSector, one.data(), one.size());
            held = at;
        }
        return p;
    };
    const std::uint64_t liveBefore = policy_.liveAnswers();
    // A scan's readers read round whatever any of them stepped over, and a
    // size calculator or a catalog read may walk into a bad area ahead of
    // the sweep: every walk of a scan comes back over its stretch as far as
    // the policy asks, whichever reader walked it.
    std::optional<ReadFailurePolicy::Stretch> stretch = policy_.walk(failed, ask, MediumDevice::scans(asker));
    endRead = stretch && held == stretch->end;
    if (!stretch) return std::nullopt;
    // Every walk is followed by the one verdict: a scan on a disk that has
    // stopped goes on with what the cache holds, a save ends its part. A
    // stretch that ran to the medium's end on a disk that answers is come
    // back over before it is taken for a bad end.
    switch (policy_.judge(stretch, failed, liveBefore, asking(asker))) {
    case ReadFailurePolicy::Verdict::Answers:
        if (stretch->unansweredToTheEnd) {
            stretch = policy_.comeBackToTheEnd(std::move(*stretch), failed, ask);
            endRead = stretch && held == stretch->end;
        }
        return stretch;
    case ReadFailurePolicy::Verdict::Stopped:
        tellStopped(asker);
        if (MediumDevice::scans(asker)) return stretch;
        break;
    case ReadFailurePolicy::Verdict::Gone:
        break;
    }
    return std::nullopt;
}

ReadFailurePolicy::Probe MediumReader::probe(Asker asker, std::uint64_t sector, std::uint8_t* into, Way way) {
    return probeOf(device_.readSectors(asker, sector, 1, into, way).answer);
}

ReadFailurePolicy::Asking MediumReader::asking(Asker asker) {
    // What a judgement reads is written nowhere, and asked of the medium
    // past every cache: what any cache holds tells nothing of the disk.
    // Where there is no such way, it is asked past the page cache, the
    // caches below it having let go of the place first where they can.
    auto one = std::make_shared<std::vector<std::uint8_t>>(device_.sectorBytes());
    const bool pastEveryCache = device_.readsPastEveryCache();
    policy_.setCacheOnly(!pastEveryCache);
    if (!toldTheEvidence_.exchange(true, std::memory_order_acq_rel)) {
        if (pastEveryCache && device_.unseenBelow())
            platform::logFormat("%@ lies on a file system the program cannot look below, which answers O_DIRECT "
                                "itself: the verdict on whether it still answers rests on places that read before "
                                "no longer answering so, and whatever that file system caches is not known",
                                device_.name());
        else if (pastEveryCache)
            platform::logFormat("%@ is asked past every cache: the verdict on whether it still answers rests on "
                                "places that read before no longer answering there",
                                device_.name());
        else
            platform::logFormat("%@ cannot be asked past every cache: the verdict on whether it still answers rests "
                                "on its answers where no read had reached, and on places that read before no longer "
                                "answering once the caches that can be let go of have let go of them",
                                device_.name());
    }
    // There, zeros may be a hole of a file on the way, which answers without
    // any disk: they are taken as the page cache's answer, data and no
    // evidence.
    ReadFailurePolicy::Asking ways{[this, asker, one, pastEveryCache](std::uint64_t at) {
                                       const Probe p = probe(asker, at, one->data(), Way::ToTheMedium);
                                       if (pastEveryCache || p != Probe::Answered ||
                                           std::any_of(one->begin(), one->end(), [](std::uint8_t b) { return b != 0; }))
                                           return p;
                                       return Probe::FromTheCache;
                                   },
                                   pastEveryCache, nullptr};
    if (!pastEveryCache) ways.letGo = [this](const std::vector<std::uint64_t>& places) { device_.letCachesGo(places); };
    return ways;
}

void MediumReader::tellStopped(Asker asker) {
    // Once a save, or a scan, however many of its readers meet the verdict.
    std::atomic<bool>& told = asker == Asker::Save ? toldTheSave_ : toldTheScan_;
    if (told.exchange(true, std::memory_order_acq_rel)) return;
    if (asker == Asker::Save)
        platform::logFormat("%@ no longer answers; the save of it takes only what the system's cache holds",
                            device_.name());
    else
        platform::logFormat("%@ no longer answers from sector %llu on; the scan of it reads only what the system's "
                            "cache holds",
                            device_.name(), static_cast<unsigned long long>(policy_.stoppedAt()));
    device_.tellStopped(asker == Asker::Save ? Asker::Save : Asker::Scan);
}

void MediumReader::beginSave() {
    toldTheSave_.store(false, std::memory_order_release);
    // It may have come back since it was judged stopped.
    if (policy_.stopped() && policy_.askAgain(asking(Asker::Save)) == ReadFailurePolicy::Verdict::Stopped)
        tellStopped(Asker::Save);
}

void MediumReader::beginScan() {
    toldTheScan_.store(false, std::memory_order_release);
    if (policy_.stopped() && policy_.askAgain(asking(Asker::Scan)) == ReadFailurePolicy::Verdict::Stopped)
        tellStopped(Asker::Scan);
}

bool MediumReader::scrapeAskFailed(std::uint64_t at, std::uint64_t liveBefore) {
    std::uint32_t failed = 0;
    {
        std::lock_guard lock(scrapeMutex_);
        failed = ++scrapeFailedInARow_;
    }
    if (failed % kScrapeFailuresJudged != 0) return true;
    // A save from a disk that has stopped would write nothing but zeros
    // from here on; a live disk with a bad area is saved to the end.
    switch (policy_.judge(std::nullopt, at, liveBefore, asking(Asker::Save))) {
    case ReadFailurePolicy::Verdict::Answers:
        return true;
    case ReadFailurePolicy::Verdict::Stopped:
        tellStopped(Asker::Save);
        break;
    case ReadFailurePolicy::Verdict::Gone:
        break;
    }
    return false;
}

void MediumReader::scrapeAskAnswered() {
    std::lock_guard lock(scrapeMutex_);
    scrapeFailedInARow_ = 0;
    denseRowFailed_ = 0;
}

bool MediumReader::scrape(std::uint64_t sector, std::uint64_t end, const Take& take, const Asked& asked,
                          const Stop& stop) {
    MediumMap& map = policy_.map();
    const std::uint64_t bps = device_.sectorBytes();
    const std::uint64_t pageSectors = map.pageSectors();
    const std::uint64_t gridSectors = std::max<std::uint64_t>(kScrapeGridBytes / bps, 1);
    const std::uint64_t denseSectors = std::min(kScrapeSectors, gridSectors);
    // Room for what is read between two asks, and the sector `base` its
    // first byte is of: a readable run is read back from an ask at most to
    // the ask before, and on in steps of kScrapeSectors, each handed over as
    // it is read.
    const std::uint64_t room = gridSectors + kScrapeSectors + 1;
    std::vector<std::uint8_t> scratch(static_cast<std::size_t>(room * bps));
    std::uint64_t base = sector;
    const auto into = [&](std::uint64_t at) { return scratch.data() + (at - base) * bps; };
    // Sectors [first, last] into their place, past the page cache: the cache
    // fails a page whole for one bad sector.
    const auto read = [&](std::uint64_t first, std::uint64_t last) {
        return device_
            .readSectors(Asker::Save, first, static_cast<std::int32_t>(last + 1 - first), into(first),
                         Way::PastTheCache)
            .answer;
    };
    const auto failed = [&](std::uint64_t at) { map.addFailed(at); };
    // Where the readable run that holds `at`, which has just answered,
    // begins, from `from` on (no sector between known to have failed): in
    // halving steps, each a read from the step up to what has been read, so
    // a failure means a bad sector there whatever lies before it. The run's
    // sectors are read, and the one before it, if it lies from `from` on,
    // failed.
    const auto runBegins = [&](std::uint64_t from, std::uint64_t at) -> std::optional<std::uint64_t> {
        std::uint64_t first = from, begins = at;
        while (first < begins) {
            const std::uint64_t step = first + (begins - first) / 2;
            const Answer a = read(step, begins - 1);
            if (a == Answer::Hopeless) return std::nullopt;
            if (MediumDevice::answered(a))
                begins = step;
            else
                first = step + 1;
        }
        if (begins > from) failed(begins - 1);
        return begins;
    };
    // Where the readable run from `at`, which has just answered, ends, up to
    // `to` (no sector between known to have failed): read on in steps of
    // kScrapeSectors, and the step that fails in halving steps from its
    // first sector; the sector that ends it failed. What reads is handed
    // over step by step.
    const auto runEnds = [&](std::uint64_t at, std::uint64_t to) -> std::optional<std::uint64_t> {
        for (std::uint64_t next = at + 1; next < to;) {
            const std::uint64_t stepEnd = std::min(next + kScrapeSectors, to);
            base = next;
            Answer a = read(next, stepEnd - 1);
            if (a == Answer::Hopeless) return std::nullopt;
            if (MediumDevice::answered(a)) {
                take(next, stepEnd - next, into(next));
                next = stepEnd;
                continue;
            }
            // The first bad sector lies in [next, last].
            for (std::uint64_t last = stepEnd - 1; next < last;) {
                const std::uint64_t step = next + (last - next) / 2;
                a = read(next, step);
                if (a == Answer::Hopeless) return std::nullopt;
                if (MediumDevice::answered(a)) {
                    take(next, step + 1 - next, into(next));
                    next = step + 1;
                } else {
                    last = step;
                }
            }
            failed(next);
            return next;
        }
        return to;
    };
    const std::uint64_t liveBefore = policy_.liveAnswers();
    // `at` of the stepped-over run [begin, to), which has just answered: the
    // readable run around it is read to its edges, from `from` on, and
    // `from` moves past it.
    const auto readAround = [&](std::uint64_t at, std::uint64_t& from, std::uint64_t to) {
        scrapeAskAnswered();
        const std::optional<std::uint64_t> begins = runBegins(from, at);
        if (!begins) return false;
        take(*begins, at + 1 - *begins, into(*begins));
        const std::optional<std::uint64_t> ends = runEnds(at, to);
        if (!ends) return false;
        from = *ends + 1;
        return true;
    };
    // One ask at `at` of a stepped-over run that ends at `to` and whose
    // readable sectors may begin at `from`. Every ask that fails counts
    // towards the judgement, in a row across the files of the save: a file
    // lying wholly where the disk died costs its first asks, and a few dozen
    // such files no more than one large one. The asks at the places of the
    // lattice are `counted` towards asking only once in every
    // kScrapeGridBytes; the first asks into a run are not. A sector known to
    // have failed is not asked again, so a second file over an area asked
    // before costs nothing there.
    enum class Asked { Answered, Failed, Gone };
    const auto ask = [&](std::uint64_t at, std::uint64_t& from, std::uint64_t to, bool counted = false) {
        const std::optional<MediumMap::Run> known = map.runAt(at);
        if (known && known->failed()) {
            from = std::max(from, at + 1);
            return Asked::Failed;
        }
        // Read back no further than the room holds.
        from = std::max(from, at + 1 > room - kScrapeSectors ? at + 1 - (room - kScrapeSectors) : 0);
        base = from;
        const Answer a = read(at, at);
        if (asked) asked(at);
        if (a == Answer::Hopeless) return Asked::Gone;
        if (MediumDevice::answered(a)) return readAround(at, from, to) ? Asked::Answered : Asked::Gone;
        failed(at);
        from = at + 1;
        if (counted) {
            std::lock_guard lock(scrapeMutex_);
            ++denseRowFailed_;
        }
        return scrapeAskFailed(at, liveBefore) ? Asked::Failed : Asked::Gone;
    };
    // The row of asks that failed, nothing answering between, runs on across
    // the stretches of one file: a bad area met again is asked densely only
    // where it begins. Another file begins a row of its own.
    const auto failedInARow = [&] {
        std::lock_guard lock(scrapeMutex_);
        return denseRowFailed_;
    };
    const auto stopping = [&] { return stop && stop(); };
    // A stretch that begins at a sector that failed was asked there already.
    const std::optional<MediumMap::Run> atFirst = map.runAt(sector);
    bool firstAsked = atFirst && atFirst->failed();
    for (std::uint64_t pos = sector; pos < end && !stopping();) {
        // The next stepped-over run of the stretch, as it is now: the
        // scrape's own answers split runs.
        std::optional<MediumMap::Run> next;
        for (const MediumMap::Run& run : map.runsIn(pos, end - pos)) {
            if (run.failed()) continue;
            next = run;
            break;
        }
        if (!next) break;
        const MediumMap::Run run = *next;
        // Sectors between the last run and this one were read: what answered
        // there begins a new row.
        if (map.countIn(pos, run.begin - pos) != run.begin - pos) {
            std::lock_guard lock(scrapeMutex_);
            denseRowFailed_ = 0;
        }
        pos = run.end;
        // Inside a wide bad area (asks failing in a row) the grid alone: the
        // pieces its own failures leave are asked no more densely than it.
        // The stretch's first run is asked all the same: a file is asked at
        // every stretch of its own at least once.
        const bool wide = failedInARow() >= kDenseAsksInARow;
        std::uint64_t from = run.begin;
        Asked answer = Asked::Failed;
        if (!wide || run.begin == sector || !firstAsked) {
            firstAsked = true;
            // First at the run's first sector, and, when that fails inside a
            // page, where its first whole page begins: the page cache fails a
            // page whole, and the page the run begins in may hold a bad
            // neighbour's sectors too.
            answer = ask(run.begin, from, run.end);
            const std::uint64_t wholePage = run.begin - run.begin % pageSectors + pageSectors;
            if (answer == Asked::Failed && run.begin % pageSectors != 0 && wholePage < run.end)
                answer = ask(wholePage, from, run.end);
            if (answer == Asked::Gone) return false;
        }
        // Then once in every kScrapeSectors sectors of the medium, twice as
        // far apart once kDenseAsksInARow of them fail in a row, and once in
        // every kScrapeGridBytes after kScrapeFailuresInARun more, to the
        // run's end: every island of the grid's width in the file is found,
        // and a narrower one close to what answered.
        const auto nextAsk = [&](std::uint64_t after) {
            const std::uint32_t inARow = failedInARow();
            return placeFrom(after, inARow < kDenseAsksInARow ? denseSectors
                                    : inARow < kDenseAsksInARow + kScrapeFailuresInARun
                                        ? std::min(2 * denseSectors, gridSectors)
                                        : gridSectors);
        };
        std::uint64_t tail = from;
        for (std::uint64_t at = nextAsk(from); at < run.end;) {
            if (stopping()) return true;
            answer = ask(at, from, run.end, true);
            if (answer == Asked::Gone) return false;
            tail = std::max(from, at + 1);
            at = nextAsk(answer == Asked::Answered ? from : at + 1);
        }
        // The run's tail past its last ask holds none: a readable run there,
        // shorter than kScrapeSectors, would read as zeros where a copy of
        // the disk has its bytes. It is asked in its middle, once, but inside
        // a wide bad area.
        tail = std::max(tail, from);
        if (!wide && tail < run.end && run.end - tail > 2 * pageSectors && !stopping()) {
            answer = ask(tail + (run.end - tail) / 2, from, run.end);
            if (answer == Asked::Gone) return false;
        }
        pos = std::max(pos, std::min(from, end));
        // A readable run that goes on past the stretch's end (into what a
        // walk stepped over of the next file) is found there, which the
        // stretch's own asks may not reach: it is asked for there, and the
        // run's sectors in the stretch read to its edge.
        if (run.end != end || from >= end || end >= policy_.endSector() || stopping()) continue;
        const std::optional<MediumMap::Run> past = map.runAt(end);
        if (past && past->kind != MediumMap::Kind::SteppedOver) continue;
        from = std::max(from, end + 1 > room - kScrapeSectors ? end + 1 - (room - kScrapeSectors) : 0);
        base = from;
        const Probe heard = probe(Asker::Save, end, into(end), Way::PastTheCache);
        if (heard == Probe::Gone) return false;
        if (heard == Probe::Failed) {
            map.addFailed(end);
            if (!scrapeAskFailed(end, liveBefore)) return false;
            continue;
        }
        scrapeAskAnswered();
        const std::optional<std::uint64_t> begins = runBegins(from, end);
        if (!begins) return false;
        if (*begins < end) take(*begins, end - *begins, into(*begins));
    }
    return true;
}

std::optional<std::uint64_t> MediumReader::readExamined(Asker asker, std::uint64_t sector, std::int32_t count,
                                                        std::uint8_t* buffer) {
    const std::uint64_t bps = device_.sectorBytes();
    // What the range reader refuses it answers alike here.
    if (!held_ || count <= 0 || !fits(sector, count, bps)) return readRange(asker, sector, count, buffer);
    const std::uint64_t end = sector + static_cast<std::uint64_t>(count);
    std::uint64_t lost = 0;
    for (std::uint64_t at = sector; at < end;) {
        std::uint8_t* into = buffer + (at - sector) * bps;
        const HeldSectors::Stretch held = held_->holding(at);
        if (held.count == 0 || at < held.first || at - held.first >= held.count) {
            // The held stretches run on from the batch: nothing after this
            // one is held either.
            const std::optional<std::uint64_t> rest = readRange(asker, at, static_cast<std::int32_t>(end - at), into);
            if (!rest) {
                std::memset(buffer, 0, static_cast<std::size_t>(static_cast<std::uint64_t>(count) * bps));
                return std::nullopt;
            }
            return lost + *rest;
        }
        const std::uint64_t n = std::min(end, held.first + held.count) - at;
        std::memcpy(into, held.bytes + (at - held.first) * bps, static_cast<std::size_t>(n * bps));
        lost += policy_.map().countIn(at, n);
        at += n;
    }
    return lost;
}

bool MediumReader::readRecords(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
    const std::uint64_t bps = device_.sectorBytes();
    // What no device could answer is refused as the range reader refuses it.
    if (count <= 0 || !fits(sector, count, bps)) {
        const std::optional<std::uint64_t> lost = readRange(Asker::Scan, sector, count, buffer);
        return lost && *lost == 0;
    }
    MediumMap& map = policy_.map();
    const Request r{Asker::Scan, sector, buffer, bps};
    const std::uint64_t end = sector + static_cast<std::uint64_t>(count);
    if (policy_.stopped()) return readFromTheCache(r, sector, end) == 0;
    std::uint64_t from = sector;
    if (count > 1 && map.countIn(sector, end - sector) == 0 && !map.readPastTheCache(sector) &&
        map.throughTheCacheTo(sector, end) == end) {
        const MediumDevice::Outcome got = device_.readSectors(Asker::Scan, sector, count, buffer, Way::ThroughTheCache);
        if (MediumDevice::answered(got.answer)) return true;
        if (got.answer == Answer::Hopeless) {
            r.zero(sector, end);
            return false;
        }
        from = sector + std::min(got.sectorsBefore, end - sector);
    }
    bool whole = true;
    for (std::uint64_t s = from; s < end; ++s) {
        // Never asked inside what the scan knows to be unreadable.
        if (map.runAt(s)) {
            r.zero(s, s + 1);
            whole = false;
            continue;
        }
        const MediumDevice::Outcome got = device_.readSectors(Asker::Scan, s, 1, r.at(s), Way::PastTheCache);
        if (MediumDevice::answered(got.answer)) continue;
        if (got.answer == Answer::Hopeless) {
            r.zero(s, end);
            return false;
        }
        map.addFailed(s);
        whole = false;
    }
    return whole;
}

MediumDevice::Answer MediumReader::readWhole(Asker asker, std::uint64_t sector, std::int32_t count,
                                             std::uint8_t* buffer, bool pastTheCache) {
    const std::uint64_t bps = device_.sectorBytes();
    Way way = pastTheCache ? Way::PastTheCache : Way::ThroughTheCache;
    // All of it from the page cache, or nothing, from a disk judged to have
    // stopped.
    if (policy_.stopped() && count > 0 && fits(sector, count, bps)) {
        const Request r{asker, sector, buffer, bps};
        const std::uint64_t end = sector + static_cast<std::uint64_t>(count);
        if (end <= policy_.endSector() && readFromTheCache(r, sector, end) == 0) return Answer::FromTheCache;
        r.zero(sector, end);
        return Answer::Failed;
    }
    if (count > 0 && fits(sector, count, bps)) {
        const MediumMap& map = policy_.map();
        const std::uint64_t end = sector + static_cast<std::uint64_t>(count);
        // Nothing known to fail is asked for again.
        for (const MediumMap::Run& run : map.runsIn(sector, end - sector)) {
            if (run.kind == MediumMap::Kind::SteppedOver) continue;
            std::memset(buffer, 0, static_cast<std::size_t>(static_cast<std::uint64_t>(count) * bps));
            return Answer::Failed;
        }
        // Nor a page that failed through the cache through it again.
        if (map.countIn(sector, end - sector) != 0 || map.readPastTheCache(sector) ||
            map.throughTheCacheTo(sector, end) != end)
            way = Way::PastTheCache;
    }
    const MediumDevice::Outcome got = device_.readSectors(asker, sector, count, buffer, way);
    if (got.answer != Answer::Failed) return got.answer;
    // What the failure tells of the medium is kept: the sector that failed
    // past the cache, or the page the cache answered up to. (Past the
    // medium's end nothing fails: there is nothing.)
    const std::uint64_t failedAt = sector + got.sectorsBefore;
    if (failedAt >= policy_.endSector()) return got.answer;
    if (way == Way::PastTheCache && count == 1)
        policy_.map().addFailed(sector);
    else if (way == Way::ThroughTheCache && got.sectorsBefore > 0 &&
             got.sectorsBefore < static_cast<std::uint64_t>(count))
        policy_.map().addFailedPage(failedAt);
    return got.answer;
}

void MediumReader::endSave() {
    std::lock_guard lock(scrapeMutex_);
    scrapeFailedInARow_ = 0;
    denseRowFailed_ = 0;
}

void MediumReader::beginFile() {
    std::lock_guard lock(scrapeMutex_);
    denseRowFailed_ = 0;
}
