#pragma once

// The sectors at which a stream that a recogniser already walked has a frame
// or pack start: a later hit at one of them belongs to that stream and is not
// carved again. A search asks about every candidate sector, so membership is
// a hash look-up; the order of adding is kept for the scan snapshot, which
// writes the list as it grew.

#include <cstdint>
#include <unordered_set>
#include <vector>

class DoneSectorList {
public:
    bool contains(std::uint64_t sector) const { return members_.contains(sector); }
    // A sector already held is not added twice.
    void add(std::uint64_t sector);
    void clear();
    // Forgets the sectors added after the first `count`.
    void keepFirst(std::size_t count);
    std::size_t size() const { return inOrder_.size(); }
    bool empty() const { return inOrder_.empty(); }
    const std::vector<std::uint64_t>& inOrder() const { return inOrder_; }

private:
    std::unordered_set<std::uint64_t> members_;
    std::vector<std::uint64_t> inOrder_;
};
