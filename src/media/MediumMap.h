#pragma once

// What is known of each place of one medium, for the life of a scan or a
// save, as a disk-rescue tool keeps its map. A place is not tried until a
// read reaches it; then it is read (and a cache next to it may answer for it
// from then on), or one of the unreadable kinds, which read as zeros and
// count as sectors lost:
//   failed: asked for past the page cache, and the device answered with an
//     error; never asked for again, as a dying disk spends seconds on each;
//   stepped over: passed by the walk of a bad stretch without being asked
//     for; it may well be readable, and only a save's scrape asks there.
// Apart from them, the memory pages that failed through the page cache: the
// cache fails a page whole for one bad sector in it, so such a page is read
// past the cache sector by sector, and never through the cache again.
// A sector a later read gets leaves the unreadable kinds. What is kept grows
// with the number of separate runs, not with their length, and is safe to
// share between threads.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class MediumMap {
public:
    enum class Kind { Failed, SteppedOver };
    struct Run {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        Kind kind = Kind::Failed;
        bool failed() const { return kind == Kind::Failed; }
    };

    // The sectors of a memory page, and how far a cache below the device
    // may have read beyond what was asked (its read-ahead), taken once.
    void layOut(std::uint64_t pageSectors, std::uint64_t cacheReachSectors);
    std::uint64_t pageSectors() const { return pageSectors_.load(std::memory_order_acquire); }

    // --- the unreadable kinds ---
    // Sectors [first, end) were asked for past the cache and failed,
    // whatever was known of them before.
    void addFailed(std::uint64_t first, std::uint64_t end);
    void addFailed(std::uint64_t sector);
    // Sectors [first, end) were stepped over: those not known yet become so,
    // and those known stay as they are.
    void addSteppedOver(std::uint64_t first, std::uint64_t end);
    // Sectors [first, end) that failed did so as the disk stopped answering,
    // and it answers again: what failed there is stepped over, for a save to
    // ask once more.
    void unfail(std::uint64_t first, std::uint64_t end);
    // What a walk stepped over in [first, end) is not known to be unreadable
    // after all (a readable island was found at `first`).
    void forgetSteppedOver(std::uint64_t first, std::uint64_t end);
    // Sectors [first, end) were read: they are no longer unreadable.
    void noteRead(std::uint64_t first, std::uint64_t end);
    // The end of the unbroken stretch of unreadable sectors, of any kind,
    // that holds `sector`, if one does.
    std::optional<std::uint64_t> runEndAt(std::uint64_t sector) const;
    // How many unreadable sectors in all, and how many of
    // [first, first + count): every kind, as none holds the medium's bytes.
    std::uint64_t count() const { return total_.load(std::memory_order_acquire); }
    std::uint64_t countIn(std::uint64_t first, std::uint64_t count) const;
    // How many of [first, first + count) a read asked for and that failed:
    // of the unreadable ones, the others were not read.
    std::uint64_t failedIn(std::uint64_t first, std::uint64_t count) const;
    // The runs of one kind that meet [first, first + count), cut to it, in
    // order.
    std::vector<Run> runsIn(std::uint64_t first, std::uint64_t count) const;
    // The stretches of unreadable sectors that meet [first, first + count),
    // cut to it, that hold stepped-over sectors, each from its first such
    // sector to the end of its last: a bad area a walk crossed, whose failed
    // probes split what it stepped over into many runs, is one stretch.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> steppedOverIn(std::uint64_t first, std::uint64_t count) const;
    // The whole run of one kind that holds `sector`, if one does.
    std::optional<Run> runAt(std::uint64_t sector) const;

    // --- pages ---
    // The page that holds `sector` failed through the page cache.
    void addFailedPage(std::uint64_t sector);
    // Whether the page that holds `sector` is read past the page cache: it
    // failed through the cache, or holds an unreadable sector, which would
    // fail it there.
    bool readPastTheCache(std::uint64_t sector) const;
    // How far from `first` (whose page is not read past the cache), up to
    // `end`, none of whose sectors is unreadable, a read through the cache
    // goes: to the first page in between that is read past it, or `end`.
    std::uint64_t throughTheCacheTo(std::uint64_t first, std::uint64_t end) const;

    // --- places read ---
    // Sectors [first, last] were read; a cache below the device answers for
    // them from then on, and for what its read-ahead took in next to them.
    // True when the read reached past everything read before near it: no
    // cache could have answered for it.
    bool noteReached(std::uint64_t first, std::uint64_t last);
    // Whether a read had reached `sector`, or a cache's read-ahead next to
    // one; and where that reach ends.
    bool reachedBefore(std::uint64_t sector) const;
    std::optional<std::uint64_t> reachEndAt(std::uint64_t sector) const;
    // The stretches [first, end) before `end` that no read has reached, and
    // those that reads have reached.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unreached(std::uint64_t end) const;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> reached(std::uint64_t end) const;

    // --- what became unreadable since the disk last answered ---
    // The runs made failed or stepped over since the last markAnswered(), in
    // order: a disk that stopped answering failed them for that alone, and
    // when it answers again they are given back, to be read as any place.
    void markAnswered();
    std::vector<Run> sinceAnswered() const;

    // Everything but the places read: a scan begins afresh.
    void clear();

private:
    struct Kept {
        std::uint64_t end = 0;
        Kind kind = Kind::Failed;
    };
    // Sectors [first, end) of `kind`, taking the place of what was there when
    // `overwrite`, else only filling what was not known; the lock held.
    void put(std::uint64_t first, std::uint64_t end, Kind kind, bool overwrite);
    // [first, end) became `kind` since the disk last answered; the lock held.
    void noteSinceAnswered(std::uint64_t first, std::uint64_t end, Kind kind);
    // Takes [first, end) out of the runs, splitting those it cuts, and
    // answers how many sectors were taken; the lock held.
    std::uint64_t cut(std::uint64_t first, std::uint64_t end);
    // Joins the run at `at` with its neighbours of the same kind that touch
    // it; the lock held.
    void join(std::map<std::uint64_t, Kept>::iterator at);
    // Every run of kind `from` in [first, end) becomes `to`; the lock held.
    void recast(std::uint64_t first, std::uint64_t end, Kind from, Kind to);

    mutable std::mutex mutex_;
    // First sector of a run to its end and kind; runs never overlap, and
    // runs of one kind never touch.
    std::map<std::uint64_t, Kept> runs_;
    // Read without the lock too: a medium with no bad sector, the usual one,
    // costs its readers no lock.
    std::atomic<std::uint64_t> total_{0};
    // Pages that failed through the cache, as runs of first page to the page
    // after.
    std::map<std::uint64_t, std::uint64_t> failedPages_;
    std::atomic<bool> anyFailedPage_{false};
    // Runs [first, end) made unreadable since the disk last answered, the
    // lock held; none are kept past the most, as a disk that stops is judged
    // within a few dozen failed reads.
    std::vector<Run> sinceAnswered_;
    std::atomic<bool> anySinceAnswered_{false};
    std::atomic<std::uint64_t> pageSectors_{1};

    // The sectors reads have reached, each widened by the reach of a cache's
    // read-ahead (margin_), as runs of first sector to the sector after;
    // runs that come closer than `joinGap_` become one, which grows when
    // the runs grow too many, so the map stays small on any medium.
    mutable std::mutex reachedMutex_;
    std::map<std::uint64_t, std::uint64_t> reached_;
    std::uint64_t margin_ = 0;
    std::uint64_t joinGap_ = 0;
};
