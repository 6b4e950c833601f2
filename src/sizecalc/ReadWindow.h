#pragma once

// The 64 KiB window a size calculator walks a file in: 65536 bytes read at a
// sector, with 4096 zero bytes behind them so that a look a few bytes past
// the window's end never leaves the buffer. Cleared before every read, so a
// read that delivers nothing shows as zero fields, which end a walk.

#include "platform/ByteView.h"

#include <cstdint>
#include <vector>

class CarvingContext;

class ReadWindow {
public:
    static constexpr std::uint32_t kBytes = 65536;
    static constexpr std::uint32_t kSlack = 4096;

    explicit ReadWindow(CarvingContext& context);

    // Clears the window and reads 65536 bytes at the device sector, none of
    // them past the carved volume's end; false when the read failed (the
    // window is then all zeros).
    bool readAt(std::uint64_t sector);
    // The first sector of the window read last.
    std::uint64_t sector() const { return sector_; }
    // The window read last lies wholly past the carved volume's end: it
    // holds nothing but zeros, and so will every later one of the walk.
    bool beyondVolume() const { return beyondVolume_; }
    // The window with its zero slack.
    platform::ByteView view() const { return platform::ByteView(buffer_.data(), buffer_.size()); }
    const std::uint8_t* data() const { return buffer_.data(); }

private:
    CarvingContext& context_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t sector_ = 0;
    bool beyondVolume_ = false;
};
