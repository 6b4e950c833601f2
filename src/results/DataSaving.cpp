#include "results/DataSaving.h"

#include "media/ContentKind.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/Format.h"
#include "platform/SystemLog.h"
#include "results/DestinationFolder.h"
#include "results/LocalDestinationFileSystem.h"
#include "results/NewDirViewHelper.h"
#include "results/ResultText.h"
#include "results/SaveFileName.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::AlertDefaultReturn;
using platform::Dict;

namespace {

// Folders held open down the walk; deeper ones are opened again when the
// walk comes back to them, so a hostile chain of nested folders cannot use
// up the process's descriptors.
constexpr std::size_t kOpenFolders = 64;
// What the destination's file system is synced after: a commit every few
// thousand files or few hundred megabytes, not one per file.
constexpr std::size_t kSyncBatchEntries = 4096;
constexpr std::uint64_t kSyncBatchBytes = 256ull << 20;
// Where the save still has to read, as the reader's judgement of a failing
// medium asks it: the files after the one being saved, enough of them that a
// few lie where no read has been, looked for among a bounded number of nodes,
// and the first runs of each.
constexpr std::size_t kFilesStillToRead = 32;
constexpr std::size_t kNodesLookedAt = 1u << 16;
constexpr std::size_t kRunsOfAFile = 8;

std::string errorText(int error) {
    return std::strerror(error);
}

} // namespace

struct DataSaving::Frame {
    NewDir* node = nullptr;
    // The name the folder was created under in its parent, and its path
    // from the destination, for the log.
    std::string name;
    std::string relative;
    std::optional<DestinationFolder> folder;
    // Folders made by the first pass that have something below them.
    std::vector<std::pair<NewDir*, std::string>> subfolders;
    std::size_t next = 0;
};

std::shared_ptr<DataSaving> DataSaving::create(std::shared_ptr<Volume> selectedVolume, NewDir* dirRootTemp,
                                               platform::Dict selectedDrvOrVolDict,
                                               std::shared_ptr<const DestinationFileSystem> destination) {
    if (!destination) destination = std::make_shared<LocalDestinationFileSystem>();
    return std::shared_ptr<DataSaving>(new DataSaving(std::move(selectedVolume), dirRootTemp,
                                                      std::move(selectedDrvOrVolDict), std::move(destination)));
}

DataSaving::DataSaving(std::shared_ptr<Volume> selectedVolume, NewDir* dirRootTemp, platform::Dict selectedDrvOrVolDict,
                       std::shared_ptr<const DestinationFileSystem> destination)
    : selectedVolume_(std::move(selectedVolume)), dirRootTemp_(dirRootTemp),
      selectedDrvOrVolDict_(std::move(selectedDrvOrVolDict)), destination_(std::move(destination)) {
    if (selectedVolume_) {
        sourcePath_ = selectedVolume_->path();
        Volume* volume = selectedVolume_.get();
        // The scans' range reader in its save role: a failed range is read
        // again in smaller pieces, and only the sectors that fail are lost.
        // Nothing read at all: the medium has gone and the reader has told
        // the user; every read after it would fail too.
        reader_ = [this, volume](std::uint64_t sector, std::int32_t count,
                                 std::uint8_t* buffer) -> std::optional<std::uint64_t> {
            const std::optional<std::uint64_t> lost =
                volume->readSectorRange(sector, count, buffer, DMedia::RangeReader::Save);
            if (!lost) sourceGone_ = true;
            return lost;
        };
        cachedReader_ = [volume](std::uint64_t sector, std::int32_t count,
                                 std::uint8_t* buffer) -> std::optional<std::uint64_t> {
            return volume->readCachedSectors(sector, count, buffer);
        };
    }
}

DataSaving::~DataSaving() {
    {
        std::lock_guard lock(mutex_);
        stopElapsedTimeThread_ = true;
    }
    changed_.notify_all();
    if (elapsedThread_.joinable() && elapsedThread_.get_id() != std::this_thread::get_id())
        elapsedThread_.join();
    else if (elapsedThread_.joinable())
        elapsedThread_.detach();
}

DataSaving::MarkedCount DataSaving::countMarkedToSave(const NewDir* root) {
    MarkedCount count;
    if (!root || root->selected != 1) return count;
    auto markedFolder = [](const NewDir* c) {
        return c->selected == 1 && c->fileType == NewDir::Folder && c->childrenCount != 0;
    };
    newdir::preOrder(root, newdir::childList, markedFolder, [&](const NewDir* folder) {
        if (folder->childrenCount == 0) return newdir::Walk::Skip;
        for (const NewDir* child : folder->childList) {
            if (child && child->selected == 1 && child->fileType == NewDir::File) {
                ++count.files;
                count.bytes += child->fileSize;
            }
        }
        return newdir::Walk::Into;
    });
    return count;
}

// ---------------------------------------------------------------------------
// Alerts and interface requests

int DataSaving::alert(const std::string& title, const std::string& body, const std::string& defaultButton,
                      const std::string& alternateButton) {
    platform::AppController* c = platform::appController();
    if (!c) return AlertDefaultReturn;
    Dict request{{"title", title}, {"body", body}, {"defaultButton", defaultButton}};
    if (!alternateButton.empty()) request.set("alternateButton", alternateButton);
    return c->showAlertPanelWithData(request);
}

void DataSaving::button(const char* name, bool enabled) {
    if (auto* c = platform::appController()) c->updateButton(Dict{{"button", name}, {"setEnabled", enabled}});
}

std::string DataSaving::endTitle() const {
    std::lock_guard lock(mutex_);
    return endTitle_;
}

DataSaving::Ending DataSaving::ending() const {
    std::lock_guard lock(mutex_);
    return ending_;
}

std::string DataSaving::endBody() const {
    std::lock_guard lock(mutex_);
    return endBody_;
}

// ---------------------------------------------------------------------------
// Main thread: the Save action and the destination

bool DataSaving::saveData() {
    if (auto* c = platform::appController()) c->previewClose();
    return alert("Information",
                 "Please ensure that you are not saving recovered data to the same volume from "
                 "which you are recovering. Saving the recovered data to the same hard drive / "
                 "volume would result in permanent data loss. Do you want to continue?",
                 "Yes", "No") == AlertDefaultReturn;
}

