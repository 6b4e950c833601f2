#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"

#include "app/AboutPanel.h"
#include "app/AutoRecoveryController.h"
#include "app/DrivesListScreen.h"
#include "app/MainScreen.h"
#include "app/MainWindow.h"
#include "app/ManualWindow.h"
#include "app/NotificationCenter.h"
#include "app/PTListScreen.h"
#include "app/PTScanListScreen.h"
#include "app/PictureArea.h"
#include "app/PreviewWindow.h"
#include "app/RecoveryKindScreen.h"
#include "app/RecoverySessionController.h"
#include "app/ScanWizard.h"
#include "app/SignaturesScreen.h"
#include "app/WizardScreen.h"
#include "media/DMedia.h"
#include "media/DriveDiscovery.h"
#include "platform/InfoPlist.h"
#include "platform/Paths.h"
#include "platform/ProcessFlags.h"
#include "platform/SystemLog.h"
#include "results/qt/Utf8Text.h"
#include "session/AutoRecoverySnapshot.h"
#include "signatures/SignatureSearchState.h"
#include "volume/Volume.h"

#include <QAction>
#include <QDesktopServices>
#include <QDialog>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QUrl>
#include <cstring>
#include <unistd.h>

using platform::Array;

// ---------------------------------------------------------------------------
// Construction and launch

Quelvar_Recovery_SoftwareAppDelegate::Quelvar_Recovery_SoftwareAppDelegate(DriveListLoader loader, QObject* parent)
    : QObject(parent),
      requests_(elements_, [this](QWidget* sheet, int returnCode,
                                  const QString& context) { sheetDidEnd(sheet, returnCode, context); }),
      progress_(*this, elements_, requests_), quit_(*this, elements_, requests_), updateCheck_(requests_),
      bringFront_(elements_), driveListLoader_(std::move(loader)),
      signatureSearch_(std::make_shared<SignatureSearchState>()) {
    platform::setAppController(this);
    volumeScanArgument_ = Array{platform::Value(Array{}), platform::Value(Array{})};
    connect(&progress_, &ProgressDisplay::volumesFoundChanged, this,
            &Quelvar_Recovery_SoftwareAppDelegate::volumesFoundChanged);

    // The first drive list; the table shows no rows until a kind of recovery
    // has been chosen.
    initialDriveList();
    fillCellArray();
    zeroTableViewDrivesList_ = true;
    observeNotifications();
}

void Quelvar_Recovery_SoftwareAppDelegate::observeNotifications() {
    // Nothing in the program posts these; whatever does reaches the preview
    // and the session opening through them.
    NotificationCenter& center = NotificationCenter::defaultCenter();
    auto preview = [this](void (PreviewWindow::*handler)()) {
        return [this, handler](const QVariant&) {
            if (PreviewWindow* w = PreviewWindow::made(window())) (w->*handler)();
        };
    };
    center.addObserver(this, QStringLiteral("PreviewThreadAbortedNotification"),
                       preview(&PreviewWindow::previewAfterThreadAbort));
    center.addObserver(this, QStringLiteral("PreviewDataLoadedNotification"),
                       preview(&PreviewWindow::previewDataLoaded));
    center.addObserver(this, QStringLiteral("OpenFilePathFileFoundNotification"), [this](const QVariant& path) {
        if (RecoverySessionController* sessions = RecoverySessionController::of(*this))
            sessions->openScanInfoFile(path.toString());
    });
}

Quelvar_Recovery_SoftwareAppDelegate::~Quelvar_Recovery_SoftwareAppDelegate() {
    if (platform::appController() == this) platform::setAppController(nullptr);
}

void Quelvar_Recovery_SoftwareAppDelegate::setSelectedVolume(std::shared_ptr<Volume> v) {
    selectedVolume_ = std::move(v);
    signatureSearch_ = std::make_shared<SignatureSearchState>();
}

