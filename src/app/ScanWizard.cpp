#include "app/ScanWizard.h"

#include "app/AppImages.h"
#include "app/DriveListMonitor.h"
#include "app/DrivesListScreen.h"
#include "app/DrivesTableDataSource.h"
#include "app/HoverButton.h"
#include "app/MainScreen.h"
#include "app/MainWindow.h"
#include "app/PTListScreen.h"
#include "app/PTScanListScreen.h"
#include "app/PTScanProgressScreen.h"
#include "app/PermissionPanel.h"
#include "app/PictureArea.h"
#include "app/ProgressIndicator.h"
#include "app/ProgressScreen.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "app/RawSliderScreen.h"
#include "app/RecoveryKindScreen.h"
#include "app/SignatureListController.h"
#include "app/SignaturesScreen.h"
#include "app/TreeScanModeScreen.h"
#include "app/TreeScreen.h"
#include "app/TreeScreenController.h"
#include "hfsplus/LostVolumeSearch.h"
#include "media/ContentKind.h"
#include "media/DMedia.h"
#include "media/DriveRow.h"
#include "media/SysfsBlockDevice.h"
#include "media/SystemPaths.h"
#include "platform/ProcessFlags.h"
#include "platform/SystemLog.h"
#include "results/qt/Utf8Text.h"
#include "signatures/SignatureSearchState.h"
#include "volume/Volume.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QWidget>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using platform::Array;
using platform::Dict;
using platform::RawSearchMode;
using platform::ScanMode;
using platform::TreeScanMode;
using platform::Value;

