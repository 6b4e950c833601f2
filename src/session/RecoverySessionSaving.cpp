#include "session/RecoverySessionSaving.h"

#include "platform/AppController.h"
#include "platform/SystemLog.h"
#include "session/SessionMediumCheck.h"
#include "session/TreeRecordWriter.h"
#include "volume/Volume.h"

#include <thread>

using platform::Dict;

namespace {

platform::AppController* controller() {
    return platform::appController();
}

void request(void (platform::AppController::*call)(const Dict&), const Dict& d) {
    if (auto* c = controller()) (c->*call)(d);
}

bool askOnMain(const std::function<bool()>& ask) {
    if (!ask) return false;
    bool answer = false;
    if (auto* c = controller())
        c->performOnMainThread([&] { answer = ask(); }, true);
    else
        answer = ask();
    return answer;
}

} // namespace

RecoverySessionSaving::RecoverySessionSaving(RecoverySession session, std::string path)
    : session_(std::move(session)), path_(std::move(path)) {}

bool RecoverySessionSaving::readFirst5Sectors(const Volume& volume, platform::Data& sectors, std::uint32_t& unread) {
    std::string device;
    if (volume.volumeScanType == 2)
        device = volume.parentDrivePath;
    else if (volume.volumeScanType == 0 || volume.volumeScanType == 1 || volume.volumeScanType == 3)
        device = volume.path();
    else
        return false;
    const std::uint32_t bps = volume.u32BytesInSector();
    if (!SessionMediumCheck::isSectorSize(bps)) return false;
    // The reader that tells nobody: a drive gone since the scan is no reason
    // to stop the save, the zeros simply never match a drive. Sectors it
    // would not give are marked so and say nothing when the session opens.
    const std::optional<std::uint32_t> failed = SessionMediumCheck::readFirst5Sectors(device, bps, sectors);
    unread = failed.value_or(0);
    if (!failed) {
        platform::logFormat("The first sectors of %@ could not be read for the recovery session; zeros stored", device);
        sectors.assign(5 * std::size_t{bps}, 0);
    } else if (unread != 0) {
        platform::logFormat("Some of the first sectors of %@ could not be read for the recovery session (mask %d); "
                            "they are kept as unread",
                            device, static_cast<int>(unread));
    }
    return true;
}

bool RecoverySessionSaving::saveScanInfo() {
    while (askOnMain(panelVisible_))
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::this_thread::sleep_for(settleDelay_);

    request(&platform::AppController::beginSheetWindow,
            Dict{{"sheetWindow", "windowSavingRecoverySession"}, {"parentWindow", "window"}});
    request(
        &platform::AppController::updateProgressIndicator,
        Dict{{"progressIndicator", "progressSavingRecoverySession"}, {"setIndeterminate", true}, {"animation", true}});
    if (showWholeTree_) showWholeTree_();

    failure_.clear();
    const bool saved = writeFile();
    finish(saved);
    return saved;
}

bool RecoverySessionSaving::writeFile() {
    std::shared_ptr<Volume> volume = session_.volume;
    if (!volume || !volume->dirRoot) {
        failure_ = "there is no found-file tree to save";
        return false;
    }
    // Never over the medium: its device, the drive it lies on, or the image.
    std::unique_ptr<SessionFileOutput> out =
        SessionFileOutput::create(path_, {volume->path(), volume->cPath(), volume->parentDrivePath}, &failure_);
    if (!out) return false;
    created_ = true;
    if (rawWrite_) out->setRawWrite(rawWrite_);

    session_.hasFirst5Sectors = readFirst5Sectors(*volume, session_.first5Sectors, session_.first5SectorsUnread);
    session_.print = SessionMediumCheck::readFoundFilesPrint(*volume);
    if (!RecoverySessionFile::writeHead(*out, &failure_) ||
        !RecoverySessionFile::writeSettings(*out, session_, &failure_))
        return false;

    NewDir* root = volume->dirRoot;
    request(&platform::AppController::updateProgressIndicator,
            Dict{{"progressIndicator", "progressSavingRecoverySession"},
                 {"setIndeterminate", false},
                 {"animation", false},
                 {"minValue", 0.0},
                 {"maxValue", static_cast<double>(root->childrenCount)},
                 {"doubleValue", 0.0}});
    TreeRecordWriter writer([] {
        request(&platform::AppController::updateProgressIndicator,
                Dict{{"progressIndicator", "progressSavingRecoverySession"}, {"incrementBy", 100.0}});
    });
    if (!writer.writeDir(root, *out, true)) {
        failure_ = out->reason();
        return false;
    }
    if (!RecoverySessionFile::writePrint(*out, session_.print, &failure_)) return false;
    if (!RecoverySessionFile::writeCompleteHead(*out, &failure_)) return false;
    if (!out->close()) {
        failure_ = out->reason();
        return false;
    }
    return true;
}

void RecoverySessionSaving::finish(bool saved) {
    auto* c = controller();
    if (!c) return;
    c->updateProgressIndicator(Dict{{"progressIndicator", "progressSavingRecoverySession"}, {"doubleValue", 0.0}});
    c->endSheetWindow(Dict{{"sheetWindow", "windowSavingRecoverySession"}});
    if (saved)
        c->updateTextField(Dict{{"textField", "textFieldTreeStatus"}, {"textField String", "Recovery Session Saved"}});
    c->updateTextField(Dict{{"textField", "textFieldSavedData"}, {"textField String", " "}});
    c->updateProgressIndicator(Dict{{"progressIndicator", "progressTree"}, {"doubleValue", 0.0}});
    for (const char* name : {"saveScanButton", "buttonTreeBackToPartitions"})
        c->updateButton(Dict{{"button", name}, {"setEnabled", true}});
    if (askOnMain(selectedRowIsFile_)) c->updateButton(Dict{{"button", "previewButton"}, {"setEnabled", true}});
    const NewDir* root = session_.volume ? session_.volume->dirRoot : nullptr;
    if (root && root->selected == 1) c->updateButton(Dict{{"button", "saveButton"}, {"setEnabled", true}});
    c->performOnMainThread([c] { c->setScanInfoOrSavingNotProcessing(true); }, true);

    if (!saved) {
        platform::logFormat("Recovery session %@ not saved: %@", path_, failure_);
        const std::string body =
            created_ ? "The recovery session file \"" + path_ + "\" could not be written: " + failure_ +
                           ". It is left incomplete and will not open."
                     : "The recovery session file \"" + path_ + "\" could not be created: " + failure_ + ".";
        c->showAlertPanelWithData(Dict{{"title", "! Error"}, {"body", body}, {"defaultButton", "OK"}});
        return;
    }
    c->showAlertPanelWithData(
        Dict{{"title", "Recovery Session File Saved"},
             {"body", "Saving location: " + path_ +
                          "\n\nTo reload the saved recovery session file, Launch Drentic Recovery Software, then File "
                          "Menu->Open Recovery Session or Press (Ctrl + O)."},
             {"defaultButton", "OK"}});
    std::shared_ptr<Volume> volume = session_.volume;
    c->performOnMainThread([volume] { volume->scanInfoSaved = true; }, true);
}
