#pragma once

// The key of an extended attribute, after the common header: the low byte
// of the name's 16-bit length, and the name.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>
#include <string>

struct JXattrKeyT {
    std::uint8_t name_len = 0;
    std::string name;

    static constexpr std::size_t kNameAt = 2;
    // Empty when the name does not lie whole in the view.
    static std::optional<JXattrKeyT> read(platform::ByteView keyBody);
};
