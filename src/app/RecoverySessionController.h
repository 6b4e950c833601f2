#pragma once

// The program's side of recovery sessions: File > Save Recovery Session and
// the result screen's "Save Recovery Session" button (a save dialog over the
// window, then the save thread), File > Open Recovery Session (an open dialog
// from the home screen) and a session file given on the command line. The
// files themselves are written and read by src/session on worker threads;
// this class prepares the screens, hands the threads the program's state and
// takes back what an opened session brings.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <optional>

class QFileDialog;
struct RecoverySession;
class Quelvar_Recovery_SoftwareAppDelegate;

class RecoverySessionController : public QObject {
    Q_OBJECT
public:
    // Makes the controller of the delegate's window (a child of the
    // delegate) and connects the menu commands and the result screen's
    // button.
    static RecoverySessionController* install(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    static RecoverySessionController* of(const Quelvar_Recovery_SoftwareAppDelegate& delegate);

    // The save dialog; on OK the save thread writes the shown tree.
    void save();
    // The open dialog; from the menu only while the home screen is up.
    void open(QObject* sender);
    // A session path handed to the program: another extension is ignored,
    // another screen than the home screen refused with an alert.
    void openScanInfoFile(const QString& path);

    // --- "openFile.dat": another program hands a session's path over in
    // the state folder, the whole file one path as UTF-16 text ---
    static QString openFilePath();
    // The path the file's bytes hold: UTF-16 after a byte-order mark, or
    // without one in the order its zero bytes show (big-endian when they
    // do not tell). Nothing for bytes that are no UTF-16 text (an odd
    // count, a broken surrogate pair, a NUL, nothing at all).
    static std::optional<QString> handedOverPath(const QByteArray& bytes);
    // At launch: when the file is there, the session it names is opened and
    // the file deleted; false when there was no file.
    bool openHandedOverSession();
    // From now on the file is looked for every five seconds; each one found
    // is deleted and its session opened.
    void watchOpenFilePathFileThread();
    void openFilePathFileDetected();

    // Whether the found files of the shown tree may be read, asked before
    // every preview and save. A scan's own result may always be read. For
    // an opened session the drive lists are built again and its medium
    // looked for once more, at its path first (it may have gone, been
    // replaced, or been connected since); missing, the alert that says so
    // is shown, the medium's readers refuse it until a later look finds it,
    // and nothing may be read.
    bool sessionMediumReady();

    // How long the threads wait once their dialog has gone (1 s).
    void setPanelSettleDelay(std::chrono::milliseconds delay) { settleDelay_ = delay; }
    // "Drentic recovery session September 05, 2024, 9_11_18 AM" for now.
    static QString defaultFileName();

signals:
    // On the main thread, once the save or open thread has ended; a save
    // whose dialog was cancelled, or that could not begin, ends unsaved too,
    // so every save asked for ends in exactly one savingFinished.
    void savingFinished(bool saved);
    void openingFinished(bool opened);

private:
    explicit RecoverySessionController(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    void connectControls();
    void updateSaveCommand();
    bool homeScreenShown() const;
    void startSaving(const QString& path, QFileDialog* dialog);
    // The head is checked; then the tree screen waits for the reading thread.
    void startOpening(const QString& path, QFileDialog* dialog);
    // The result screen's buttons while a session is written or read.
    void disableTreeButtons();

    // The path in the file, or nothing (with a log line) when it holds none.
    static std::optional<QString> readHandedOverPath(const QString& file);

    Quelvar_Recovery_SoftwareAppDelegate& delegate_;
    // What the last opened session knows its medium by.
    std::shared_ptr<RecoverySession> openedSession_;
    std::chrono::milliseconds settleDelay_{1000};
    QTimer openFileWatcher_;
};
