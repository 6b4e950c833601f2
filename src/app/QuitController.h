#pragma once

#include <QObject>

class Quelvar_Recovery_SoftwareAppDelegate;
class TerminateSignal;
class WindowElements;
class WorkerRequestBridge;

// When the program may end, and how: the Quit command, a terminate signal
// and the main window's close button refuse while a scan runs off the result
// screen, or while a session or the recovered data is being saved or a
// session opened on it; on the result screen an unsaved tree is first offered
// for saving as a recovery session, and the program then ends once the
// session is written. A save that has written all it will and shows its last
// alert is no longer running: a quit asked then waits for the user to read
// that alert and is carried out after it. Once the end is under way nothing
// asks again.
class QuitController : public QObject {
    Q_OBJECT
public:
    QuitController(Quelvar_Recovery_SoftwareAppDelegate& delegate, WindowElements& elements,
                   WorkerRequestBridge& requests);

    // The Quit command, the window's close button and its closing.
    void connectControls();
    // A terminate signal asks as the Quit command does.
    void followTerminateSignals(TerminateSignal& signal);

    void terminateApplication();
    bool windowShouldClose();
    // 1 quit now, 0 do not quit, 2 quit once the session save has finished
    // (the save has been started and watchSaveScanInfo armed).
    int promptForScanInfoSaving();
    // Ends the program when the session writer reports the save asked for
    // on the way out as written. That report comes once: a save that failed
    // or whose dialog was cancelled disarms the end, so no later save ends
    // the program unexpectedly.
    void watchSaveScanInfo();
    // Closes a visible preview, then ends the program.
    void terminateApp();

private:
    bool onResultScreen() const;
    // The refusals; false when the program may go on towards its end.
    bool refuseWhileScanning();
    bool refuseWhileProcessing();
    // True when the only process running is a save at its last alert: the
    // quit is then kept for the save's end (quitAfterSave_).
    bool waitForTheSavesEnd();
    // The quit kept for a save's end, once nothing of the save runs.
    void carryOutKeptQuit();

    Quelvar_Recovery_SoftwareAppDelegate& delegate_;
    WindowElements& elements_;
    WorkerRequestBridge& requests_;
    QMetaObject::Connection pendingQuit_;
    bool terminating_ = false;
    bool quitAfterSave_ = false;
};
