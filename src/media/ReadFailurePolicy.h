#pragma once

// What a failing medium may cost and when it counts as gone, for every
// reader of a range (the scans' and the save's alike).
//
// A dying disk spends seconds on each failed read, so a bad stretch is never
// read sector by sector: from its first failing sector the readers skip
// ahead with a step that doubles at each failure, and once a sector answers
// they step back in halving steps to where the stretch ends. The sectors
// between that were not asked for are skipped, not failed: a stretch costs
// the logarithm of its length, one bad sector only itself, and a disk that
// dies part-way a few dozen reads to reach its end. Every walk of a scan
// comes back over a stretch that ended with an answer, a few asks in the
// widest gaps its steps left, whichever reader walked it, so a readable
// island a sizeable part of a bad area wide is read by the sweep that
// reaches it wherever it lies; from then on no reader of
// the scan asks inside the stretch again, skipped or failed (see
// asksInside), and a bad area costs a pass a few dozen failed reads whatever
// its length. A save, which needs every readable sector of its files, asks
// for the skipped ones it reads.
//
// A medium is gone when the device says so (ENODEV, ENXIO) or has left the
// drive lists; failed reads alone never make a scan give up a medium that
// is still there. Only a save asks more, as a disk that has stopped behind a
// cache (the page cache of a loop device's file) still answers for what the
// cache holds. The cache holds whole pages and nothing else, so a disk lives
// while a sector answers in a page where another failed, a read answers
// where no read had been, or a read that no cache could answer does (one
// past the page cache of a disk, not of a loop device's file); without any,
// a save asks at a few such places itself, and where it still has to read,
// before it gives the medium up.

#include "media/UnreadableSectors.h"

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
    // What the device said to one probe of a single sector.
    enum class Probe { Answered, Failed, Gone };
    using ProbeSector = std::function<Probe(std::uint64_t sector)>;

    static bool errorMeansGone(int error);

    // The medium's extent, from the device's own size, and the sectors of a
    // memory page, taken once.
    void layOut(std::uint64_t mediumBytes, std::uint32_t sectorBytes, std::uint64_t pageBytes);
    std::uint64_t endSector() const { return endSector_.load(std::memory_order_acquire); }

    // The stretch that begins with `failed`, which has just failed: its
    // end (the first sector after it that answers, or the medium's end),
    // whether a sector after it answered at all, and whether the medium's
    // last sector failed to this walk's own probe. Sectors already known to
    // be unreadable are passed over without being asked for, but inside a
    // `needed` range only once asked into (see NeededRange); the sectors
    // probed that failed join `known` as failed, the rest of the stretch as
    // skipped. With `comeBack` (a scan's walks), a stretch that ended with
    // an answer is come back over, a few asks at the most, each in the
    // middle of the widest gap wider than kComeBackBytes left between its
    // sectors that failed, and the first sector that answers there ends the
    // stretch where its readable run begins. An answer from a
    // place anything may have read before (a read of this medium, or a probe
    // of what it holds near either end, which a cache may hold) ends the
    // stretch for the reader, which reads on from there, but a walk whose
    // only answers came from such places is not come back over: to a disk
    // that died behind a cache it is one that ran to the end with nothing
    // answering. A read past every cache answers for the disk wherever it
    // lies. Nothing when a probe found the medium gone.
    struct Stretch {
        std::uint64_t end = 0;
        bool answeredAfter = false;
        bool failedAtEnd = false;
    };
    // A range whose every sector the reader needs (a save's read of a file):
    // where it ends, and the runs [first, end) of it that the reader has
    // asked into or its own walks stepped over, which a walk passes over.
    // The runs of it that another walk, of another file or of a scan,
    // stepped over were never asked for and may hold readable sectors of
    // the range, a readable island whose first page a bad neighbour shares
    // among them: a doubling step into one asks into it once, where the
    // page after the last failed sector begins (else at its first sector),
    // before it passes over the rest; halving steps ask in it as anywhere. A bad area costs a read
    // for each such run, and the logarithm of its length as before.
    struct NeededRange {
        std::uint64_t end = 0;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> asked;
    };
    static constexpr std::uint64_t kComeBackBytes = 1u << 20;
    std::optional<Stretch> walk(std::uint64_t failed, UnreadableSectors& known, const ProbeSector& probe,
                                bool comeBack = false, const NeededRange* needed = nullptr) const;

    // Whether a reader asks the device for the sectors of `run`, known to be
    // unreadable, or reads them as zeros. Never those that failed. Those a
    // walk stepped over only a reader that needs them where they lie and is
    // not one of a scan's (`scanning`): a save's read of a file, which asks
    // into each such run once (see NeededRange). A scan's walk has come back
    // over its stretch as far as this policy asks: once a scan has found a
    // stretch unreadable, no reader of it asks inside it again, and each
    // batch of a sweep, window of a size calculator or block of a map read
    // there costs no failed read.
    static bool asksInside(const UnreadableSectors::Run& run, bool scanning) { return !run.failed && !scanning; }

    // A save's judgement after each stretch it walked: whether the medium
    // still answers. Evidence that the disk itself answered since the last
    // judgement (see liveAnswers) keeps it. Without any, a stretch whose own
    // walk failed at the medium's last sector, or the third stretch in a row
    // (more once the disk has answered so), makes it ask at a few places no
    // read has reached, spread over the medium and at different sectors of a
    // page, and, before it gives the medium up, where the save still has to
    // read (see setStillToRead): an answer at either keeps it; all failing,
    // or no such place left, it has stopped. `liveBefore` is liveAnswers()
    // as the walk began; sectors that fail here join `known`.
    bool stillAnswers(const Stretch& stretch, std::uint64_t liveBefore, UnreadableSectors& known,
                      const ProbeSector& probe);

    // Where a save still has to read, for as long as it runs (nullptr when
    // none): the sectors of the files it saves next, in the order it saves
    // them, each file's as runs [first, end) in the order it reads them. The
    // first sector of each that no read has reached, nor a cache next to
    // one, is the disk's own to answer: a disk that holds readable files in
    // a bad area answers there, one that has stopped behind a cache does not.
    using SectorRuns = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    using StillToRead = std::function<std::vector<SectorRuns>()>;
    void setStillToRead(StillToRead stillToRead);

    // What a read brought in: a cache below the device answers for those
    // sectors, and for what its own read-ahead took in next to them, however
    // long after.
    void noteRead(std::uint64_t offset, std::uint64_t length);
    // What a read of sectors of one memory page got: answered or failed.
    void notePageRead(std::uint64_t sector, std::uint64_t count, bool answered);
    // A read that went past every cache answered: the disk itself did (a
    // disk read with O_DIRECT, not a loop device over a cached file).
    void noteDiskAnswered() { diskAnswers_.fetch_add(1, std::memory_order_release); }
    // Reads so far that no cache could have answered: reads that answered far
    // from every read before them, sectors that answered in a page where
    // another had just failed (or failed where another had just answered),
    // and reads past every cache.
    std::uint64_t liveAnswers() const {
        return freshAnswers_.load(std::memory_order_acquire) + splitPages_.load(std::memory_order_acquire) +
               diskAnswers_.load(std::memory_order_acquire);
    }

