#pragma once

#include "platform/AppController.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class DMedia;
class HoverButton;
class MainWindow;
class NewDir;
class PictureArea;
class QNetworkAccessManager;
class QWidget;
class Volume;

// The application delegate: owns the main window, the drive and volume lists
// and the selected drive or volume, and answers the engine's requests on the
// main thread. A worker's request is carried over with a blocking queued
// call, so the worker's request object stays alive and unchanged until the
// main thread is done with it; the main thread itself never sleeps or waits
// for a worker.
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
    // options out of it: "auto" as the second argument, which is ignored
    // (with a log line) for as long as no scan can be resumed.
    static void handleLaunchArguments(int argc, char** argv);

    // --- start-up ---
    MainWindow* window() const;
    void setWindow(MainWindow* w);
    void awakeFromNib();
    void applicationDidFinishLaunching();

    // --- drive list ---
    // Rebuilds the drive and volume lists (main thread).
    void initialDriveList();
    // Rebuilds the rows of the drives table from the lists (main thread).
    void fillCellArray();
    void setDriveDictArray(platform::Array a);
    void setVolumeDictArray(platform::Array a);
    platform::Array volumeDictArrayHFSOnly() const;
    bool zeroTableViewDrivesList() const { return zeroTableViewDrivesList_; }

    // --- hand-over files ---
    // "bringFrontFile.dat" in the state folder: another process asks the
    // window to come to the front by creating it.
    static QString bringFrontFilePath();
    void watchBringFrontFileThread();
    void bringMainWindowToFront();
    void makeMainWindowFrontThread();

    // --- update check ---
    // Compares the version in the online list named by Info.plist's
    // "cloudPlistUrl" with ours, in the background; nothing without a URL.
    void checkForUpdateClicked(QObject* sender = nullptr);

    // --- quit, window and tabs ---
    void terminateApplication();
    bool windowShouldClose();
    // 1 quit now, 0 do not quit, 2 quit once the session save has finished.
    int promptForScanInfoSaving();
    void watchSaveScanInfo();
    void tabView(QWidget* tabView, const QString& didSelectTabViewItem);
    void displayAboutPanel();
    // Opens the manual, at a section when one is named.
    void help(const QString& section = QString());
    // Runs the save of the recovery session when the user answers "Yes" to
    // the question on quitting; the session code plugs in here.
    void setSaveRecoverySessionHandler(std::function<void()> handler) { save_ = std::move(handler); }

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
    void startElapsedTimeThread();
    void startElapsedTimeThreadScanForVolumes();
    // The Stop buttons, and the two buttons of the question they show.
    void stopTreeThread();
    void abortTreeThread();
    void dontAbortTreeThread();
    bool timerValid() const { return timerValid_; }
    // The end of a scan: the found tree is handed to the result screen.
    void showTree();
    // The end of the lost-volume search: its list is shown.
    void showPTScanList();
    // The result screen and the found-volume list plug in here; until then
    // the end of a scan or search just shows the screen.
    void setTreeDisplayHook(std::function<void()> hook) { treeDisplayHook_ = std::move(hook); }
    void setPTScanListHook(std::function<void()> hook) { ptScanListHook_ = std::move(hook); }

    // --- sheets ---
    // The end of a sheet begun with a context ("window loading drives ended").
    void sheetDidEnd(QWidget* sheet, int returnCode, const QString& contextInfo);

    // --- state ---
    std::shared_ptr<Volume> selectedVolume() const { return selectedVolume_; }
    void setSelectedVolume(std::shared_ptr<Volume> v) { selectedVolume_ = std::move(v); }
    std::shared_ptr<DMedia> selectedDrive() const { return selectedDrive_; }
    void setSelectedDrive(std::shared_ptr<DMedia> d) { selectedDrive_ = std::move(d); }
    const std::string& mainScanStatus() const { return mainScanStatus_; }
    void setMainScanStatus(std::string s) { mainScanStatus_ = std::move(s); }
    QDateTime scanStartDate() const { return scanStartDate_; }
    void setScanStartDate(const QDateTime& d) { scanStartDate_ = d; }
    void setScanMode(int mode) { scanMode_ = mode; }
    int treeScanMode() const { return treeScanMode_; }
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
    bool stopElapsedTimeThread() const { return stopElapsedTimeThread_; }

    // Requests name their widgets by identifier: a registered alias first,
    // then the window's children by object name. A name that finds nothing
    // is a fault of the program, not a request to do nothing: it is
    // reported (qCritical) with the name.
    void registerElement(const QString& identifier, QWidget* widget);
    QWidget* element(const QString& identifier) const;
    // For the few widgets that exist only once they are first needed (the
    // preview window): nullptr, quietly, until then.
    QWidget* elementIfMade(const QString& identifier) const;

    // platform::AppController
    void performOnMainThread(std::function<void()> fn, bool waitUntilDone) override;
    void runAlertPanel(const platform::Array& request) override;
    int showAlertPanelWithData(const platform::Dict& request) override;
    int alertResultValue() const override { return alertResultValue_; }
    void updateButton(const platform::Dict& request) override;
    void updateTextField(const platform::Dict& request) override;
    void beginSheetWindow(const platform::Dict& request) override;
    void beginSheetWindowWithContextInfoAndOthers(const platform::Dict& request) override;
    void endSheetWindow(const platform::Dict& request) override;
    void updateProgressIndicator(const platform::Dict& request) override;
    void updateProgress(const platform::Dict& progress) override;
    void updateVolumeScanProgress(const platform::Dict& progress) override;
    void setUpTimer() override;
    void setUpTimerForDMedia() override;
    void invalidateTimer() override;
    void setStopElapsedTimeThread(bool stop) override;
    void selectTabViewItemWithIdentifier(const std::string& identifier) override;
    void setZeroTableViewDrivesList(bool zero) override;
    void terminateApp() override;
    void destroyVolumeAndBackToPartList() override;
    void previewClose() override;
    int scanMode() const override { return scanMode_; }
    platform::Array driveDictArray() const override;
    platform::Array volumeDictArray() const override;
    bool scanInfoOrSavingNotProcessing() const override { return scanInfoOrSavingNotProcessing_; }
    void setScanInfoOrSavingNotProcessing(bool notProcessing) override;
    void rawScanStarted(const platform::Value& argument) override;
    void rawScanCompleted() override;