Quelvar_Recovery_SoftwareAppDelegate* Quelvar_Recovery_SoftwareAppDelegate::shared() {
    return dynamic_cast<Quelvar_Recovery_SoftwareAppDelegate*>(platform::appController());
}

void Quelvar_Recovery_SoftwareAppDelegate::handleLaunchArguments(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[2], "auto") == 0) platform::autoResumeFlag() = true;
}

void Quelvar_Recovery_SoftwareAppDelegate::awakeFromNib() {
    MainWindow* window = elements_.window();
    if (!window) return;
    scanInfoFileExtension_ = QStringLiteral("drs");

    // One control under two names: the list code speaks of the file-type
    // screen's Next and delete buttons by either.
    registerElement(QStringLiteral("buttonSigSelNext"), window->signaturesScreen()->nextButtonSigTab());
    registerElement(QStringLiteral("buttonRemoveFileType"), window->signaturesScreen()->buttonSigRemoveFileType());

    // What the window does by itself: help, stopping, quitting, closing and
    // the about panel. The screens set themselves up; the wizard's steps are
    // connected by the screens' own code.
    for (WizardScreen* screen : window->findChildren<WizardScreen*>())
        connect(screen, &WizardScreen::helpRequested, this, &Quelvar_Recovery_SoftwareAppDelegate::help);
    progress_.connectControls();
    quit_.connectControls();
    connect(window->helpAction(), &QAction::triggered, this, [this] { help(); });
    connect(window->aboutAction(), &QAction::triggered, this, &Quelvar_Recovery_SoftwareAppDelegate::displayAboutPanel);
    connect(window->checkForUpdatesAction(), &QAction::triggered, this,
            [this, window] { checkForUpdateClicked(window->checkForUpdatesAction()); });
    auto info = platform::InfoPlist::loadFromBundle();
    window->supportPageAction()->setVisible(info && !info->supportPageUrl().empty());
    connect(window->supportPageAction(), &QAction::triggered, this,
            &Quelvar_Recovery_SoftwareAppDelegate::openSupportPage);
    connect(window, &MainWindow::tabSelected, this,
            [this, window](const QString& id) { tabView(window->tabView(), id); });

    // The window opens centred, at the size that later limits resizing.
    if (QScreen* screen = window->QWidget::screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    initialWindowFrame_ = window->geometry();
    initialWindowSize_ = window->size();
    tabView(window->tabView(), window->selectedIdentifier());

    window->show();
    window->raise();
    window->activateWindow();
    // The window manager may still be placing other windows; ask again a
    // moment later instead of holding up the main thread.
    QTimer::singleShot(1000, this, &Quelvar_Recovery_SoftwareAppDelegate::makeMainWindowFrontThread);
}

void Quelvar_Recovery_SoftwareAppDelegate::applicationDidFinishLaunching() {
    fillCellArray();
    AutoRecoveryController* autoRecovery = AutoRecoveryController::of(*this);
    RecoverySessionController* sessions = RecoverySessionController::of(*this);
    const std::string state = platform::stateDir();
    if (platform::autoResumeFlag()) {
        if (autoRecovery) autoRecovery->openScanInfoAutoRecoveryAndScanThread();
    } else if (sessions && sessions->openHandedOverSession()) {
        // The question about an unfinished scan waits for a later start.
    } else if (AutoRecoverySnapshot::pairExists(state)) {
        // The question names the scan and its medium where the snapshot
        // tells them.
        std::string body = "A previous recovery scan was not completed. Do you wish to resume that same scan?";
        if (const std::optional<AutoRecoveryHead> head = AutoRecoverySnapshot::readHead(state))
            body = "A previous recovery scan was not completed: \"" + head->mainScanStatus + "\" on " +
                   AutoRecoveryController::describeMedium(*head->volume) + ". Do you wish to resume that same scan?";
        const int answer = showAlertPanelWithData(platform::Dict{
            {"title", "Resume Recovery?"}, {"body", body}, {"defaultButton", "YES"}, {"alternateButton", "NO"}});
        if (answer == platform::AlertDefaultReturn && autoRecovery) {
            platform::autoResumeFlag() = true;
            autoRecovery->openScanInfoAutoRecoveryAndScanThread();
        } else {
            AutoRecoverySnapshot::deletePair(state);
        }
    }
    if (sessions) sessions->watchOpenFilePathFileThread();
    watchBringFrontFileThread();
    checkForUpdateClicked(nullptr);
}

// ---------------------------------------------------------------------------
// Drive list

Quelvar_Recovery_SoftwareAppDelegate::DriveLists Quelvar_Recovery_SoftwareAppDelegate::discoveredDrives() {
    // What a disk failed in one listing is not asked of it again by the next
    // ones (every refresh, every look for a session's medium) while it stays
    // attached: a dying disk spends seconds on each failed read.
    static const auto failures = std::make_shared<ProbeFailures>();
    DriveDiscovery discovery(SystemPaths::system(), failures);
    discovery.initialDriveList();
    return {discovery.driveDictArray(), discovery.volumeDictArray(), discovery.volumeDictArrayHFSOnly()};
}

void Quelvar_Recovery_SoftwareAppDelegate::initialDriveList() {
    if (!driveListLoader_) return;
    setDriveLists(loadDriveLists());
}

Quelvar_Recovery_SoftwareAppDelegate::DriveLists Quelvar_Recovery_SoftwareAppDelegate::loadDriveLists() {
    if (!driveListLoader_) return {};
    std::lock_guard lock(loaderMutex_);
    return driveListLoader_();
}

void Quelvar_Recovery_SoftwareAppDelegate::setDriveLists(DriveLists lists) {
    std::lock_guard lock(listsMutex_);
    driveDictArray_ = std::move(lists.driveDictArray);
    volumeDictArray_ = std::move(lists.volumeDictArray);
    volumeDictArrayHFSOnly_ = std::move(lists.volumeDictArrayHFSOnly);
    ++driveListsKept_;
}

void Quelvar_Recovery_SoftwareAppDelegate::fillCellArray() {
    emit driveListChanged();
}

void Quelvar_Recovery_SoftwareAppDelegate::rebuildDriveListOnMainThread() {
    performOnMainThread(
        [this] {
            initialDriveList();
            fillCellArray();
        },
        true);
}

void Quelvar_Recovery_SoftwareAppDelegate::setDriveDictArray(Array a) {
    std::lock_guard lock(listsMutex_);
    driveDictArray_ = std::move(a);
}

void Quelvar_Recovery_SoftwareAppDelegate::setVolumeDictArray(Array a) {
    std::lock_guard lock(listsMutex_);
    volumeDictArray_ = std::move(a);
}

Array Quelvar_Recovery_SoftwareAppDelegate::driveDictArray() const {
    std::lock_guard lock(listsMutex_);
    return driveDictArray_;
}

Array Quelvar_Recovery_SoftwareAppDelegate::volumeDictArray() const {
    std::lock_guard lock(listsMutex_);
    return volumeDictArray_;
}

Array Quelvar_Recovery_SoftwareAppDelegate::volumeDictArrayHFSOnly() const {
    std::lock_guard lock(listsMutex_);
    return volumeDictArrayHFSOnly_;
}

Array Quelvar_Recovery_SoftwareAppDelegate::partitionListDictArray() const {
    std::lock_guard lock(listsMutex_);
    return partitionListDictArray_;
}

void Quelvar_Recovery_SoftwareAppDelegate::setPartitionListDictArray(Array a) {
    std::lock_guard lock(listsMutex_);
    partitionListDictArray_ = std::move(a);
}

Array Quelvar_Recovery_SoftwareAppDelegate::partitionScanListDictArray() const {
    return volumeScanArgument_.empty() ? Array() : volumeScanArgument_[0].arrayValue();
}

void Quelvar_Recovery_SoftwareAppDelegate::fillCellArrayPTList() {
    emit partitionListsChanged();
}

void Quelvar_Recovery_SoftwareAppDelegate::setZeroTableViewDrivesList(bool zero) {
    zeroTableViewDrivesList_ = zero;
    performOnMainThread([this] { emit driveListChanged(); }, true);
}

void Quelvar_Recovery_SoftwareAppDelegate::sheetDidEnd(QWidget* sheet, int, const QString& contextInfo) {
    if (contextInfo != QStringLiteral("window loading drives ended")) return;
    // The drive list is built: its rows may be shown again.
    if (ScanWizard* wizard = ScanWizard::of(*this))
        wizard->drivesLoaded();
    else
        setZeroTableViewDrivesList(false);
    if (sheet) sheet->hide();
}

// ---------------------------------------------------------------------------
// Window and tabs

void Quelvar_Recovery_SoftwareAppDelegate::tabView(QWidget*, const QString& didSelectTabViewItem) {
    MainWindow* window = elements_.window();
    if (!window) return;
    const bool tree = didSelectTabViewItem == QStringLiteral("Tree");
    // The result outline follows the row under the pointer.
    window->setMouseTracking(tree);
    // Only the result screen may grow, and only taller; the other screens
    // keep the size the window opened with.
    if (initialWindowSize_.isValid()) {
        if (tree) {
            window->setMinimumSize(initialWindowSize_);
            window->setMaximumSize(initialWindowSize_.width(), QWIDGETSIZE_MAX);
        } else {
            window->setFixedSize(initialWindowSize_);
        }
    }
    // A list screen starts with its Next button off until a row is chosen.
    QPushButton* next = nullptr;
    if (didSelectTabViewItem == QStringLiteral("Drives List"))
        next = window->drivesListScreen()->nextButtonInDrivesList();
    else if (didSelectTabViewItem == QStringLiteral("PT list"))
        next = window->ptListScreen()->buttonPTListNext();
    else if (didSelectTabViewItem == QStringLiteral("PT scan list"))
        next = window->ptScanListScreen()->buttonPTScanListNext();
    else if (didSelectTabViewItem == QStringLiteral("Signatures"))
        next = window->signaturesScreen()->nextButtonSigTab();
    if (next) next->setEnabled(false);
}

void Quelvar_Recovery_SoftwareAppDelegate::displayAboutPanel() {
    MainWindow* window = elements_.window();
    if (!window) return;
    QDialog* panel = window->windowAboutPanel();
    panel->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void Quelvar_Recovery_SoftwareAppDelegate::help(const QString& section) {
    QUrl url = QUrl::fromLocalFile(Utf8Text::toQString(platform::resourcePath("Manual/index.html")));
    if (!section.isEmpty()) url.setFragment(section);
    if (manualOpener_ && manualOpener_(url)) return;
    if (!manualWindow_) manualWindow_ = new ManualWindow(elements_.window());
    manualWindow_->showManual(url);
}

void Quelvar_Recovery_SoftwareAppDelegate::openSupportPage() {
    auto info = platform::InfoPlist::loadFromBundle();
    const std::string address = info ? info->supportPageUrl() : std::string();
    if (!address.empty() && !openWithDesktop(QUrl(Utf8Text::toQString(address))))
        platform::logFormat("the support page %@ could not be shown", address);
}

bool Quelvar_Recovery_SoftwareAppDelegate::openWithDesktop(const QUrl& url) {
    // Started through pkexec the program runs as root: a browser would run
    // with root's rights, and most refuse to. Without a display there is no
    // session to show a browser in.
    if (::geteuid() == 0) return false;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return false;
    return QDesktopServices::openUrl(url);
}

void Quelvar_Recovery_SoftwareAppDelegate::selectTabViewItemWithIdentifier(const std::string& id) {
    requests_.onMain([this, &id] {
        if (MainWindow* window = elements_.window()) window->selectTabViewItemWithIdentifier(Utf8Text::toQString(id));
    });
}

// ---------------------------------------------------------------------------
// Pictures of the home and recovery-kind screens

PictureArea* Quelvar_Recovery_SoftwareAppDelegate::homePictureArea() const {
    MainWindow* window = elements_.window();
    return window ? window->mainScreen()->pictureArea() : nullptr;
}

PictureArea* Quelvar_Recovery_SoftwareAppDelegate::kindPictureArea(RecoveryKindScreen* (MainWindow::*kind)()
                                                                       const) const {
    MainWindow* window = elements_.window();
    return window ? (window->*kind)()->pictureArea() : nullptr;
}

void Quelvar_Recovery_SoftwareAppDelegate::changeMainScreenImages() {
    if (PictureArea* area = homePictureArea()) area->showHoveredChoice();
}
void Quelvar_Recovery_SoftwareAppDelegate::resetMainScreenImages() {
    if (PictureArea* area = homePictureArea()) area->resetChoicesNotHovered();
}
void Quelvar_Recovery_SoftwareAppDelegate::changeRecoverFilesTabImages() {
    if (PictureArea* area = kindPictureArea(&MainWindow::recoverFilesScreen)) area->showHoveredChoice();
}
void Quelvar_Recovery_SoftwareAppDelegate::resetRecoverFilesTabImages() {
    if (PictureArea* area = kindPictureArea(&MainWindow::recoverFilesScreen)) area->resetChoicesNotHovered();
}
void Quelvar_Recovery_SoftwareAppDelegate::changeRecoverPhotosTabImages() {
    if (PictureArea* area = kindPictureArea(&MainWindow::recoverPhotosScreen)) area->showHoveredChoice();
}
void Quelvar_Recovery_SoftwareAppDelegate::resetRecoverPhotosTabImages() {
    if (PictureArea* area = kindPictureArea(&MainWindow::recoverPhotosScreen)) area->resetChoicesNotHovered();
}
void Quelvar_Recovery_SoftwareAppDelegate::changeRecoverPartitionsTabImages() {
    if (PictureArea* area = kindPictureArea(&MainWindow::recoverPartitionsScreen)) area->showHoveredChoice();
}
void Quelvar_Recovery_SoftwareAppDelegate::resetRecoverPartitionsTabImages() {
    if (PictureArea* area = kindPictureArea(&MainWindow::recoverPartitionsScreen)) area->resetChoicesNotHovered();
}

// ---------------------------------------------------------------------------
// The rest of the engine's requests

void Quelvar_Recovery_SoftwareAppDelegate::destroyVolumeAndBackToPartList() {
    performOnMainThread(
        [this] {
            if (ScanWizard* wizard = ScanWizard::of(*this)) wizard->destroyVolumeAndBackToPartList();
        },
        false);
}

void Quelvar_Recovery_SoftwareAppDelegate::restoreInitialWindowFrame() {
    MainWindow* window = elements_.window();
    if (!window || !initialWindowSize_.isValid()) return;
    window->resize(initialWindowSize_);
    if (QScreen* screen = window->QWidget::screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

void Quelvar_Recovery_SoftwareAppDelegate::previewClose() {
    requests_.onMain([this] {
        if (PreviewWindow* preview = PreviewWindow::made(window()); preview && preview->isVisible()) preview->close();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::rawScanStarted(const platform::Value& argument) {
    if (AutoRecoveryController* autoRecovery = AutoRecoveryController::of(*this))
        autoRecovery->rawScanStarted(argument);
}

void Quelvar_Recovery_SoftwareAppDelegate::rawScanCompleted() {
    if (AutoRecoveryController* autoRecovery = AutoRecoveryController::of(*this)) autoRecovery->rawScanCompleted();
}
