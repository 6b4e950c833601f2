#pragma once

// The key of a directory record, after the common header: the low byte of
// its length-and-hash word as the name's length, the three bytes of hash
// after it, and the name.

#include "platform/ByteView.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct JDrecKeyT {
    std::uint8_t name_len = 0;
    std::array<std::uint8_t, 3> hash{};
    // UTF-8, up to its first zero byte.
    std::string name;

    static constexpr std::size_t kNameAt = 4;
    // Empty when the name does not lie whole in the view.
    static std::optional<JDrecKeyT> read(platform::ByteView keyBody);
};
