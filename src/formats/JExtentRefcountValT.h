#pragma once

// The value of a data stream's id record: how many inodes refer to it.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

struct JExtentRefcountValT {
    static constexpr std::size_t kBytes = 4;

    std::uint32_t count = 0;

    static std::optional<JExtentRefcountValT> read(platform::ByteView value) {
        if (!value.has(0, kBytes)) return std::nullopt;
        return JExtentRefcountValT{value.le32(0)};
    }
};
