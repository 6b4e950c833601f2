#include "media/ReadAheadWindows.h"

#include <algorithm>
#include <cstring>

ReadAheadWindows::ReadAheadWindows(Read read, std::size_t unitBytes, std::uint64_t windowUnits, std::uint64_t count,
                                   std::uint64_t carryUnits, std::size_t ahead)
    : read_(std::move(read)), unitBytes_(unitBytes), windowUnits_(std::max<std::uint64_t>(windowUnits, 1)),
      count_(count), carry_(std::min(carryUnits, windowUnits_)), buffers_(std::max<std::size_t>(ahead, 1) + 1),
      windows_(buffers_.size()), slots_(buffers_.size(), Slot::Free) {
    if (count_ == 0 || unitBytes_ == 0) return;
    const std::uint64_t units = std::min(windowUnits_, count_) + (count_ > windowUnits_ ? carry_ : 0);
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

ReadAheadWindows::Window ReadAheadWindows::placeOf(std::uint64_t index) const {
    const std::uint64_t own = index * windowUnits_;
    if (count_ == 0 || index > (count_ - 1) / windowUnits_) return {.first = count_};
    const std::uint64_t carried = index == 0 ? 0 : carry_;
    return {.first = own - carried, .count = carried + std::min(windowUnits_, count_ - own)};
}

std::uint64_t ReadAheadWindows::handedOut() const {
    std::lock_guard lock(mutex_);
    return taken_;
}

ReadAheadWindows::Window ReadAheadWindows::next() {
    if (!thread_.joinable()) return {};
    std::unique_lock lock(mutex_);
    // The window handed out last goes back to the reader.
    if (taken_ > 0 && slots_[(taken_ - 1) % slots_.size()] == Slot::Held) {
        slots_[(taken_ - 1) % slots_.size()] = Slot::Free;
        cv_.notify_all();
    }
    if (taken_ * windowUnits_ >= count_) return {.first = count_};
    const std::size_t slot = taken_ % slots_.size();
    cv_.wait(lock, [&] { return slots_[slot] == Slot::Ready; });
    slots_[slot] = Slot::Held;
    ++taken_;
    return windows_[slot];
}

ReadAheadWindows::Window ReadAheadWindows::peek() {
    if (!thread_.joinable()) return {};
    std::unique_lock lock(mutex_);
    if (taken_ * windowUnits_ >= count_) return {.first = count_};
    // Its slot is not the one of the window handed out last, which stays
    // where it is.
    const std::size_t slot = taken_ % slots_.size();
    cv_.wait(lock, [&] { return slots_[slot] == Slot::Ready; });
    return windows_[slot];
}

void ReadAheadWindows::work() {
    for (std::uint64_t w = 0; w * windowUnits_ < count_; ++w) {
        const std::size_t slot = w % slots_.size();
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [&] { return stopping_ || slots_[slot] == Slot::Free; });
            if (stopping_) return;
        }
        // The slot is the reader's alone until it is marked ready. The window
        // before it, in the slot before, is not handed back before this one is
        // ready, and only ever read.
        Window& window = windows_[slot];
        const Window place = placeOf(w);
        window.first = place.first;
        window.count = place.count;
        window.bytes = buffers_[slot].data();
        const Window& before = windows_[(slot + slots_.size() - 1) % slots_.size()];
        const std::uint64_t carried = w == 0 ? 0 : carry_;
        if (carried != 0 && before.read) {
            std::memcpy(window.bytes, before.bytes + (window.first - before.first) * unitBytes_,
                        static_cast<std::size_t>(carried * unitBytes_));
            window.read = read_(window.first + carried, window.count - carried, window.bytes + carried * unitBytes_);
        } else {
            // What the window before could not give is read with the rest.
            window.read = read_(window.first, window.count, window.bytes);
        }
        {
            std::lock_guard lock(mutex_);
            slots_[slot] = Slot::Ready;
        }
        cv_.notify_all();
    }
}
