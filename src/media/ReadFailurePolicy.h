#pragma once

// What a failing medium may cost and when it counts as gone, for every pass
// over it (the scans' and the save's alike), and the one map of the medium
// that the medium's reader asks (see MediumMap and MediumReader).
//
// A dying disk spends seconds on each failed read, so a bad stretch is never
// read sector by sector: from its first failing sector a walk skips ahead
// with a step that doubles at each failure, and once a sector answers it
// steps back in halving steps to where the stretch ends. The sectors between
// that were not asked for are stepped over, not failed: a stretch costs the
// logarithm of its length, one bad sector only itself, and a disk that dies
// part-way a few dozen reads to reach its end. A scan's walk comes back over
// a stretch that ended with an answer, a few asks in the widest gaps its
// steps left, so a readable island a sizeable part of a bad area wide is
// found wherever it lies; no reader of the scan asks inside the stretch
// again.
//
// What proves the disk alive is decided here alone, on evidence only: an
// answer read past every cache (see noteAnswer). An answer any cache may
// have given (the page cache, or a loop device's file's) is data for the
// file, never evidence about the disk, wherever it lies.
//
// Whether the disk still answers is one verdict, kept here for every pass
// (see judge). A disk has stopped only when places that read before, in
// this process, no longer answer when asked past every cache: failures at
// places never read, or inside an area known bad, however many, never make
// that verdict, and one answer past every cache anywhere unmakes it. Judged
// stopped, it stays so for every pass until a save or a scan that begins
// asks again and it answers (see askAgain); meanwhile the readers take only
// what the page cache holds. A medium that cannot be asked past every cache
// (a cache lies under every way down to it) is judged on weaker evidence:
// an answer where no read had reached, nor a cache's read-ahead next to
// one, or a page split between answers and failures, which no cache makes,
// proves it alive (zeros do not: a hole of a file on the way gives them
// without any disk); a walk without it asks places that read before again,
// the caches the program can let go of having let go of them, and only their
// failing, and then that of places never read, proves it stopped. Failures at places never read, or inside a
// run found bad, are what a damaged disk shows too, and an answer a cache
// that could not be let go of may have given tells nothing: where the
// evidence cannot tell, the disk is read on. A medium is gone when the
// device says so (ENODEV, ENXIO) or has left the drive lists.

