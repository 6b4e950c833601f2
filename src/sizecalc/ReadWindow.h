#pragma once

// The 64 KiB window a size calculator walks a file in: 65536 bytes read at a
// sector, with 4096 zero bytes behind them so that a look a few bytes past
// the window's end never leaves the buffer. A read that delivers nothing
// shows as zero fields, which end a walk. It reads through the device's
// BoundedCursor, bounded by the carved volume's end.

#include "media/BoundedCursor.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <functional>
#include <optional>

class CarvingContext;

class ReadWindow {
public:
    static constexpr std::uint32_t kBytes = 65536;
    static constexpr std::uint32_t kSlack = 4096;

    explicit ReadWindow(CarvingContext& context);
    // The view points into the cursor's buffer.
    ReadWindow(const ReadWindow&) = delete;
    ReadWindow& operator=(const ReadWindow&) = delete;

    // Reads 65536 bytes at the device sector, none of them past the carved
    // volume's end (those read as zeros); false when the read failed (the
    // window is then all zeros).
    bool readAt(std::uint64_t sector);
    // The first sector of the window read last.
    std::uint64_t sector() const { return sector_; }
    // The window read last lies wholly past the carved volume's end: it
    // holds nothing but zeros, and so will every later one of the walk.
    bool beyondVolume() const { return beyondVolume_; }
    // Whether any of the `length` bytes `offset` bytes from the start of the
    // device sector `sector` lies in a sector the medium could not give
    // (read already): zeros that are the file's data lost, not its
    // structure (BoundedCursor::unreadable).
    bool unreadable(std::uint64_t sector, std::uint64_t offset, std::size_t length) const;
    // The offset, from the start of the device sector `sector`, of the first
    // byte from `offset` on in a sector that was read; nothing when the
    // sectors that could not be read run on for more than `reach` bytes.
    std::optional<std::uint64_t> readableFrom(std::uint64_t sector, std::uint64_t offset, std::uint64_t reach) const;
    // A walk of 8-byte headers (a 4-byte big-endian length, then a 4-byte
    // type) whose header at `offset` lay on sectors the medium could not
    // give goes on at the first header after them whose type and then length
    // it takes, looked for up to kResyncReach bytes past the first byte read:
    // that header's offset from the start of the device sector `sector`, or
    // nothing (none found, the lost sectors run on for more than `reach`
    // bytes, or the carving was stopped). A header whose own bytes were lost
    // may be long: what it held is lost with it.
    static constexpr std::uint64_t kResyncReach = 1048576;
    std::optional<std::uint64_t> headerAfterLoss(std::uint64_t sector, std::uint64_t offset, std::uint64_t reach,
                                                 const std::function<bool(std::uint32_t type)>& takesType,
                                                 const std::function<bool(std::uint32_t length)>& takesLength) const;
    // The window with its zero slack.
    platform::ByteView view() const { return view_; }
    const std::uint8_t* data() const { return view_.data(); }

private:
    CarvingContext& context_;
    BoundedCursor cursor_;
    platform::ByteView view_;
    std::uint64_t sector_ = 0;
    bool beyondVolume_ = false;
};
