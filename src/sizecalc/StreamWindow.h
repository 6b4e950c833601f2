#pragma once

// A read window for walks that step through a stream by its offsets: the
// bytes asked for are brought into the window first, which then starts at
// the device sector that holds them. A field is therefore never read across
// the window's end, where a frame header or start code would otherwise read
// as zeros and end the walk in the middle of the stream.

#include "sizecalc/ReadWindow.h"

#include <cstdint>

class CarvingContext;

class StreamWindow {
public:
    explicit StreamWindow(CarvingContext& context);

    // Starts on the file that begins at the device sector; nothing is read.
    void startFile(std::uint64_t sectorNumber);
    // Makes `length` bytes (at most a sector) from the file offset on
    // readable; false when that needed a read and the read failed.
    bool cover(std::uint64_t offset, std::uint32_t length);

    // Bytes at file offsets inside the window; 0 outside it.
    std::uint8_t u8(std::uint64_t offset) const { return window_.view().u8(place(offset)); }
    std::uint16_t be16(std::uint64_t offset) const { return window_.view().be16(place(offset)); }
    std::uint32_t be32(std::uint64_t offset) const { return window_.view().be32(place(offset)); }

private:
    std::size_t place(std::uint64_t offset) const;

    CarvingContext& context_;
    ReadWindow window_;
    std::uint64_t fileSector_ = 0;
    // The file offset of the window's first byte, when it holds any.
    std::uint64_t base_ = 0;
    bool loaded_ = false;
};
