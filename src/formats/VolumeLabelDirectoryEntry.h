#pragma once

// The volume label entry of an exFAT root directory (type 0x83).

#include "platform/ByteView.h"

#include <cstdint>
#include <string>

class VolumeLabelDirectoryEntry {
public:
    explicit VolumeLabelDirectoryEntry(platform::ByteView bytes);

    std::uint8_t entry_type() const { return entry_type_; }
    std::uint8_t character_count() const { return character_count_; }
    // The label's eleven units as 8-bit text, as a name entry's
    // file_name_string gives it.
    std::string volume_label() const;
    std::uint32_t reserved() const { return reserved_; }

private:
    std::uint8_t entry_type_ = 0;
    std::uint8_t character_count_ = 0;
    std::u16string volume_label_;
    std::uint32_t reserved_ = 0;
};
