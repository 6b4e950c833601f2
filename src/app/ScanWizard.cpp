#include "app/ScanWizard.h"

#include "app/AppImages.h"
#include "app/DriveListMonitor.h"
#include "app/DrivesTableDataSource.h"
#include "app/HoverButton.h"
#include "app/MainScreen.h"
#include "app/MainWindow.h"
#include "app/PTListScreen.h"
#include "app/PictureArea.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "app/RawSliderScreen.h"
#include "app/RecoveryKindScreen.h"
#include "app/SignatureListController.h"
#include "app/TreeScreenController.h"
#include "hfsplus/LostVolumeSearch.h"
#include "media/ContentKind.h"
#include "media/DMedia.h"
#include "platform/ProcessFlags.h"
#include "platform/SystemLog.h"
#include "results/qt/Utf8Text.h"
#include "volume/Volume.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QWidget>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using platform::Array;
using platform::Dict;
using platform::ScanMode;
using platform::Value;

namespace {

const char* const kHeadings[] = {"Please select volume to continue...", "Please select disk to continue...",
                                 "Please select disk / volume to continue..."};

const char* const kHomeButtons[] = {"buttonGoToHomeFromDrivesListTab",  "buttonGoToHomeFromSignaturesTab",
                                    "buttonGoToHomeFromRawSliderTab",   "buttonGoToHomeFromTreeTab",
                                    "buttonGoToHomeFromPTListTab",      "buttonGoToHomeFromPTScanListTab",
                                    "buttonGoToHomeFromTreeScanModeTab"};

// The kind screen of each scan mode, its picture area and its hover picture.
struct KindScreen {
    const char* tab;
    const char* hover;
};
KindScreen kindScreenOf(ScanMode scanMode) {
    if (platform::isFileScan(scanMode)) return {"Recover Files", "Recover_File_hover"};
    if (platform::isPhotoScan(scanMode)) return {"Recover Photos", "Recover_Photos_hover"};
    return {"Recover Partitions", "Recover_Partition_Drives_hover"};
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
      scanStarter_([](std::shared_ptr<Volume> volume, ScanThread::Entry entry, Array arguments) {
          ScanThread::detach(std::move(volume), entry, std::move(arguments));
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
    auto onClick = [this](const char* name, auto action) {
        if (auto* b = qobject_cast<QAbstractButton*>(delegate_.element(QString::fromLatin1(name))))
            connect(b, &QAbstractButton::clicked, this, [this, action] { (this->*action)(); });
    };
    onClick("buttonRecoverFiles", &ScanWizard::recoverFiles);
    onClick("buttonRecoverPhotos", &ScanWizard::recoverPhotos);
    onClick("buttonRecoverPartitionAndDrives", &ScanWizard::recoverPartitionAndDrives);
    onClick("buttonRecoverFilesFast", &ScanWizard::recoverFilesFast);
    onClick("buttonRecoverFilesAdvanced", &ScanWizard::recoverFilesAdvanced);
    onClick("buttonRecoverPhotosFast", &ScanWizard::recoverPhotosFast);
    onClick("buttonRecoverPhotosAdvanced", &ScanWizard::recoverPhotosAdvanced);
    onClick("buttonRecoverPartitionAndDrivesFast", &ScanWizard::recoverPartitionAndDrivesFast);
    onClick("buttonRecoverPartitionAndDrivesAdvanced", &ScanWizard::recoverPartitionAndDrivesAdvanced);
    for (const char* name : {"buttonBackToMainScreenFromFileRecoveryTab", "buttonBackToMainScreenFromPhotoRecoveryTab",
                             "buttonBackToMainScreenFromPartitionAndDrivesRecoveryTab"})
        onClick(name, &ScanWizard::backToMainScreen);
    for (const char* name : kHomeButtons)
        if (auto* b = qobject_cast<QAbstractButton*>(delegate_.element(QString::fromLatin1(name))))
            connect(b, &QAbstractButton::clicked, this, [this, b] { gotoHome(b); });

    onClick("buttonRefreshDrivesList", &ScanWizard::refreshDrivesList);
    onClick("backButtonInDrivesList", &ScanWizard::backButtonInDrivesListTabClicked);
    onClick("nextButtonInDrivesList", &ScanWizard::nextButtonInDrivesListTabClicked);
    onClick("buttonPTListNext", &ScanWizard::ptListNextClicked);
    onClick("buttonPTListBack", &ScanWizard::ptListBackClicked);
    onClick("buttonPTScanListNext", &ScanWizard::ptScanListNextClicked);
    onClick("buttonPTScanListBack", &ScanWizard::ptScanListBackClicked);
    onClick("buttonTreeScanModeStd", &ScanWizard::treeScanModeStdScanClicked);
    onClick("buttonTreeScanModeAdv", &ScanWizard::treeScanModeAdvScanClicked);
    onClick("buttonTreeScanModeBack", &ScanWizard::treeScanModeBackClicked);
    onClick("nextButtonSigTab", &ScanWizard::sigSelNextClicked);
    onClick("skipButtonSigTab", &ScanWizard::skipButtonSigTabClicked);
    onClick("buttonSigSelBack", &ScanWizard::sigSelBackToVolumesClicked);
    onClick("buttonRawSliderBack", &ScanWizard::rawSliderBackToSigSelClicked);
    if (auto* start = qobject_cast<QAbstractButton*>(delegate_.element(QStringLiteral("buttonRawSliderNext"))))
        connect(start, &QAbstractButton::clicked, this, [this] { rawSliderNextClicked(false); });
    for (const char* name : {"sliderStart", "sliderEnd"})
        if (auto* slider = qobject_cast<QSlider*>(delegate_.element(QString::fromLatin1(name))))
            connect(slider, &QSlider::valueChanged, this, [this, slider] { rawSliderChanged(slider); });

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
    connect(monitor, &DriveListMonitor::changed, this, [this] {
        MainWindow* window = delegate_.window();
        if (window && window->selectedIdentifier() == QStringLiteral("Drives List") && !platform::autoResumeFlag())
            refreshDrivesList();
    });
}

// ---------------------------------------------------------------------------
// Small helpers of the screens

void ScanWizard::setChecked(const char* name, bool checked) {
    if (auto* box = qobject_cast<QAbstractButton*>(delegate_.element(QString::fromLatin1(name))))
        box->setChecked(checked);
}

void ScanWizard::setEnabled(const char* name, bool enabled) {
    if (QWidget* w = delegate_.element(QString::fromLatin1(name))) w->setEnabled(enabled);
}

void ScanWizard::clearSelection(const char* tableName) {
    if (auto* table = qobject_cast<QAbstractItemView*>(delegate_.element(QString::fromLatin1(tableName))))
        table->clearSelection();
}

void ScanWizard::setFileTypeEditingShown(bool shown) {
    for (const char* name : {"buttonSigAddFileType", "buttonSigRemoveFileType"})
        delegate_.updateButton(Dict{{"button", name}, {"setEnabled", shown}, {"setHidden", !shown}});
}

void ScanWizard::writeDrivesHeading() {
    const int mode = delegate_.displayDrvOrVolOrBoth();
    if (mode < 0 || mode > 2) return;
    delegate_.updateTextField(
        Dict{{"textField", "textFieldHeadingDriveListTab"}, {"textField String", kHeadings[mode]}});
}

void ScanWizard::showEmptyListTexts() {
    // An empty list says what would fill it; the loading state (rows held
    // back while the list is rebuilt) says nothing.
    if (auto* text = qobject_cast<QLabel*>(delegate_.elementIfMade(QStringLiteral("textFieldEmptyDrivesList"))))
        text->setVisible(!delegate_.zeroTableViewDrivesList() &&
                         tables_->rowCount(QStringLiteral("tableViewDrives")) == 0);
    if (auto* text = qobject_cast<QLabel*>(delegate_.elementIfMade(QStringLiteral("textFieldEmptyPTList"))))
        text->setVisible(tables_->rowCount(QStringLiteral("tableViewPTList")) == 0);
    if (auto* text = qobject_cast<QLabel*>(delegate_.elementIfMade(QStringLiteral("textFieldEmptyPTScanList"))))
        text->setVisible(tables_->rowCount(QStringLiteral("tableViewScanPTList")) == 0);
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
    if (auto* screen = qobject_cast<RecoveryKindScreen*>(window->screen(QString::fromLatin1(kind.tab)))) {
        screen->pictureArea()->picture()->setPixmap(AppImages::imageNamed(QStringLiteral("wizard2")));
        screen->pictureArea()->overlay()->setPixmap(AppImages::imageNamed(QString::fromLatin1(kind.hover)));
    }
    if (selectTab) window->selectTabViewItemWithIdentifier(QString::fromLatin1(kind.tab));
}

void ScanWizard::openKind(ScanMode fastMode) {
    resetPressed(platform::isFileScan(fastMode)    ? "buttonRecoverFiles"
                 : platform::isPhotoScan(fastMode) ? "buttonRecoverPhotos"
                                                   : "buttonRecoverPartitionAndDrives");
    const bool resuming = platform::autoResumeFlag();
    if (!resuming) delegate_.setTreeScanMode(TreeScanMode::None);
    showKindScreen(fastMode, !resuming);
    setFileTypeEditingShown(fastMode == ScanMode::Partitions);
    // A resumed scan goes on with the choice it had made.
    if (resuming && sameKind(delegate_.scanMode(), fastMode)) choose(delegate_.scanMode());
}

void ScanWizard::resetPressed(const char* name) {
    if (auto* b = qobject_cast<HoverButton*>(delegate_.element(QString::fromLatin1(name)))) b->resetButton();
}

void ScanWizard::choose(ScanMode scanMode) {
    static const char* const choices[] = {"buttonRecoverFilesFast",
                                          "buttonRecoverFilesAdvanced",
                                          "buttonRecoverPhotosFast",
                                          "buttonRecoverPhotosAdvanced",
                                          "buttonRecoverPartitionAndDrivesFast",
                                          "buttonRecoverPartitionAndDrivesAdvanced"};
    resetPressed(choices[platform::storedScanMode(scanMode)]);
    const bool resuming = platform::autoResumeFlag();
    if (!resuming) delegate_.setTreeScanMode(TreeScanMode::None);
    setFileTypeEditingShown(platform::isPartitionScan(scanMode));
    if (!resuming) delegate_.setScanMode(scanMode);
    setEnabled("nextButtonInDrivesList", false);
    delegate_.setZeroTableViewDrivesList(true);
    startDrivesLoading();
}

void ScanWizard::showHomeScreen() {
    MainWindow* window = delegate_.window();
    if (!window) return;
    // The welcome picture again, without the last choice's explanation.
    if (auto* home = qobject_cast<MainScreen*>(window->screen(QStringLiteral("Main Screen")))) {
        home->pictureArea()->overlay()->clear();
        home->pictureArea()->picture()->setPixmap(AppImages::imageNamed(QStringLiteral("wizard")));
    }
    window->selectTabViewItemWithIdentifier(QStringLiteral("Main Screen"));
}

void ScanWizard::backToMainScreen() {
    for (const char* name : {"buttonBackToMainScreenFromFileRecoveryTab", "buttonBackToMainScreenFromPhotoRecoveryTab",
                             "buttonBackToMainScreenFromPartitionAndDrivesRecoveryTab"})
        resetPressed(name);
    delegate_.setIsPTListOrPTScanListChosen(-1);
    showHomeScreen();
}

void ScanWizard::gotoHome(QObject* sender) {
    if (sender && sender->objectName() == QStringLiteral("buttonGoToHomeFromTreeTab")) {
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
    clearSelection("tableViewPTList");
    clearSelection("tableViewScanPTList");
    delegate_.setZeroTableViewDrivesList(true);
    // The pressed home button leaves its hover look behind.
    for (const char* name : kHomeButtons)
        resetPressed(name);
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
        delegate_.performOnMainThread(
            [this] {
                --loadersRunning_;
                if (std::exchange(refreshPending_, false)) refreshDrivesList();
            },
            false);
    }).detach();
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

void ScanWizard::nextButtonInDrivesListTabClicked() {
    delegate_.setIsPTListOrPTScanListChosen(-1);
    if (platform::autoResumeFlag())
        if (std::shared_ptr<Volume> volume = delegate_.selectedVolume()) tables_->selectRowWithPath(volume->path());
    const std::optional<Dict> row = tables_->selectedRow(QStringLiteral("tableViewDrives"));
    if (row) selectedDrvOrVolDict_ = *row;
    if (row && row->contains("WhetherVolume") && row->get("Content").stringValue() == "-") {
        delegate_.runAlertPanel(
            platform::alertRequest("Information", "Can not process this volume as it has some corruption", "OK", {}));
        return;
    }
    if (!row && !platform::autoResumeFlag()) return;
    if (isSipEnable(selectedDrvOrVolDict_.get("Path").stringValue())) {
        setEnabled("nextButtonSigTab", false);
        setEnabled("skipButtonSigTab", false);
        if (auto* panel = delegate_.element(QStringLiteral("windowSIPPanel"))) {
            panel->show();
            panel->raise();
            panel->activateWindow();
        }
        return;
    }
    setEnabled("nextButtonSigTab", true);
    setEnabled("skipButtonSigTab", true);
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
    const Value blockSize = selectedDrvOrVolDict_.get("Preferred Block Size");
    row.set("Preferred Block Size", blockSize.intValue());
    row.set("Size", static_cast<unsigned long long>(row.get("Volume Size In Sectors").uint64Value() *
                                                    static_cast<std::uint64_t>(blockSize.unsignedIntValue())));
    for (const char* key : {"IOBundleResourceFile", "bundle path"})
        if (selectedDrvOrVolDict_.contains(key)) row.set(key, selectedDrvOrVolDict_.get(key));
    return row;
}

std::shared_ptr<Volume> ScanWizard::volumeFromRow(const Dict& row) {
    std::shared_ptr<Volume> volume = Volume::initWithDictionary(row);
    delegate_.setSelectedVolume(volume);
    return volume;
}

void ScanWizard::prepareForScan() {
    setEnabled("skipButtonSigTab", true);
    const bool resuming = platform::autoResumeFlag();
    const bool fsr = selectedDrvOrVolDict_.get("supportFileSystemRecovery").intValue() != 0;
    switch (delegate_.scanMode()) {
    case ScanMode::FastFiles:
        if (!resuming) volumeFromRow(selectedDrvOrVolDict_);
        if (!fsr) {
            setEnabled("skipButtonSigTab", false);
            prepareForSignatureSearch();
        } else {
            fileTypes_->deselectAllSig();
            setEnabled("skipButtonSigTab", false);
            sigSelNextClicked();
        }
        break;
    case ScanMode::AdvancedFiles:
        if (!resuming) volumeFromRow(selectedDrvOrVolDict_);
        if (!fsr) setEnabled("skipButtonSigTab", false);
        prepareForSignatureSearch();
        break;
    case ScanMode::FastPhotos:
    case ScanMode::AdvancedPhotos:
        if (!resuming) volumeFromRow(selectedDrvOrVolDict_);
        if (std::shared_ptr<Volume> volume = delegate_.selectedVolume()) volume->filterTreeForMedia = true;
        if (!(fsr && delegate_.scanMode() == ScanMode::FastPhotos)) setEnabled("skipButtonSigTab", false);
        prepareForSignatureSearch();
        break;
    case ScanMode::Partitions: {
        if (!resuming) {
            delegate_.setSelectedDrive(DMedia::initWithDictionary(selectedDrvOrVolDict_));
            Array partitions;
            bool otherPartitions = false;
            if (std::shared_ptr<DMedia> drive = delegate_.selectedDrive()) {
                drive->initialize(partitions);
                otherPartitions = drive->otherPartitionsPassedOver > 0;
            }
            if (auto* text = qobject_cast<QLabel*>(delegate_.elementIfMade(QStringLiteral("textFieldEmptyPTList"))))
                text->setText(PTListScreen::emptyListText(otherPartitions));
            for (Value& partition : partitions)
                if (const Dict* d = partition.dict()) partition = Value(completedPartitionRow(*d));
            delegate_.setPartitionListDictArray(std::move(partitions));
            delegate_.fillCellArrayPTList();
            clearSelection("tableViewPTList");
            setChecked("buttonPTListCheckBoxScanForVolumes", false);
            setEnabled("buttonPTListNext", false);
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
            setEnabled("skipButtonSigTab", false);
        break;
    case ScanMode::None:
        break;
    }
}

void ScanWizard::ptListNextClicked() {
    auto* box = qobject_cast<QAbstractButton*>(delegate_.element(QStringLiteral("buttonPTListCheckBoxScanForVolumes")));
    if (!box || !box->isChecked()) {
        if (tables_->selectedRow(QStringLiteral("tableViewPTList"))) volumeFromPTIsSelected();
        return;
    }
    // The search for lost volumes over the whole disk.
    delegate_.setScanStartDate(QDateTime::currentDateTime());
    delegate_.updateTextField(Dict{{"textField", "textFieldScanForVolumesStartTime"},
                                   {"textField String", Utf8Text::fromQString(dateText(delegate_.scanStartDate()))}});
    delegate_.startElapsedTimeThreadScanForVolumes();
    std::shared_ptr<DMedia> drive = DMedia::initWithDictionary(selectedDrvOrVolDict_);
    delegate_.setSelectedDrive(drive);
    delegate_.volumeScanArgument() = Array{Value(Array{}), Value(Array{})};
    delegate_.fillCellArrayPTList();
    platform::scanRunningFlag() = true;
    if (MainWindow* window = delegate_.window())
        window->selectTabViewItemWithIdentifier(QStringLiteral("PT scan prog"));
    delegate_.updateProgressIndicator(
        Dict{{"progressIndicator", "progressIndicatorScanForVolumes"}, {"minValue", 0.0}});
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
    const std::optional<Dict> row = tables_->selectedRow(QStringLiteral("tableViewPTList"));
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
    delegate_.updateTextField(
        Dict{{"textField", "textFieldNumFoundVolumes"}, {"textField String", std::to_string(found.size())}});
    if (MainWindow* window = delegate_.window())
        window->selectTabViewItemWithIdentifier(QStringLiteral("PT scan list"));
    setEnabled("buttonPTScanListNext", false);
}

void ScanWizard::ptScanListNextClicked() {
    if (tables_->selectedRow(QStringLiteral("tableViewScanPTList"))) volumeFromScanListIsSelected();
}

void ScanWizard::volumeFromScanListIsSelected() {
    delegate_.setIsPTListOrPTScanListChosen(1);
    const std::optional<Dict> row = tables_->selectedRow(QStringLiteral("tableViewScanPTList"));
    if (!row) return;
    volumeFromRow(*row);
    delegate_.setSelectedDrive(nullptr);
    if (MainWindow* window = delegate_.window())
        window->selectTabViewItemWithIdentifier(QStringLiteral("Tree scan mode"));
}

void ScanWizard::ptScanListBackClicked() {
    delegate_.setSelectedDrive(nullptr);
    delegate_.fillCellArrayPTList();
    setChecked("buttonPTListCheckBoxScanForVolumes", false);
    if (MainWindow* window = delegate_.window()) window->selectTabViewItemWithIdentifier(QStringLiteral("PT list"));
    clearSelection("tableViewPTList");
    delegate_.setIsPTListOrPTScanListChosen(-1);
}

void ScanWizard::destroyVolumeAndBackToPartList() {
    MainWindow* window = delegate_.window();
    switch (delegate_.isPTListOrPTScanListChosen()) {
    case 0:
        setChecked("buttonPTListCheckBoxScanForVolumes", false);
        if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("PT list"));
        clearSelection("tableViewPTList");
        break;
    case 1:
        delegate_.updateTextField(
            Dict{{"textField", "textFieldNumFoundVolumes"},
                 {"textField String", std::to_string(delegate_.partitionScanListDictArray().size())}});
        if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("PT scan list"));
        clearSelection("tableViewScanPTList");
        break;
    default:
        if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("Drives List"));
        writeDrivesHeading();
        clearSelection("tableViewDrives");
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
    MainWindow* window = delegate_.window();
    if (delegate_.isPTListOrPTScanListChosen() == 0) {
        setChecked("buttonPTListCheckBoxScanForVolumes", false);
        if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("PT list"));
        clearSelection("tableViewPTList");
    } else if (delegate_.isPTListOrPTScanListChosen() == 1) {
        delegate_.updateTextField(
            Dict{{"textField", "textFieldNumFoundVolumes"},
                 {"textField String", std::to_string(delegate_.partitionScanListDictArray().size())}});
        if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("PT scan list"));
        clearSelection("tableViewScanPTList");
    }
    freeSelectedVolume();
}

void ScanWizard::prepareForSignatureSearch() {
    if (auto* find = qobject_cast<QLineEdit*>(delegate_.elementIfMade(QStringLiteral("findFTSearchField"))))
        find->clear();
    fileTypes_->setSigDataLoadCount(0);
    fileTypes_->loadSigData();
    fileTypes_->deselectAllSig();
    if (MainWindow* window = delegate_.window()) window->selectTabViewItemWithIdentifier(QStringLiteral("Signatures"));
    if (platform::autoResumeFlag()) {
        sigSelArray_ = fileTypes_->fileTypesWithExtensions(autoRecSigExtArray_);
        autoRecSigExtArray_.clear();
    }
    auto* range = qobject_cast<QCheckBox*>(delegate_.element(QStringLiteral("rawSearchCheckBox")));
    if (range) {
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
    auto* start = qobject_cast<QSlider*>(delegate_.element(QStringLiteral("sliderStart")));
    auto* end = qobject_cast<QSlider*>(delegate_.element(QStringLiteral("sliderEnd")));
    if (start) start->setValue(0);
    if (end) end->setValue(RawSliderScreen::kSliderSteps);
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    if (!volume) return;
    sigSelArray_ = fileTypes_->markedFileTypes();

    auto* rangeBox = qobject_cast<QCheckBox*>(delegate_.element(QStringLiteral("rawSearchCheckBox")));
    const bool askRange = rangeBox && rangeBox->isChecked();
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
        if (MainWindow* window = delegate_.window())
            window->selectTabViewItemWithIdentifier(QStringLiteral("Raw slider"));
    } else {
        rawSliderNextClicked(false);
    }
}

void ScanWizard::skipButtonSigTabClicked() {
    fileTypes_->emptySigRootArray();
    sigSelNextClicked();
}

void ScanWizard::sigSelBackToVolumesClicked() {
    MainWindow* window = delegate_.window();
    // On a partition path the volume stays: Standard or Advanced can go on
    // with it at once.
    if (delegate_.isPTListOrPTScanListChosen() == 0 || delegate_.isPTListOrPTScanListChosen() == 1) {
        if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("Tree scan mode"));
        return;
    }
    if (delegate_.selectedVolume()) fileTypes_->emptySigRootArray();
    if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("Drives List"));
    writeDrivesHeading();
    clearSelection("tableViewDrives");
    freeSelectedVolume();
}

