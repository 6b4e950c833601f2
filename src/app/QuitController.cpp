#include "app/QuitController.h"

#include "app/MainWindow.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "app/RecoverySessionController.h"
#include "app/TerminateSignal.h"
#include "app/TreeScreenController.h"
#include "app/WindowElements.h"
#include "app/WorkerRequestBridge.h"
#include "platform/ProcessFlags.h"
#include "volume/Volume.h"

#include <QAction>
#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <utility>

namespace {
constexpr std::chrono::milliseconds kKeptQuitRecheck{20};
} // namespace

QuitController::QuitController(Quelvar_Recovery_SoftwareAppDelegate& delegate, WindowElements& elements,
                               WorkerRequestBridge& requests)
    : delegate_(delegate), elements_(elements), requests_(requests) {}

void QuitController::connectControls() {
    // Queued: a save that has ended says so from its own thread, and the
    // quit it kept is asked afresh from the window's own event loop.
    connect(
        &delegate_, &Quelvar_Recovery_SoftwareAppDelegate::scanInfoOrSavingEnded, this,
        [this] {
            if (std::exchange(quitAfterSave_, false)) carryOutKeptQuit();
        },
        Qt::QueuedConnection);
    MainWindow* window = elements_.window();
    if (!window) return;
    connect(window->quitAction(), &QAction::triggered, this, &QuitController::terminateApplication);
    window->setCloseHandler([this] { return windowShouldClose(); });
    // Ending the program closes the window too; that close is no new request.
    connect(window, &MainWindow::windowClosed, this, [this] {
        if (!terminating_) terminateApp();
    });
}

void QuitController::followTerminateSignals(TerminateSignal& signal) {
    connect(&signal, &TerminateSignal::requested, this, &QuitController::terminateApplication);
}

bool QuitController::onResultScreen() const {
    MainWindow* window = elements_.window();
    return window && window->selectedIdentifier() == QStringLiteral("Tree");
}

bool QuitController::refuseWhileScanning() {
    if (!platform::scanRunningFlag()) return false;
    requests_.runAlert(QStringLiteral("Scan running"),
                       QStringLiteral("A scan is in progress. Please stop that scan first, in order to quit Drentic "
                                      "Recovery Software."),
                       QStringLiteral("OK"), QString(), QString());
    return true;
}

bool QuitController::refuseWhileProcessing() {
    if (delegate_.scanInfoOrSavingNotProcessing()) return false;
    requests_.runAlert(QStringLiteral("Process Running"),
                       QStringLiteral("Recovery session saving/opening or data saving is in process. The program can "
                                      "quit if that process is completed or aborted."),
                       QStringLiteral("OK"), QString(), QString());
    return true;
}

bool QuitController::waitForTheSavesEnd() {
    if (delegate_.scanInfoOrSavingNotProcessing()) return false;
    const TreeScreenController* tree = TreeScreenController::of(delegate_);
    if (!tree || !tree->savingAtItsLastAlert()) return false;
    // Its alert says how the save ended; it stays until the user has read
    // it, and the program does not forget that it was asked to end.
    quitAfterSave_ = true;
    return true;
}

void QuitController::carryOutKeptQuit() {
    // The save's thread gives the window its buttons back after it says it
    // has ended, and waits for the window to do so: the program ends only
    // once that thread is done, asked again from the event loop meanwhile.
    TreeScreenController* tree = TreeScreenController::of(delegate_);
    if (tree && tree->savingRunning()) {
        QTimer::singleShot(kKeptQuitRecheck, this, &QuitController::carryOutKeptQuit);
        return;
    }
    terminateApplication();
}

void QuitController::terminateApplication() {
    if (terminating_) return;
    if (!onResultScreen()) {
        if (!refuseWhileScanning()) terminateApp();
        return;
    }
    if (waitForTheSavesEnd() || refuseWhileProcessing()) return;
    // On 2 the program ends once the session is written.
    if (promptForScanInfoSaving() == 1) terminateApp();
}

bool QuitController::windowShouldClose() {
    if (terminating_) return true;
    if (!onResultScreen()) {
        if (refuseWhileScanning()) return false;
        delegate_.previewClose();
        return true;
    }
    if (waitForTheSavesEnd() || refuseWhileProcessing()) return false;
    // On 2 the program ends once the session is written.
    return promptForScanInfoSaving() == 1;
}

int QuitController::promptForScanInfoSaving() {
    // A new answer replaces an end still waiting for an earlier save.
    disconnect(pendingQuit_);
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    if (!volume || !volume->dirRoot || volume->scanInfoSaved) return 1;
    const int answer = requests_.runAlert(
        QStringLiteral("Do you want to save recovery session?"),
        QStringLiteral("After scanning the physical drive, scan results obtained can be saved so that recovery process "
                       "could be carried out in next restart without scanning the drive again. Just open the saved "
                       "recovery session and proceed with recovery process."),
        QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel"));
    if (answer == platform::AlertDefaultReturn) {
        RecoverySessionController* sessions = RecoverySessionController::of(delegate_);
        if (!sessions) return 0;
        // Armed first, so a save that cannot even begin disarms it at once.
        watchSaveScanInfo();
        sessions->save();
        return 2;
    }
    return answer == platform::AlertAlternateReturn ? 1 : 0;
}

void QuitController::watchSaveScanInfo() {
    disconnect(pendingQuit_);
    RecoverySessionController* sessions = RecoverySessionController::of(delegate_);
    if (!sessions) return;
    pendingQuit_ = connect(sessions, &RecoverySessionController::savingFinished, this, [this](bool saved) {
        disconnect(pendingQuit_);
        std::shared_ptr<Volume> volume = delegate_.selectedVolume();
        if (saved && volume && volume->scanInfoSaved) terminateApp();
    });
}

void QuitController::terminateApp() {
    requests_.onMain([this] {
        terminating_ = true;
        delegate_.previewClose();
        QCoreApplication::quit();
    });
}