bool DataSaving::checkDestination(const std::string& path) {
    // A free size that cannot be read counts as none.
    const std::uint64_t free = destination_->freeBytes(path).value_or(0);
    if (free < markedData()) {
        alert("! Not enough free disk space",
              "The volume you have chosen to save data does not have enough free space available.", "OK");
        return false;
    }
    if (const auto info = destination_->info(path)) {
        if (!info->writable) {
            alert("! Can not save", "The volume chosen to save data to, is not writable.", "OK");
            return false;
        }
        canSaveSlashes_ = DestinationFileSystem::takesColons(info->typeName);
    } else {
        canSaveSlashes_ = true;
    }
    // The warning before the panel is not enough: writing onto the medium
    // being recovered destroys the very data the user is after.
    if (selectedVolume_) {
        if (destination_->isOnMedium(path, selectedVolume_->cPath())) {
            alert("! Can not save",
                  "The folder chosen to save data to is on the drive or volume being recovered. "
                  "Saving there would overwrite the data being recovered. Please choose a folder "
                  "on another drive.",
                  "OK");
            return false;
        }
    }
    return true;
}

bool DataSaving::destinationPanelDidEnd(int panelResult, const std::string& path) {
    if (panelResult != 1) return false;
    if (!checkDestination(path)) return false;
    for (const char* name : {"saveScanButton", "buttonTreeBackToPartitions", "previewButton", "saveButton"})
        button(name, false);
    if (auto* c = platform::appController()) {
        c->setScanInfoOrSavingNotProcessing(false);
        c->updateTextField(Dict{{"textField", "textFieldSavedData"}, {"textField String", " "}});
    }
    savedData_ = 0;
    {
        std::lock_guard lock(shownMutex_);
        shownData_ = 0;
    }
    startSaveThread(path);
    return true;
}

void DataSaving::startSaveThread(const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        atLastAlert_ = false;
    }
    std::thread([self = shared_from_this(), path] { self->saveFilesAndFolders(Dict{{"path", path}}); }).detach();
}

bool DataSaving::waitUntilFinished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return !running_; });
}

bool DataSaving::atItsLastAlert() const {
    std::lock_guard lock(mutex_);
    return running_ && atLastAlert_;
}

void DataSaving::abortDataSaving() {
    abortSaving_ = true;
}

// ---------------------------------------------------------------------------
// Save thread

int DataSaving::showAlert() {
    if (canSaveSlashes()) return AlertDefaultReturn;
    return alert("Information",
                 "It is highly recommended to save data on a Linux native filesystem. The volume "
                 "chosen for saving data does not have a native filesystem, such as \"ext4\", "
                 "\"XFS\" or \"Btrfs\". Click OK to continue with saving data on this volume OR "
                 "click Cancel to go back and choose another volume",
                 "OK", "Cancel");
}

void DataSaving::updateTreeProgress(std::uint64_t bytes, std::optional<std::uint64_t> placesAsked) {
    platform::AppController* c = platform::appController();
    if (!c) return;
    // In the second pass the bar goes by the places asked of those to ask.
    if (placesAsked)
        c->updateProgressIndicator(
            Dict{{"progressIndicator", "progressTree"}, {"doubleValue", static_cast<double>(*placesAsked)}});
    if (bytes == 0) return;
    const std::string text =
        "Saved: " + ResultText::sizeString(bytes, ResultText::ZeroSize::TwoPlaces, ResultText::Precision::Double);
    c->updateTextField(Dict{{"textField", "textFieldSavedData"}, {"textField String", text}});
    if (!placesAsked)
        c->updateProgressIndicator(
            Dict{{"progressIndicator", "progressTree"}, {"doubleValue", static_cast<double>(bytes)}});
}

void DataSaving::showSavedData() {
    std::lock_guard lock(shownMutex_);
    const std::uint64_t saved = savedData_.load();
    const bool second = secondPass_.load();
    const std::uint64_t asked = placesAsked_.load();
    if (saved == shownData_ && (!second || asked == shownAsked_)) return;
    shownData_ = saved;
    shownAsked_ = asked;
    const std::optional<std::uint64_t> places = second ? std::optional(asked) : std::nullopt;
    if (platform::AppController* c = platform::appController())
        c->performOnMainThread([this, saved, places] { updateTreeProgress(saved, places); }, true);
}

void DataSaving::startElapsedTimeThreadSavingData() {
    if (elapsedThread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopElapsedTimeThread_ = true;
        }
        changed_.notify_all();
        elapsedThread_.join();
    }
    stopElapsedTimeThread_ = false;
    if (auto* c = platform::appController()) c->setStopElapsedTimeThread(false);
    elapsedThread_ = std::thread([this] { elapsedTimeThreadSavingData(); });
}

void DataSaving::elapsedTimeThreadSavingData() {
    std::unique_lock lock(mutex_);
    for (;;) {
        // Woken at once by the end of the save, so the time is never shown
        // after it (nor to a controller that has gone).
        if (changed_.wait_for(lock, std::chrono::seconds(1), [this] { return stopElapsedTimeThread_.load(); })) return;
        lock.unlock();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - scanStartDate_).count();
        if (auto* c = platform::appController())
            c->updateTextField(Dict{{"textField", "textFieldSavingTimeElapsed"},
                                    {"textField String", platform::getTimeFormStringForInterval(seconds)}});
        showSavedData();
        lock.lock();
    }
}

