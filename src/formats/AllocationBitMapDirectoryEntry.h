#pragma once

// The allocation bitmap entry of an exFAT root directory (type 0x81): where the
// bitmap of used clusters lies.

#include "platform/ByteView.h"

#include <array>
#include <cstdint>

class AllocationBitMapDirectoryEntry {
public:
    explicit AllocationBitMapDirectoryEntry(platform::ByteView bytes);

    std::uint8_t entry_type() const { return entry_type_; }
    std::uint8_t bit_map_flags() const { return bit_map_flags_; }
    const std::array<std::uint8_t, 18>& reserved() const { return reserved_; }
    std::uint32_t first_cluster() const { return first_cluster_; }
    std::uint64_t data_length() const { return data_length_; }

private:
    std::uint8_t entry_type_ = 0;
    std::uint8_t bit_map_flags_ = 0;
    std::array<std::uint8_t, 18> reserved_{};
    std::uint32_t first_cluster_ = 0;
    std::uint64_t data_length_ = 0;
};
