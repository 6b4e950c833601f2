#pragma once

// The recovery the user chose on the home screen and its recovery-kind
// screen: files or photos, each fast or advanced, the partitions of a disk
// (fast) or a formatted volume (advanced). The numbers are the ones
// recovery sessions and the auto-recovery snapshot store.

namespace platform {

enum class ScanMode : int {
    None = -1,
    FastFiles = 0,
    AdvancedFiles = 1,
    FastPhotos = 2,
    AdvancedPhotos = 3,
    Partitions = 4,
    Formatted = 5,
};

// A stored number as a mode; None for a number that names none.
inline ScanMode scanModeFromStored(int stored) {
    return stored >= 0 && stored <= 5 ? static_cast<ScanMode>(stored) : ScanMode::None;
}
inline int storedScanMode(ScanMode mode) {
    return static_cast<int>(mode);
}

inline bool isFileScan(ScanMode m) {
    return m == ScanMode::FastFiles || m == ScanMode::AdvancedFiles;
}
inline bool isPhotoScan(ScanMode m) {
    return m == ScanMode::FastPhotos || m == ScanMode::AdvancedPhotos;
}
inline bool isPartitionScan(ScanMode m) {
    return m == ScanMode::Partitions || m == ScanMode::Formatted;
}

} // namespace platform
