#pragma once

// One 32-byte short directory entry of a FAT volume: the 8.3 name as stored,
// the attributes, the first cluster in its high and low halves, the size and
// the creation and modification stamps. Its first name byte also marks the
// end of the directory (0x00) and a deleted entry (0xE5); a long-name slot
// is an entry whose attributes are exactly 0x0F.

#include "platform/ByteView.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct FATDirectoryEntry {
    static constexpr std::size_t kBytes = 32;
    static constexpr std::uint8_t kLongNameAttributes = 0x0F;
    static constexpr std::uint8_t kSystem = 0x04;

    std::array<std::uint8_t, 11> shortName{}; // 8 name and 3 extension bytes
    std::uint8_t attributes = 0;
    std::uint16_t createTime = 0;
    std::uint16_t createDate = 0;
    std::uint16_t firstClusterHigh = 0;
    std::uint16_t modifyTime = 0;
    std::uint16_t modifyDate = 0;
    std::uint16_t firstClusterLow = 0;
    std::uint32_t fileSize = 0;

    // The entry at the start of the view; nothing when the view is shorter.
    static std::optional<FATDirectoryEntry> decode(platform::ByteView entry);

    bool endsDirectory() const { return shortName[0] == 0x00; }
    bool isDeleted() const { return shortName[0] == 0xE5; }
    bool isLongNameSlot() const { return attributes == kLongNameAttributes; }
    // "." or "..": a folder's entries for itself and its parent.
    bool isDotEntry() const { return shortName[0] == '.' && (shortName[1] == ' ' || shortName[1] == '.'); }
    std::uint32_t firstCluster() const { return std::uint32_t(firstClusterHigh) << 16 | firstClusterLow; }
    // Date in the high half, time in the low half.
    std::uint32_t created() const { return std::uint32_t(createDate) << 16 | createTime; }
    std::uint32_t modified() const { return std::uint32_t(modifyDate) << 16 | modifyTime; }
    // The 8.3 name as stored, blanks kept: the name part alone for a folder,
    // "name.ext" for a file. A deleted entry's marker becomes a blank; 0x05
    // stands for a name that begins with the byte 0xE5.
    std::u16string name(bool folder) const;
};
