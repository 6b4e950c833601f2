#include "support/FailingReads.h"

#include <cerrno>
#include <thread>
#include <unistd.h>

namespace testsupport {

void FailingReads::failSectors(std::uint64_t first, std::uint64_t count) {
    state_->badBytes.emplace_back(first * 512, (first + count) * 512);
}

std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)> FailingReads::reader() const {
    return [state = state_](int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) -> std::int64_t {
        bool fails = ++state->reads > state->deadAfter;
        for (const auto& [begin, end] : state->badBytes)
            fails = fails || (offset < end && begin < offset + length);
        if (!fails) return ::pread(fd, buffer, length, static_cast<off_t>(offset));
        ++state->failed;
        std::this_thread::sleep_for(state->delay);
        errno = state->error != 0 ? state->error : EIO;
        return -1;
    };
}

} // namespace testsupport
