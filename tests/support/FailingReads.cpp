#include "support/FailingReads.h"

#include <cerrno>
#include <thread>
#include <unistd.h>

namespace testsupport {

FailingReads::FailingReads(std::uint32_t bytesPerSector) : state_(std::make_shared<State>()) {
    state_->bytesPerSector = bytesPerSector;
}

void FailingReads::failSectors(std::uint64_t first, std::uint64_t count) {
    std::lock_guard lock(state_->mutex);
    state_->badBytes.emplace_back(first * state_->bytesPerSector, (first + count) * state_->bytesPerSector);
}

void FailingReads::setDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(state_->mutex);
    state_->delay = delay;
}

std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)> FailingReads::reader() const {
    return [state = state_](int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) -> std::int64_t {
        ++state->reads;
        std::chrono::milliseconds delay{0};
        bool bad = false;
        {
            std::lock_guard lock(state->mutex);
            for (const auto& [begin, end] : state->badBytes)
                bad = bad || (offset < end && begin < offset + length);
            delay = state->delay;
        }
        if (!bad) return ::pread(fd, buffer, length, static_cast<off_t>(offset));
        ++state->failed;
        std::this_thread::sleep_for(delay);
        errno = EIO;
        return -1;
    };
}

} // namespace testsupport