namespace {

// The screens whose footer has a home button.
std::vector<WizardScreen*> screensWithHome(const MainWindow& window) {
    return {window.drivesListScreen(), window.signaturesScreen(), window.rawSliderScreen(),   window.treeScreen(),
            window.ptListScreen(),     window.ptScanListScreen(), window.treeScanModeScreen()};
}

// The kind screen of each scan mode, its picture area and its hover picture.
struct KindScreen {
    const char* tab;
    RecoveryKindScreen* (MainWindow::*screen)() const;
    const char* hover;
};
KindScreen kindScreenOf(ScanMode scanMode) {
    if (platform::isFileScan(scanMode)) return {"Recover Files", &MainWindow::recoverFilesScreen, "Recover_File_hover"};
    if (platform::isPhotoScan(scanMode))
        return {"Recover Photos", &MainWindow::recoverPhotosScreen, "Recover_Photos_hover"};
    return {"Recover Partitions", &MainWindow::recoverPartitionsScreen, "Recover_Partition_Drives_hover"};
}

// Whether two modes are the fast and advanced choice of one recovery kind.
bool sameKind(ScanMode a, ScanMode b) {
    return (platform::isFileScan(a) && platform::isFileScan(b)) ||
           (platform::isPhotoScan(a) && platform::isPhotoScan(b)) ||
           (platform::isPartitionScan(a) && platform::isPartitionScan(b));
}

QString dateText(const QDateTime& date) {
    return date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

ScanWizard::ScanWizard(Quelvar_Recovery_SoftwareAppDelegate& delegate)
    : QObject(&delegate), delegate_(delegate),
      scanStarter_([this](std::shared_ptr<Volume> volume, ScanThread::Entry entry, Array arguments) {
          ScanThread::detach(std::move(volume), delegate_.signatureSearch(), entry, std::move(arguments));
      }) {
    setObjectName(QStringLiteral("scanWizard"));
}

ScanWizard* ScanWizard::install(Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    if (ScanWizard* existing = of(delegate)) return existing;
    auto* wizard = new ScanWizard(delegate);
    wizard->tables_ = DrivesTableDataSource::install(delegate);
    wizard->fileTypes_ = SignatureListController::install(delegate);
    wizard->connectControls();
    return wizard;
}

ScanWizard* ScanWizard::of(const Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    return delegate.findChild<ScanWizard*>(QStringLiteral("scanWizard"), Qt::FindDirectChildrenOnly);
}

void ScanWizard::connectControls() {
    auto onClick = [this](QAbstractButton* b, auto action) {
        connect(b, &QAbstractButton::clicked, this, [this, action] { (this->*action)(); });
    };
    if (MainWindow* window = delegate_.window()) {
        const MainScreen* home = window->mainScreen();
        onClick(home->buttonRecoverFiles(), &ScanWizard::recoverFiles);
        onClick(home->buttonRecoverPhotos(), &ScanWizard::recoverPhotos);
        onClick(home->buttonRecoverPartitionAndDrives(), &ScanWizard::recoverPartitionAndDrives);
        onClick(window->recoverFilesScreen()->fastButton(), &ScanWizard::recoverFilesFast);
        onClick(window->recoverFilesScreen()->advancedButton(), &ScanWizard::recoverFilesAdvanced);
        onClick(window->recoverPhotosScreen()->fastButton(), &ScanWizard::recoverPhotosFast);
        onClick(window->recoverPhotosScreen()->advancedButton(), &ScanWizard::recoverPhotosAdvanced);
        onClick(window->recoverPartitionsScreen()->fastButton(), &ScanWizard::recoverPartitionAndDrivesFast);
        onClick(window->recoverPartitionsScreen()->advancedButton(), &ScanWizard::recoverPartitionAndDrivesAdvanced);
        for (const RecoveryKindScreen* kind :
             {window->recoverFilesScreen(), window->recoverPhotosScreen(), window->recoverPartitionsScreen()})
            onClick(kind->backButton(), &ScanWizard::backToMainScreen);
        for (const WizardScreen* screen : screensWithHome(*window))
            connect(screen->homeButton(), &QAbstractButton::clicked, this,
                    [this, b = screen->homeButton()] { gotoHome(b); });

        const DrivesListScreen* drives = window->drivesListScreen();
        onClick(drives->buttonRefreshDrivesList(), &ScanWizard::refreshDrivesList);
        onClick(drives->backButtonInDrivesList(), &ScanWizard::backButtonInDrivesListTabClicked);
        onClick(drives->nextButtonInDrivesList(), &ScanWizard::nextButtonInDrivesListTabClicked);
        onClick(window->ptListScreen()->buttonPTListNext(), &ScanWizard::ptListNextClicked);
        onClick(window->ptListScreen()->buttonPTListBack(), &ScanWizard::ptListBackClicked);
        onClick(window->ptScanListScreen()->buttonPTScanListNext(), &ScanWizard::ptScanListNextClicked);
        onClick(window->ptScanListScreen()->buttonPTScanListBack(), &ScanWizard::ptScanListBackClicked);
        const TreeScanModeScreen* treeScanMode = window->treeScanModeScreen();
        onClick(treeScanMode->buttonTreeScanModeStd(), &ScanWizard::treeScanModeStdScanClicked);
        onClick(treeScanMode->buttonTreeScanModeAdv(), &ScanWizard::treeScanModeAdvScanClicked);
        onClick(treeScanMode->buttonTreeScanModeBack(), &ScanWizard::treeScanModeBackClicked);
        const SignaturesScreen* signatures = window->signaturesScreen();
        onClick(signatures->nextButtonSigTab(), &ScanWizard::sigSelNextClicked);
        onClick(signatures->skipButtonSigTab(), &ScanWizard::skipButtonSigTabClicked);
        onClick(signatures->buttonSigSelBack(), &ScanWizard::sigSelBackToVolumesClicked);
        const RawSliderScreen* range = window->rawSliderScreen();
        onClick(range->buttonRawSliderBack(), &ScanWizard::rawSliderBackToSigSelClicked);
        connect(range->buttonRawSliderNext(), &QAbstractButton::clicked, this, [this] { rawSliderNextClicked(false); });
        for (QSlider* slider : {range->sliderStart(), range->sliderEnd()})
            connect(slider, &QSlider::valueChanged, this, [this, slider] { rawSliderChanged(slider); });
    }

    // The end of a scan that refused its volume and the end of the
    // lost-volume search come here.
    delegate_.setPTScanListHook([this] { showPTScanList(); });
    connect(&delegate_, &Quelvar_Recovery_SoftwareAppDelegate::driveListChanged, this, &ScanWizard::showEmptyListTexts);
    connect(&delegate_, &Quelvar_Recovery_SoftwareAppDelegate::partitionListsChanged, this,
            &ScanWizard::showEmptyListTexts);
}

void ScanWizard::watchDrives(DriveListMonitor* monitor) {
    monitor->setParent(this);
    // A drive or an image attached while the drives list is up shows in it
    // without a visit to the refresh button.
    connect(monitor, &DriveListMonitor::changed, this, &ScanWizard::followDrives);
}

void ScanWizard::followDrives() {
    MainWindow* window = delegate_.window();
    if (!window || window->selectedIdentifier() != QStringLiteral("Drives List") || platform::autoResumeFlag()) return;
    if (loadingDrives()) {
        followPending_ = true;
        return;
    }
    ++loadersRunning_;
    const unsigned kept = delegate_.driveListsKept();
    // No sheet and no emptied list: the user goes on choosing among the rows
    // shown while the devices are probed, and they change at one stroke.
    std::thread([this, kept] {
        Quelvar_Recovery_SoftwareAppDelegate::DriveLists lists = delegate_.loadDriveLists();
        delegate_.performOnMainThread(
            [this, kept, lists] {
                MainWindow* shown = delegate_.window();
                if (kept == delegate_.driveListsKept() && !delegate_.zeroTableViewDrivesList() && shown &&
                    shown->selectedIdentifier() == QStringLiteral("Drives List")) {
                    delegate_.setDriveLists(lists);
                    if (tables_->reloadDrivesKeepingChoice()) {
                        tables_->assignDisplayAttribsToCellArrayCells();
                        writeDrivesHeading();
                        showEmptyListTexts();
                    }
                }
                drivesLoadingEnded();
            },
            false);
    }).detach();
}

// ---------------------------------------------------------------------------
// Small helpers of the screens

void ScanWizard::setSigTabStepsEnabled(bool enabled) {
    if (MainWindow* window = delegate_.window()) {
        window->signaturesScreen()->nextButtonSigTab()->setEnabled(enabled);
        window->signaturesScreen()->skipButtonSigTab()->setEnabled(enabled);
    }
}

void ScanWizard::setSkipEnabled(bool enabled) {
    if (MainWindow* window = delegate_.window()) window->signaturesScreen()->skipButtonSigTab()->setEnabled(enabled);
}

void ScanWizard::setFileTypeEditingShown(bool shown) {
    // Also from the worker that loads the drive list.
    delegate_.performOnMainThread(
        [this, shown] {
            if (MainWindow* window = delegate_.window()) window->signaturesScreen()->setFileTypeEditingShown(shown);
        },
        true);
}

void ScanWizard::writeDrivesHeading() {
    if (MainWindow* window = delegate_.window())
        window->drivesListScreen()->showHeading(delegate_.displayDrvOrVolOrBoth());
}

void ScanWizard::showEmptyListTexts() {
    using Table = DrivesTableDataSource::Table;
    MainWindow* window = delegate_.window();
    if (!window) return;
    // An empty list says what would fill it; the loading state (rows held
    // back while the list is rebuilt) says nothing.
    window->drivesListScreen()->textFieldEmptyDrivesList()->setVisible(!delegate_.zeroTableViewDrivesList() &&
                                                                       tables_->rowCount(Table::Drives) == 0);
    window->ptListScreen()->textFieldEmptyPTList()->setVisible(tables_->rowCount(Table::Partitions) == 0);
    window->ptScanListScreen()->textFieldEmptyPTScanList()->setVisible(tables_->rowCount(Table::FoundVolumes) == 0);
}

QString ScanWizard::sizeText(std::uint64_t bytes) {
    if (bytes == 0) return QStringLiteral("0 KB");
    const auto b = static_cast<double>(bytes);
    if (bytes < 1000000ULL) return QString::asprintf("%.2f KB", b / 1000.0);
    if (bytes >= 1000000000ULL) return QString::asprintf("%.2f GB", b / 1000000000.0);
    return QString::asprintf("%.2f MB", b / 1000000.0);
}

void ScanWizard::freeSelectedVolume() {
    if (!delegate_.selectedVolume()) return;
    TreeScreenController* tree = TreeScreenController::of(delegate_);
    if (tree && delegate_.dirRootTemp()) {
        // The result screen shows the tree: it frees it on its worker, which
        // lets the volume go when done.
        tree->freeTree(false);
        return;
    }
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    delegate_.setSelectedVolume(nullptr);
    // No scan has run on it, or its tree was never shown: nothing but the
    // volume's own nodes to let go.
    volume->freeTree();
}

// ---------------------------------------------------------------------------
// Home and recovery-kind screens

void ScanWizard::showKindScreen(ScanMode scanMode, bool selectTab) {
    const KindScreen kind = kindScreenOf(scanMode);
    MainWindow* window = delegate_.window();
    if (!window) return;
    RecoveryKindScreen* screen = (window->*kind.screen)();
    screen->pictureArea()->picture()->setPixmap(AppImages::imageNamed(QStringLiteral("wizard2")));
    screen->pictureArea()->overlay()->setPixmap(AppImages::imageNamed(QString::fromLatin1(kind.hover)));
    if (selectTab) window->selectTabViewItemWithIdentifier(QString::fromLatin1(kind.tab));
}

void ScanWizard::openKind(ScanMode fastMode) {
    if (MainWindow* window = delegate_.window()) {
        const MainScreen* home = window->mainScreen();
        (platform::isFileScan(fastMode)    ? home->buttonRecoverFiles()
         : platform::isPhotoScan(fastMode) ? home->buttonRecoverPhotos()
                                           : home->buttonRecoverPartitionAndDrives())
            ->resetButton();
    }
    const bool resuming = platform::autoResumeFlag();
    if (!resuming) delegate_.setTreeScanMode(TreeScanMode::None);
    showKindScreen(fastMode, !resuming);
    setFileTypeEditingShown(fastMode == ScanMode::Partitions);
    // A resumed scan goes on with the choice it had made.
    if (resuming && sameKind(delegate_.scanMode(), fastMode)) choose(delegate_.scanMode());
}

void ScanWizard::choose(ScanMode scanMode) {
    MainWindow* window = delegate_.window();
    if (window) {
        const RecoveryKindScreen* kind = (window->*kindScreenOf(scanMode).screen)();
        const bool fast =
            scanMode == ScanMode::FastFiles || scanMode == ScanMode::FastPhotos || scanMode == ScanMode::Partitions;
        (fast ? kind->fastButton() : kind->advancedButton())->resetButton();
    }
    const bool resuming = platform::autoResumeFlag();
    if (!resuming) delegate_.setTreeScanMode(TreeScanMode::None);
    setFileTypeEditingShown(platform::isPartitionScan(scanMode));
    if (!resuming) delegate_.setScanMode(scanMode);
    if (window) window->drivesListScreen()->nextButtonInDrivesList()->setEnabled(false);
    delegate_.setZeroTableViewDrivesList(true);
    startDrivesLoading();
}

void ScanWizard::showHomeScreen() {
    MainWindow* window = delegate_.window();
    if (!window) return;
    // The welcome picture again, without the last choice's explanation.
    window->mainScreen()->pictureArea()->overlay()->clear();
    window->mainScreen()->pictureArea()->picture()->setPixmap(AppImages::imageNamed(QStringLiteral("wizard")));
    window->selectTabViewItemWithIdentifier(QStringLiteral("Main Screen"));
}

void ScanWizard::backToMainScreen() {
    if (MainWindow* window = delegate_.window())
        for (const RecoveryKindScreen* kind :
             {window->recoverFilesScreen(), window->recoverPhotosScreen(), window->recoverPartitionsScreen()})
            kind->backButton()->resetButton();
    delegate_.setIsPTListOrPTScanListChosen(-1);
    showHomeScreen();
}

void ScanWizard::gotoHome(QObject* sender) {
    MainWindow* window = delegate_.window();
    if (sender && window && sender == window->treeScreen()->homeButton()) {
        const int answer = delegate_.showAlertPanelWithData(
            Dict{{"title", "Important Tip"},
                 {"body", "You can save on scanning time when you want to use the software again by saving current "
                          "recovery session file.\nClick \"Cancel\" to return and click on \"Save Recovery "
                          "Session\" button to save the recovery session file, or click \"OK\" to leave this option "
                          "and proceed."},
                 {"defaultButton", "Cancel"},
                 {"alternateButton", "OK"}});
        if (answer != platform::AlertAlternateReturn) return;
        delegate_.previewClose();
        delegate_.restoreInitialWindowFrame();
    }
    if (window) {
        window->ptListScreen()->tableViewPTList()->clearSelection();
        window->ptScanListScreen()->tableViewScanPTList()->clearSelection();
    }
    delegate_.setZeroTableViewDrivesList(true);
    // The pressed home button leaves its hover look behind.
    if (window)
        for (const WizardScreen* screen : screensWithHome(*window))
            screen->homeButton()->resetButton();
    delegate_.setIsPTListOrPTScanListChosen(-1);
    showHomeScreen();
    freeSelectedVolume();
    delegate_.setSelectedDrive(nullptr);
    platform::autoResumeFlag() = false;
}

// ---------------------------------------------------------------------------
// Drives list

void ScanWizard::runSheetForDrivesLoading() {
    delegate_.setZeroTableViewDrivesList(true);
    if (!platform::autoResumeFlag()) {
        delegate_.beginSheetWindowWithContextInfoAndOthers(
            Dict{{"sheetWindow", "windowLoadingDrives"}, {"parentWindow", "window"}});
        delegate_.updateProgressIndicator(
            Dict{{"progressIndicator", "progressIndicatorLoadingDrives"}, {"animation", true}});
        delegate_.rebuildDriveListOnMainThread();
        delegate_.updateProgressIndicator(
            Dict{{"progressIndicator", "progressIndicatorLoadingDrives"}, {"animation", false}});
        // Ending the sheet runs drivesLoaded on the main thread.
        delegate_.endSheetWindow(Dict{{"sheetWindow", "windowLoadingDrives"}});
    }
    delegate_.performOnMainThread([this] { writeDrivesHeading(); }, true);
    setFileTypeEditingShown(platform::isPartitionScan(delegate_.scanMode()));
    // The screen comes last, so that the list is complete when it shows.
    if (!platform::autoResumeFlag() && delegate_.scanMode() != ScanMode::None)
        delegate_.selectTabViewItemWithIdentifier("Drives List");
}

void ScanWizard::refreshDrivesList() {
    if (loadingDrives()) {
        refreshPending_ = true;
        return;
    }
    delegate_.setZeroTableViewDrivesList(true);
    startDrivesLoading();
}

void ScanWizard::startDrivesLoading() {
    ++loadersRunning_;
    std::thread([this] {
        runSheetForDrivesLoading();
        delegate_.performOnMainThread([this] { drivesLoadingEnded(); }, false);
    }).detach();
}

void ScanWizard::drivesLoadingEnded() {
    --loadersRunning_;
    // A refresh lists every change a follow would.
    if (std::exchange(refreshPending_, false)) {
        followPending_ = false;
        refreshDrivesList();
    } else if (std::exchange(followPending_, false)) {
        followDrives();
    }
}

void ScanWizard::drivesLoaded() {
    tables_->assignDisplayAttribsToCellArrayCells();
    delegate_.setZeroTableViewDrivesList(false);
    writeDrivesHeading();
}

bool ScanWizard::isSipEnable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    platform::logLine(std::strerror(errno));
    return true;
}

bool ScanWizard::holdsItsMedium(const Dict& row) {
    if (!row.contains("Medium Identity")) return true;
    const std::optional<SysfsBlockDevice> device =
        SysfsBlockDevice::ofNode(row.get("Path").description(), SystemPaths::system().sysfsRoot);
    return device && device->holdsMedium(row.get("Medium Identity").description());
}

void ScanWizard::chooseAgain(const Dict& row) {
    platform::logFormat("%@ no longer holds the medium its row was made of: it is not opened", row.get("Path"));
    const Value& volumeName = row.get("Volume Name");
    const std::string name = volumeName.isString() && !volumeName.stringValue().empty()
                                 ? volumeName.stringValue()
                                 : row.get("device model").description();
    delegate_.setSelectedDrive(nullptr);
    if (delegate_.selectedVolume()) fileTypes_->emptySigRootArray();
    freeSelectedVolume();
    delegate_.setIsPTListOrPTScanListChosen(-1);
    backToDrivesList();
    followDrives();
    delegate_.runAlertPanel(platform::alertRequest(
        "Drive Not Connected",
        "The drive or volume " + name +
            " is either not connected or another disk, card or image has taken its place since the list was made; "
            "it was not scanned. The drives are listed again as they are now: choose the one to scan again.",
        "OK", {}));
}

void ScanWizard::nextButtonInDrivesListTabClicked() {
    delegate_.setIsPTListOrPTScanListChosen(-1);
    if (platform::autoResumeFlag())
        if (std::shared_ptr<Volume> volume = delegate_.selectedVolume()) tables_->selectRowWithPath(volume->path());
    const std::optional<Dict> row = tables_->selectedRow(DrivesTableDataSource::Table::Drives);
    if (row && !platform::autoResumeFlag() && !holdsItsMedium(*row)) {
        chooseAgain(*row);
        return;
    }
    if (row) selectedDrvOrVolDict_ = *row;
    if (row && row->contains("WhetherVolume") && row->get("Content").stringValue() == "-") {
        delegate_.runAlertPanel(
            platform::alertRequest("Information", "Can not process this volume as it has some corruption", "OK", {}));
        return;
    }
    if (!row && !platform::autoResumeFlag()) return;
    if (isSipEnable(selectedDrvOrVolDict_.get("Path").stringValue())) {
        setSigTabStepsEnabled(false);
        if (MainWindow* window = delegate_.window()) {
            QWidget* panel = window->windowSIPPanel();
            panel->show();
            panel->raise();
            panel->activateWindow();
        }
        return;
    }
    setSigTabStepsEnabled(true);
    prepareForScan();
}

void ScanWizard::backButtonInDrivesListTabClicked() {
    delegate_.setIsPTListOrPTScanListChosen(-1);
    const ScanMode mode = delegate_.scanMode();
    if (mode != ScanMode::None) showKindScreen(mode, true);
    delegate_.setScanMode(ScanMode::None);
}

// ---------------------------------------------------------------------------
// Partition lists and the lost-volume search

Dict ScanWizard::completedPartitionRow(Dict row) const {
    const std::uint32_t blockSize = selectedDrvOrVolDict_.get("Preferred Block Size").unsignedIntValue();
    DriveRow completion{.size = row.get("Volume Size In Sectors").uint64Value() * blockSize,
                        .preferredBlockSize = blockSize};
    // The disk's icon.
    if (selectedDrvOrVolDict_.contains("IOBundleResourceFile"))
        completion.bundleResourceFile = selectedDrvOrVolDict_.get("IOBundleResourceFile").description();
    if (selectedDrvOrVolDict_.contains("bundle path"))
        completion.bundlePath = selectedDrvOrVolDict_.get("bundle path").description();
    completion.setIn(row);
    return row;
}

std::shared_ptr<Volume> ScanWizard::volumeFromRow(const Dict& row) {
    std::shared_ptr<Volume> volume = Volume::initWithDictionary(row);
    delegate_.setSelectedVolume(volume);
    return volume;
}

void ScanWizard::prepareForScan() {
    setSkipEnabled(true);
    const bool resuming = platform::autoResumeFlag();
    const bool fsr = selectedDrvOrVolDict_.get("supportFileSystemRecovery").intValue() != 0;
    switch (delegate_.scanMode()) {
    case ScanMode::FastFiles:
        if (!resuming) volumeFromRow(selectedDrvOrVolDict_);
        if (!fsr) {
            setSkipEnabled(false);
            prepareForSignatureSearch();
        } else {
            fileTypes_->deselectAllSig();
            setSkipEnabled(false);
            sigSelNextClicked();
        }
        break;
    case ScanMode::AdvancedFiles:
        if (!resuming) volumeFromRow(selectedDrvOrVolDict_);
        if (!fsr) setSkipEnabled(false);
        prepareForSignatureSearch();
        break;
    case ScanMode::FastPhotos:
    case ScanMode::AdvancedPhotos:
        if (!resuming) volumeFromRow(selectedDrvOrVolDict_);
        if (delegate_.selectedVolume()) delegate_.signatureSearch()->filterTreeForMedia = true;
        if (!(fsr && delegate_.scanMode() == ScanMode::FastPhotos)) setSkipEnabled(false);
        prepareForSignatureSearch();
        break;
    case ScanMode::Partitions: {
        if (!resuming) {
            delegate_.setSelectedDrive(DMedia::initWithDictionary(selectedDrvOrVolDict_));
            Array partitions;
            bool otherPartitions = false;
            bool unreadableSectors = false;
            if (std::shared_ptr<DMedia> drive = delegate_.selectedDrive()) {
                drive->initialize(partitions);
                otherPartitions = drive->otherPartitionsPassedOver > 0;
                unreadableSectors = drive->unreadableSectorCount() > 0;
            }
            MainWindow* window = delegate_.window();
            if (window)
                window->ptListScreen()->textFieldEmptyPTList()->setText(
                    PTListScreen::emptyListText(otherPartitions, unreadableSectors));
            for (Value& partition : partitions)
                if (const Dict* d = partition.dict()) partition = Value(completedPartitionRow(*d));
            delegate_.setPartitionListDictArray(std::move(partitions));
            delegate_.fillCellArrayPTList();
            if (window) {
                window->ptListScreen()->clearChoice();
                window->ptListScreen()->buttonPTListNext()->setEnabled(false);
            }
        }
        if (MainWindow* window = delegate_.window()) window->selectTabViewItemWithIdentifier(QStringLiteral("PT list"));
        break;
    }
    case ScanMode::Formatted:
        if (!resuming) volumeFromRow(selectedDrvOrVolDict_);
        treeScanModeAdvScanClicked();
        // A volume whose file system the tree scan does not rebuild (exFAT)
        // is only searched: skipping the file types would leave nothing.
        if (ScanThread::fileSystemForContent(contentKindOf(selectedDrvOrVolDict_.get("Content").description()), true) ==
            ScanThread::FileSystem::None)
            setSkipEnabled(false);
        break;
    case ScanMode::None:
        break;
    }
}

void ScanWizard::ptListNextClicked() {
    MainWindow* window = delegate_.window();
    const bool search = window && window->ptListScreen()->buttonPTListCheckBoxScanForVolumes()->isChecked();
    if (!search && !tables_->selectedRow(DrivesTableDataSource::Table::Partitions)) return;
    // The partitions listed, and the volumes the search would find, are
    // those of the disk chosen in the drives list.
    if (!holdsItsMedium(selectedDrvOrVolDict_)) {
        chooseAgain(selectedDrvOrVolDict_);
        return;
    }
    if (!search) {
        volumeFromPTIsSelected();
        return;
    }
    // The search for lost volumes over the whole disk.
    const PTScanProgressScreen* progress = window->ptScanProgressScreen();
    delegate_.setScanStartDate(QDateTime::currentDateTime());
    progress->textFieldScanForVolumesStartTime()->setText(dateText(delegate_.scanStartDate()));
    delegate_.startElapsedTimeThreadScanForVolumes();
    std::shared_ptr<DMedia> drive = DMedia::initWithDictionary(selectedDrvOrVolDict_);
    delegate_.setSelectedDrive(drive);
    delegate_.volumeScanArgument() = Array{Value(Array{}), Value(Array{})};
    delegate_.fillCellArrayPTList();
    platform::scanRunningFlag() = true;
    window->selectTabViewItemWithIdentifier(QStringLiteral("PT scan prog"));
    progress->progressIndicatorScanForVolumes()->setMinValue(0.0);
    if (!drive) {
        // Nothing to read: the search ends at once with nothing found.
        delegate_.updateVolumeScanProgress(Dict{{"Scan Complete", true}});
        return;
    }
    Array* argument = &delegate_.volumeScanArgument();
    std::thread([drive, argument] { LostVolumeSearch(*drive).initializeForVolumeThoroughScan(*argument); }).detach();
}

void ScanWizard::volumeFromPTIsSelected() {
    delegate_.setIsPTListOrPTScanListChosen(0);
    const std::optional<Dict> row = tables_->selectedRow(DrivesTableDataSource::Table::Partitions);
    if (!row) return;
    std::shared_ptr<Volume> volume = volumeFromRow(*row);
    delegate_.setSelectedDrive(nullptr);
    if (!volume) return;
    const ContentKind content = contentKindOf(volume->volumeContent);
    if (isHFSContent(content)) {
        if (MainWindow* window = delegate_.window())
            window->selectTabViewItemWithIdentifier(QStringLiteral("Tree scan mode"));
    } else if (isFATContent(content)) {
        delegate_.setTreeScanMode(TreeScanMode::Standard);
        prepareForSignatureSearch();
    }
}

void ScanWizard::ptListBackClicked() {
    delegate_.setSelectedDrive(nullptr);
    delegate_.setZeroTableViewDrivesList(true);
    writeDrivesHeading();
    startDrivesLoading();
    delegate_.setIsPTListOrPTScanListChosen(-1);
    platform::autoResumeFlag() = false;
}

void ScanWizard::showPTScanList() {
    delegate_.setStopElapsedTimeThread(true);
    Array found = delegate_.partitionScanListDictArray();
    for (Value& volume : found)
        if (const Dict* d = volume.dict()) volume = Value(completedPartitionRow(*d));
    if (!delegate_.volumeScanArgument().empty()) delegate_.volumeScanArgument()[0] = Value(found);
    delegate_.fillCellArrayPTList();
    MainWindow* window = delegate_.window();
    if (!window) return;
    window->ptScanListScreen()->textFieldNumFoundVolumes()->setText(QString::number(found.size()));
    window->selectTabViewItemWithIdentifier(QStringLiteral("PT scan list"));
    window->ptScanListScreen()->buttonPTScanListNext()->setEnabled(false);
}

void ScanWizard::ptScanListNextClicked() {
    if (!tables_->selectedRow(DrivesTableDataSource::Table::FoundVolumes)) return;
    if (!holdsItsMedium(selectedDrvOrVolDict_)) {
        chooseAgain(selectedDrvOrVolDict_);
        return;
    }
    volumeFromScanListIsSelected();
}

void ScanWizard::volumeFromScanListIsSelected() {
    delegate_.setIsPTListOrPTScanListChosen(1);
    const std::optional<Dict> row = tables_->selectedRow(DrivesTableDataSource::Table::FoundVolumes);
    if (!row) return;
    volumeFromRow(*row);
    delegate_.setSelectedDrive(nullptr);
    if (MainWindow* window = delegate_.window())
        window->selectTabViewItemWithIdentifier(QStringLiteral("Tree scan mode"));
}

void ScanWizard::ptScanListBackClicked() {
    delegate_.setSelectedDrive(nullptr);
    delegate_.fillCellArrayPTList();
    backToPartitionList();
    delegate_.setIsPTListOrPTScanListChosen(-1);
}

void ScanWizard::backToPartitionList() {
    MainWindow* window = delegate_.window();
    if (!window) return;
    window->ptListScreen()->clearChoice();
    window->selectTabViewItemWithIdentifier(QStringLiteral("PT list"));
}

void ScanWizard::backToFoundVolumes() {
    MainWindow* window = delegate_.window();
    if (!window) return;
    window->ptScanListScreen()->showAgain(delegate_.partitionScanListDictArray().size());
    window->selectTabViewItemWithIdentifier(QStringLiteral("PT scan list"));
}

void ScanWizard::backToDrivesList() {
    MainWindow* window = delegate_.window();
    if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("Drives List"));
    writeDrivesHeading();
    if (window) window->drivesListScreen()->tableViewDrives()->clearSelection();
}

