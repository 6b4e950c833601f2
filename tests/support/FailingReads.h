#pragma once

// A dying disk for the readers: put between a medium and its reader
// (DMedia::setRawRead), it fails every read that touches one of the chosen
// sectors with EIO, as a disk fails a whole request for one bad sector,
// optionally after a delay, and counts the reads and the failed ones. Copies
// share their sectors and counts.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace testsupport {

class FailingReads {
public:
    explicit FailingReads(std::uint32_t bytesPerSector = 512);

    // Sectors [first, first + count) fail from now on.
    void failSectors(std::uint64_t first, std::uint64_t count = 1);
    // Each failed read takes this long first.
    void setDelay(std::chrono::milliseconds delay);

    // The reader to hand to DMedia::setRawRead.
    std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)> reader() const;

    std::uint64_t reads() const { return state_->reads; }
    std::uint64_t failedReads() const { return state_->failed; }

private:
    struct State {
        std::uint32_t bytesPerSector;
        std::mutex mutex;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> badBytes; // [begin, end)
        std::chrono::milliseconds delay{0};
        std::atomic<std::uint64_t> reads{0};
        std::atomic<std::uint64_t> failed{0};
    };
    std::shared_ptr<State> state_;
};

} // namespace testsupport