private:
    // Places no read has reached, spread over the medium, away from sectors
    // known to have failed; none when no such place is left.
    std::vector<std::uint64_t> placesElsewhere(const UnreadableSectors& known, std::uint64_t placesAsked);
    // The first sector of each of the files still to read that no read has
    // reached and that is not known to have failed, up to `placesAsked`.
    std::vector<std::uint64_t> placesStillToRead(const UnreadableSectors& known, std::uint64_t placesAsked);
    // The places asked in turn until one answers or the medium has gone:
    // Failed when all failed (they join `known`), or there were none.
    static Probe askAt(const std::vector<std::uint64_t>& places, UnreadableSectors& known, const ProbeSector& probe);
    // Whether a read had reached `sector`, or a cache's read-ahead next to
    // one, before now.
    bool reachedBefore(std::uint64_t sector) const;
    // Whether anything may have read `sector` before now, so that a cache may
    // answer for it: a read of this medium, or a probe of what it holds near
    // either of its ends, by this program or another.
    bool mayHaveBeenRead(std::uint64_t sector) const;

    std::atomic<std::uint64_t> endSector_{0};
    // The sectors at either end that a probe may have read.
    std::atomic<std::uint64_t> probedEnds_{0};
    std::atomic<std::uint32_t> sectorBytes_{0};
    std::atomic<std::uint64_t> pageSectors_{1};
    // The sectors reads have reached, each widened by the reach of a cache's
    // read-ahead (margin_), as runs of first sector to the sector after;
    // runs that come closer than `joinGap_` become one, which grows when
    // the runs grow too many, so the map stays small on any medium.
    mutable std::mutex touchedMutex_;
    std::map<std::uint64_t, std::uint64_t> touched_;
    std::uint64_t margin_ = 0;
    std::uint64_t joinGap_ = 0;
    std::atomic<std::uint64_t> freshAnswers_{0};
    // The last reads within one page, as page number and whether it
    // answered, to tell a page split between answers and failures, which no
    // cache makes.
    struct PageRead {
        std::uint64_t page = UINT64_MAX;
        bool answered = false;
    };
    std::mutex pagesMutex_;
    std::array<PageRead, 32> pageReads_{};
    std::size_t nextPageRead_ = 0;
    std::atomic<std::uint64_t> splitPages_{0};
    std::atomic<std::uint64_t> diskAnswers_{0};
    // The save's count of stretches walked since the disk last answered, and
    // liveAnswers() at the last judgement.
    std::mutex judging_;
    bool judged_ = false;
    std::uint32_t walksUnanswered_ = 0;
    static constexpr std::uint32_t kWalksUnanswered = 3;
    std::uint32_t walksBeforeAsking_ = kWalksUnanswered;
    bool answeredElsewhere_ = false;
    std::uint64_t liveAtLastJudgement_ = 0;
    StillToRead stillToRead_;
};