void ScanWizard::setTextFieldRawSizeDrvVol() {
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    const std::uint64_t size = volume ? volume->sizeInSect() * volume->u32BytesInSector() : 0;
    delegate_.updateTextField(Dict{{"textField", "textFieldSizeOfRawScanDrvVol"},
                                   {"textField String", Utf8Text::fromQString(sizeText(size))}});
}

void ScanWizard::rawSliderChanged(QObject* sender) {
    auto* slider = qobject_cast<QSlider*>(sender);
    const bool isStart = slider && slider->objectName() == QStringLiteral("sliderStart");
    const bool isEnd = slider && slider->objectName() == QStringLiteral("sliderEnd");
    const float percent =
        isStart || isEnd ? static_cast<float>(slider->value()) * 100.0F / RawSliderScreen::kSliderSteps : 0.0F;
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    const std::uint64_t size = volume ? volume->sizeInSect() * volume->u32BytesInSector() : 0;
    const auto bytes = static_cast<std::uint64_t>(static_cast<float>(size) * percent / 100.0F);
    const QString label = QStringLiteral("%1% %2").arg(static_cast<int>(percent)).arg(sizeText(bytes));
    if (isStart || isEnd)
        delegate_.updateTextField(
            Dict{{"textField", isStart ? "textFieldStartSliderStatus" : "textFieldEndSliderStatus"},
                 {"textField String", Utf8Text::fromQString(label)}});
}

