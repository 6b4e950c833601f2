#include "formats/FATDirectoryEntry.h"

#include "platform/TextEncoding.h"

std::optional<FATDirectoryEntry> FATDirectoryEntry::decode(platform::ByteView e) {
    if (!e.has(0, kBytes)) return std::nullopt;
    FATDirectoryEntry d;
    e.copyTo(0, d.shortName.data(), d.shortName.size());
    d.attributes = e.u8(11);
    d.createTime = e.le16(14);
    d.createDate = e.le16(16);
    d.firstClusterHigh = e.le16(20);
    d.modifyTime = e.le16(22);
    d.modifyDate = e.le16(24);
    d.firstClusterLow = e.le16(26);
    d.fileSize = e.le32(28);
    return d;
}

std::u16string FATDirectoryEntry::name(bool folder) const {
    std::string raw(shortName.begin(), shortName.begin() + 8);
    if (isDeleted())
        raw[0] = ' ';
    else if (shortName[0] == 0x05)
        raw[0] = static_cast<char>(0xE5);
    if (!folder) {
        raw += '.';
        raw.append(shortName.begin() + 8, shortName.end());
    }
    return platform::utf16FromCodePage437(raw);
}
