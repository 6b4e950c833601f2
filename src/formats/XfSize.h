#pragma once

// The extended field that holds an inode's data stream: the file's logical
// size, the size allocated to it, and the rest of the stream's record.

#include "platform/ByteView.h"

#include <cstdint>

struct XfSize {
    std::uint64_t size = 0;
    std::uint64_t stored_size = 0;
    std::uint64_t unknown_16 = 0;
    std::uint64_t unknown_size = 0;
    std::uint64_t unknown_32 = 0;

    // The field's value; what lies past its end reads as 0.
    static XfSize read(platform::ByteView value);

    std::uint64_t getXfSize() const { return size; }
};
