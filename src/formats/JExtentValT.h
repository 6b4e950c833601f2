#pragma once

// A file extent: the key's logical offset in the file, and the value's
// length and first physical block.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

struct JExtentValT {
    // The length without the flag bits of its top byte.
    std::uint64_t len = 0;
    std::uint64_t phys_block_num = 0;
    std::uint64_t flags = 0; // the crypto id
    // From the key (the bytes after its header).
    std::uint64_t offset = 0;

    static constexpr std::size_t kKeyBytes = 8;
    static constexpr std::size_t kValueBytes = 24;
    // Empty when either part does not lie whole in its view.
    static std::optional<JExtentValT> read(platform::ByteView keyBody, platform::ByteView value);

    std::uint64_t getLen() const { return len; }
    std::uint64_t getPhys_block_num() const { return phys_block_num; }
    std::uint64_t getJExtentKeyTOffset() const { return offset; }
};
