#include "formats/FATEntry.h"

std::uint64_t FATEntry::offsetOf(FATType type, std::uint64_t cluster) {
    switch (type) {
    case FATType::FAT32:
        return cluster * 4;
    case FATType::FAT16:
        return cluster * 2;
    default:
        return cluster + cluster / 2;
    }
}

std::optional<FATEntry> FATEntry::decode(FATType type, platform::ByteView piece, std::uint64_t pieceStart,
                                         std::uint64_t cluster) {
    const std::uint64_t offset = offsetOf(type, cluster);
    if (offset < pieceStart || !piece.has(offset - pieceStart, bytesOf(type))) return std::nullopt;
    const auto at = static_cast<std::size_t>(offset - pieceStart);
    std::uint32_t value;
    switch (type) {
    case FATType::FAT32:
        value = piece.le32(at) & 0x0FFFFFFFu;
        break;
    case FATType::FAT16:
        value = piece.le16(at);
        break;
    default:
        value = (cluster & 1) ? piece.le16(at) >> 4 : piece.le16(at) & 0xFFFu;
        break;
    }
    return FATEntry{value, kindOf(type, value)};
}

FATEntry::Kind FATEntry::kindOf(FATType type, std::uint32_t value) {
    const std::uint32_t bad = type == FATType::FAT32 ? 0x0FFFFFF7 : type == FATType::FAT16 ? 0xFFF7 : 0xFF7;
    if (value == 0) return Kind::Free;
    if (value > bad) return Kind::EndOfChain;
    if (value == bad) return Kind::Bad;
    // The eight values below the bad marker are reserved, as is 1.
    if (value == 1 || value >= bad - 7) return Kind::Reserved;
    return Kind::Next;
}