void DataSaving::saveFilesAndFolders(const platform::Dict& argument) {
    const std::string path = argument.get("path").stringValue();
    platform::AppController* c = platform::appController();
    errors_ = 0;
    savedFiles_ = 0;
    savedWithUnreadableSectors_ = 0;
    notOneSectorRead_ = 0;
    filesReached_ = 0;
    sourceGone_ = false;
    goneInTheSecondPass_ = false;
    destinationFull_ = false;
    {
        std::lock_guard lock(mutex_);
        ending_ = Ending::None;
        endTitle_.clear();
        endBody_.clear();
    }

    // 1. The destination panel goes first.
    if (openPanelVisible_)
        while (openPanelVisible_())
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (panelSettleDelay_.count() > 0) std::this_thread::sleep_for(panelSettleDelay_);

    // 2. A foreign file system: the user may still choose another folder.
    int answer = AlertDefaultReturn;
    if (c)
        c->performOnMainThread([this, &answer] { answer = showAlert(); }, true);
    else
        answer = showAlert();

    if (answer == AlertDefaultReturn) {
        if (c) {
            c->beginSheetWindow(Dict{{"sheetWindow", "windowSavingData"}, {"parentWindow", "window"}});
            c->updateProgressIndicator(Dict{{"progressIndicator", "progressTree"}, {"minValue", 0.0}});
            c->updateProgressIndicator(
                Dict{{"progressIndicator", "progressTree"}, {"maxValue", static_cast<double>(markedData())}});
        }
        abortSaving_ = false;
        showSavingProgress_ = true;
        button("stopSaveButton", true);
        scanStartDate_ = std::chrono::steady_clock::now();
        startElapsedTimeThreadSavingData();

        const MarkedCount marked = countMarkedToSave(dirRootTemp_);
        saveDir(dirRootTemp_, path);
        showSavedData();
        // Whatever the walk never reached (a folder that could not be made,
        // a destination that filled up, a stop) was not saved either: the
        // end counts it as it counts every marked file not written.
        if (marked.files > filesReached_) {
            errors_ += marked.files - filesReached_;
            if (abortSaving())
                platform::logFormat("The save was stopped before it reached %llu of the marked files; they are not "
                                    "saved",
                                    static_cast<unsigned long long>(marked.files - filesReached_));
        }

        if (c) {
            c->updateProgressIndicator(Dict{{"progressIndicator", "progressTree"}, {"doubleValue", 0.0}});
            c->endSheetWindow(Dict{{"sheetWindow", "windowSavingData"}});
        }
        {
            std::lock_guard lock(mutex_);
            stopElapsedTimeThread_ = true;
        }
        changed_.notify_all();
        if (c) c->setStopElapsedTimeThread(true);
        if (elapsedThread_.joinable()) elapsedThread_.join();

        std::string title, body;
        const std::uint64_t errors = savingErrors();
        // Files none of whose sectors asked for could be read are among
        // them, and said apart: the user may wonder where they are. What a
        // walk or the second pass's places stepped over was not asked for,
        // and nothing is said of it but that it was not read.
        const std::uint64_t unread = notOneSectorRead();
        const std::string failures =
            (errors ? platform::format("\n\n%llu of the marked files and folders could not be saved; the system log "
                                       "says which and why.",
                                       static_cast<unsigned long long>(errors))
                    : std::string()) +
            (unread ? platform::format("\n\nMarked files not saved as not one of their sectors that were asked for "
                                       "could be read from the medium: %llu. The system log names them.",
                                       static_cast<unsigned long long>(unread))
                    : std::string());
        // Files that hold zeros for sectors the medium did not give are
        // saved, and the user is told they are not whole.
        const std::uint64_t holed = savedWithUnreadableSectors();
        const std::string unreadable =
            holed ? platform::format("\n\nSaved files with sectors the medium did not give: %llu. Those sectors are "
                                     "written as zeros; the system log names the files, and which of their sectors "
                                     "could not be read and which were not asked for.",
                                     static_cast<unsigned long long>(holed))
                  : std::string();
        // A medium that stopped answering, or went, during the save is said
        // so at the end, whatever else it says.
        const std::string gone =
            !sourceGone_ ? std::string()
            : goneInTheSecondPass_
                ? std::string("\n\nThe drive or volume being read no longer answers: it stopped as the save came "
                              "back to the runs of its files that walks over bad areas had stepped over. Every file "
                              "keeps what was read of it before.")
                : std::string("\n\nThe drive or volume being read no longer answers: of the files left when it "
                              "stopped, only those the system's cache held whole were saved.");
        Ending ending = Ending::Completed;
        // Only a save that left the user's files on the destination may say
        // it completed: nothing at all, or nothing but failures, is no
        // recovery.
        if (abortSaving()) {
            ending = Ending::Aborted;
            title = "Saving Aborted";
            body = platform::format("Saving location was: %@", path) + unreadable + failures + gone;
        } else if (destinationFull_) {
            ending = Ending::DestinationFull;
            title = "! Not enough free disk space";
            body = "The volume you have chosen to save data does not have enough free space available." +
                   platform::format(" Saving stopped at: %@", path) + unreadable + failures + gone;
        } else if (savedFiles() == 0 && errors) {
            ending = Ending::Failed;
            title = "Saving Failed";
            body = platform::format("Nothing could be saved at: %@", path) + failures + gone;
        } else if (savedFiles() == 0) {
            ending = Ending::NothingMarked;
            title = "Nothing Saved";
            body = platform::format("No marked file holds any data; only the marked folders were made at: %@", path);
        } else if (errors) {
            ending = Ending::CompletedWithErrors;
            title = platform::format("Saving completed with %llu errors", static_cast<unsigned long long>(errors));
            body = platform::format("Saved at: %@", path) + unreadable + failures + gone;
        } else if (holed) {
            ending = Ending::CompletedWithUnreadableSectors;
            title = "Saving completed with unreadable sectors";
            body = platform::format("Saved at: %@", path) + unreadable;
        } else {
            title = "Saving Completed";
            body = platform::format("Saved at: %@", path);
        }
        {
            std::lock_guard lock(mutex_);
            ending_ = ending;
            endTitle_ = title;
            endBody_ = body;
            atLastAlert_ = true;
        }
        platform::logFormat("%@: %@", title, path);
        alert(title, body, "OK");
    }

    finishSave();
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    changed_.notify_all();
}

void DataSaving::finishSave() {
    platform::AppController* c = platform::appController();
    if (selectedVolume_ && !selectedVolume_->openedScanInfo) button("saveScanButton", true);
    button("buttonTreeBackToPartitions", true);
    if (c)
        c->performOnMainThread(
            [this] {
                if (selectedRowIsFile_ && selectedRowIsFile_()) button("previewButton", true);
            },
            true);
    if (selectedVolume_ && selectedVolume_->dirRoot && selectedVolume_->dirRoot->selected == 1)
        button("saveButton", true);
    if (c) c->setScanInfoOrSavingNotProcessing(true);
    button("stopSaveButton", false);
}