void ScanWizard::destroyVolumeAndBackToPartList() {
    switch (delegate_.isPTListOrPTScanListChosen()) {
    case 0:
        backToPartitionList();
        break;
    case 1:
        backToFoundVolumes();
        break;
    default:
        backToDrivesList();
        break;
    }
    // The scan that refused the volume walks its tree no more, and nothing
    // has shown it: the tree is freed at once, and the volume let go.
    if (std::shared_ptr<Volume> volume = delegate_.selectedVolume()) {
        delegate_.setSelectedVolume(nullptr);
        volume->freeTree();
    }
    platform::scanRunningFlag() = false;
    platform::autoResumeFlag() = false;
}

// ---------------------------------------------------------------------------
// Scan mode, file types, range and start

void ScanWizard::treeScanModeStdScanClicked() {
    delegate_.setTreeScanMode(TreeScanMode::Standard);
    prepareForSignatureSearch();
}

void ScanWizard::treeScanModeAdvScanClicked() {
    delegate_.setTreeScanMode(TreeScanMode::Advanced);
    prepareForSignatureSearch();
}

void ScanWizard::treeScanModeBackClicked() {
    if (delegate_.isPTListOrPTScanListChosen() == 0)
        backToPartitionList();
    else if (delegate_.isPTListOrPTScanListChosen() == 1)
        backToFoundVolumes();
    freeSelectedVolume();
}

