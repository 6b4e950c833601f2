#pragma once

// The value of a directory record: the inode it names and when it was
// added. What follows them (flags, extended fields) is not read.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

struct JDrecValT {
    static constexpr std::size_t kBytes = 16;

    std::uint64_t file_id = 0;
    std::uint64_t date_added = 0;

    static std::optional<JDrecValT> read(platform::ByteView value) {
        if (!value.has(0, kBytes)) return std::nullopt;
        return JDrecValT{value.le64(0), value.le64(8)};
    }
};