#include "media/MediumMap.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class ReadFailurePolicy {
public:
    ReadFailurePolicy();

    // What the device said to one ask of a single sector: failed; gone; the
    // page cache held it (its bytes, and nothing about the disk); the device
    // answered, or answered past every cache.
    enum class Probe { Failed, Gone, FromTheCache, Answered, AnsweredPastEveryCache };
    static bool answered(Probe p) { return p >= Probe::FromTheCache; }
    using ProbeSector = std::function<Probe(std::uint64_t sector)>;

    static bool errorMeansGone(int error);

    // The medium's extent, from the device's own size, and the sectors of a
    // memory page, taken once.
    void layOut(std::uint64_t mediumBytes, std::uint32_t sectorBytes, std::uint64_t pageBytes);
    std::uint64_t endSector() const { return endSector_.load(std::memory_order_acquire); }

    MediumMap& map() { return map_; }
    const MediumMap& map() const { return map_; }

    // The stretch that begins with `failed`, which has just failed past the
    // cache: its end (the first sector after it that answers, or the
    // medium's end), whether a sector after it answered at all, and whether
    // the walk ran to the medium's end with nothing but a cache answering:
    // no ask answered past every cache nor where nothing may have read
    // before, and the stretch reaches the part near the medium's end that
    // anything may have read. Sectors the map knows to be unreadable are
    // passed over without being asked for; the sectors probed that failed
    // join it as failed, the rest of the stretch as stepped over. With
    // `comeBack` (a scan's walks), a stretch that ended with an answer that
    // proves the disk alive is come back over, a few asks at the most, each
    // in the middle of the widest gap wider than kComeBackBytes left between
    // its sectors that failed, and the first sector that answers there ends
    // the stretch where its readable run begins. A walk whose only answers
    // came from places anything may have read before (a read of this medium,
    // or a probe of what it holds near either end, which a cache may hold)
    // or from the page cache is not come back over. Nothing when a probe
    // found the medium gone.
    struct Stretch {
        std::uint64_t end = 0;
        bool answeredAfter = false;
        bool unansweredToTheEnd = false;
        // The sectors the walk asked for that failed, its first among them.
        std::vector<std::uint64_t> failed;
    };
    static constexpr std::uint64_t kComeBackBytes = 1u << 20;
    std::optional<Stretch> walk(std::uint64_t failed, const ProbeSector& probe, bool comeBack = false);

    // A walk ran to the medium's end with nothing but a cache answering, and
    // the disk answers elsewhere: the stretch from `failed` is come back
    // over, a few asks as a scan's walk comes back, up to a bad end found
    // before. An island ends the stretch where it begins; none makes the
    // stretch the disk's bad end (see badEndFrom). Nothing when a probe found
    // the medium gone.
    std::optional<Stretch> comeBackToTheEnd(Stretch stretch, std::uint64_t failed, const ProbeSector& probe);
    // Where a stretch that runs to the medium's end on a disk that still
    // answers, come back over in vain, begins: later walks come back over it
    // no further (UINT64_MAX: none).
    std::uint64_t badEndFrom() const { return badEndFrom_.load(std::memory_order_acquire); }
    // A scan begins afresh: the map but for the places read, and the bad end.
    void forget();

    // --- the verdict: does the disk still answer? ---
    // How a judgement asks: one sector of the medium past every cache, and
    // whether the device has such a way at all (a disk or an image file read
    // with O_DIRECT, a loop device by its file read so).
    struct Asking {
        ProbeSector ask;
        bool pastEveryCache = false;
        // Where there is no such way: lets the caches the program can let go
        // of go of what they hold of the places about to be asked, and of
        // all below the device (none when nothing can be let go of).
        std::function<void(const std::vector<std::uint64_t>& places)> letGo;
    };
    // What a judgement found: the disk answers; it has stopped (the readers
    // take only what the page cache holds from now on); the device has gone.
    enum class Verdict { Answers, Stopped, Gone };
    // Asked by every pass after each stretch it walked (`walked`, whose walk
    // began with liveAnswers() at `liveBefore`), and by a save after a row of
    // its scrape's asks failed (no stretch). An answer past every cache since
    // the walk began, and since the last judgement, keeps the disk, unless
    // the walk ran to the medium's end with nothing but a cache answering.
    // Otherwise it asks, past every cache: places that read before; only
    // when all of them fail, a few places no read has reached and where a
    // save still has to read (see setStillToRead), any of which answering
    // keeps it too. It has stopped at `where` (the stretch's first sector,
    // or the scrape's ask) only when places that read before were asked and
    // none answered. Places never read that fail join the map.
    // Where the medium cannot be asked past every cache, the evidence is as
    // the header says, and the places are asked past the page cache once
    // the caches the program can let go of have let go of them: an answer of
    // the medium (not zeros where no read had reached, which a hole of a file
    // on the way gives without any disk) keeps it.
    Verdict judge(const std::optional<Stretch>& walked, std::uint64_t where, std::uint64_t liveBefore,
                  const Asking& asking);
    // Whether the medium is known to have no way past every cache: from
    // then on liveAnswers() counts the weaker evidence too.
    void setCacheOnly(bool cacheOnly) { cacheOnly_.store(cacheOnly, std::memory_order_release); }
    bool cacheOnly() const { return cacheOnly_.load(std::memory_order_acquire); }
    // A save or a scan begins on a medium judged stopped: it may have come
    // back. Asked as above; the verdict stands until an answer. Answering,
    // what it failed and stepped over since it last answered is given back.
    Verdict askAgain(const Asking& asking);
    bool stopped() const { return stopped_.load(std::memory_order_acquire); }
    // Sectors [first, end) were not asked for, as the disk has stopped: the
    // page cache did not hold them. Unreadable for now; a disk that answers
    // again is asked there, as past where it stopped.
    void noteNotAsked(std::uint64_t first, std::uint64_t end);
    // The sector where the disk was judged to have stopped.
    std::uint64_t stoppedAt() const { return stoppedAt_.load(std::memory_order_acquire); }

    // Where a save still has to read, for as long as it runs (nullptr when
    // none): the sectors of the files it saves next, in the order it saves
    // them, each file's as runs [first, end) in the order it reads them. The
    // first sector of each that no read has reached, nor a cache next to
    // one, is the disk's own to answer: a disk that holds readable files in
    // a bad area answers there, one that has stopped behind a cache does not.
    using SectorRuns = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    using StillToRead = std::function<std::vector<SectorRuns>()>;
    void setStillToRead(StillToRead stillToRead);

    // Where an answer came from: the page cache; the medium, through a cache
    // of its own or of what lies below it; or the medium past every cache.
    enum class Source { PageCache, Medium, PastEveryCache };
    // Bytes [offset, offset + length) answered from `source`: the place is
    // read, and, unless the page cache gave it, one that read before; one
    // read past every cache proves the disk alive.
    void noteAnswer(std::uint64_t offset, std::uint64_t length, Source source);
    // A read of the medium has failed (`noteFailure`), or the map knows some
    // place of it unreadable: only then is a save's answer's source weighed,
    // as only then is the disk judged.
    void noteFailure() { failed_.store(true, std::memory_order_release); }
    bool hasFailed() const { return failed_.load(std::memory_order_acquire) || map_.count() != 0; }
    // What a read of sectors of one memory page got from the medium,
    // answered or failed, not from the page cache: a page split between
    // answers and failures is one no cache made.
    void notePageRead(std::uint64_t sector, std::uint64_t count, bool answered);
    // Answers so far that prove the disk alive: read past every cache, and,
    // on a medium that cannot be asked so, the weaker evidence.
    std::uint64_t liveAnswers() const {
        const std::uint64_t past = diskAnswers_.load(std::memory_order_acquire);
        if (!cacheOnly()) return past;
        return past + freshAnswers_.load(std::memory_order_acquire) + splitPages_.load(std::memory_order_acquire);
    }