// ---------------------------------------------------------------------------
// The walk

std::string DataSaving::displayNameOf(const NewDir* node) const {
    DisplayName shown;
    if (displayNameSource_) {
        shown = displayNameSource_(node);
    } else if (const NewDirViewHelper* item = NewDirViewHelper::of(node)) {
        // The name the user sees in the outline is the name on the disk.
        shown = {item->fileName(), item->appendChildrenArrayCount()};
    } else {
        shown.fileName = newdir::utf8(newdir::fileName(node));
    }
    return SaveFileName::displayName(shown.fileName, shown.appendChildrenArrayCount, node->childrenArrayCount(),
                                     canSaveSlashes());
}

FileExtentsCopier::Geometry DataSaving::geometry() const {
    FileExtentsCopier::Geometry g;
    if (!selectedVolume_) return g;
    const Volume& v = *selectedVolume_;
    g.bytesPerSector = v.u32BytesInSector();
    g.volumeStart = v.HPlusVolStart();
    if (v.sizeInSect() != 0) g.volumeEnd = platform::saturatingAdd(v.startSector, v.sizeInSect());
    const ContentKind kind = contentKindOf(v.volumeContent);
    g.chainsEndDamagedFiles = isFATContent(kind) || kind == ContentKind::ExFAT;
    return g;
}

void DataSaving::folderFailed(const std::string& path, int error) {
    ++errors_;
    platform::logFormat("Could not create the folder %@ on the destination: %@; nothing below it is saved", path,
                        errorText(error));
}

bool DataSaving::sourcePresent() const {
    platform::AppController* c = platform::appController();
    if (!c) return true;
    for (const platform::Array& list : {c->driveDictArray(), c->volumeDictArray()})
        for (const auto& row : list)
            if (row.dictValue().get("Path").description() == sourcePath_) return true;
    return false;
}

void DataSaving::writeFile(NewDir* node, const DestinationFolder& folder, const std::string& where,
                           const std::string& name) {
    // An empty file is not created: there is nothing of it to recover.
    if (node->fileSize == 0) return;
    // Nor is one that a medium found gone can no longer give: only the
    // system's cache is asked for it, and a file it does not hold whole is
    // not saved, nor made.
    const bool goneBefore = sourceGone_;
    if (goneBefore && !cacheHoldsWhole(*node)) {
        ++errors_;
        platform::logFormat("%@ is not saved: the medium is no longer available and the system's cache does not "
                            "hold all of it",
                            where + name);
        return;
    }
    // The file is made when the first of its sectors that could be read is
    // in hand: one whose first read meets a medium that has gone is not
    // there, empty, under its name while the reader's alert waits for the
    // user, nor after, whatever happens to the program then; nor is one of
    // which nothing could be read.
    std::string created;
    int fd = -1;
    const FileExtentsCopier::DestinationOpener open = [&] {
        if (fd < 0) fd = folder.createFile(name, created);
        return fd;
    };
    FileExtentsCopier& copier = *copier_;
    if (selectedVolume_) selectedVolume_->beginSavingFile();
    FileExtentsCopier::Result result = copier.copy(node, open);
    const auto pathNow = [&] { return where + (fd >= 0 ? created : name); };
    // The medium went while this file was read: if the cache holds all of
    // it, it is written again from its start from there.
    if (result == FileExtentsCopier::Result::ReadFailed && sourceGone_ && !goneBefore && cacheHoldsWhole(*node) &&
        (fd < 0 || ::ftruncate(fd, 0) == 0)) {
        savedData_ -= std::min(savedData_.load(), copier.bytesWritten());
        platform::logFormat("%@ is saved again from what the system's cache holds of it", pathNow());
        result = copier.copy(node, open);
    }
    const std::string path = pathNow();
    const bool done = result == FileExtentsCopier::Result::Done;
    const bool made = fd >= 0;
    // Runs of its own sectors that walks stepped over are asked by the
    // second pass, once every marked file has been saved from what answers:
    // the file is counted then.
    struct stat st {};
    if (done && !sourceGone_ && copier.unreadableSectors() != 0 && copier.bytesWritten() >= node->fileSize &&
        selectedVolume_ && walk_ && (!made || ::fstat(fd, &st) == 0)) {
        std::vector<LeftForLater::Run> runs = steppedOverRunsOf(*node);
        if (!runs.empty()) {
            LeftForLater later;
            later.node = node;
            for (const Frame& f : *walk_)
                later.folders.push_back(f.name);
            later.where = where;
            later.name = name;
            later.made = made ? created : std::string();
            later.device = st.st_dev;
            later.inode = st.st_ino;
            later.unreadable = copier.unreadableSectors();
            later.zerosRead = copier.sectorsRead() != 0;
            later.runs = std::move(runs);
            left_.push_back(std::move(later));
            if (made) syncAndClose(fd, Unsynced{path, false, false, left_.size() - 1}, copier.bytesWritten());
            return;
        }
    }
    // Whatever was written is kept and synced, but only a whole file counts:
    // one whose extents hold none or only part of its bytes (its volume cut
    // short, a chain that broke) is not saved, whatever was copied of it;
    // nor is one the cache let go of in part as it was copied: a disk that
    // has gone is no disk with a few bad sectors. A file of which nothing
    // was read was never made: it is told as not saved. Nor is one the
    // destination could not hold left under its name, short, looking saved.
    const bool lostToTheCache = sourceGone_ && copier.unreadableSectors() != 0;
    const bool notOneRead = !made && done && copier.bytesWritten() != 0;
    const bool whole = done && made && copier.bytesWritten() >= node->fileSize && !lostToTheCache;
    const bool kept = made && result != FileExtentsCopier::Result::WriteFailed;
    if (made && !kept) {
        if (!folder.removeFile(created, fd))
            platform::logFormat("Could not remove the file %@ from the destination: %@", path, errorText(errno));
        ::close(fd);
        savedData_ -= std::min(savedData_.load(), copier.bytesWritten());
    } else if (kept) {
        syncAndClose(fd, Unsynced{path, whole, whole && copier.unreadableSectors() != 0}, copier.bytesWritten());
    }
    const std::string told = kept ? path : where + name;
    if (copier.unreadableSectors() != 0 && kept) logZeros(*node, copier.unreadableSectors(), path);
    switch (result) {
    case FileExtentsCopier::Result::Done:
        if (notOneRead) {
            notOneSectorRead(*node, told, copier.sectorsRead() != 0);
        } else if (lostToTheCache) {
            ++errors_;
            platform::logFormat("%@ is not saved whole: the medium is no longer available", path);
        } else if (!whole) {
            ++errors_;
            platform::logFormat(!kept ? "The extents of %@ hold %llu of its %llu bytes; it is not saved"
                                      : "The extents of %@ hold %llu of its %llu bytes; the rest was not found",
                                told, static_cast<unsigned long long>(copier.bytesWritten()),
                                static_cast<unsigned long long>(node->fileSize));
        }
        break;
    case FileExtentsCopier::Result::Aborted:
        // Stopped as it was written: what was written of it is kept, and it
        // counts among the marked files not saved, as one the walk never
        // reached does.
        ++errors_;
        platform::logFormat(kept ? "%@ is not saved whole: the save was stopped as it was written; what was written of "
                                   "it is kept"
                                 : "%@ is not saved: the save was stopped as it was read",
                            told);
        break;
    case FileExtentsCopier::Result::ReadFailed:
        ++errors_;
        if (!kept)
            platform::logFormat("Could not read %@ from the medium; it is not saved", told);
        else
            platform::logFormat("Could not read %@ from the medium; %llu of its %llu bytes are saved", path,
                                static_cast<unsigned long long>(copier.bytesWritten()),
                                static_cast<unsigned long long>(node->fileSize));
        if (sourceGone_ && !goneBefore)
            platform::logFormat("The medium %@ is no longer available; of the files left, those the system's cache "
                                "holds whole are saved",
                                sourcePath_);
        break;
    case FileExtentsCopier::Result::WriteFailed:
        ++errors_;
        // What did fit is no saved file: nothing is left under its name.
        platform::logFormat("Could not write %@ on the destination: %@; it is not saved", told,
                            errorText(copier.writeError()));
        if (copier.writeError() == ENOSPC || copier.writeError() == EDQUOT) {
            destinationFull_ = true;
            platform::logFormat("The destination has no room left; saving stops");
        }
        break;
    case FileExtentsCopier::Result::OpenFailed:
        ++errors_;
        platform::logFormat("Could not create the file %@ on the destination: %@", told,
                            errorText(copier.writeError()));
        break;
    case FileExtentsCopier::Result::Refused:
        ++errors_;
        break;
    }
}

