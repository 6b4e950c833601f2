#pragma once

// The tree scan chosen on the scan-mode screen, standard or advanced; None
// before a choice. The numbers are the ones the auto-recovery snapshot
// stores.

enum class TreeScanMode : int { None = -1, Standard = 0, Advanced = 1 };

// A stored number as a mode; None for a number that names none.
inline TreeScanMode treeScanModeFromStored(int stored) {
    return stored == 0 || stored == 1 ? static_cast<TreeScanMode>(stored) : TreeScanMode::None;
}
inline int storedTreeScanMode(TreeScanMode mode) {
    return static_cast<int>(mode);
}
