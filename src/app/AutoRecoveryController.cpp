#include "app/AutoRecoveryController.h"

#include "app/MainWindow.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "app/ScanWizard.h"
#include "platform/Paths.h"
#include "platform/ProcessFlags.h"
#include "platform/SystemLog.h"
#include "session/AutoRecoverySnapshot.h"
#include "session/PrivilegedHelper.h"
#include "session/SessionMediumCheck.h"
#include "signatures/Sig.h"
#include "signatures/SigNode.h"
#include "signatures/SignatureSearchState.h"
#include "volume/Volume.h"

#include <chrono>
#include <memory>
#include <thread>

using platform::Dict;

namespace {

// Clears the pause flag when it goes out of scope, so that no path of the
// snapshot thread leaves the scan waiting.
class ReleaseScan {
public:
    explicit ReleaseScan(std::shared_ptr<Volume> volume) : volume_(std::move(volume)) {}
    ~ReleaseScan() { release(); }
    ReleaseScan(const ReleaseScan&) = delete;
    ReleaseScan& operator=(const ReleaseScan&) = delete;
    void release() {
        if (volume_) volume_->setPauseThread(false);
        volume_.reset();
    }

private:
    std::shared_ptr<Volume> volume_;
};

} // namespace

AutoRecoveryController* AutoRecoveryController::install(Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    if (AutoRecoveryController* existing = of(delegate)) return existing;
    return new AutoRecoveryController(delegate);
}

AutoRecoveryController* AutoRecoveryController::of(const Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    return delegate.findChild<AutoRecoveryController*>(QString(), Qt::FindDirectChildrenOnly);
}

AutoRecoveryController::AutoRecoveryController(Quelvar_Recovery_SoftwareAppDelegate& delegate)
    : QObject(&delegate), delegate_(delegate) {}

// ---------------------------------------------------------------------------
// Writing

void AutoRecoveryController::rawScanStarted(const platform::Value&) {
    delegate_.performOnMainThread(
        [this] {
            AutoRecoveryState state;
            state.volume = delegate_.selectedVolume();
            if (!state.volume) return;
            state.mainScanStatus = delegate_.mainScanStatus();
            state.treeScanMode = platform::storedMode(delegate_.treeScanMode());
            state.scanMode = platform::storedMode(delegate_.scanMode());
            const ScanWizard* wizard = ScanWizard::of(delegate_);
            state.rawSearchMode =
                platform::storedMode(wizard ? wizard->rawSearchMode() : platform::RawSearchMode::None);
            state.isPTListOrPTScanListChosen = delegate_.isPTListOrPTScanListChosen();
            state.partitionListDictArray = delegate_.partitionListDictArray();
            state.partitionScanListDictArray = delegate_.partitionScanListDictArray();
            const SignatureSearchState& search = *delegate_.signatureSearch();
            for (const platform::Value& entry : search.sigArray) {
                const auto node = entry.objectAs<SigNode>();
                state.autoRecSigExtArray.push_back(node && node->sig() ? node->sig()->extension : std::string());
            }
            state.mp3DoneArray = search.mp3DoneArray;
            state.mpgDoneArray = search.mpgDoneArray;
            // A resumed search on the medium this start has just read.
            if (resumedMedium_ && resumedMedium_->volume.lock() == state.volume &&
                resumedMedium_->device == SessionMediumCheck::identityDevice(*state.volume))
                state.medium = std::move(resumedMedium_->identity);
            resumedMedium_.reset();
            // Set before the thread exists: its clear can never come first.
            state.volume->setPauseThread(true);
            std::thread([this, state = std::move(state)]() mutable {
                rawScanStartedThread(std::move(state));
            }).detach();
        },
        true);
}

void AutoRecoveryController::rawScanStartedThread(AutoRecoveryState state) {
    ReleaseScan release(state.volume);
    delegate_.beginSheetWindow(Dict{{"sheetWindow", "windowSavingAutoRecoverySession"}, {"parentWindow", "window"}});
    delegate_.updateProgressIndicator(Dict{
        {"progressIndicator", "progressSavingAutoRecoverySession"}, {"setIndeterminate", true}, {"animation", true}});
    std::string why;
    const Volume& v = *state.volume;
    const auto saved =
        AutoRecoverySnapshot::saveScanInfoAutoRecovery(platform::stateDir(), state, {v.path(), v.cPath()}, &why);
    delegate_.updateProgressIndicator(
        Dict{{"progressIndicator", "progressSavingAutoRecoverySession"}, {"animation", false}});
    delegate_.endSheetWindow(Dict{{"sheetWindow", "windowSavingAutoRecoverySession"}});
    // The search goes on whatever became of the snapshot; the user hears of
    // a failure once, while it runs.
    release.release();
    if (saved != AutoRecoverySnapshot::Saved::Written) {
        platform::logFormat("The scan cannot be resumed if it is interrupted: %@", why);
        delegate_.runAlertPanel(platform::alertRequest("!Error", "Cannot create file at selected path", "OK"));
    }
    LaunchPrivilegedHelper();
    delegate_.performOnMainThread([this] { delegate_.bringMainWindowToFront(); }, false);
}

void AutoRecoveryController::rawScanCompleted() {
    AutoRecoverySnapshot::deletePair(platform::stateDir());
}

// ---------------------------------------------------------------------------
// Resuming

