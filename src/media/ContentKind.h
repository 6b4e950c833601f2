#pragma once

// What a drive or volume holds, as its row's "Content" names it. The strings
// are the rows' own (the partition-table vocabulary the lists were designed
// with) and stay where rows are stored or shown; inside the program a
// content is decoded once, here, and compared as a kind.

#include <string_view>

enum class ContentKind {
    None, // "-", a partition scheme, or anything else
    HFSPlus,
    HFSX,
    FAT12,
    FAT16,
    FAT32,
    // The basic-data partition type: on a volume row, an exFAT volume (an
    // NTFS one shares the type, but never becomes a row).
    ExFAT,
    // A volume of an APFS container ("APFS"), and the container's
    // partition type as a table names it.
    APFS,
    APFSContainer,
};

ContentKind contentKindOf(std::string_view content);
// The string a row stores for the kind; "-" for None.
const char* contentString(ContentKind kind);

inline bool isHFSContent(ContentKind k) {
    return k == ContentKind::HFSPlus || k == ContentKind::HFSX;
}
inline bool isFATContent(ContentKind k) {
    return k == ContentKind::FAT12 || k == ContentKind::FAT16 || k == ContentKind::FAT32;
}
