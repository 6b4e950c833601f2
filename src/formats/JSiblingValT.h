#pragma once

// The value of a sibling link: the folder the link lies in and its name.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>
#include <string>

struct JSiblingValT {
    static constexpr std::size_t kNameAt = 10;

    std::uint64_t parent_id = 0;
    std::uint16_t name_len = 0;
    std::string name;

    // Empty when the name does not lie whole in the view.
    static std::optional<JSiblingValT> read(platform::ByteView value);
};
