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
// A save's scrape asks inside a run that walks stepped over at every sector
// of the medium that is a multiple of this: any readable run this long holds
// one, whatever its alignment (and, as it is a multiple of a page, one whose
// page is the run's own), and a bad area costs a failed read for each such
// length until the scrape gives it up.
constexpr std::uint64_t kScrapeSectors = 64;
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
// Asks that fail in a row inside one bad stretch, nothing in it answering
// since, after which the save gives the rest of the stretch up, as a walk
// stops: a readable run less than this many times kScrapeSectors past the
// last answer is still found, and a file lying wholly in a bad area costs its
// walks and these asks, not a failed read for each kScrapeSectors of it.
constexpr std::uint32_t kScrapeFailuresInARun = 16;
// Asks a save's scrape comes back with over a stretch it is about to give up,
// each in the middle of the widest gap its steps left.
constexpr std::uint64_t kComeBackAsks = 4;

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
    // A file's next piece goes on from the one before; what other walks
    // stepped over in it is asked into whoever's walk it was.
    const bool continuing = saving && lastSaveEnd_.exchange(end, std::memory_order_acq_rel) == sector;
    const std::vector<MediumMap::Run> before =
        saving ? policy_.map().runsIn(sector, readable - sector) : std::vector<MediumMap::Run>{};
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
    // A walk steps over readable runs shorter than its step: a save asks
    // inside what it needs of them, as a disk-rescue tool scrapes a bad area.
    if (saving && lost != 0) {
        const std::optional<std::uint64_t> got = scrape(r, readable, continuing, before);
        if (!got) {
            r.zero(sector, end);
            return std::nullopt;
        }
        lost -= std::min(lost, *got);
    }
    return lost;
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
    platform::logFormat("Sectors %llu to %llu of %@ could not be read: they are unreadable and taken as zeros",
                        static_cast<unsigned long long>(failed), static_cast<unsigned long long>(stretch->end - 1),
                        device_.name());
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
    // itself: what the page cache holds tells nothing of the disk. Nor is a
    // place asked whose page the cache holds, whoever read it: a cache below
    // the device (a loop device's file) may hold it too, and answer for a
    // disk that has stopped.
    auto one = std::make_shared<std::vector<std::uint8_t>>(device_.sectorBytes());
    const bool pastEveryCache = device_.readsPastEveryCache();
    return {[this, asker, one, pastEveryCache](std::uint64_t at) {
                if (!pastEveryCache && device_.readFromTheCache(at, 1, one->data()).empty())
                    return ReadFailurePolicy::Probe::FromTheCache;
                return probe(asker, at, one->data(), Way::ToTheMedium);
            },
            pastEveryCache};
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
}

bool MediumReader::givesUp(std::uint64_t at) {
    const MediumMap& map = policy_.map();
    std::lock_guard lock(scrapeMutex_);
    ScrapeRow& row = scrapeRow_;
    const std::optional<std::uint64_t> runEnd =
        row.failed != 0 && row.last < at ? map.runEndAt(row.last) : std::nullopt;
    const bool sameStretch = runEnd && *runEnd >= at;
    row = ScrapeRow{at, sameStretch ? row.failed + 1 : 1};
    if (row.failed < kScrapeFailuresInARun) return false;
    row.failed = 0;
    return true;
}

