#pragma once

// What the scan the wizard starts runs, as its last steps decided: the
// deleted-file scan with or without a search of the marked file types, the
// search alone, the search of a whole disk, or the tree scan with or
// without a search. The numbers are the ones recovery sessions and the
// auto-recovery snapshot store.

enum class RawSearchMode : int {
    None = -1,
    DeletedFiles = 0,
    DeletedFilesAndSearch = 1,
    SearchOnly = 2,
    WholeDisk = 3,
    TreeAndSearch = 4,
    Tree = 5,
};

// A stored number as a mode; None for a number that names none.
inline RawSearchMode rawSearchModeFromStored(int stored) {
    return stored >= 0 && stored <= 5 ? static_cast<RawSearchMode>(stored) : RawSearchMode::None;
}
inline int storedRawSearchMode(RawSearchMode mode) {
    return static_cast<int>(mode);
}
// Whether the scan searches the marked file types: the scans a snapshot is
// kept of, and that a resume goes on with.
inline bool searchesFileTypes(RawSearchMode m) {
    return m == RawSearchMode::DeletedFilesAndSearch || m == RawSearchMode::SearchOnly ||
           m == RawSearchMode::WholeDisk || m == RawSearchMode::TreeAndSearch;
}
