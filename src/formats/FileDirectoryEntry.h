#pragma once

// The first entry of an exFAT file directory entry set (type 0x85, 0x05 once
// deleted): how many entries follow, the attributes and the timestamps.

#include "platform/ByteView.h"

#include <array>
#include <cstdint>

class FileDirectoryEntry {
public:
    explicit FileDirectoryEntry(platform::ByteView bytes);

    std::uint8_t entry_type() const { return entry_type_; }
    std::uint8_t secondary_count() const { return secondary_count_; }
    std::uint16_t set_checksum() const { return set_checksum_; }
    // Bit 0x10: a directory.
    std::uint16_t file_attributes() const { return file_attributes_; }
    std::uint16_t reserved1() const { return reserved1_; }
    // Whole timestamps: DOS time in the low half, DOS date in the high half.
    std::uint32_t create_date() const { return create_date_; }
    std::uint32_t last_modified() const { return last_modified_; }
    std::uint32_t last_accessed() const { return last_accessed_; }
    std::uint8_t create_10ms() const { return create_10ms_; }
    std::uint8_t last_modified_10ms() const { return last_modified_10ms_; }
    std::uint8_t create_tz_offset() const { return create_tz_offset_; }
    std::uint8_t last_modified_tz_offset() const { return last_modified_tz_offset_; }
    std::uint8_t last_accessed_tz_offset() const { return last_accessed_tz_offset_; }
    const std::array<std::uint8_t, 7>& reserved2() const { return reserved2_; }

private:
    std::uint8_t entry_type_ = 0;
    std::uint8_t secondary_count_ = 0;
    std::uint16_t set_checksum_ = 0;
    std::uint16_t file_attributes_ = 0;
    std::uint16_t reserved1_ = 0;
    std::uint32_t create_date_ = 0;
    std::uint32_t last_modified_ = 0;
    std::uint32_t last_accessed_ = 0;
    std::uint8_t create_10ms_ = 0;
    std::uint8_t last_modified_10ms_ = 0;
    std::uint8_t create_tz_offset_ = 0;
    std::uint8_t last_modified_tz_offset_ = 0;
    std::uint8_t last_accessed_tz_offset_ = 0;
    std::array<std::uint8_t, 7> reserved2_{};
};