private:
    // Places no read has reached, spread over the medium, away from sectors
    // known to be unreadable; none when no such place is left.
    std::vector<std::uint64_t> placesElsewhere(std::uint64_t placesAsked);
    // Places that answered a read of this program from the medium, the
    // latest first and then spread over the medium, each in a page of its
    // own, none known to be unreadable since.
    std::vector<std::uint64_t> placesReadBefore(std::uint64_t placesAsked) const;
    // `placesAsked` places spread evenly over the stretches [first, end),
    // in order, each at another sector of its page, away from sectors known
    // to be unreadable (but for stepped-over ones, `steppedOverToo`).
    std::vector<std::uint64_t> placesSpreadOver(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& stretches,
                                                std::uint64_t placesAsked, bool steppedOverToo) const;
    // The asks of a judgement, the lock held.
    Verdict askPlaces(const Asking& asking);
    // The asks of a judgement where the medium cannot be asked past every
    // cache, the lock held.
    Verdict askPlacesCacheOnly(const Asking& asking);
    // The first sector of each of the files still to read that no read has
    // reached and that is not known to be unreadable, up to `placesAsked`.
    std::vector<std::uint64_t> placesStillToRead(std::uint64_t placesAsked);
    // The come-back over [failed, limit): the first sector of the island
    // found, none, or nothing when the medium has gone.
    std::optional<std::optional<std::uint64_t>> comeBackOver(std::uint64_t failed, std::uint64_t limit,
                                                             const std::function<Probe(std::uint64_t)>& ask);
    // The places asked in turn, past every cache, until the disk answers at
    // one or the medium has gone: Failed when none answered. Those that
    // failed join the map when `mapFailures`: a place read before keeps the
    // bytes it gave, which the page cache may still hold for a save.
    Probe askAt(const std::vector<std::uint64_t>& places, const ProbeSector& ask, bool mapFailures = true);
    // Whether anything may have read `sector` before now, so that a cache may
    // answer for it: a read of this medium, or a probe of what it holds near
    // either of its ends, by this program or another.
    bool mayHaveBeenRead(std::uint64_t sector) const;
    // The disk answered past every cache: what failed before is its own.
    void noteAlive();

    MediumMap map_;
    std::atomic<std::uint64_t> endSector_{0};
    // The sectors at either end that a probe may have read.
    std::atomic<std::uint64_t> probedEnds_{0};
    std::atomic<std::uint32_t> sectorBytes_{0};
    std::atomic<std::uint64_t> diskAnswers_{0};
    // The weaker evidence: answers of the medium where nothing had read, and
    // pages split between answers and failures, the last reads within one
    // page kept as its number and whether it answered.
    std::atomic<std::uint64_t> freshAnswers_{0};
    std::atomic<std::uint64_t> splitPages_{0};
    struct PageRead {
        std::uint64_t page = UINT64_MAX;
        bool answered = false;
    };
    std::mutex pagesMutex_;
    std::array<PageRead, 32> pageReads_{};
    std::size_t nextPageRead_ = 0;
    std::atomic<bool> cacheOnly_{false};
    std::atomic<bool> failed_{false};
    // Places that answered a read from the medium: the latest few, and the
    // latest in each of a number of equal parts of the medium (UINT64_MAX:
    // none yet).
    static constexpr std::size_t kRecentPlaces = 8, kSpreadParts = 64;
    std::array<std::atomic<std::uint64_t>, kRecentPlaces> recentPlaces_;
    std::atomic<std::uint64_t> nextRecentPlace_{0};
    std::array<std::atomic<std::uint64_t>, kSpreadParts> spreadPlaces_;
    // The judgements' liveAnswers() at the last judgement.
    std::mutex judging_;
    std::uint64_t liveAtLastJudgement_ = 0;
    std::atomic<bool> stopped_{false};
    std::atomic<std::uint64_t> badEndFrom_{UINT64_MAX};
    std::atomic<std::uint64_t> stoppedAt_{0};
    // What was not asked for while the disk had stopped, as runs of first
    // sector to the sector after.
    std::mutex notAskedMutex_;
    std::map<std::uint64_t, std::uint64_t> notAsked_;
    StillToRead stillToRead_;
};
