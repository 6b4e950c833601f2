#pragma once

// The value of a sibling map: the inode a hard link stands for.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

struct JSiblingMapValT {
    static constexpr std::size_t kBytes = 8;

    std::uint64_t file_id = 0;

    static std::optional<JSiblingMapValT> read(platform::ByteView value) {
        if (!value.has(0, kBytes)) return std::nullopt;
        return JSiblingMapValT{value.le64(0)};
    }
};
