#pragma once

#include "app/BringFrontWatcher.h"
#include "app/ProgressDisplay.h"
#include "app/QuitController.h"
#include "app/UpdateCheck.h"
#include "app/WindowElements.h"
#include "app/WorkerRequestBridge.h"
#include "platform/AppController.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class DMedia;
class MainWindow;
class ManualWindow;
class NewDir;
class PictureArea;
class RecoveryKindScreen;
class QUrl;
class QWidget;
class SignatureSearchState;
class Volume;

// The application delegate: owns the main window, the drive and volume lists
// and the selected drive or volume, and is the one controller through which
// the engine reaches the user. Each designed operation is an entry point
// here; the work is done by one class per concern: the worker requests
// (WorkerRequestBridge), the progress display (ProgressDisplay), the quit
// path (QuitController), the update check (UpdateCheck), the hand-over file
// (BringFrontWatcher), and each screen's own set-up in its screen's class.
class Quelvar_Recovery_SoftwareAppDelegate : public QObject, public platform::AppController {
    Q_OBJECT
public:
    // The drive and volume rows as drive discovery builds them.
    struct DriveLists {
        platform::Array driveDictArray;
        platform::Array volumeDictArray;
        platform::Array volumeDictArrayHFSOnly;
    };
    using DriveListLoader = std::function<DriveLists()>;
    // What sysfs, the mount table and the media show now.
    static DriveLists discoveredDrives();

    // The constructor stores the delegate as the process-wide controller and
    // loads the first drive list with the loader, so the lists that tell a
    // failed read from a vanished device are there before anything reads;
    // the window comes with setWindow, then awakeFromNib sets it up, then
    // applicationDidFinishLaunching runs the launch.
    explicit Quelvar_Recovery_SoftwareAppDelegate(DriveListLoader loader = discoveredDrives, QObject* parent = nullptr);
    ~Quelvar_Recovery_SoftwareAppDelegate() override;

    // The delegate that engine code and the hover buttons reach.
    static Quelvar_Recovery_SoftwareAppDelegate* shared();

    // What main() reads from the command line before Qt takes its own
    // options out of it: "auto" as the second argument resumes the
    // interrupted scan without asking.
    static void handleLaunchArguments(int argc, char** argv);

    // --- start-up ---
    MainWindow* window() const { return elements_.window(); }
    void setWindow(MainWindow* w) { elements_.setWindow(w); }
    void awakeFromNib();
    // The launch: an interrupted scan resumed (asked first unless "auto"
    // said so), or a session handed over in "openFile.dat" opened; then the
    // hand-over files are watched and the update check runs.
    void applicationDidFinishLaunching();

    // --- drive list ---
    // Rebuilds the drive and volume lists (main thread).
    void initialDriveList();
    // The lists as the machine shows them now, not kept (any thread): one
    // listing runs at a time, so a dying disk's first sectors are not asked
    // by two at once.
    DriveLists loadDriveLists();
    // Keeps lists loaded by loadDriveLists (main thread), as initialDriveList
    // does, without rebuilding the rows.
    void setDriveLists(DriveLists lists);
    // Counts the lists kept: a listing whose count changed while it ran was
    // overtaken by another.
    unsigned driveListsKept() const { return driveListsKept_; }
    // Rebuilds the rows of the drives table from the lists (main thread).
    void fillCellArray();
    // Both, on the main thread, from any thread; returns when done.
    void rebuildDriveListOnMainThread();
    void setDriveDictArray(platform::Array a);
    void setVolumeDictArray(platform::Array a);
    platform::Array volumeDictArrayHFSOnly() const;
    bool zeroTableViewDrivesList() const { return zeroTableViewDrivesList_; }
    // Which rows the drives table offers: 0 volumes, 1 disks, 2 disks each
    // followed by its volumes; -1 before the first list was shown.
    int displayDrvOrVolOrBoth() const { return displayDrvOrVolOrBoth_; }
    void setDisplayDrvOrVolOrBoth(int mode) { displayDrvOrVolOrBoth_ = mode; }

    // --- partition lists ---
    // The partitions of the chosen disk's partition table ("PT list").
    platform::Array partitionListDictArray() const;
    void setPartitionListDictArray(platform::Array a);
    // The volumes the lost-volume search found ("PT scan list"): the first
    // of its two result arrays.
    platform::Array partitionScanListDictArray() const;
    // Rebuilds the rows of both partition tables from the lists.
    void fillCellArrayPTList();

    // --- hand-over files ---
    static QString bringFrontFilePath() { return BringFrontWatcher::bringFrontFilePath(); }
    void watchBringFrontFileThread() { bringFront_.start(); }
    void bringMainWindowToFront() { bringFront_.bringMainWindowToFront(); }
    void makeMainWindowFrontThread() { bringFront_.makeMainWindowFrontThread(); }

    // --- update check ---
    void checkForUpdateClicked(QObject* sender = nullptr) { updateCheck_.checkForUpdateClicked(sender); }

