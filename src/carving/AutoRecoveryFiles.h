#pragma once

// The auto-recovery pair as a running search keeps it up to date, in the
// state folder: the snapshot file, to whose end the record of every node the
// search adds is appended through the tree-record writer, and the Info file,
// whose first 40 bytes hold the checkpoint, what the scan lost below it and
// the file the carving holds open across it (see AutoRecoverySnapshot). Both
// are opened as the snapshot writer left them; a file that is missing stays
// missing and what would go into it is dropped, as a failed write is (the
// pair only helps a resume). The records of each found file are handed to
// the system at once; the Info file is synced, after the snapshot file, at
// most about once a second, so the checkpoint on disk never names a position
// whose records are not there, but for the held file's, which a resumed
// carving makes anew.

#include "carving/AutoRecoveryAppend.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class SessionFileOutput;

class AutoRecoveryFiles final : public AutoRecoveryAppend {
public:
    // The pair in `folder`; `media` are the paths of what is being scanned,
    // which are never written.
    AutoRecoveryFiles(const std::string& folder, const std::vector<std::string>& media);
    ~AutoRecoveryFiles() override;

    void writeDir(const NewDir* node) override;
    void recordsWritten() override;
    void checkpoint(std::uint64_t unit, std::uint64_t sector, std::uint64_t lostBelow,
                    std::optional<std::uint64_t> heldFile) override;

private:
    // Logs the first failure of the pair once.
    void note(const SessionFileOutput& file, const char* name);

    std::unique_ptr<SessionFileOutput> data_;
    std::unique_ptr<SessionFileOutput> info_;
    std::chrono::steady_clock::time_point lastSync_{};
    bool noted_ = false;
};
