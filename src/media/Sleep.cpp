#include "media/Sleep.h"

#include "media/SleepInhibitor.h"

#include <atomic>
#include <thread>

namespace {
std::atomic<bool> gStopFlag{false};
std::atomic<long long> gIntervalMs{25000};
std::atomic<int> gRunning{0};

void keepAwakeLoop(std::shared_ptr<SleepInhibitor> inhibitor) {
    while (!gStopFlag.load()) {
        inhibitor->reportUserActivity();
        std::this_thread::sleep_for(std::chrono::milliseconds(gIntervalMs.load()));
    }
    // The last loop to end gives the lock back; a newer scan's loop may
    // still be holding the machine awake.
    if (gRunning.fetch_sub(1) == 1) inhibitor->release();
}
} // namespace

void StartThread() {
    auto inhibitor = SleepInhibitor::shared();
    gRunning.fetch_add(1);
    try {
        std::thread(keepAwakeLoop, std::move(inhibitor)).detach();
    } catch (const std::system_error&) {
        // Without the thread the scan still runs; the machine may sleep.
        gRunning.fetch_sub(1);
    }
}

void setPreventSleepStopFlag(bool stop) {
    gStopFlag.store(stop);
}

bool preventSleepStopFlag() {
    return gStopFlag.load();
}

void setKeepAwakeInterval(std::chrono::milliseconds interval) {
    gIntervalMs.store(interval.count());
}
