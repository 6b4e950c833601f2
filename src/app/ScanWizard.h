#pragma once

// The scan wizard: from the choice of a recovery kind on the home screen,
// through the drives list, the partition lists and the lost-volume search,
// the scan mode, the file types and the search range, to the start of the
// scan thread on the chosen volume. Every step is an action of one screen;
// the state they share (the recovery kind, the chosen row, the volume or
// drive, where the volume came from) lives in the delegate, so that the
// result screen, the quit path and the sessions see the same values.
//
// The lists' rows and cells are DrivesTableDataSource's, the file-type list
// is SignatureListController's; this class only moves between screens and
// decides what each step creates, keeps or frees.

#include "platform/ScanMode.h"
#include "platform/Value.h"
#include "scan/ScanThread.h"

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DMedia;
class DriveListMonitor;
class DrivesTableDataSource;
class QAbstractButton;
class Quelvar_Recovery_SoftwareAppDelegate;
class SignatureListController;
class Volume;

class ScanWizard : public QObject {
    Q_OBJECT
public:
    // Makes the wizard of the delegate's window (a child of the delegate),
    // with the list tables and the file-type list it drives, and connects
    // every step of the screens.
    static ScanWizard* install(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    static ScanWizard* of(const Quelvar_Recovery_SoftwareAppDelegate& delegate);

    // Follows the machine's devices in the drives list while it is shown
    // whenever the monitor sees one come, go or change size; the wizard
    // keeps the monitor.
    void watchDrives(DriveListMonitor* monitor);
    // Lists the devices again on a worker, behind the rows shown, and shows
    // the lists where they give other rows, keeping the user's choice and
    // place (DrivesTableDataSource::reloadDrivesKeepingChoice). Only while
    // the drives list is shown and not loading; a listing that another
    // overtook is dropped.
    void followDrives();

    // How a scan thread is started: detached on the volume, by default.
    using ScanStarter = std::function<void(std::shared_ptr<Volume>, ScanThread::Entry, platform::Array)>;
    void setScanStarter(ScanStarter starter) { scanStarter_ = std::move(starter); }

    // --- home and recovery-kind screens ---
    void recoverFiles() { openKind(platform::ScanMode::FastFiles); }
    void recoverPhotos() { openKind(platform::ScanMode::FastPhotos); }
    void recoverPartitionAndDrives() { openKind(platform::ScanMode::Partitions); }
    void recoverFilesFast() { choose(platform::ScanMode::FastFiles); }
    void recoverFilesAdvanced() { choose(platform::ScanMode::AdvancedFiles); }
    void recoverPhotosFast() { choose(platform::ScanMode::FastPhotos); }
    void recoverPhotosAdvanced() { choose(platform::ScanMode::AdvancedPhotos); }
    void recoverPartitionAndDrivesFast() { choose(platform::ScanMode::Partitions); }
    void recoverPartitionAndDrivesAdvanced() { choose(platform::ScanMode::Formatted); }
    void backToMainScreen();
    // The home button of a later screen; from the result screen it asks
    // first.
    void gotoHome(QObject* sender);

    // --- drives list ---
    // Body of the worker that rebuilds the drive list behind its sheet.
    void runSheetForDrivesLoading();
    // Rebuilds the list behind its sheet; a refresh asked for while one
    // runs follows it instead of running beside it.
    void refreshDrivesList();
    // Whether a rebuild of the drive list is running.
    bool loadingDrives() const { return loadersRunning_ > 0; }
    // The end of the loading sheet: the rows of the display mode show.
    void drivesLoaded();
    void nextButtonInDrivesListTabClicked();
    // Whether the device cannot be opened for reading (the reason is
    // logged); a device that opens is closed again at once.
    static bool isSipEnable(const std::string& path);
    void backButtonInDrivesListTabClicked();

    // --- partition lists and the lost-volume search ---
    void prepareForScan();
    void ptListNextClicked();
    void volumeFromPTIsSelected();
    void ptListBackClicked();
    void showPTScanList();
    void ptScanListNextClicked();
    void volumeFromScanListIsSelected();
    void ptScanListBackClicked();
    // The tree scan refused the volume: back to the list it came from.
    void destroyVolumeAndBackToPartList();

    // --- scan mode, file types, range and start ---
    void treeScanModeStdScanClicked();
    void treeScanModeAdvScanClicked();
    void treeScanModeBackClicked();
    void prepareForSignatureSearch();
    void sigSelNextClicked();
    void skipButtonSigTabClicked();
    void sigSelBackToVolumesClicked();
    void setTextFieldRawSizeDrvVol();
    void rawSliderChanged(QObject* sender);
    void rawSliderBackToSigSelClicked();
    // Starts the scan; a resumed start takes the restored status, range and
    // resume block.
    void rawSliderNextClicked(bool resumed = false);

    // --- state ---
    platform::RawSearchMode rawSearchMode() const { return rawSearchMode_; }
    void setRawSearchMode(platform::RawSearchMode mode) { rawSearchMode_ = mode; }
    const platform::Array& sigSelArray() const { return sigSelArray_; }
    const platform::Dict& selectedDrvOrVolDict() const { return selectedDrvOrVolDict_; }
    // Restored by a resume: the marked types' extensions and the block to
    // go on from (none, for a pair without its Info file: the last one
    // stays).
    void setAutoRecovery(std::vector<std::string> extensions, std::optional<std::uint64_t> beginSize) {
        autoRecSigExtArray_ = std::move(extensions);
        if (beginSize) autoRecBeginSize_ = *beginSize;
    }
    // Main thread, with the restored state in place and the auto-resume
    // flag set: the saved kind of recovery again, the saved types marked,
    // and the search started from the restored block.
    void scanAutoRecovery();

    // "0 KB", "%.2f KB", "%.2f MB" or "%.2f GB" of a byte count, in decimal
    // units.
    static QString sizeText(std::uint64_t bytes);

private:
    explicit ScanWizard(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    void connectControls();
    void choose(platform::ScanMode scanMode);
    // A recovery-kind screen, by the scan mode of its fast choice.
    void openKind(platform::ScanMode fastMode);
    // The kind screen of a scan mode, with its hover picture.
    void showKindScreen(platform::ScanMode scanMode, bool selectTab);
    void showHomeScreen();
    // The file-type screen's Next and Skip, and Skip alone.
    void setSigTabStepsEnabled(bool enabled);
    void setSkipEnabled(bool enabled);
    void setFileTypeEditingShown(bool shown);
    void writeDrivesHeading();
    void showEmptyListTexts();
    // Back to a list the volume was chosen from, its choice cleared: the
    // partition list (its search box off), the lost volumes found (with
    // their count), the drives list (with its heading).
    void backToPartitionList();
    void backToFoundVolumes();
    void backToDrivesList();
    // Lets the volume go: a tree on the result screen is freed by the result
    // screen, otherwise the volume's own tree with it.
    void freeSelectedVolume();
    // A partition row completed with its disk's sector size, byte size and
    // icon keys.
    platform::Dict completedPartitionRow(platform::Dict row) const;
    std::shared_ptr<Volume> volumeFromRow(const platform::Dict& row);
    void startScan(bool resumed);

    Quelvar_Recovery_SoftwareAppDelegate& delegate_;
    DrivesTableDataSource* tables_ = nullptr;
    SignatureListController* fileTypes_ = nullptr;
    ScanStarter scanStarter_;

    // Whether the node of a row still holds the medium the row was made of
    // (SysfsBlockDevice::holdsMedium); a row no listing made, which names no
    // medium, is taken at its word.
    static bool holdsItsMedium(const platform::Dict& row);
    // The row's medium is no longer at its node: nothing is opened, the user
    // is told, and the drives list shows the devices as they are now, with
    // nothing chosen, for a choice made again.
    void chooseAgain(const platform::Dict& row);

    // Starts the worker that rebuilds the drive list.
    void startDrivesLoading();
    // A worker that listed the drives has ended (main thread): what was
    // asked for meanwhile runs.
    void drivesLoadingEnded();

    std::atomic<int> loadersRunning_{0};
    bool refreshPending_ = false;
    bool followPending_ = false;
    platform::RawSearchMode rawSearchMode_ = platform::RawSearchMode::DeletedFiles;
    platform::Dict selectedDrvOrVolDict_;
    platform::Array sigSelArray_;
    std::vector<std::string> autoRecSigExtArray_;
    std::uint64_t autoRecBeginSize_ = 0;
};
