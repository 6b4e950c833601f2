#pragma once

// The auto-recovery pair as a running search keeps it up to date, in the
// state folder: the snapshot file, to whose end the record of every node the
// search adds is appended through the tree-record writer, and the Info file,
// whose first 24 bytes hold the checkpoint and what the scan lost below it
// (see AutoRecoverySnapshot). Both are opened
// as the snapshot writer left them; a file that is missing stays missing and
// what would go into it is dropped, as a failed write is (the pair only helps
// a resume). The records of each found file are handed to the system at
// once; the Info file is synced, after the snapshot file, at most about once
// a second, so the checkpoint on disk never names a position whose records
// are not there.

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
    void checkpoint(std::uint64_t unit, std::uint64_t sector, std::uint64_t lostBelow) override;

private:
    // Logs the first failure of the pair once.
    void note(const SessionFileOutput& file, const char* name);

    std::unique_ptr<SessionFileOutput> data_;
    std::unique_ptr<SessionFileOutput> info_;
    std::chrono::steady_clock::time_point lastSync_{};
    bool noted_ = false;
};