void DataSaving::syncAndClose(int fd, Unsynced what, std::uint64_t bytes) {
    const std::uint64_t ticket = nextTicket_++;
    unsynced_.emplace(ticket, std::move(what));
    syncs_->submit(fd, ticket, bytes);
    settle(syncs_->takeEnded());
}

void DataSaving::settle(const std::vector<FileSyncQueue::Synced>& ended) {
    for (const FileSyncQueue::Synced& synced : ended) {
        auto it = unsynced_.find(synced.ticket);
        if (it == unsynced_.end()) continue;
        if (synced.error == 0) {
            if (it->second.countsWhenSynced) ++savedFiles_;
            if (it->second.countsWhenSynced && it->second.unreadableSectors) ++savedWithUnreadableSectors_;
        } else {
            // A file that failed before is counted already, and one the
            // second pass comes back to when that pass ends.
            if (it->second.countsWhenSynced) ++errors_;
            if (it->second.left < left_.size()) left_[it->second.left].syncFailed = true;
            platform::logFormat("Could not sync %@ on the destination: %@; what was written may not be there",
                                it->second.path, errorText(synced.error));
        }
        unsynced_.erase(it);
    }
}

void DataSaving::saveChildren(Frame& frame) {
    NewDir* folder = frame.node;
    if (folder->childrenCount == 0) return;
    const std::uint32_t count = folder->childrenArrayCount();
    for (std::uint32_t i = 0; i < count && !stopped(); ++i) {
        NewDir* child = newdir::childAtIndex(folder, i);
        if (!child || child->selected != 1) continue;
        const std::string name = displayNameOf(child);
        if (child->fileType == NewDir::Folder) {
            std::string created;
            if (!frame.folder->makeFolder(name, created)) {
                folderFailed(frame.relative + "/" + name, errno);
                continue;
            }
            if (child->childrenCount != 0) frame.subfolders.emplace_back(child, created);
        } else if (child->fileType == NewDir::File) {
            ++filesReached_;
            childAt_ = i;
            writeFile(child, *frame.folder, frame.relative + "/", name);
        }
    }
}

bool DataSaving::reopenTopFolder(std::vector<Frame>& stack) {
    std::size_t open = stack.size() - 1;
    while (open > 0 && !stack[open].folder)
        --open;
    // Down by name from there, holding one folder at a time: the folders in
    // between stay closed.
    std::optional<DestinationFolder> current;
    for (std::size_t k = open + 1; k < stack.size(); ++k) {
        const DestinationFolder& parent = current ? *current : *stack[open].folder;
        auto next = parent.openFolder(stack[k].name);
        if (!next) return false;
        current = std::move(next);
    }
    stack.back().folder = std::move(current);
    return stack.back().folder.has_value();
}

