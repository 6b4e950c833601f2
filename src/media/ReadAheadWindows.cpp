#include "media/ReadAheadWindows.h"

#include <algorithm>

ReadAheadWindows::ReadAheadWindows(Read read, std::size_t unitBytes, std::uint64_t windowUnits, std::uint64_t count)
    : read_(std::move(read)), unitBytes_(unitBytes), windowUnits_(std::max<std::uint64_t>(windowUnits, 1)),
      count_(count) {
    if (count_ == 0 || unitBytes_ == 0) return;
    const std::uint64_t units = std::min(windowUnits_, count_);
    for (platform::AlignedBuffer& b : buffers_)
        b.resize(static_cast<std::size_t>(units * unitBytes_));
    thread_ = std::thread([this] { work(); });
}

ReadAheadWindows::~ReadAheadWindows() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

ReadAheadWindows::Window ReadAheadWindows::next() {
    if (!thread_.joinable()) return {};
    std::unique_lock lock(mutex_);
    // The window handed out last goes back to the reader.
    if (taken_ > 0 && slots_[(taken_ - 1) % 2] == Slot::Held) {
        slots_[(taken_ - 1) % 2] = Slot::Free;
        cv_.notify_all();
    }
    if (taken_ * windowUnits_ >= count_) return {.first = count_};
    const std::size_t slot = taken_ % 2;
    cv_.wait(lock, [&] { return slots_[slot] == Slot::Ready; });
    slots_[slot] = Slot::Held;
    ++taken_;
    return windows_[slot];
}

void ReadAheadWindows::work() {
    for (std::uint64_t w = 0; w * windowUnits_ < count_; ++w) {
        const std::size_t slot = w % 2;
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [&] { return stopping_ || slots_[slot] == Slot::Free; });
            if (stopping_) return;
        }
        // The slot is the reader's alone until it is marked ready.
        Window& window = windows_[slot];
        window.first = w * windowUnits_;
        window.count = std::min(windowUnits_, count_ - window.first);
        window.bytes = buffers_[slot].data();
        window.read = read_(window.first, window.count, window.bytes);
        {
            std::lock_guard lock(mutex_);
            slots_[slot] = Slot::Ready;
        }
        cv_.notify_all();
    }
}
