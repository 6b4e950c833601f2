#include "media/ContentHint.h"

#include "media/ContentKind.h"

#include <cstdio>

std::string ContentHint::forMBRSystemID(std::uint8_t systemID) {
    switch (systemID) {
    // FAT12 is listed with the FAT16 types: the FAT type itself is decided
    // by the volume's cluster count, not by the table.
    case 0x01:
    case 0x04:
    case 0x06:
        return "DOS_FAT_16";
    case 0x0E:
        return "Windows_FAT_16";
    case 0x0B:
        return "DOS_FAT_32";
    case 0x0C:
        return "Windows_FAT_32";
    // NTFS and exFAT share this type, as they share the basic-data GUID of
    // GPT disks; the content tests tell them apart.
    case 0x07:
        return contentString(ContentKind::ExFAT);
    case 0xAF:
        return contentString(ContentKind::HFSPlus);
    default: {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", systemID);
        return text;
    }
    }
}

std::string ContentHint::forGPTType(platform::ByteView g) {
    if (g.size() < 16) return {};
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.le32(0), g.le16(4),
                  g.le16(6), g.u8(8), g.u8(9), g.u8(10), g.u8(11), g.u8(12), g.u8(13), g.u8(14), g.u8(15));
    return text;
}

std::string ContentHint::forApplePartitionType(const std::string& type) {
    std::string t = type.substr(0, type.find('\0'));
    if (t == "Apple_APFS") return contentString(ContentKind::APFSContainer);
    return t;
}
