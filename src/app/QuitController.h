#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class Quelvar_Recovery_SoftwareAppDelegate;
class WindowElements;
class WorkerRequestBridge;

// When the program may end, and how: the Quit command and the main window's
// close button refuse while a scan runs off the result screen, or while a
// session or the recovered data is being saved or a session opened on it;
// on the result screen an unsaved tree is first offered for saving as a
// recovery session, and the program then ends once the session is written.
class QuitController : public QObject {
    Q_OBJECT
public:
    QuitController(Quelvar_Recovery_SoftwareAppDelegate& delegate, WindowElements& elements,
                   WorkerRequestBridge& requests);

    // The Quit command, the window's close button and its closing.
    void connectControls();

    void terminateApplication();
    bool windowShouldClose();
    // 1 quit now, 0 do not quit, 2 quit once the session save has finished.
    int promptForScanInfoSaving();
    // Looked at a few times a second until the session is on disk; a save
    // that is cancelled leaves the program running, and a later save still
    // ends it.
    void watchSaveScanInfo();
    // Closes a visible preview, then ends the program.
    void terminateApp();
    // Runs the save of the recovery session when the user answers "Yes" to
    // the question on quitting; the session code plugs in here.
    void setSaveRecoverySessionHandler(std::function<void()> handler) { save_ = std::move(handler); }

private:
    bool onResultScreen() const;
    // The refusals; false when the program may go on towards its end.
    bool refuseWhileScanning();
    bool refuseWhileProcessing();

    Quelvar_Recovery_SoftwareAppDelegate& delegate_;
    WindowElements& elements_;
    WorkerRequestBridge& requests_;
    QTimer saveScanInfoWatcher_;
    std::function<void()> save_;
};