    // --- quit, window and tabs ---
    void terminateApplication() { quit_.terminateApplication(); }
    // A terminate signal from then on asks as the Quit command does.
    void followTerminateSignals(TerminateSignal& signal) { quit_.followTerminateSignals(signal); }
    bool windowShouldClose() { return quit_.windowShouldClose(); }
    // 1 quit now, 0 do not quit, 2 quit once the session save has finished.
    int promptForScanInfoSaving() { return quit_.promptForScanInfoSaving(); }
    void watchSaveScanInfo() { quit_.watchSaveScanInfo(); }
    void tabView(QWidget* tabView, const QString& didSelectTabViewItem);
    void displayAboutPanel();
    // Opens the manual, at a section when one is named: handed to the
    // desktop, or in a window of the program when the desktop cannot show it.
    void help(const QString& section = QString());
    // The maker's support page, where Info.plist names one.
    void openSupportPage();
    // Hands an address to the desktop; false when it could not be shown.
    using ManualOpener = std::function<bool(const QUrl&)>;
    static bool openWithDesktop(const QUrl& url);
    void setManualOpener(ManualOpener opener) { manualOpener_ = std::move(opener); }

    // --- pictures of the home and recovery-kind screens ---
    void changeMainScreenImages();
    void resetMainScreenImages();
    void changeRecoverFilesTabImages();
    void resetRecoverFilesTabImages();
    void changeRecoverPhotosTabImages();
    void resetRecoverPhotosTabImages();
    void changeRecoverPartitionsTabImages();
    void resetRecoverPartitionsTabImages();

    // --- the scan's progress ---
    void startElapsedTimeThread() { progress_.startElapsedTimeThread(); }
    void startElapsedTimeThreadScanForVolumes() { progress_.startElapsedTimeThreadScanForVolumes(); }
    // The Stop buttons, and the two buttons of the question they show.
    void stopTreeThread() { progress_.stopTreeThread(); }
    void abortTreeThread() { progress_.abortTreeThread(); }
    void dontAbortTreeThread() { progress_.dontAbortTreeThread(); }
    bool timerValid() const { return progress_.timerValid(); }
    bool stopElapsedTimeThread() const { return progress_.stopElapsedTimeThread(); }
    // The end of a scan: the found tree is handed to the result screen.
    void showTree() { progress_.showTree(); }
    // The end of the lost-volume search: its list is shown.
    void showPTScanList() { progress_.showPTScanList(); }
    // The result screen and the found-volume list plug in here; until then
    // the end of a scan or search just shows the screen.
    void setTreeDisplayHook(std::function<void()> hook) { progress_.setTreeDisplayHook(std::move(hook)); }
    void setPTScanListHook(std::function<void()> hook) { progress_.setPTScanListHook(std::move(hook)); }

    // --- sheets ---
    // The end of a sheet begun with a context ("window loading drives ended").
    void sheetDidEnd(QWidget* sheet, int returnCode, const QString& contextInfo);

    // --- state ---
    // The volume a scan runs on, and the state of the signature search it
    // runs, fresh with every volume chosen.
    std::shared_ptr<Volume> selectedVolume() const { return selectedVolume_; }
    void setSelectedVolume(std::shared_ptr<Volume> v);
    std::shared_ptr<SignatureSearchState> signatureSearch() const { return signatureSearch_; }
    std::shared_ptr<DMedia> selectedDrive() const { return selectedDrive_; }
    void setSelectedDrive(std::shared_ptr<DMedia> d) { selectedDrive_ = std::move(d); }
    const std::string& mainScanStatus() const { return mainScanStatus_; }
    void setMainScanStatus(std::string s) { mainScanStatus_ = std::move(s); }
    QDateTime scanStartDate() const { return scanStartDate_; }
    void setScanStartDate(const QDateTime& d) { scanStartDate_ = d; }
    void setScanMode(platform::ScanMode mode) { scanMode_ = mode; }
    platform::TreeScanMode treeScanMode() const { return treeScanMode_; }
    void setTreeScanMode(platform::TreeScanMode mode) { treeScanMode_ = mode; }
    // The window back at the frame it opened with, centred.
    void restoreInitialWindowFrame();
    int isPTListOrPTScanListChosen() const { return isPTListOrPTScanListChosen_; }
    void setIsPTListOrPTScanListChosen(int v) { isPTListOrPTScanListChosen_ = v; }
    // The lost-volume search's two result arrays: the volume dictionaries
    // found and the rows of the live list ("Found Column", "Validity Column").
    platform::Array& volumeScanArgument() { return volumeScanArgument_; }
    NewDir* dirRootTemp() const { return dirRootTemp_; }
    // The result screen keeps this at the root it shows (nullptr while none).
    void setDirRootTemp(NewDir* root) { dirRootTemp_ = root; }
    QString scanInfoFileExtension() const { return scanInfoFileExtension_; }
    QSize initialWindowSize() const { return initialWindowSize_; }

    // Requests name their widgets by identifier (see WindowElements): a name
    // that finds nothing is reported with the name.
    void registerElement(const QString& identifier, QWidget* widget) { elements_.registerElement(identifier, widget); }
    QWidget* element(const QString& identifier) const { return elements_.element(identifier); }
    QWidget* elementIfMade(const QString& identifier) const { return elements_.elementIfMade(identifier); }