bool DataSaving::saveDir(NewDir* node, const std::string& atPath) {
    if (!node || node->selected != 1) return true;
    auto destination = DestinationFolder::openDestination(atPath);
    if (!destination) {
        folderFailed(atPath, errno);
        return false;
    }
    const std::string shown = displayNameOf(node);
    std::string created;
    auto top = destination->makeFolder(shown, created);
    if (!top) {
        folderFailed(shown, errno);
        return false;
    }

    // A read that fails on a medium no longer listed ends the medium's part
    // in the save: the reader has told the user, and every read after it
    // would fail too. From then on only the system's cache is read.
    auto reader = [this](std::uint64_t sector, std::int32_t count,
                         std::uint8_t* buffer) -> std::optional<std::uint64_t> {
        if (sourceGone_) return cachedReader_ ? cachedReader_(sector, count, buffer) : std::nullopt;
        if (!reader_) return std::nullopt;
        const std::optional<std::uint64_t> lost = reader_(sector, count, buffer);
        if (!lost && !sourcePresent()) sourceGone_ = true;
        return lost;
    };
    copier_.emplace(geometry(), std::move(reader), abortSaving_, [this](std::uint64_t bytes) {
        savedData_ += bytes;
        // The first bytes show at once; the tick shows the rest.
        if (showSavingProgress_.exchange(false)) showSavedData();
    });
    // The folders' entries go with the file system's syncs.
    syncs_.emplace(destination->fd(), kSyncBatchEntries, kSyncBatchBytes);

    std::vector<Frame> stack;
    walk_ = &stack;
    stack.push_back(Frame{node, created, created, std::move(top), {}, 0});
    // Before the first file, every marked file is still to read: a save on
    // a disk judged to have stopped asks there whether it has come back.
    childAt_ = kBeforeTheFirstChild;
    if (selectedVolume_) selectedVolume_->setStillToRead([this] { return stillToRead(); });
    saveChildren(stack.back());
    while (!stack.empty() && !stopped()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.subfolders.size()) {
            stack.pop_back();
            continue;
        }
        const auto [child, name] = frame.subfolders[frame.next++];
        if (!frame.folder && !reopenTopFolder(stack)) {
            folderFailed(frame.relative, errno);
            stack.pop_back();
            continue;
        }
        // Made by the first pass; made again if it has gone since.
        std::string made;
        auto folder = frame.folder->makeFolder(name, made);
        if (!folder) {
            folderFailed(frame.relative + "/" + name, errno);
            continue;
        }
        std::string relative = frame.relative + "/" + made;
        if (stack.size() >= kOpenFolders) stack[stack.size() - kOpenFolders + 1].folder.reset();
        stack.push_back(Frame{child, made, std::move(relative), std::move(folder), {}, 0});
        saveChildren(stack.back());
    }
    // Every marked file has been saved from what answers: the second pass
    // comes back to the runs of them that walks stepped over.
    if (!stopped() && !sourceGone_ && !left_.empty()) comeBackToTheBadRuns(*destination);
    if (selectedVolume_) selectedVolume_->setStillToRead(nullptr);
    walk_ = nullptr;
    // Nothing counts as saved before it is on the device.
    settle(syncs_->finish());
    syncs_.reset();
    settleLeft();
    copier_.reset();
    return !stopped();
}

std::vector<DataSaving::LeftForLater::Run> DataSaving::steppedOverRunsOf(const NewDir& node) const {
    std::vector<LeftForLater::Run> runs;
    std::uint64_t inFile = 0;
    for (const auto& [first, end] : copier_->sectorRuns(node, SIZE_MAX)) {
        for (const auto& [b, e] : selectedVolume_->steppedOverIn(first, end - first))
            runs.push_back({b, e, inFile + (b - first)});
        inFile += end - first;
    }
    return runs;
}

void DataSaving::comeBackToTheBadRuns(const DestinationFolder& destination) {
    // What the first pass wrote is on the destination before the second
    // begins: a disk that dies in it, or a program ended there, loses none
    // of it.
    settle(syncs_->finish());
    std::uint64_t places = 0;
    for (const LeftForLater& file : left_)
        for (const LeftForLater::Run& run : file.runs)
            places += run.end - run.first;
    placesToAsk_ = places;
    placesAsked_ = 0;
    {
        std::lock_guard lock(shownMutex_);
        shownAsked_ = 0;
    }
    secondPass_ = true;
    // The sheet says what this pass does, and that stopping it loses
    // nothing.
    if (platform::AppController* c = platform::appController()) {
        c->updateTextField(Dict{{"textField", "textFieldSavingMessage"}, {"textField String", kSecondPassMessage}});
        c->updateProgressIndicator(Dict{{"progressIndicator", "progressTree"}, {"doubleValue", 0.0}});
        c->updateProgressIndicator(
            Dict{{"progressIndicator", "progressTree"}, {"maxValue", static_cast<double>(places)}});
    }
    platform::logFormat("Every marked file is saved from what %@ gave; the save comes back to the %llu sectors of "
                        "%llu of them that walks over bad areas stepped over",
                        sourcePath_, static_cast<unsigned long long>(places),
                        static_cast<unsigned long long>(left_.size()));
    for (comingBackTo_ = 0; comingBackTo_ < left_.size() && !stopped() && !sourceGone_; ++comingBackTo_)
        comeBackTo(left_[comingBackTo_], destination);
    showSavedData();
}