void ScanWizard::prepareForSignatureSearch() {
    MainWindow* window = delegate_.window();
    if (window) window->signaturesScreen()->findFTSearchField()->clear();
    fileTypes_->setSigDataLoadCount(0);
    fileTypes_->loadSigData();
    fileTypes_->deselectAllSig();
    if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("Signatures"));
    if (platform::autoResumeFlag()) {
        sigSelArray_ = fileTypes_->fileTypesWithExtensions(autoRecSigExtArray_);
        autoRecSigExtArray_.clear();
    }
    if (window) {
        QCheckBox* range = window->signaturesScreen()->rawSearchCheckBox();
        range->setChecked(false);
        range->setEnabled(true);
        range->setHidden(false);
        if (delegate_.scanMode() == ScanMode::FastPhotos) {
            range->setEnabled(false);
            range->setHidden(true);
        }
    }
}

void ScanWizard::sigSelNextClicked() {
    MainWindow* window = delegate_.window();
    QSlider* start = window ? window->rawSliderScreen()->sliderStart() : nullptr;
    QSlider* end = window ? window->rawSliderScreen()->sliderEnd() : nullptr;
    if (start) start->setValue(0);
    if (end) end->setValue(RawSliderScreen::kSliderSteps);
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    if (!volume) return;
    sigSelArray_ = fileTypes_->markedFileTypes();

    const bool askRange = window && window->signaturesScreen()->rawSearchCheckBox()->isChecked();
    const int vst = volume->volumeScanType;
    const bool fsr = volume->supportsFileSystemRecovery;
    const ScanMode mode = delegate_.scanMode();
    const bool formatted = mode == ScanMode::Formatted;
    const std::size_t cats = fileTypes_->categoryCount();
    // What follows the choice: the range screen, the start, or nothing.
    enum class Then { Range, Start, Nothing } then = Then::Nothing;
    if (vst == 2 && !formatted && !fsr) {
        rawSearchMode_ = RawSearchMode::SearchOnly;
        then = askRange ? Then::Range : Then::Start;
    } else if (vst == 2 && !formatted && mode != ScanMode::FastFiles && cats > 0) {
        rawSearchMode_ = RawSearchMode::DeletedFilesAndSearch;
        then = mode == ScanMode::FastPhotos ? Then::Start
               : (mode == ScanMode::AdvancedFiles || mode == ScanMode::AdvancedPhotos)
                   ? (askRange ? Then::Range : Then::Start)
                   : Then::Nothing;
    } else if (vst == 2 && !formatted) {
        rawSearchMode_ = RawSearchMode::DeletedFiles;
        then = Then::Start;
    } else if (vst == 3 && !formatted) {
        rawSearchMode_ = RawSearchMode::WholeDisk;
        then = askRange ? Then::Range : Then::Start;
    } else if ((vst < 0 || vst > 3) && !formatted) {
        return;
    } else if (cats > 0) {
        rawSearchMode_ = RawSearchMode::TreeAndSearch;
        then = askRange ? Then::Range : Then::Start;
    } else {
        rawSearchMode_ = RawSearchMode::Tree;
        then = Then::Start;
    }
    if (then == Then::Nothing) return;
    setTextFieldRawSizeDrvVol();
    rawSliderChanged(start);
    rawSliderChanged(end);
    if (then == Then::Range) {
        if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("Raw slider"));
    } else {
        rawSliderNextClicked(false);
    }
}

