#include "hfsplus/LiveFileReader.h"

#include "hfsplus/HFSPlusVolume.h"
#include "volume/BTreeTableClass.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <chrono>
#include <memory>

using platform::Dict;

// Folders still live are found again in the journal, where every folder
// record is taken as the skeleton deleted files hang on.
void LiveFileReader::takeFolder(const Record&, std::size_t) {}

void LiveFileReader::takeFile(const Record& record, std::size_t limit) {
    HFSPlusCatalogFile_ file;
    NewDir* dir = fileNode(record, limit, file);
    if (!dir) return;
    // Without an index (a volume found on a disk has none) nothing is kept,
    // and no journal copy is dropped as live. A file ID met twice keeps its
    // first node.
    BTreeTableClass* index = volume_.btreeNormalScan.get();
    if (!index || index->retrieveKeyField(file.fileID) != nullptr) {
        newdir::freeNDir(dir);
        return;
    }
    index->insert(std::make_unique<ItemType>(file.fileID, dir));

    if (recordsMet_ == 0 || volume_.timerFireMethodCanRun()) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double met = static_cast<double>(recordsMet_);
    const double remaining = elapsed * (2.0 * static_cast<double>(state_.leafRecords) - met) / met;
    Dict& update = volume_.dataUpdate;
    update.clear();
    update.set("TimeRemaining", volume_.getTimeFormStringForInterval(remaining));
    update.set("Progress Status", "default");
    update.set("Folders", 0);
    update.set("Files", 0);
    update.set("Entries Found", 0);
    update.set("Data", 0);
    update.set("BarDoubleValue", static_cast<unsigned long long>(recordsCounted_));
    volume_.setTimerFireMethodCanRun(true);
}

void LiveFileReader::postEnd() {
    HFSPlusVolume::postProgress(Dict{{"Progress Status", "default"},
                                     {"Folders", 0},
                                     {"Files", 0},
                                     {"Entries Found", 0},
                                     {"Data", 0},
                                     {"BarDoubleValue", state_.leafRecords}});
}