void DataSaving::comeBackTo(LeftForLater& file, const DestinationFolder& destination) {
    if (file.syncFailed) return;
    const NewDir& node = *file.node;
    const std::uint64_t bps = geometry().bytesPerSector;
    if (bps == 0) return;
    // Where the file's sector number `inFile` begins in it: its first sector
    // holds bytes before the file's own.
    const std::uint64_t before = node.firstSectorOffset % bps;
    const auto byteOf = [&](std::uint64_t inFile) {
        const std::uint64_t at = platform::saturatingMul(inFile, bps);
        return at > before ? std::min(at - before, node.fileSize) : 0;
    };
    std::optional<DestinationFolder> folder;
    int fd = -1;
    bool madeNow = false;
    int writeError = 0;
    // The file, made now (as long as it is: zeros where nothing could be
    // read) when the first pass read nothing of it, else made again by the
    // name, device and inode the first pass made it with.
    const auto openIt = [&] {
        if (fd >= 0) return true;
        // Down from the destination by name, as the first pass made them.
        if (!folder) {
            std::optional<DestinationFolder> at;
            for (const std::string& name : file.folders) {
                at = (at ? *at : destination).openFolder(name);
                if (!at) break;
            }
            folder = std::move(at);
        }
        if (!folder) {
            writeError = errno;
            return false;
        }
        if (!file.made.empty()) {
            fd = folder->reopenFile(file.made, file.device, file.inode);
            writeError = errno;
            return fd >= 0;
        }
        std::string created;
        fd = folder->createFile(file.name, created);
        if (fd < 0) {
            writeError = errno;
            return false;
        }
        file.made = created;
        madeNow = true;
        if (::ftruncate(fd, static_cast<off_t>(node.fileSize)) != 0) {
            writeError = errno;
            return false;
        }
        savedData_ += node.fileSize;
        return true;
    };
    if (selectedVolume_) selectedVolume_->beginSavingFile();
    std::uint64_t got = 0, bytes = 0;
    bool failed = false;
    const std::uint64_t askedBefore = placesAsked_.load();
    std::uint64_t runsBefore = 0;
    for (const LeftForLater::Run& run : file.runs) {
        if (stopped() || sourceGone_ || failed) break;
        // Each run of it that answers goes into its place in the file as it
        // is read.
        const MediumReader::Take take = [&](std::uint64_t first, std::uint64_t count, const std::uint8_t* data) {
            if (failed) return;
            const std::uint64_t inFile = run.inFile + (first - run.first);
            const std::uint64_t from = byteOf(inFile), to = byteOf(inFile + count);
            if (from >= to) return;
            got += count;
            const std::uint8_t* bytesOfIt = data + (from + before - inFile * bps);
            // Zeros make no file, as in the first pass.
            if (fd < 0 && std::all_of(bytesOfIt, bytesOfIt + (to - from), [](std::uint8_t b) { return b == 0; })) {
                file.zerosRead = true;
                return;
            }
            if (!openIt()) {
                failed = true;
                return;
            }
            std::size_t done = 0;
            if (!FileExtentsCopier::writeAll(fd, bytesOfIt, static_cast<std::size_t>(to - from), from, done)) {
                writeError = errno;
                failed = true;
                return;
            }
            bytes += to - from;
        };
        const MediumReader::Asked asked = [&](std::uint64_t at) {
            placesAsked_ = askedBefore + runsBefore + (at - run.first);
        };
        // Gone or stopped: the reader has told the user.
        if (!selectedVolume_->scrapeSectorRange(run.first, run.end - run.first, take, asked,
                                                [&] { return failed || stopped(); }))
            sourceGone_ = goneInTheSecondPass_ = true;
        runsBefore += run.end - run.first;
        placesAsked_ = askedBefore + runsBefore;
    }
    file.askedAgain = !failed && !sourceGone_ && !abortSaving();
    const std::uint64_t lost = file.unreadable - std::min(file.unreadable, got);
    file.unreadable = lost;
    // Read whole at last, what was left of it zeros: that is what the medium
    // holds there, and the file is saved whole.
    if (file.askedAgain && fd < 0 && lost == 0 && !openIt()) failed = true;
    const std::string path = file.where + (file.made.empty() ? file.name : file.made);
    const bool full = failed && (writeError == ENOSPC || writeError == EDQUOT);
    if (full) destinationFull_ = true;
    if (fd >= 0 && failed && madeNow) {
        // What it could not hold is no saved file: nothing is left under its
        // name.
        ++errors_;
        if (!folder->removeFile(file.made, fd))
            platform::logFormat("Could not remove the file %@ from the destination: %@", path, errorText(errno));
        ::close(fd);
        savedData_ -= std::min(savedData_.load(), node.fileSize);
        platform::logFormat("Could not write %@ on the destination: %@; it is not saved", file.where + file.name,
                            errorText(writeError));
        file.settled = true;
    } else if (fd >= 0) {
        // What the first pass wrote stays, with what this one could add.
        if (failed)
            platform::logFormat("Could not write %@ on the destination: %@; the sectors read again are not all in it",
                                path, errorText(writeError));
        platform::logFormat("%llu sectors of %@ that walks over bad areas stepped over are read",
                            static_cast<unsigned long long>(got), path);
        if (lost != 0) logZeros(node, lost, path);
        syncAndClose(fd, Unsynced{path, true, lost != 0}, bytes);
        file.settled = true;
    } else if (failed) {
        ++errors_;
        platform::logFormat(madeNow || file.made.empty() ? "Could not create the file %@ on the destination: %@"
                                                         : "Could not open %@ on the destination again: %@",
                            path, errorText(writeError));
        file.settled = true;
    }
    if (full) platform::logFormat("The destination has no room left; saving stops");
}

std::uint64_t DataSaving::failedSectorsOf(const NewDir& node) const {
    std::uint64_t failed = 0;
    if (!copier_ || !selectedVolume_) return failed;
    for (const auto& [first, end] : copier_->sectorRuns(node, SIZE_MAX))
        failed += selectedVolume_->failedSectorsIn(first, end - first);
    return failed;
}

void DataSaving::logZeros(const NewDir& node, std::uint64_t lost, const std::string& path) const {
    // "Could not be read" only of what a read asked for: what a walk or the
    // second pass's places stepped over was never asked.
    const std::uint64_t failed = std::min(lost, failedSectorsOf(node));
    if (failed == lost)
        platform::logFormat("%llu sectors of %@ could not be read from the medium; they are written as zeros",
                            static_cast<unsigned long long>(lost), path);
    else if (failed == 0)
        platform::logFormat("%llu sectors of %@ were not read from the medium, as no read asked for them; they are "
                            "written as zeros",
                            static_cast<unsigned long long>(lost), path);
    else
        platform::logFormat("%llu sectors of %@ are written as zeros: %llu of them could not be read from the medium, "
                            "and no read asked for the other %llu",
                            static_cast<unsigned long long>(lost), path, static_cast<unsigned long long>(failed),
                            static_cast<unsigned long long>(lost - failed));
}

void DataSaving::notOneSectorRead(const NewDir& node, const std::string& path, bool zerosRead) {
    ++errors_;
    ++notOneSectorRead_;
    if (zerosRead) {
        platform::logFormat("Not one sector of %@ that could be read from the medium holds anything but zeros; it is "
                            "not saved",
                            path);
        return;
    }
    std::uint64_t sectors = 0;
    for (const auto& [first, end] : copier_ ? copier_->sectorRuns(node, SIZE_MAX) : FileExtentsCopier::SectorRuns())
        sectors += end - first;
    const std::uint64_t failed = std::min(sectors, failedSectorsOf(node));
    if (failed == sectors)
        platform::logFormat("Not one sector of %@ could be read from the medium; it is not saved", path);
    else if (failed == 0)
        platform::logFormat("No sector of %@ was read from the medium, as no read asked for any; it is not saved",
                            path);
    else
        platform::logFormat("Not one of the %llu sectors of %@ that were asked for could be read from the medium, and "
                            "no read asked for its other %llu; it is not saved",
                            static_cast<unsigned long long>(failed), path,
                            static_cast<unsigned long long>(sectors - failed));
}

