#pragma once

// A name entry of an exFAT file directory entry set (type 0xC1, 0x41 once
// deleted): fifteen UTF-16 units of the name.

#include "platform/ByteView.h"

#include <cstdint>
#include <string>

class FileNameExtensionDirectoryEntry {
public:
    static constexpr std::size_t kUnits = 15;

    explicit FileNameExtensionDirectoryEntry(platform::ByteView bytes);

    std::uint8_t entry_type() const { return entry_type_; }
    std::uint8_t general_secondary_flags() const { return general_secondary_flags_; }
    // The units as stored, in host order.
    const std::u16string& file_name() const { return file_name_; }
    // The low byte of each unit up to the first unit whose low byte is 0:
    // a quick 8-bit look at the name (a unit whose low byte is not ASCII
    // becomes "?"). Names themselves are decoded from file_name.
    std::string file_name_string() const;

    // The 8-bit text of file_name_string for any run of units.
    static std::string lowByteText(std::u16string_view units);

private:
    std::uint8_t entry_type_ = 0;
    std::uint8_t general_secondary_flags_ = 0;
    std::u16string file_name_;
};
