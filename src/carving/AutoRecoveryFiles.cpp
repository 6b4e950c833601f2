#include "carving/AutoRecoveryFiles.h"

#include "platform/SystemLog.h"
#include "session/AutoRecoverySnapshot.h"
#include "session/SessionFileOutput.h"
#include "session/TreeRecordWriter.h"

namespace {
constexpr auto kSyncInterval = std::chrono::seconds(1);
} // namespace

AutoRecoveryFiles::AutoRecoveryFiles(const std::string& folder, const std::vector<std::string>& media) {
    std::string error;
    if (!folder.empty()) {
        data_ = SessionFileOutput::openForAppend(AutoRecoverySnapshot::dataPath(folder), media, &error);
        info_ = SessionFileOutput::openForAppend(AutoRecoverySnapshot::infoPath(folder), media, &error);
    }
    if (!data_ || !info_)
        platform::logFormat("The auto-recovery pair in %@ is not complete; the search keeps no resume point", folder);
}

AutoRecoveryFiles::~AutoRecoveryFiles() {
    if (data_) data_->close();
    if (info_) info_->close();
}

void AutoRecoveryFiles::note(const SessionFileOutput& file, const char* name) {
    if (noted_ || !file.failed()) return;
    noted_ = true;
    platform::logFormat("Writing the auto-recovery file %@ failed (%@); the search goes on without it", name,
                        file.reason());
}

void AutoRecoveryFiles::writeDir(const NewDir* node) {
    if (!data_) return;
    TreeRecordWriter::writeDir(node, *data_);
    note(*data_, AutoRecoverySnapshot::kDataFile);
}

void AutoRecoveryFiles::recordsWritten() {
    if (!data_) return;
    data_->flush();
    note(*data_, AutoRecoverySnapshot::kDataFile);
}

void AutoRecoveryFiles::checkpoint(std::uint64_t unit, std::uint64_t sector, std::uint64_t lostBelow,
                                   std::optional<std::uint64_t> heldFile) {
    if (!info_) return;
    if (data_) data_->flush();
    info_->seek(0);
    AutoRecoverySnapshot::writeCheckpoint(*info_, unit, sector, lostBelow, heldFile);
    info_->flush();
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSync_ >= kSyncInterval) {
        lastSync_ = now;
        if (data_) data_->sync();
        info_->sync();
    }
    if (data_) note(*data_, AutoRecoverySnapshot::kDataFile);
    note(*info_, AutoRecoverySnapshot::kInfoFile);
}
