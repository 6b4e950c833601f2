#pragma once

// A range of a medium read in large windows by a thread of its own, a window
// or more ahead of the code that examines them: while the caller looks at one
// window the next is being read, so reading and examining overlap. On a cold
// disk a scan then runs at the disk's speed; from the page cache the kernel's
// copy runs on another core. Windows come in order, in page-aligned buffers;
// the read function runs on the reader's thread only.

#include "platform/AlignedBuffer.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class ReadAheadWindows {
public:
    // Fills `into` with `count` units from unit `first`; false when they
    // cannot be read (what `into` then holds is not looked at).
    using Read = std::function<bool(std::uint64_t first, std::uint64_t count, std::uint8_t* into)>;

    struct Window {
        std::uint64_t first = 0;
        // 0 past the end of the range.
        std::uint64_t count = 0;
        std::uint8_t* bytes = nullptr;
        // False when the read failed: the bytes are not the medium's.
        bool read = false;
    };

    // Units [0, count) of `unitBytes` each, `windowUnits` at a time, up to
    // `ahead` windows (at least one) read ahead of the one handed out: more
    // than one lets the reader go on through a stretch the caller takes
    // longer to examine, and the caller through one that is slow to read.
    // Each window after the first also holds the `carryUnits` (at most a
    // window's) before its own, copied from the window before it rather than
    // read again, so that any stretch of up to carryUnits + 1 units lies
    // whole in one window.
    ReadAheadWindows(Read read, std::size_t unitBytes, std::uint64_t windowUnits, std::uint64_t count,
                     std::uint64_t carryUnits = 0, std::size_t ahead = 1);
    // Waits for the read in progress, if any, and ends the thread.
    ~ReadAheadWindows();
    ReadAheadWindows(const ReadAheadWindows&) = delete;
    ReadAheadWindows& operator=(const ReadAheadWindows&) = delete;

    // The next window; its bytes are the caller's until the next call, which
    // hands them back to the reader.
    Window next();
    // The window next() hands out next, once it has been read, while the one
    // handed out last stays the caller's: both are until the next call of
    // next().
    Window peek();

    // The units window `index` holds (its carry included), without waiting
    // for it; count 0 past the end of the range.
    Window placeOf(std::uint64_t index) const;
    // How many windows next() has handed out.
    std::uint64_t handedOut() const;

private:
    enum class Slot { Free, Ready, Held };
    void work();

    const Read read_;
    const std::size_t unitBytes_;
    const std::uint64_t windowUnits_;
    const std::uint64_t count_;
    const std::uint64_t carry_;
    // A slot for the window handed out and one for each read ahead.
    std::vector<platform::AlignedBuffer> buffers_;
    std::vector<Window> windows_;
    std::vector<Slot> slots_;
    // The window the caller takes next, counted from 0.
    std::uint64_t taken_ = 0;
    bool stopping_ = false;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::thread thread_;
};
