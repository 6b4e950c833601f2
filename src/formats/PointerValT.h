#pragma once

// The value of an entry of an index node: the id of the child node.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

struct PointerValT {
    std::uint64_t pointer = 0;

    static constexpr std::size_t kBytes = 8;
    static std::optional<PointerValT> read(platform::ByteView value) {
        if (!value.has(0, kBytes)) return std::nullopt;
        return PointerValT{value.le64(0)};
    }
};
