#pragma once

// The value of a physical extent: its length-and-kind word in three parts,
// the owner's id and the reference count.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

struct JPhysExtValT {
    static constexpr std::size_t kBytes = 20;

    std::uint32_t block_count = 0;
    std::uint16_t unknown_4 = 0;
    std::uint16_t block_size = 0;
    std::uint64_t inode = 0;
    std::uint32_t unknown_16 = 0;

    static std::optional<JPhysExtValT> read(platform::ByteView value) {
        if (!value.has(0, kBytes)) return std::nullopt;
        return JPhysExtValT{value.le32(0), value.le16(4), value.le16(6), value.le64(8), value.le32(16)};
    }
};