void ScanWizard::skipButtonSigTabClicked() {
    fileTypes_->emptySigRootArray();
    sigSelNextClicked();
}

void ScanWizard::sigSelBackToVolumesClicked() {
    // On a partition path the volume stays: Standard or Advanced can go on
    // with it at once.
    if (delegate_.isPTListOrPTScanListChosen() == 0 || delegate_.isPTListOrPTScanListChosen() == 1) {
        if (MainWindow* window = delegate_.window())
            window->selectTabViewItemWithIdentifier(QStringLiteral("Tree scan mode"));
        return;
    }
    if (delegate_.selectedVolume()) fileTypes_->emptySigRootArray();
    backToDrivesList();
    freeSelectedVolume();
}

void ScanWizard::setTextFieldRawSizeDrvVol() {
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    const std::uint64_t size = volume ? volume->sizeInSect() * volume->u32BytesInSector() : 0;
    if (MainWindow* window = delegate_.window())
        window->rawSliderScreen()->textFieldSizeOfRawScanDrvVol()->setText(sizeText(size));
}

void ScanWizard::rawSliderChanged(QObject* sender) {
    MainWindow* window = delegate_.window();
    if (!window) return;
    const RawSliderScreen* range = window->rawSliderScreen();
    auto* slider = qobject_cast<QSlider*>(sender);
    const bool isStart = slider && slider == range->sliderStart();
    const bool isEnd = slider && slider == range->sliderEnd();
    const float percent =
        isStart || isEnd ? static_cast<float>(slider->value()) * 100.0F / RawSliderScreen::kSliderSteps : 0.0F;
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    const std::uint64_t size = volume ? volume->sizeInSect() * volume->u32BytesInSector() : 0;
    const auto bytes = static_cast<std::uint64_t>(static_cast<float>(size) * percent / 100.0F);
    const QString label = QStringLiteral("%1% %2").arg(static_cast<int>(percent)).arg(sizeText(bytes));
    if (isStart || isEnd)
        (isStart ? range->textFieldStartSliderStatus() : range->textFieldEndSliderStatus())->setText(label);
}