std::optional<std::uint64_t> MediumReader::scrape(const Request& r, std::uint64_t end, bool continuing,
                                                  const std::vector<MediumMap::Run>& before) {
    MediumMap& map = policy_.map();
    const std::uint64_t pageSectors = map.pageSectors();
    // Sectors [first, last] into their place, past the page cache: the cache
    // fails a page whole for one bad sector.
    const auto read = [&](std::uint64_t first, std::uint64_t last) {
        return device_
            .readSectors(Asker::Save, first, static_cast<std::int32_t>(last + 1 - first), r.at(first),
                         Way::PastTheCache)
            .answer;
    };
    const auto failed = [&](std::uint64_t at) {
        r.zero(at, at + 1);
        map.addFailed(at);
    };
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
    // first sector; the sector that ends it failed.
    const auto runEnds = [&](std::uint64_t at, std::uint64_t to) -> std::optional<std::uint64_t> {
        for (std::uint64_t next = at + 1; next < to;) {
            const std::uint64_t stepEnd = std::min(next + kScrapeSectors, to);
            Answer a = read(next, stepEnd - 1);
            if (a == Answer::Hopeless) return std::nullopt;
            if (MediumDevice::answered(a)) {
                next = stepEnd;
                continue;
            }
            // The first bad sector lies in [next, last].
            for (std::uint64_t last = stepEnd - 1; next < last;) {
                const std::uint64_t step = next + (last - next) / 2;
                a = read(next, step);
                if (a == Answer::Hopeless) return std::nullopt;
                if (MediumDevice::answered(a))
                    next = step + 1;
                else
                    last = step;
            }
            failed(next);
            return next;
        }
        return to;
    };
    std::uint64_t got = 0;
    const std::uint64_t liveBefore = policy_.liveAnswers();
    // `at` of the stepped-over run [begin, to), which has just answered: the
    // readable run around it is read to its edges, from `from` on, and
    // `from` moves past it.
    const auto readAround = [&](std::uint64_t at, std::uint64_t& from, std::uint64_t to) {
        scrapeAskAnswered();
        const std::optional<std::uint64_t> begins = runBegins(from, at);
        const std::optional<std::uint64_t> ends = begins ? runEnds(at, to) : std::nullopt;
        if (!ends) return false;
        got += *ends - *begins;
        from = *ends + 1;
        return true;
    };
    // One ask at `at` of a stepped-over run that ends at `to` and whose
    // readable sectors may begin at `from`. Every ask that fails counts
    // towards the judgement, in a row across the files of the save: a file
    // lying wholly where the disk died costs its first asks, and a few dozen
    // such files no more than one large one. The asks at every
    // kScrapeSectors-th sector are `counted` towards giving the stretch up;
    // the first asks into a run, one or two a run, are not.
    enum class Asked { Answered, Failed, GaveUp, Gone };
    const auto ask = [&](std::uint64_t at, std::uint64_t& from, std::uint64_t to, bool counted) {
        const std::optional<MediumMap::Run> known = map.runAt(at);
        const Answer a = known && known->failed() ? Answer::Failed : read(at, at);
        if (a == Answer::Hopeless) return Asked::Gone;
        if (MediumDevice::answered(a)) return readAround(at, from, to) ? Asked::Answered : Asked::Gone;
        failed(at);
        from = at + 1;
        if (!scrapeAskFailed(at, liveBefore)) return Asked::Gone;
        if (!counted) return Asked::Failed;
        return givesUp(at) ? Asked::GaveUp : Asked::Failed;
    };
    // Given up asking densely at `at`, which failed: on through the rest of
    // its bad stretch in doubling steps, as a walk goes, and what they step
    // over with nothing answering is given up for this save. An answer in the
    // read is read around, `from` past it; one past the read is left to the
    // read after. True when an answer in the read brings the scrape back
    // there; nothing when the medium has gone.
    std::vector<std::uint8_t> one(static_cast<std::size_t>(r.bps));
    // The last giving up found the disk answering past the read's end.
    bool answeredPastTheRead = false;
    const auto stepOn = [&](std::uint64_t at, std::uint64_t& from) -> std::optional<bool> {
        answeredPastTheRead = false;
        const std::uint64_t stretchEnd = map.runEndAt(at).value_or(at + 1);
        // The sectors of the stretch asked that failed, in order.
        std::vector<std::uint64_t> failedAt{at};
        // What one ask at `p` heard; a failure joins the map and the row.
        const auto askAt = [&](std::uint64_t p) -> std::optional<Probe> {
            const std::optional<MediumMap::Run> known = map.runAt(p);
            if (known && known->failed()) return Probe::Failed;
            const Probe heard = p < end ? probeOf(read(p, p)) : probe(Asker::Save, p, one.data(), Way::PastTheCache);
            if (heard == Probe::Gone) return std::nullopt;
            if (heard == Probe::Failed) {
                if (p < end) r.zero(p, p + 1);
                map.addFailed(p);
                if (!scrapeAskFailed(p, liveBefore)) return std::nullopt;
            }
            return heard;
        };
        // `p` answered: what lies before it up to the last sector that failed
        // is given up, and the readable run around it, when it lies in the
        // read, read to its edges; the scrape goes on from there.
        const auto answeredAt = [&](std::uint64_t p, const std::optional<MediumMap::Run>& run) -> std::optional<bool> {
            std::uint64_t last = at;
            for (const std::uint64_t f : failedAt)
                if (f < p) last = std::max(last, f);
            map.giveUp(at, last + 1);
            if (p >= end) {
                // Past the read: a readable run from before its end on is
                // looked for there, as at any read's end.
                answeredPastTheRead = last + 1 < end;
                return false;
            }
            from = std::max(last + 1, run ? run->begin : p);
            if (!readAround(p, from, std::min(run ? run->end : p + 1, end))) return std::nullopt;
            std::lock_guard lock(scrapeMutex_);
            scrapeRow_ = {};
            return true;
        };
        std::uint64_t last = at;
        for (std::uint64_t step = 2 * kScrapeSectors;; step = platform::saturatingMul(step, 2)) {
            const std::uint64_t p = platform::saturatingAdd(last, step);
            const std::optional<MediumMap::Run> known = p < stretchEnd ? map.runAt(p) : std::nullopt;
            if (!known || known->kind == MediumMap::Kind::GivenUp) {
                // Before it is given up, the stretch is come back over where
                // the steps left it widest, a few asks as a walk comes back: a
                // readable run between bad ones that the steps jumped is read,
                // as a copy of the disk has it, and the scrape goes on there.
                const std::uint64_t limit = known ? p : stretchEnd;
                for (std::uint64_t asked = 0; asked < kComeBackAsks; ++asked) {
                    std::uint64_t widestFrom = 0, width = 0;
                    for (std::size_t i = 0; i < failedAt.size(); ++i) {
                        const std::uint64_t to = i + 1 < failedAt.size() ? failedAt[i + 1] : limit;
                        if (to > failedAt[i] && to - failedAt[i] > width) {
                            widestFrom = failedAt[i];
                            width = to - failedAt[i];
                        }
                    }
                    if (width <= 2 * kScrapeSectors) break;
                    const std::uint64_t middle = widestFrom + width / 2;
                    // The run that holds it as it was before the ask, whose
                    // answer takes the sector out of it.
                    const std::optional<MediumMap::Run> run = map.runAt(middle);
                    const std::optional<Probe> heard = askAt(middle);
                    if (!heard) return std::nullopt;
                    if (*heard != Probe::Failed) return answeredAt(middle, run);
                    failedAt.insert(std::upper_bound(failedAt.begin(), failedAt.end(), middle), middle);
                }
                map.giveUp(at, limit);
                return false;
            }
            const std::optional<Probe> heard = askAt(p);
            if (!heard) return std::nullopt;
            if (*heard == Probe::Failed) {
                last = p;
                failedAt.push_back(p);
                continue;
            }
            return answeredAt(p, known);
        }
    };
    // Not past where a stretch of this save's own walks runs on into the
    // disk's bad end: a disk that answers elsewhere, come back over there in
    // vain.
    const std::uint64_t badEnd = policy_.badEndFrom();
    const std::uint64_t scrapedTo = std::min(end, badEnd);
    const auto firstAsked = [](std::uint64_t from) {
        return (from + kScrapeSectors - 1) / kScrapeSectors * kScrapeSectors;
    };
    for (std::uint64_t pos = r.sector; pos < end;) {
        // The next run of the read that is stepped over or given up, as it is
        // now: the scrape's own answers split runs, and its giving up joins
        // them.
        std::optional<MediumMap::Run> next;
        for (const MediumMap::Run& run : map.runsIn(pos, end - pos)) {
            if (run.failed()) continue;
            next = run;
            break;
        }
        if (!next) break;
        const MediumMap::Run run = *next;
        pos = run.end;
        // What other walks stepped over is asked into where the read meets
        // it; what this read's own walks stepped over, not past where the
        // disk's bad end begins. A run this save gave up on only where a
        // read that does not go on from the one before it (another file's)
        // begins: that file may lie on an island.
        const bool givenUp = run.kind == MediumMap::Kind::GivenUp;
        const bool others = std::any_of(before.begin(), before.end(), [&](const MediumMap::Run& known) {
            return !known.failed() && known.begin <= run.begin && run.begin < known.end;
        });
        if (givenUp ? continuing || run.begin != r.sector : !others && run.begin >= scrapedTo) continue;
        // First at the run's first sector in the read, and, when that fails
        // inside a page, where its first whole page begins: the page cache
        // fails a page whole, and the page the run begins in may hold a bad
        // neighbour's sectors too.
        std::uint64_t from = run.begin;
        Asked asked = ask(run.begin, from, run.end, false);
        const std::uint64_t wholePage = run.begin - run.begin % pageSectors + pageSectors;
        if (asked == Asked::Failed && run.begin % pageSectors != 0 && wholePage < run.end)
            asked = ask(wholePage, from, run.end, false);
        if (asked == Asked::Gone) return std::nullopt;
        if (givenUp) continue;
        // Then at every kScrapeSectors-th sector of the medium; after enough
        // of them fail in a row, in doubling steps.
        bool gaveUp = false;
        for (std::uint64_t at = firstAsked(from); at < std::min(run.end, scrapedTo);) {
            asked = ask(at, from, run.end, true);
            if (asked == Asked::Gone) return std::nullopt;
            if (asked == Asked::GaveUp) {
                const std::optional<bool> back = stepOn(at, from);
                if (!back) return std::nullopt;
                gaveUp = !*back;
                if (gaveUp || from > run.end) break;
            }
            at = asked == Asked::Failed ? at + kScrapeSectors : firstAsked(from);
        }
        // The run's tail past its last multiple of kScrapeSectors holds no
        // ask: a walk that stepped on past the read's end left it unasked,
        // and a readable run there, shorter than kScrapeSectors, would read
        // as zeros where a copy of the disk has its bytes. It is asked in its
        // middle, once.
        const std::uint64_t tailEnd = std::min(run.end, scrapedTo);
        const std::uint64_t tail =
            std::max(from, tailEnd == 0 ? 0 : (tailEnd - 1) / kScrapeSectors * kScrapeSectors + 1);
        if (!gaveUp && tail < tailEnd && tailEnd - tail > 2 * pageSectors) {
            asked = ask(tail + (tailEnd - tail) / 2, from, run.end, false);
            if (asked == Asked::Gone) return std::nullopt;
        }
        pos = std::max(pos, std::min(from, end));
        // A readable run that goes on past the read's end is found there by
        // the read after, which cannot go back: it is asked for here, so the
        // run's sectors in this read are read to its edge too.
        if ((gaveUp && !answeredPastTheRead) || run.end != end || from >= end || end >= policy_.endSector() ||
            end >= badEnd)
            continue;
        const std::optional<MediumMap::Run> past = map.runAt(end);
        if (past && past->kind != MediumMap::Kind::SteppedOver) continue;
        const Probe heard = probe(Asker::Save, end, one.data(), Way::PastTheCache);
        if (heard == Probe::Gone) return std::nullopt;
        if (heard == Probe::Failed) {
            map.addFailed(end);
            givesUp(end);
            if (!scrapeAskFailed(end, liveBefore)) return std::nullopt;
            continue;
        }
        scrapeAskAnswered();
        const std::optional<std::uint64_t> begins = runBegins(from, end);
        if (!begins) return std::nullopt;
        got += end - *begins;
    }
    return got;
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
    policy_.map().endSave();
    lastSaveEnd_.store(UINT64_MAX, std::memory_order_release);
    std::lock_guard lock(scrapeMutex_);
    scrapeRow_ = {};
    scrapeFailedInARow_ = 0;
}
