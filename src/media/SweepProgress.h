#pragma once

// How far a scan of a medium had come, in per cent, when its disk was judged
// to answer no more, for the scan's end to tell the user: the progress its
// sweep last gave, or, before any sweep, where the disk stopped within the
// part scanned. Kept with the progress a scan hands over, by the medium it
// reads; the scan's threads write it, its end reads it.

#include <atomic>
#include <cstdint>

class SweepProgress {
public:
    // A scan begins: nothing swept yet, and the disk not judged.
    void begin();
    // A sweep has done `done` of its `total` units.
    void note(std::uint64_t done, std::uint64_t total);
    // The disk was judged to answer no more, `within` per cent into the part
    // scanned: how far the scan had come is kept.
    void judgedStopped(std::uint32_t within);
    // How far that was; 0 when it was not judged in this scan (before the
    // scan began).
    std::uint32_t stoppedPercent() const;

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;
    std::atomic<std::uint32_t> swept_{kNone};
    std::atomic<std::uint32_t> stopped_{kNone};
};