void AutoRecoveryController::openScanInfoAutoRecoveryAndScanThread() {
    std::thread([this] {
        delegate_.beginSheetWindow(
            Dict{{"sheetWindow", "windowLoadingAutoRecoverySession"}, {"parentWindow", "window"}});
        delegate_.updateProgressIndicator(Dict{{"progressIndicator", "progressLoadingAutoRecoverySession"},
                                               {"setIndeterminate", true},
                                               {"animation", true}});
        std::string why;
        auto state = std::make_shared<std::optional<AutoRecoveryState>>(
            AutoRecoverySnapshot::openScanInfoAutoRecovery(platform::stateDir(), &why));
        // The medium is looked for here, off the main thread: it reads every
        // drive that could be it.
        SessionMediumCheck::Found medium;
        if (*state && (*state)->volume && (*state)->medium)
            medium = SessionMediumCheck::findSnapshotMedium(*(*state)->volume, *(*state)->medium,
                                                            delegate_.driveDictArray(), delegate_.volumeDictArray());
        delegate_.updateProgressIndicator(
            Dict{{"progressIndicator", "progressLoadingAutoRecoverySession"}, {"animation", false}});
        delegate_.endSheetWindow(Dict{{"sheetWindow", "windowLoadingAutoRecoverySession"}});
        delegate_.performOnMainThread(
            [this, state, why, medium] {
                // Only a signature search takes a snapshot: anything else is
                // no scan to go on with.
                const bool searching = *state && platform::searchesFileTypes(platform::modeFromStored(
                                                     (*state)->rawSearchMode, platform::RawSearchMode::Tree));
                if (searching && medium.notConnected) {
                    mediumNotConnected(**state);
                    return;
                }
                if (searching) {
                    if (medium.pathIsDifferent) adoptMediumPath(**state, medium);
                    resumedMedium_.reset();
                    if (medium.identity)
                        resumedMedium_ = ResumedMedium{(*state)->volume, medium.identityDevice, *medium.identity};
                    scanAutoRecovery(**state);
                    emit resumeFinished(true);
                    return;
                }
                // Nothing sound to go on from; asking again at every start
                // would not make it readable.
                if (*state && (*state)->volume) (*state)->volume->freeTree();
                platform::logFormat("The interrupted scan cannot be resumed: %@",
                                    *state ? std::string("the snapshot names no signature search") : why);
                AutoRecoverySnapshot::deletePair(platform::stateDir());
                platform::autoResumeFlag() = false;
                if (MainWindow* window = delegate_.window())
                    window->selectTabViewItemWithIdentifier(QStringLiteral("Main Screen"));
                emit resumeFinished(false);
            },
            false);
    }).detach();
}

void AutoRecoveryController::mediumNotConnected(AutoRecoveryState& state) {
    Volume& v = *state.volume;
    platform::logFormat("The interrupted scan of %@ is not resumed: no connected medium is the one it was made of",
                        v.path());
    const std::string name = describeMedium(v);
    v.freeTree();
    // Kept for a start with the medium back.
    platform::autoResumeFlag() = false;
    if (MainWindow* window = delegate_.window()) window->selectTabViewItemWithIdentifier(QStringLiteral("Main Screen"));
    delegate_.runAlertPanel(platform::alertRequest(
        "Drive Not Connected",
        "The drive or volume " + name +
            " of the interrupted scan is either not connected or has been modified. The scan was not resumed; connect "
            "the drive and start the program again to resume it.",
        "OK"));
    emit resumeFinished(false);
}

void AutoRecoveryController::adoptMediumPath(AutoRecoveryState& state, const SessionMediumCheck::Found& medium) {
    Volume& v = *state.volume;
    platform::logFormat("The interrupted scan of %@ resumes on %@, where its medium is now", v.path(), medium.path);
    SessionMediumCheck::adoptDrivePath(v, medium.path, state.partitionListDictArray, state.partitionScanListDictArray);
    if (!medium.parentDrivePath.empty()) v.parentDrivePath = medium.parentDrivePath;
}

std::string AutoRecoveryController::describeMedium(const Volume& volume) {
    std::string name = volume.volumeName;
    if (name.empty())
        for (const std::string& part : {volume.model(), volume.serial()})
            if (!part.empty() && part != "-") name += (name.empty() ? "" : " ") + part;
    return name.empty() ? volume.path() : "\"" + name + "\" (" + volume.path() + ")";
}

void AutoRecoveryController::scanAutoRecovery(AutoRecoveryState& state) {
    ScanWizard* wizard = ScanWizard::of(delegate_);
    if (!wizard) return;
    delegate_.setSelectedVolume(state.volume);
    // The resumed search passes over the streams the interrupted one walked.
    delegate_.signatureSearch()->mp3DoneArray = std::move(state.mp3DoneArray);
    delegate_.signatureSearch()->mpgDoneArray = std::move(state.mpgDoneArray);
    delegate_.setMainScanStatus(state.mainScanStatus);
    delegate_.setTreeScanMode(platform::modeFromStored(state.treeScanMode, platform::TreeScanMode::Advanced));
    delegate_.setScanMode(platform::modeFromStored(state.scanMode, platform::ScanMode::Formatted));
    wizard->setRawSearchMode(platform::modeFromStored(state.rawSearchMode, platform::RawSearchMode::Tree));
    delegate_.setIsPTListOrPTScanListChosen(state.isPTListOrPTScanListChosen);
    delegate_.setPartitionListDictArray(state.partitionListDictArray);
    if (!delegate_.volumeScanArgument().empty()) delegate_.volumeScanArgument()[0] = state.partitionScanListDictArray;
    wizard->setAutoRecovery(std::move(state.autoRecSigExtArray), state.autoRecBeginSize);
    wizard->scanAutoRecovery();
}
