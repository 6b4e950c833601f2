#pragma once

// The sectors of a medium that could not be read, as runs of sector
// numbers. A dying disk spends seconds on every failed read, so a sector
// that failed once is never asked for again by the readers that know it:
// they read around it. What is kept grows with the number of separate bad
// stretches, not with their length, and is safe to share between threads.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class UnreadableSectors {
public:
    void add(std::uint64_t sector);
    // Sectors [first, end), joined with the runs they touch.
    void addRun(std::uint64_t first, std::uint64_t end);
    // The end of the run that holds `sector`, if one does.
    std::optional<std::uint64_t> runEndAt(std::uint64_t sector) const;
    // How many sectors in all, and how many of [first, first + count).
    std::uint64_t count() const { return total_.load(std::memory_order_acquire); }
    std::uint64_t countIn(std::uint64_t first, std::uint64_t count) const;
    // The runs [begin, end) that meet [first, first + count), cut to it, in
    // order.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runsIn(std::uint64_t first, std::uint64_t count) const;
    void clear();

private:
    mutable std::mutex mutex_;
    // First sector of a run to the sector after it; runs never touch.
    std::map<std::uint64_t, std::uint64_t> runs_;
    // Read without the lock too: a medium with no bad sector, the usual one,
    // costs its readers no lock.
    std::atomic<std::uint64_t> total_{0};
};