void DataSaving::settleLeft() {
    for (LeftForLater& file : left_) {
        if (file.settled) continue;
        const std::string path = file.where + (file.made.empty() ? file.name : file.made);
        if (file.syncFailed) {
            ++errors_;
        } else if (!file.made.empty()) {
            // As the first pass wrote it.
            ++savedFiles_;
            ++savedWithUnreadableSectors_;
            logZeros(*file.node, file.unreadable, path);
        } else if (!file.askedAgain && abortSaving() && failedSectorsOf(*file.node) == 0) {
            // Nothing of it was asked for: no sector of it could not be read.
            ++errors_;
            platform::logFormat("%@ is not saved: the save was stopped before any of its sectors, which walks over "
                                "bad areas stepped over, was asked for",
                                path);
        } else {
            // Stopped before the second pass came back to it, it is what the
            // end of a whole save would count it as: a file none of whose
            // sectors asked for answered.
            if (!file.askedAgain && abortSaving())
                platform::logFormat("%@ is not saved: the save was stopped before the runs of it that walks over bad "
                                    "areas stepped over were asked for",
                                    path);
            notOneSectorRead(*file.node, path, file.zerosRead);
        }
    }
    left_.clear();
    secondPass_ = false;
}

bool DataSaving::cacheHoldsWhole(const NewDir& node) {
    const std::uint64_t bytesPerSector = geometry().bytesPerSector;
    if (!cachedReader_ || !copier_ || bytesPerSector == 0) return false;
    const std::uint64_t most = std::max<std::uint64_t>(FileExtentsCopier::kMaxReadBytes / bytesPerSector, 1);
    // Read from memory, as the copy then reads it: a file only the cache
    // holds is never left half written for a page it did not hold.
    for (const auto& [begin, end] : copier_->sectorRuns(node, SIZE_MAX)) {
        for (std::uint64_t at = begin; at < end;) {
            const std::uint64_t n = std::min(most, end - at);
            cacheCheck_.resize(static_cast<std::size_t>(n * bytesPerSector));
            const std::optional<std::uint64_t> lost =
                cachedReader_(at, static_cast<std::int32_t>(n), cacheCheck_.data());
            if (!lost || *lost != 0) return false;
            at += n;
        }
    }
    return true;
}

std::vector<FileExtentsCopier::SectorRuns> DataSaving::stillToRead() const {
    std::vector<FileExtentsCopier::SectorRuns> files;
    // In the second pass, the runs of the files it comes back to next.
    if (secondPass_) {
        for (std::size_t k = comingBackTo_ + 1; k < left_.size() && files.size() < kFilesStillToRead; ++k) {
            FileExtentsCopier::SectorRuns runs;
            for (const LeftForLater::Run& run : left_[k].runs) {
                if (runs.size() >= kRunsOfAFile) break;
                runs.emplace_back(run.first, run.end);
            }
            files.push_back(std::move(runs));
        }
        return files;
    }
    if (!walk_ || walk_->empty() || !copier_) return files;
    std::size_t looked = 0;
    const auto enough = [&] { return files.size() >= kFilesStillToRead || looked >= kNodesLookedAt; };
    const auto markedFolder = [](const NewDir* c) {
        return c && c->selected == 1 && c->fileType == NewDir::Folder && c->childrenCount != 0;
    };
    // The marked files among a folder's children from `from` on, as
    // saveChildren takes them.
    const auto filesOf = [&](const NewDir* folder, std::uint32_t from) {
        const std::uint32_t count = folder->childrenCount == 0 ? 0 : folder->childrenArrayCount();
        for (std::uint32_t i = from; i < count && !enough(); ++i, ++looked) {
            const NewDir* c = newdir::childAtIndex(folder, i);
            if (!c || c->selected != 1 || c->fileType != NewDir::File) continue;
            FileExtentsCopier::SectorRuns runs = copier_->sectorRuns(*c, kRunsOfAFile);
            if (!runs.empty()) files.push_back(std::move(runs));
        }
    };
    // A marked folder's subtree as the walk saves it: each folder's files,
    // then its marked folders' subtrees in turn.
    const auto subtree = [&](const NewDir* top) {
        filesOf(top, 0);
        std::vector<std::pair<const NewDir*, std::uint32_t>> pending{{top, 0}};
        while (!pending.empty() && !enough()) {
            auto& [folder, next] = pending.back();
            const NewDir* sub = nullptr;
            for (const std::uint32_t count = folder->childrenArrayCount(); !sub && next < count && !enough();
                 ++next, ++looked)
                if (const NewDir* c = newdir::childAtIndex(folder, next); markedFolder(c)) sub = c;
            if (!sub) {
                pending.pop_back();
                continue;
            }
            filesOf(sub, 0);
            pending.emplace_back(sub, 0);
        }
    };
    // The rest of the folder being saved, then what each folder of the walk
    // still has to enter, innermost first.
    const Frame& inner = walk_->back();
    const std::uint32_t next = childAt_ == kBeforeTheFirstChild ? 0 : childAt_ + 1;
    filesOf(inner.node, next);
    for (std::size_t k = inner.next; k < inner.subfolders.size() && !enough(); ++k)
        subtree(inner.subfolders[k].first);
    const std::uint32_t count = inner.node->childrenCount == 0 ? 0 : inner.node->childrenArrayCount();
    for (std::uint32_t i = next; i < count && !enough(); ++i, ++looked)
        if (const NewDir* c = newdir::childAtIndex(inner.node, i); markedFolder(c)) subtree(c);
    for (std::size_t f = walk_->size() - 1; f-- > 0 && !enough();) {
        const Frame& outer = (*walk_)[f];
        for (std::size_t k = outer.next; k < outer.subfolders.size() && !enough(); ++k)
            subtree(outer.subfolders[k].first);
    }
    return files;
}
