#pragma once

// Saving a finished scan as a recovery-session file, on a worker thread once
// the user has chosen the file: the saving sheet with its progress, the file
// written from the head to the tree with "UnComple" in the head until the
// very end, then the tree screen's buttons back and the closing alert. Every
// write, seek and sync is checked: a save that fails says why in an alert,
// leaves the head "UnComple" (a file that never opens), and leaves the
// volume's scanInfoSaved as it was, so the quit path still offers to save.

#include "session/RecoverySessionFile.h"
#include "session/SessionFileOutput.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class Volume;

class RecoverySessionSaving {
public:
    // The session to write (the selected volume, whose root is the tree, and
    // the wizard's modes and lists) and the chosen file.
    RecoverySessionSaving(RecoverySession session, std::string path);

    // --- what the program plugs in ---
    // Whether the save panel is still on screen (asked on the main thread).
    void setPanelVisible(std::function<bool()> visible) { panelVisible_ = std::move(visible); }
    // How long the save waits once the panel has gone (1 s).
    void setPanelSettleDelay(std::chrono::milliseconds delay) { settleDelay_ = delay; }
    // Run on the save thread before the tree is written: while deleted
    // entries only are on display, the whole tree again.
    void setShowWholeTree(std::function<void()> show) { showWholeTree_ = std::move(show); }
    // Whether the outline's selected row is a file (asked on the main
    // thread at the end, for the preview button).
    void setSelectedRowIsFile(std::function<bool()> isFile) { selectedRowIsFile_ = std::move(isFile); }
    // Replaces the file's writes (tests make them fail).
    void setRawWrite(SessionFileOutput::RawWrite write) { rawWrite_ = std::move(write); }

    // The save thread's body; true when the file is complete.
    bool saveScanInfo();
    // The reason the last save failed ("" after a completed one).
    const std::string& failure() const { return failure_; }

    // Sectors 0-4 of the drive that holds the volume: the parent drive of a
    // mounted volume, the volume's own device (the whole disk) otherwise;
    // each one that cannot be read is zeros and marked in `unread` (bit i:
    // sector i). False for a volume of another kind, whose session stores
    // none.
    static bool readFirst5Sectors(const Volume& volume, platform::Data& sectors, std::uint32_t& unread);

private:
    bool writeFile();
    void finish(bool saved);

    RecoverySession session_;
    std::string path_;
    std::function<bool()> panelVisible_;
    std::chrono::milliseconds settleDelay_{1000};
    std::function<void()> showWholeTree_;
    std::function<bool()> selectedRowIsFile_;
    SessionFileOutput::RawWrite rawWrite_;
    // Set when the file itself could be made: a later failure leaves it.
    bool created_ = false;
    std::string failure_;
};