signals:
    // After the drive lists were rebuilt: the drives table reloads.
    void driveListChanged();
    // After the live list of the lost-volume search was rebuilt.
    void volumesFoundChanged();

private:
    // Runs fn on the main thread and waits, or directly when already there.
    void onMain(const std::function<void()>& fn);
    template <class T> T* find(const QString& name) const;
    void setText(const QString& field, const QString& text);
    QPixmap imageNamed(const QString& name);
    void configureHoverButton(const QString& name, const QString& prefix, int id, bool resetWhenNotHovering);
    // The hover picture of a screen group: the picture area shows the
    // overlay of the button the pointer is over, the others go back to
    // their normal picture.
    struct HoverChoice {
        const char* button;
        const char* normal;
        const char* overlay;
    };
    void changeImages(const char* area, std::initializer_list<HoverChoice> choices);
    void resetImages(std::initializer_list<HoverChoice> choices);
    void endSheet(QWidget* sheet);
    int runAlert(const QString& title, const QString& message, const QString& defaultButton,
                 const QString& alternateButton, const QString& otherButton);
    void timerTick();
    void timerTickForDMedia();
    void elapsedTimeTick(QTimer* timer, const QString& field);
    void pollBringFrontFile();
    void rebuildVolumesFoundTable();

    QPointer<MainWindow> window_;
    QHash<QString, QPointer<QWidget>> elements_;
    QHash<QString, QPixmap> images_;
    // Sheets begun with a context, and that context.
    QHash<QWidget*, QString> sheetContexts_;

    std::atomic<int> alertResultValue_{platform::AlertDefaultReturn};
    std::atomic<int> scanMode_{-1};
    int treeScanMode_ = -1;
    int isPTListOrPTScanListChosen_ = -1;
    int osVersion_ = 3;
    int numPreviewAttempts_ = 0;
    int numFindAttempts_ = 0;
    std::atomic<bool> scanInfoOrSavingNotProcessing_{true};
    std::atomic<bool> stopElapsedTimeThread_{false};
    std::atomic<bool> zeroTableViewDrivesList_{true};
    std::atomic<bool> timerValid_{false};
    std::string serial_ = "-", model_ = "-", revision_ = "-";
    QString scanInfoFileExtension_;
    QRect initialWindowFrame_;
    QSize initialWindowSize_;

    mutable std::mutex listsMutex_;
    platform::Array driveDictArray_, volumeDictArray_, volumeDictArrayHFSOnly_;
    platform::Array partitionListDictArray_, partitionScanListDictArray_;
    platform::Array volumeScanArgument_;
    DriveListLoader driveListLoader_;

    std::shared_ptr<Volume> selectedVolume_;
    std::shared_ptr<DMedia> selectedDrive_;
    std::string mainScanStatus_;
    QDateTime scanStartDate_;
    NewDir* dirRootTemp_ = nullptr;
    NewDir* dirRootFileTypes_ = nullptr;
    NewDir* dirRootFileTypesDeleted_ = nullptr;
    NewDir* dirRootDeleted_ = nullptr;

    QTimer tick_, tickForDMedia_;
    QTimer elapsedTime_, elapsedTimeScanForVolumes_;
    QTimer bringFrontWatcher_;
    QTimer saveScanInfoWatcher_;
    std::function<void()> treeDisplayHook_, ptScanListHook_, save_;
    QNetworkAccessManager* network_ = nullptr;
};