void ScanWizard::rawSliderBackToSigSelClicked() {
    sigSelArray_.clear();
    fileTypes_->deselectAllSig();
    if (MainWindow* window = delegate_.window()) {
        window->signaturesScreen()->rawSearchCheckBox()->setChecked(false);
        window->selectTabViewItemWithIdentifier(QStringLiteral("Signatures"));
    }
}

void ScanWizard::scanAutoRecovery() {
    const ScanMode mode = delegate_.scanMode();
    if (platform::isFileScan(mode))
        recoverFiles();
    else if (platform::isPhotoScan(mode))
        recoverPhotos();
    else if (platform::isPartitionScan(mode))
        recoverPartitionAndDrives();
    fileTypes_->loadSigData();
    sigSelArray_ = fileTypes_->fileTypesWithExtensions(autoRecSigExtArray_);
    autoRecSigExtArray_.clear();
    rawSliderNextClicked(true);
}

void ScanWizard::rawSliderNextClicked(bool resumed) {
    platform::scanRunningFlag() = true;
    startScan(resumed);
}

void ScanWizard::startScan(bool resumed) {
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    MainWindow* window = delegate_.window();
    QSlider* start = window ? window->rawSliderScreen()->sliderStart() : nullptr;
    QSlider* end = window ? window->rawSliderScreen()->sliderEnd() : nullptr;
    const float startPercent = start ? static_cast<float>(start->value()) * 100.0F / RawSliderScreen::kSliderSteps : 0;
    const float endPercent = end ? static_cast<float>(end->value()) * 100.0F / RawSliderScreen::kSliderSteps : 100;
    const ScanMode mode = delegate_.scanMode();
    // The file types and the range took their time: the medium may have
    // been swapped since its row was chosen.
    if (!resumed && !holdsItsMedium(selectedDrvOrVolDict_)) {
        platform::scanRunningFlag() = false;
        chooseAgain(selectedDrvOrVolDict_);
        return;
    }
    if (!resumed) {
        std::string name;
        if (volume && !volume->volumeName.empty())
            name = volume->volumeName;
        else if (selectedDrvOrVolDict_.contains("WhetherDiskDict"))
            name = selectedDrvOrVolDict_.get("device model").description() + " " +
                   selectedDrvOrVolDict_.get("device serial").description() + " " +
                   selectedDrvOrVolDict_.get("device revision").description();
        const char* status = platform::isFileScan(mode)    ? "Searching for deleted files from "
                             : platform::isPhotoScan(mode) ? "Searching for music, video and photos from "
                                                           : "Creating tree from ";
        delegate_.setMainScanStatus(status + name);
        if (startPercent >= endPercent) {
            delegate_.runAlertPanel(platform::alertRequest(
                "! Can not continue",
                "The start position should be less than end position. Please set them accordingly.", "OK", {}));
            platform::scanRunningFlag() = false;
            return;
        }
    }
    delegate_.setScanStartDate(QDateTime::currentDateTime());
    if (window) {
        window->progressScreen()->textFieldStatus()->setText(Utf8Text::toQString(delegate_.mainScanStatus()));
        window->treeScreen()->findTextFieldSelectedIndex()->setText(QStringLiteral(" "));
        window->progressScreen()->textFieldScanStartTime()->setText(dateText(delegate_.scanStartDate()));
    }
    delegate_.startElapsedTimeThread();
    if (!resumed && volume) volume->setRawSearchStart(startPercent, endPercent);

    if (window) {
        window->selectTabViewItemWithIdentifier(QStringLiteral("Progress"));
        window->progressScreen()->progress()->setMinValue(0.0);
    }
    if (!volume) return;

    // The search method of the designed arguments: 0 plain search (the
    // file scans), 1 carving (the photo scans), -1 none.
    const int m = platform::isFileScan(mode) ? 0 : platform::isPhotoScan(mode) ? 1 : -1;
    const char* treeWord = delegate_.treeScanMode() == TreeScanMode::Standard ? "Normal Scan" : "Advanced Scan";
    Array arguments;
    ScanThread::Entry entry = ScanThread::Entry::DeletedFiles;
    switch (rawSearchMode_) {
    case RawSearchMode::DeletedFiles:
        arguments = Array{1, 0};
        break;
    case RawSearchMode::DeletedFilesAndSearch:
        arguments = Array{1, 1, Value(sigSelArray_), m};
        break;
    case RawSearchMode::SearchOnly:
        arguments = Array{0, 1, Value(sigSelArray_), m};
        break;
    case RawSearchMode::WholeDisk:
        entry = ScanThread::Entry::DeletedFilesDisk;
        arguments = Array{Value(sigSelArray_), m};
        break;
    case RawSearchMode::TreeAndSearch:
        entry = ScanThread::Entry::MakingTree;
        arguments = Array{treeWord, 1, Value(sigSelArray_)};
        break;
    case RawSearchMode::Tree:
    case RawSearchMode::None:
        entry = ScanThread::Entry::MakingTree;
        arguments = Array{treeWord, 0};
        break;
    }
    if (resumed && platform::searchesFileTypes(rawSearchMode_)) {
        arguments.emplace_back(static_cast<unsigned long long>(autoRecBeginSize_));
        arguments.emplace_back("auto");
    }
    scanStarter_(volume, entry, std::move(arguments));
}
