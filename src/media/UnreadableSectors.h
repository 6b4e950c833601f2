#pragma once

// The sectors of a medium whose bytes the readers could not give, as runs of
// sector numbers, of two kinds kept apart. Failed: asked for, and the device
// answered with an error; a dying disk spends seconds on every failed read,
// so the readers that know such a sector read around it and never ask for it
// again. Skipped: stepped over by the walk of a bad stretch without being
// asked for; they may well be readable, and a save that needs one asks (see
// ReadFailurePolicy::asksInside).
// A sector a later read gets leaves either kind. What is kept grows with the
// number of separate runs, not with their length, and is safe to share
// between threads.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class UnreadableSectors {
public:
    // Sectors [first, end) were asked for and failed, whatever was known of
    // them before.
    void addFailed(std::uint64_t first, std::uint64_t end);
    void addFailed(std::uint64_t sector);
    // Sectors [first, end) were stepped over: those not known yet become
    // skipped, and those that failed stay so.
    void addSkipped(std::uint64_t first, std::uint64_t end);
    // Sectors [first, end) were read: they are no longer unreadable.
    void forget(std::uint64_t first, std::uint64_t end);
    // The end of the unbroken stretch of known sectors, of either kind, that
    // holds `sector`, if one does.
    std::optional<std::uint64_t> runEndAt(std::uint64_t sector) const;
    // How many sectors in all, and how many of [first, first + count): both
    // kinds, as neither holds the medium's bytes.
    std::uint64_t count() const { return total_.load(std::memory_order_acquire); }
    std::uint64_t countIn(std::uint64_t first, std::uint64_t count) const;
    // The runs [begin, end) of one kind or of both that meet
    // [first, first + count), cut to it, in order.
    struct Run {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        bool failed = false;
    };
    std::vector<Run> runsIn(std::uint64_t first, std::uint64_t count) const;
    // The whole run of one kind that holds `sector`, if one does.
    std::optional<Run> runAt(std::uint64_t sector) const;
    void clear();

private:
    struct Kept {
        std::uint64_t end = 0;
        bool failed = false;
    };
    // Sectors [first, end) of `kind`, taking the place of what was there when
    // `overwrite`, else only filling what was not known; the lock held.
    void put(std::uint64_t first, std::uint64_t end, bool failed, bool overwrite);
    // Takes [first, end) out of the runs, splitting those it cuts, and
    // answers how many sectors were taken; the lock held.
    std::uint64_t cut(std::uint64_t first, std::uint64_t end);
    // Joins the run at `at` with its neighbours of the same kind that touch
    // it; the lock held.
    void join(std::map<std::uint64_t, Kept>::iterator at);

    mutable std::mutex mutex_;
    // First sector of a run to its end and kind; runs never overlap, and
    // runs of one kind never touch.
    std::map<std::uint64_t, Kept> runs_;
    // Read without the lock too: a medium with no bad sector, the usual one,
    // costs its readers no lock.
    std::atomic<std::uint64_t> total_{0};
};
