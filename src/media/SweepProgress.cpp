#include "media/SweepProgress.h"

#include <algorithm>

void SweepProgress::begin() {
    swept_.store(kNone, std::memory_order_relaxed);
    stopped_.store(kNone, std::memory_order_release);
}

void SweepProgress::note(std::uint64_t done, std::uint64_t total) {
    swept_.store(static_cast<std::uint32_t>(total ? std::min(done, total) * 100 / total : 0),
                 std::memory_order_relaxed);
}

void SweepProgress::judgedStopped(std::uint32_t within) {
    const std::uint32_t swept = swept_.load(std::memory_order_relaxed);
    stopped_.store(swept == kNone ? within : swept, std::memory_order_release);
}

std::uint32_t SweepProgress::stoppedPercent() const {
    const std::uint32_t percent = stopped_.load(std::memory_order_acquire);
    return percent == kNone ? 0 : percent;
}