void ScanWizard::rawSliderBackToSigSelClicked() {
    sigSelArray_.clear();
    fileTypes_->deselectAllSig();
    setChecked("rawSearchCheckBox", false);
    if (MainWindow* window = delegate_.window()) window->selectTabViewItemWithIdentifier(QStringLiteral("Signatures"));
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
    auto* start = qobject_cast<QSlider*>(delegate_.element(QStringLiteral("sliderStart")));
    auto* end = qobject_cast<QSlider*>(delegate_.element(QStringLiteral("sliderEnd")));
    const float startPercent = start ? static_cast<float>(start->value()) * 100.0F / RawSliderScreen::kSliderSteps : 0;
    const float endPercent = end ? static_cast<float>(end->value()) * 100.0F / RawSliderScreen::kSliderSteps : 100;
    const ScanMode mode = delegate_.scanMode();
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
    delegate_.updateTextField(Dict{{"textField", "textFieldStatus"}, {"textField String", delegate_.mainScanStatus()}});
    delegate_.updateTextField(Dict{{"textField", "findTextFieldSelectedIndex"}, {"textField String", " "}});
    delegate_.setScanStartDate(QDateTime::currentDateTime());
    delegate_.updateTextField(Dict{{"textField", "textFieldScanStartTime"},
                                   {"textField String", Utf8Text::fromQString(dateText(delegate_.scanStartDate()))}});
    delegate_.startElapsedTimeThread();
    if (!resumed && volume) volume->setRawSearchStart(startPercent, endPercent);

    if (MainWindow* window = delegate_.window()) window->selectTabViewItemWithIdentifier(QStringLiteral("Progress"));
    delegate_.updateProgressIndicator(Dict{{"progressIndicator", "progress"}, {"minValue", 0.0}});
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
    if (resumed && searchesFileTypes(rawSearchMode_)) {
        arguments.emplace_back(static_cast<unsigned long long>(autoRecBeginSize_));
        arguments.emplace_back("auto");
    }
    scanStarter_(volume, entry, std::move(arguments));
}
