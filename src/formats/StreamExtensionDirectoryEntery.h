#pragma once

// The second entry of an exFAT file directory entry set (type 0xC0, 0x40 once
// deleted): where the data starts, how long it is, and how long the name is.

#include "platform/ByteView.h"

#include <cstdint>

class StreamExtensionDirectoryEntery {
public:
    explicit StreamExtensionDirectoryEntery(platform::ByteView bytes);

    std::uint8_t entry_type() const { return entry_type_; }
    // Bit 1: NoFatChain, the data is one contiguous run of clusters.
    std::uint8_t general_secondary_flags() const { return general_secondary_flags_; }
    std::uint8_t reserved1() const { return reserved1_; }
    // In UTF-16 units.
    std::uint8_t name_length() const { return name_length_; }
    std::uint16_t name_hash() const { return name_hash_; }
    std::uint16_t reserved2() const { return reserved2_; }
    std::uint64_t valid_data_length() const { return valid_data_length_; }
    std::uint32_t reserved3() const { return reserved3_; }
    std::uint32_t first_cluster() const { return first_cluster_; }
    std::uint64_t data_length() const { return data_length_; }

private:
    std::uint8_t entry_type_ = 0;
    std::uint8_t general_secondary_flags_ = 0;
    std::uint8_t reserved1_ = 0;
    std::uint8_t name_length_ = 0;
    std::uint16_t name_hash_ = 0;
    std::uint16_t reserved2_ = 0;
    std::uint64_t valid_data_length_ = 0;
    std::uint32_t reserved3_ = 0;
    std::uint32_t first_cluster_ = 0;
    std::uint64_t data_length_ = 0;
};
