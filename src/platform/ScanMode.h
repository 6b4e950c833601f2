#pragma once

// The choices that decide which scan runs, as the program keeps them. The
// numbers are the ones recovery sessions and the auto-recovery snapshot
// store; inside the program the choices are these kinds.

namespace platform {

// The recovery chosen on the home screen and its recovery-kind screen:
// files or photos, each fast or advanced, the partitions of a disk (fast) or
// a formatted volume (advanced).
enum class ScanMode : int {
    None = -1,
    FastFiles = 0,
    AdvancedFiles = 1,
    FastPhotos = 2,
    AdvancedPhotos = 3,
    Partitions = 4,
    Formatted = 5,
};

// What the scan the wizard starts runs, as its last steps decided: the
// deleted-file scan with or without a search of the marked file types, the
// search alone, the search of a whole disk, or the tree scan with or
// without a search.
enum class RawSearchMode : int {
    None = -1,
    DeletedFiles = 0,
    DeletedFilesAndSearch = 1,
    SearchOnly = 2,
    WholeDisk = 3,
    TreeAndSearch = 4,
    Tree = 5,
};

// The tree scan chosen on the scan-mode screen.
enum class TreeScanMode : int { None = -1, Standard = 0, Advanced = 1 };

// A stored number as a choice whose numbers run from 0 to `last`; None for
// a number that names none.
template <class Mode> Mode modeFromStored(int stored, Mode last) {
    return stored >= 0 && stored <= static_cast<int>(last) ? static_cast<Mode>(stored) : Mode::None;
}
template <class Mode> int storedMode(Mode mode) {
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
// Whether the scan searches the marked file types: the scans a snapshot is
// kept of, and that a resume goes on with.
inline bool searchesFileTypes(RawSearchMode m) {
    return m == RawSearchMode::DeletedFilesAndSearch || m == RawSearchMode::SearchOnly ||
           m == RawSearchMode::WholeDisk || m == RawSearchMode::TreeAndSearch;
}

} // namespace platform
