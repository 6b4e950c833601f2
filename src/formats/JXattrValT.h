#pragma once

// The value of an extended attribute: its flags, its length, and its data,
// which with flags 6 (embedded and owned by the file system, as a symbolic
// link's target is) is text.

#include "platform/ByteView.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

struct JXattrValT {
    static constexpr std::uint16_t kTextFlags = 6;
    static constexpr std::size_t kDataAt = 4;

    std::uint16_t flags = 0;
    std::uint16_t xdata_length = 0;
    std::variant<std::vector<std::uint8_t>, std::string> xdata;

    // Empty when the data does not lie whole in the view.
    static std::optional<JXattrValT> read(platform::ByteView value);
};