    // platform::AppController
    void performOnMainThread(std::function<void()> fn, bool waitUntilDone) override {
        requests_.performOnMainThread(std::move(fn), waitUntilDone);
    }
    void runAlertPanel(const platform::Array& request) override { requests_.runAlertPanel(request); }
    void postAlertPanel(const platform::Array& request) override { requests_.postAlertPanel(request); }
    int showAlertPanelWithData(const platform::Dict& request) override {
        return requests_.showAlertPanelWithData(request);
    }
    int alertResultValue() const override { return requests_.alertResultValue(); }
    void updateButton(const platform::Dict& request) override { requests_.updateButton(request); }
    void updateTextField(const platform::Dict& request) override { requests_.updateTextField(request); }
    void beginSheetWindow(const platform::Dict& request) override { requests_.beginSheetWindow(request); }
    void beginSheetWindowWithContextInfoAndOthers(const platform::Dict& request) override {
        requests_.beginSheetWindowWithContextInfoAndOthers(request);
    }
    void endSheetWindow(const platform::Dict& request) override { requests_.endSheetWindow(request); }
    void updateProgressIndicator(const platform::Dict& request) override { requests_.updateProgressIndicator(request); }
    void updateProgress(const platform::Dict& progress) override { progress_.updateProgress(progress); }
    void updateVolumeScanProgress(const platform::Dict& progress) override {
        progress_.updateVolumeScanProgress(progress);
    }
    void setUpTimer() override { progress_.setUpTimer(); }
    void setUpTimerForDMedia() override { progress_.setUpTimerForDMedia(); }
    void invalidateTimer() override { progress_.invalidateTimer(); }
    void setStopElapsedTimeThread(bool stop) override { progress_.setStopElapsedTimeThread(stop); }
    void selectTabViewItemWithIdentifier(const std::string& identifier) override;
    void setZeroTableViewDrivesList(bool zero) override;
    void terminateApp() override { quit_.terminateApp(); }
    void destroyVolumeAndBackToPartList() override;
    void previewClose() override;
    platform::ScanMode scanMode() const override { return scanMode_; }
    platform::Array driveDictArray() const override;
    platform::Array volumeDictArray() const override;
    bool scanInfoOrSavingNotProcessing() const override { return scanInfoOrSavingNotProcessing_; }
    void setScanInfoOrSavingNotProcessing(bool notProcessing) override {
        if (!scanInfoOrSavingNotProcessing_.exchange(notProcessing) && notProcessing) emit scanInfoOrSavingEnded();
    }
    void rawScanStarted(const platform::Value& argument) override;
    void rawScanCompleted() override;

signals:
    // After the drive lists were rebuilt: the drives table reloads.
    void driveListChanged();
    // After the partition lists were rebuilt: both partition tables reload.
    void partitionListsChanged();
    // After the live list of the lost-volume search was rebuilt.
    void volumesFoundChanged();
    // A session or data save, or a session opening, has ended; told from
    // the thread that ended it.
    void scanInfoOrSavingEnded();

private:
    // The three notifications the delegate observes from its construction.
    void observeNotifications();
    // The picture area of the home screen and of a recovery-kind screen.
    PictureArea* homePictureArea() const;
    PictureArea* kindPictureArea(RecoveryKindScreen* (MainWindow::*kind)() const) const;

    // The concerns, in the order they depend on one another.
    WindowElements elements_;
    WorkerRequestBridge requests_;
    ProgressDisplay progress_;
    QuitController quit_;
    UpdateCheck updateCheck_;
    BringFrontWatcher bringFront_;

    std::atomic<platform::ScanMode> scanMode_{platform::ScanMode::None};
    platform::TreeScanMode treeScanMode_ = platform::TreeScanMode::None;
    int isPTListOrPTScanListChosen_ = -1;
    std::atomic<bool> scanInfoOrSavingNotProcessing_{true};
    std::atomic<bool> zeroTableViewDrivesList_{true};
    int displayDrvOrVolOrBoth_ = -1;
    QString scanInfoFileExtension_;
    QRect initialWindowFrame_;
    QSize initialWindowSize_;

    mutable std::mutex listsMutex_;
    platform::Array driveDictArray_, volumeDictArray_, volumeDictArrayHFSOnly_;
    platform::Array volumeScanArgument_;
    platform::Array partitionListDictArray_;
    DriveListLoader driveListLoader_;
    std::mutex loaderMutex_;
    std::atomic<unsigned> driveListsKept_{0};

    std::shared_ptr<Volume> selectedVolume_;
    std::shared_ptr<SignatureSearchState> signatureSearch_;
    std::shared_ptr<DMedia> selectedDrive_;
    std::string mainScanStatus_;
    QDateTime scanStartDate_;
    NewDir* dirRootTemp_ = nullptr;
    ManualOpener manualOpener_ = openWithDesktop;
    QPointer<ManualWindow> manualWindow_;
};
