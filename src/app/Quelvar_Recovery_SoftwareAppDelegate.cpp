#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"

#include "app/AppImages.h"
#include "app/BusyIndicator.h"
#include "app/HoverButton.h"
#include "app/MainWindow.h"
#include "app/PictureArea.h"
#include "app/ProgressIndicator.h"
#include "media/DMedia.h"
#include "media/DriveDiscovery.h"
#include "platform/InfoPlist.h"
#include "platform/Paths.h"
#include "platform/ProcessFlags.h"
#include "platform/PropertyList.h"
#include "platform/SystemLog.h"
#include "results/ResultText.h"
#include "results/qt/Utf8Text.h"
#include "volume/Volume.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QThread>
#include <QUrl>
#include <QWindow>
#include <cstdio>
#include <cstring>

using platform::Array;
using platform::Dict;
using platform::Value;

namespace {

// Presses of these buttons count once even when they come as a double click:
// each press starts a rearrangement of the whole found-file tree.
class SingleClickFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::MouseButtonDblClick; }
};

const char* const kTextFieldsBlankAtStart[] = {
    "textFieldScanStartTime",
    "textFieldScanTimeElapsed",
    "textFieldMainScanStatus",
    "textFieldScanForVolumesStartTime",
    "textFieldScanForVolumesTimeElapsed",
    "textFieldETAValidityScan",
    "textFieldETAScanForVolumes",
    "textFieldPercentDone",
    "textFieldSizeDone",
    "timeRemainingTextFieldForTree",
};

// The progress screen writes nothing as "0.00 KB".
std::string progressSize(std::uint64_t bytes) {
    return ResultText::sizeString(bytes, ResultText::ZeroSize::TwoPlaces);
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and launch

Quelvar_Recovery_SoftwareAppDelegate::Quelvar_Recovery_SoftwareAppDelegate(DriveListLoader loader, QObject* parent)
    : QObject(parent), driveListLoader_(std::move(loader)) {
    platform::setAppController(this);
    volumeScanArgument_ = Array{Value(Array{}), Value(Array{})};

    // The first drive list; the table shows no rows until a kind of recovery
    // has been chosen.
    initialDriveList();
    fillCellArray();
    zeroTableViewDrivesList_ = true;

    for (QTimer* t : {&tick_, &tickForDMedia_, &elapsedTime_, &elapsedTimeScanForVolumes_})
        t->setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &Quelvar_Recovery_SoftwareAppDelegate::timerTick);
    connect(&tickForDMedia_, &QTimer::timeout, this, &Quelvar_Recovery_SoftwareAppDelegate::timerTickForDMedia);
    connect(&elapsedTime_, &QTimer::timeout, this,
            [this] { elapsedTimeTick(&elapsedTime_, QStringLiteral("textFieldScanTimeElapsed")); });
    connect(&elapsedTimeScanForVolumes_, &QTimer::timeout, this, [this] {
        elapsedTimeTick(&elapsedTimeScanForVolumes_, QStringLiteral("textFieldScanForVolumesTimeElapsed"));
    });
    bringFrontWatcher_.setInterval(2000);
    connect(&bringFrontWatcher_, &QTimer::timeout, this, &Quelvar_Recovery_SoftwareAppDelegate::pollBringFrontFile);
    saveScanInfoWatcher_.setInterval(200);
    connect(&saveScanInfoWatcher_, &QTimer::timeout, this, &Quelvar_Recovery_SoftwareAppDelegate::watchSaveScanInfo);
}

Quelvar_Recovery_SoftwareAppDelegate::~Quelvar_Recovery_SoftwareAppDelegate() {
    if (platform::appController() == this) platform::setAppController(nullptr);
}

Quelvar_Recovery_SoftwareAppDelegate* Quelvar_Recovery_SoftwareAppDelegate::shared() {
    return dynamic_cast<Quelvar_Recovery_SoftwareAppDelegate*>(platform::appController());
}

void Quelvar_Recovery_SoftwareAppDelegate::handleLaunchArguments(int argc, char** argv) {
    // "auto" asks to resume the interrupted scan without a question. Nothing
    // can resume a scan yet, and a set flag would keep the wizard from ever
    // rebuilding the drive list, so the request is noted and left aside.
    if (argc > 2 && std::strcmp(argv[2], "auto") == 0)
        platform::logLine("\"auto\" ignored: resuming an interrupted scan is not available");
}

MainWindow* Quelvar_Recovery_SoftwareAppDelegate::window() const {
    return window_;
}

void Quelvar_Recovery_SoftwareAppDelegate::setWindow(MainWindow* w) {
    window_ = w;
}

template <class T> T* Quelvar_Recovery_SoftwareAppDelegate::find(const QString& name) const {
    return qobject_cast<T*>(element(name));
}

void Quelvar_Recovery_SoftwareAppDelegate::setText(const QString& field, const QString& text) {
    QWidget* w = element(field);
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(text);
}

QPixmap Quelvar_Recovery_SoftwareAppDelegate::imageNamed(const QString& name) {
    if (auto it = images_.constFind(name); it != images_.constEnd()) return *it;
    QPixmap image = AppImages::imageNamed(name);
    images_.insert(name, image);
    return image;
}

void Quelvar_Recovery_SoftwareAppDelegate::configureHoverButton(const QString& name, const QString& prefix, int id,
                                                                bool resetWhenNotHovering) {
    auto* button = find<HoverButton>(name);
    if (!button) return;
    button->setImageNormal(imageNamed(prefix + QStringLiteral("-normal")),
                           imageNamed(prefix + QStringLiteral("-hover")));
    button->setImage(button->normalImage());
    button->setButtonID(id);
    button->setResetImageWhenNotHovering(resetWhenNotHovering);
}

void Quelvar_Recovery_SoftwareAppDelegate::awakeFromNib() {
    if (!window_) return;
    scanInfoFileExtension_ = QStringLiteral("drs");

    // The pictures, loaded once for the whole run.
    for (const char* name : {"0_5", "1_", "1_5", "2_", "2_5", "3_", "3_5", "4_", "4_5", "5_"})
        imageNamed(QString::fromLatin1(name));
    auto* singleClick = new SingleClickFilter(this);
    for (const char* name : {"buttonTreeFileTypesToggle", "buttonTreeShowDeleted"})
        if (QWidget* w = element(QString::fromLatin1(name))) w->installEventFilter(singleClick);
    for (const char* name : {"DeleteOverlay_6",
                             "red",
                             "green",
                             "grey",
                             "preview-loading",
                             "preview-failed",
                             "data-view",
                             "file-types-view",
                             "folder-select",
                             "folder-delete",
                             "wizard",
                             "wizard2",
                             "Recover_File_hover",
                             "Recover_Photos_hover",
                             "Recover_Partition_Drives_hover",
                             "Fast_File_Recovery_hover",
                             "Advanced_File_Recovery_hover",
                             "Fast_Photo_Recovery_hover",
                             "Advanced_Photo_Recovery_hover",
                             "Partition_Recovery_hover",
                             "Formatted_Reformatted_Recovery_hover"})
        imageNamed(QString::fromLatin1(name));
    for (const char* prefix : {"rf", "rp", "rpd", "ffr", "afr", "fpr", "apr", "pr", "frr", "home", "home2", "help"}) {
        imageNamed(QString::fromLatin1(prefix) + QStringLiteral("-normal"));
        imageNamed(QString::fromLatin1(prefix) + QStringLiteral("-hover"));
    }
    imageNamed(QStringLiteral("gradient-thick"));

    // The hover buttons: pictures, screen group, and whether leaving puts
    // the normal picture back (the choice buttons keep theirs until their
    // screen resets them).
    const struct {
        const char* name;
        const char* prefix;
        int id;
        bool reset;
    } hoverButtons[] = {
        {"buttonRecoverFiles", "rf", 1, false},
        {"buttonRecoverPhotos", "rp", 2, false},
        {"buttonRecoverPartitionAndDrives", "rpd", 3, false},
        {"buttonRecoverFilesFast", "ffr", 4, false},
        {"buttonRecoverFilesAdvanced", "afr", 5, false},
        {"buttonBackToMainScreenFromFileRecoveryTab", "home", 6, false},
        {"buttonRecoverPhotosFast", "fpr", 7, false},
        {"buttonRecoverPhotosAdvanced", "apr", 8, false},
        {"buttonBackToMainScreenFromPhotoRecoveryTab", "home", 9, false},
        {"buttonRecoverPartitionAndDrivesFast", "pr", 10, false},
        {"buttonRecoverPartitionAndDrivesAdvanced", "frr", 11, false},
        {"buttonBackToMainScreenFromPartitionAndDrivesRecoveryTab", "home", 12, false},
        {"buttonGoToHomeFromDrivesListTab", "home2", 13, true},
        {"buttonGoToHomeFromSignaturesTab", "home2", 14, true},
        {"buttonGoToHomeFromRawSliderTab", "home2", 15, true},
        {"buttonGoToHomeFromTreeTab", "home2", 16, true},
        {"buttonGoToHomeFromPTListTab", "home2", 17, true},
        {"buttonGoToHomeFromPTScanListTab", "home2", 18, true},
        {"buttonGoToHomeFromTreeScanModeTab", "home2", 19, true},
        {"buttonHelpDriveListTab", "help", 0, true},
        {"buttonHelpSignaturesTab", "help", 0, true},
        {"buttonHelpRawSliderTab", "help", 0, true},
        {"buttonHelpTreeTab", "help", 0, true},
        {"buttonHelpPTListTab", "help", 0, true},
        {"buttonHelpPTScanListTab", "help", 0, true},
        {"buttonHelpTreeScanModeTab", "help", 0, true},
        {"buttonHelpProgressTab", "help", 0, true},
        {"buttonHelpPTScanProgTab", "help", 0, true},
    };
    for (const auto& b : hoverButtons)
        configureHoverButton(QString::fromLatin1(b.name), QString::fromLatin1(b.prefix), b.id, b.reset);
    // The picture areas start as the screens are first shown: the welcome
    // picture at home, the kind's own explanation on a kind screen.
    if (auto* home = find<QLabel>(QStringLiteral("imageViewMainScreen"))) home->setPixmap(imageNamed("wizard"));
    const struct {
        const char* area;
        const char* overlay;
    } kindAreas[] = {
        {"imageViewRecoverFiles", "Recover_File_hover"},
        {"imageViewRecoverPhotos", "Recover_Photos_hover"},
        {"imageViewRecoverPartitions", "Recover_Partition_Drives_hover"},
    };
    for (const auto& k : kindAreas) {
        if (auto* area = find<QLabel>(QString::fromLatin1(k.area))) area->setPixmap(imageNamed("wizard2"));
        if (auto* over = find<QLabel>(QString::fromLatin1(k.area) + QStringLiteral("Imposed")))
            over->setPixmap(imageNamed(QString::fromLatin1(k.overlay)));
    }

    for (const char* field : kTextFieldsBlankAtStart)
        setText(QString::fromLatin1(field), QStringLiteral(" "));

    if (auto* speed = find<QLabel>(QStringLiteral("textFieldEstimatedRecoverySpeedStatic"))) {
        speed->setText(QStringLiteral("Estimated Recovery Speed"));
        QFont f = QApplication::font();
        f.setPointSize(13);
        f.setUnderline(true);
        speed->setFont(f);
        speed->setStyleSheet(QStringLiteral("color: black;"));
        speed->setAlignment(Qt::AlignCenter);
    }
    if (auto* gradient = find<QLabel>(QStringLiteral("imageViewSigSpeedGradient"))) {
        gradient->setPixmap(imageNamed("gradient-thick"));
        gradient->update();
    }

    // The find fields show their title as text until the user types.
    if (auto* f = find<QLineEdit>(QStringLiteral("findField"))) {
        f->setText(QStringLiteral("Find"));
        f->setProperty("title", QStringLiteral("Find"));
    }
    setText(QStringLiteral("findTextField"), QStringLiteral(" "));
    setText(QStringLiteral("findTextFieldSelectedIndex"), QStringLiteral(" "));
    if (auto* f = find<QLineEdit>(QStringLiteral("findFTSearchField"))) {
        f->setText(QStringLiteral("Find (type e.g. mp3 and press return)"));
        f->setProperty("title", QStringLiteral("Find (type e.g. mp3 and press return)"));
        f->setCursorPosition(0);
    }
    setText(QStringLiteral("findFTStatusTextField"), QStringLiteral(" "));
    if (auto* stepper = find<QSpinBox>(QStringLiteral("stepperFT"))) {
        stepper->setEnabled(false);
        stepper->setWrapping(true);
    }
    if (auto* box = find<QCheckBox>(QStringLiteral("rawSearchCheckBox"))) box->setChecked(false);

    if (QWidget* preview = element(QStringLiteral("previewButton")))
        preview->setToolTip(QStringLiteral("Press this button after selecting a file OR double click a file name\n"
                                           "OR hover the mouse over a file name to see its tooltip."));
    for (const char* name : {"markAllButton", "unmarkAllButton", "prevButton", "nextButton", "previewButton"})
        if (QWidget* w = element(QString::fromLatin1(name))) w->setEnabled(false);

    const struct {
        const char* name;
        const char* tip;
    } tips[] = {
        {"markAllButton", "Mark All Found"},
        {"unmarkAllButton", "Unmark All Found"},
        {"prevButton", "Go To Previous (Found)"},
        {"nextButton", "Go To Next (Found)"},
        {"saveButton", "Save Selected Files"},
        {"stopSaveButton", "Abort Saving Files"},
        {"saveScanButton", "Helps in reloading data tree"},
    };
    for (const auto& t : tips)
        if (QWidget* w = element(QString::fromLatin1(t.name))) w->setToolTip(QString::fromLatin1(t.tip));
    if (QWidget* load = element(QStringLiteral("buttonSigLoadFileTypes"))) {
        load->setEnabled(false);
        load->setHidden(true);
    }
    for (const char* name : {"textFieldTotalData", "textFieldMarkedData", "textFieldSavedData", "textFieldStatus"})
        setText(QString::fromLatin1(name), QStringLiteral(" "));
    if (auto* toggle = find<QAbstractButton>(QStringLiteral("buttonTreeFileTypesToggle")))
        toggle->setIcon(QIcon(imageNamed("file-types-view")));
    if (auto* toggle = find<QAbstractButton>(QStringLiteral("buttonTreeShowDeleted")))
        toggle->setIcon(QIcon(imageNamed("folder-delete")));

    // One control under two names: the list code speaks of the file-type
    // screen's Next and delete buttons by either.
    registerElement(QStringLiteral("buttonSigSelNext"), element(QStringLiteral("nextButtonSigTab")));
    registerElement(QStringLiteral("buttonRemoveFileType"), element(QStringLiteral("buttonSigRemoveFileType")));

    // What the window does by itself: help, stopping, quitting, closing and
    // the about panel. The wizard's steps are connected by the screens' own
    // code.
    for (HoverButton* button : window_->findChildren<HoverButton*>()) {
        const QString section = button->property("manualSection").toString();
        if (button->buttonID() == 0 && button->objectName().startsWith(QStringLiteral("buttonHelp")))
            connect(button, &QAbstractButton::clicked, this, [this, section] { help(section); });
    }
    for (const char* name : {"buttonStopScan", "buttonStopScanForVolumes"})
        if (auto* b = find<QAbstractButton>(QString::fromLatin1(name)))
            connect(b, &QAbstractButton::clicked, this, &Quelvar_Recovery_SoftwareAppDelegate::stopTreeThread);
    if (auto* b = find<QAbstractButton>(QStringLiteral("buttonAbortTreeThread")))
        connect(b, &QAbstractButton::clicked, this, &Quelvar_Recovery_SoftwareAppDelegate::abortTreeThread);
    if (auto* b = find<QAbstractButton>(QStringLiteral("buttonDontAbortTreeThread")))
        connect(b, &QAbstractButton::clicked, this, &Quelvar_Recovery_SoftwareAppDelegate::dontAbortTreeThread);
    connect(window_->quitAction(), &QAction::triggered, this,
            &Quelvar_Recovery_SoftwareAppDelegate::terminateApplication);
    connect(window_->helpAction(), &QAction::triggered, this, [this] { help(); });
    connect(window_->aboutAction(), &QAction::triggered, this,
            &Quelvar_Recovery_SoftwareAppDelegate::displayAboutPanel);
    window_->setCloseHandler([this] { return windowShouldClose(); });
    connect(window_, &MainWindow::windowClosed, this, &Quelvar_Recovery_SoftwareAppDelegate::terminateApp);
    connect(window_, &MainWindow::tabSelected, this, [this](const QString& id) { tabView(window_->tabView(), id); });

    // The window opens centred, at the size that later limits resizing.
    if (QScreen* screen = window_->QWidget::screen()) {
        QRect frame = window_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
    initialWindowFrame_ = window_->geometry();
    initialWindowSize_ = window_->size();
    tabView(window_->tabView(), window_->selectedIdentifier());

    window_->show();
    window_->raise();
    window_->activateWindow();
    // The window manager may still be placing other windows; ask again a
    // moment later instead of holding up the main thread.
    QTimer::singleShot(1000, this, &Quelvar_Recovery_SoftwareAppDelegate::makeMainWindowFrontThread);
}

void Quelvar_Recovery_SoftwareAppDelegate::applicationDidFinishLaunching() {
    fillCellArray();
    // Resuming an interrupted scan ("auto", or the question when both
    // snapshot files are there) and opening a session handed over in
    // "openFile.dat" both need the session reader; the program starts on
    // the home screen until it is there.
    watchBringFrontFileThread();
    checkForUpdateClicked(nullptr);
}

// ---------------------------------------------------------------------------
// Drive list

Quelvar_Recovery_SoftwareAppDelegate::DriveLists Quelvar_Recovery_SoftwareAppDelegate::discoveredDrives() {
    DriveDiscovery discovery;
    discovery.initialDriveList();
    return {discovery.driveDictArray(), discovery.volumeDictArray(), discovery.volumeDictArrayHFSOnly()};
}

void Quelvar_Recovery_SoftwareAppDelegate::initialDriveList() {
    if (!driveListLoader_) return;
    DriveLists lists = driveListLoader_();
    std::lock_guard lock(listsMutex_);
    driveDictArray_ = std::move(lists.driveDictArray);
    volumeDictArray_ = std::move(lists.volumeDictArray);
    volumeDictArrayHFSOnly_ = std::move(lists.volumeDictArrayHFSOnly);
}

void Quelvar_Recovery_SoftwareAppDelegate::fillCellArray() {
    emit driveListChanged();
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

void Quelvar_Recovery_SoftwareAppDelegate::setZeroTableViewDrivesList(bool zero) {
    zeroTableViewDrivesList_ = zero;
    performOnMainThread([this] { emit driveListChanged(); }, true);
}

// ---------------------------------------------------------------------------
// Hand-over files and coming to the front

QString Quelvar_Recovery_SoftwareAppDelegate::bringFrontFilePath() {
    const std::string dir = platform::stateDir();
    if (dir.empty()) return {};
    return Utf8Text::toQString(dir) + QStringLiteral("/bringFrontFile.dat");
}

void Quelvar_Recovery_SoftwareAppDelegate::watchBringFrontFileThread() {
    // A look every two seconds for as long as the program runs; the look is
    // one stat() call, so the main thread does it between events.
    bringFrontWatcher_.start();
}

void Quelvar_Recovery_SoftwareAppDelegate::pollBringFrontFile() {
    const QString path = bringFrontFilePath();
    if (path.isEmpty() || !QFileInfo::exists(path)) return;
    // Only its existence counts. A file that can't be deleted is seen again
    // at the next look and the request repeats.
    QFile::remove(path);
    bringMainWindowToFront();
}

void Quelvar_Recovery_SoftwareAppDelegate::bringMainWindowToFront() {
    if (!window_) return;
    window_->setWindowState((window_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window_->show();
    window_->raise();
    window_->activateWindow();
    QTimer::singleShot(1000, this, &Quelvar_Recovery_SoftwareAppDelegate::makeMainWindowFrontThread);
}

void Quelvar_Recovery_SoftwareAppDelegate::makeMainWindowFrontThread() {
    if (!window_ || !window_->isVisible()) return;
    window_->raise();
    if (QWindow* handle = window_->windowHandle()) handle->requestActivate();
}

// ---------------------------------------------------------------------------
// Update check

void Quelvar_Recovery_SoftwareAppDelegate::checkForUpdateClicked(QObject*) {
    auto info = platform::InfoPlist::loadFromBundle();
    if (!info) return;
    const std::string url = info->cloudPlistUrl();
    if (url.empty()) return;
    platform::logFormat("%@", url);
    const std::string local = info->shortVersionString();
    if (!network_) network_ = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(Utf8Text::toQString(url).replace(QLatin1Char(' '), QStringLiteral("%20"))));
    // No answer within a few seconds counts as no network: the check never
    // holds anything up.
    request.setTransferTimeout(8000);
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, local] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) return;
        const QByteArray bytes = reply->readAll();
        auto list = platform::PropertyList::read(platform::Data(bytes.begin(), bytes.end()));
        if (!list || !list->isDict()) return;
        const std::string online = list->dictValue().get("CFBundleShortVersionString").stringValue();
        platform::logFormat("%@ %@", online, local);
        if (online.empty() || local.empty() || online == local) return;
        const int answer =
            runAlert(QStringLiteral("A newer version of Drentic Deleted File Recovery Software is available"),
                     QStringLiteral("Do you want to update"), QStringLiteral("YES"), QStringLiteral("NO"), QString());
        if (answer == platform::AlertAlternateReturn) return;
        // The updater is a separate program, started only when it is there.
        const QString updater = Utf8Text::toQString(platform::executableDir()) + QStringLiteral("/.autoUpd");
        if (QFileInfo(updater).isExecutable()) QProcess::startDetached(updater, {});
    });
}

// ---------------------------------------------------------------------------
// Quit, window and tabs

void Quelvar_Recovery_SoftwareAppDelegate::terminateApplication() {
    const bool onTree = window_ && window_->selectedIdentifier() == QStringLiteral("Tree");
    if (!onTree) {
        if (platform::scanRunningFlag()) {
            runAlert(QStringLiteral("Scan running"),
                     QStringLiteral("A scan is in progress. Please stop that scan first, in order to quit Drentic "
                                    "Recovery Software."),
                     QStringLiteral("OK"), QString(), QString());
            return;
        }
        terminateApp();
        return;
    }
    if (!scanInfoOrSavingNotProcessing_) {
        runAlert(QStringLiteral("Process Running"),
                 QStringLiteral("Recovery session saving/opening or data saving is in process. The program can quit "
                                "if that process is completed or aborted."),
                 QStringLiteral("OK"), QString(), QString());
        return;
    }
    switch (promptForScanInfoSaving()) {
    case 1:
        terminateApp();
        break;
    case 2:
        saveScanInfoWatcher_.start();
        break;
    default:
        break;
    }
}

bool Quelvar_Recovery_SoftwareAppDelegate::windowShouldClose() {
    const bool onTree = window_ && window_->selectedIdentifier() == QStringLiteral("Tree");
    if (!onTree) {
        if (platform::scanRunningFlag()) {
            runAlert(QStringLiteral("Scan running"),
                     QStringLiteral("A scan is in progress. Please stop that scan first, in order to quit Drentic "
                                    "Recovery Software."),
                     QStringLiteral("OK"), QString(), QString());
            return false;
        }
        previewClose();
        return true;
    }
    if (!scanInfoOrSavingNotProcessing_) {
        runAlert(QStringLiteral("Process Running"),
                 QStringLiteral("Recovery session saving/opening or data saving is in process. The program can quit "
                                "if that process is completed or aborted."),
                 QStringLiteral("OK"), QString(), QString());
        return false;
    }
    switch (promptForScanInfoSaving()) {
    case 1:
        return true;
    case 2:
        saveScanInfoWatcher_.start();
        return false;
    default:
        return false;
    }
}

int Quelvar_Recovery_SoftwareAppDelegate::promptForScanInfoSaving() {
    if (!selectedVolume_ || !selectedVolume_->dirRoot || selectedVolume_->scanInfoSaved) return 1;
    const int answer = runAlert(
        QStringLiteral("Do you want to save recovery session?"),
        QStringLiteral("After scanning the physical drive, scan results obtained can be saved so that recovery process "
                       "could be carried out in next restart without scanning the drive again. Just open the saved "
                       "recovery session and proceed with recovery process."),
        QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel"));
    if (answer == platform::AlertDefaultReturn) {
        if (save_) save_();
        return 2;
    }
    return answer == platform::AlertAlternateReturn ? 1 : 0;
}

void Quelvar_Recovery_SoftwareAppDelegate::watchSaveScanInfo() {
    // Looked at a few times a second until the session is on disk; a save
    // that is cancelled leaves the program running, and a later save still
    // ends it.
    if (!selectedVolume_ || !selectedVolume_->scanInfoSaved) return;
    saveScanInfoWatcher_.stop();
    terminateApp();
}

void Quelvar_Recovery_SoftwareAppDelegate::tabView(QWidget*, const QString& didSelectTabViewItem) {
    if (!window_) return;
    const bool tree = didSelectTabViewItem == QStringLiteral("Tree");
    // The result outline follows the row under the pointer.
    window_->setMouseTracking(tree);
    // Only the result screen may grow, and only taller; the other screens
    // keep the size the window opened with.
    if (initialWindowSize_.isValid()) {
        if (tree) {
            window_->setMinimumSize(initialWindowSize_);
            window_->setMaximumSize(initialWindowSize_.width(), QWIDGETSIZE_MAX);
        } else {
            window_->setFixedSize(initialWindowSize_);
        }
    }
    const char* next = nullptr;
    if (didSelectTabViewItem == QStringLiteral("Drives List"))
        next = "nextButtonInDrivesList";
    else if (didSelectTabViewItem == QStringLiteral("PT list"))
        next = "buttonPTListNext";
    else if (didSelectTabViewItem == QStringLiteral("PT scan list"))
        next = "buttonPTScanListNext";
    else if (didSelectTabViewItem == QStringLiteral("Signatures"))
        next = "nextButtonSigTab";
    if (next)
        if (QWidget* w = element(QString::fromLatin1(next))) w->setEnabled(false);
}

void Quelvar_Recovery_SoftwareAppDelegate::displayAboutPanel() {
    auto* panel = find<QDialog>(QStringLiteral("windowAboutPanel"));
    if (!panel) return;
    panel->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void Quelvar_Recovery_SoftwareAppDelegate::help(const QString& section) {
    QUrl url = QUrl::fromLocalFile(Utf8Text::toQString(platform::resourcePath("Manual/index.html")));
    if (!section.isEmpty()) url.setFragment(section);
    QDesktopServices::openUrl(url);
}

// ---------------------------------------------------------------------------
// Pictures of the home and recovery-kind screens

void Quelvar_Recovery_SoftwareAppDelegate::changeImages(const char* area, std::initializer_list<HoverChoice> choices) {
    for (const HoverChoice& c : choices) {
        auto* button = find<HoverButton>(QString::fromLatin1(c.button));
        if (!button || !button->hovering()) continue;
        if (auto* picture = find<QLabel>(QString::fromLatin1(area))) picture->setPixmap(imageNamed("wizard2"));
        if (auto* overlay = find<QLabel>(QString::fromLatin1(area) + QStringLiteral("Imposed")))
            overlay->setPixmap(imageNamed(QString::fromLatin1(c.overlay)));
        return;
    }
}

void Quelvar_Recovery_SoftwareAppDelegate::resetImages(std::initializer_list<HoverChoice> choices) {
    for (const HoverChoice& c : choices) {
        auto* button = find<HoverButton>(QString::fromLatin1(c.button));
        if (button && !button->hovering()) button->setImage(imageNamed(QString::fromLatin1(c.normal)));
    }
}

#define MAIN_SCREEN_CHOICES                                                                                            \
    {                                                                                                                  \
        {"buttonRecoverFiles", "rf-normal", "Recover_File_hover"},                                                     \
            {"buttonRecoverPhotos", "rp-normal", "Recover_Photos_hover"}, {                                            \
            "buttonRecoverPartitionAndDrives", "rpd-normal", "Recover_Partition_Drives_hover"                          \
        }                                                                                                              \
    }
#define FILES_CHOICES                                                                                                  \
    {                                                                                                                  \
        {"buttonRecoverFilesFast", "ffr-normal", "Fast_File_Recovery_hover"},                                          \
            {"buttonRecoverFilesAdvanced", "afr-normal", "Advanced_File_Recovery_hover"}, {                            \
            "buttonBackToMainScreenFromFileRecoveryTab", "home-normal", "Recover_File_hover"                           \
        }                                                                                                              \
    }
#define PHOTOS_CHOICES                                                                                                 \
    {                                                                                                                  \
        {"buttonRecoverPhotosFast", "fpr-normal", "Fast_Photo_Recovery_hover"},                                        \
            {"buttonRecoverPhotosAdvanced", "apr-normal", "Advanced_Photo_Recovery_hover"}, {                          \
            "buttonBackToMainScreenFromPhotoRecoveryTab", "home-normal", "Recover_Photos_hover"                        \
        }                                                                                                              \
    }
#define PARTITIONS_CHOICES                                                                                             \
    {                                                                                                                  \
        {"buttonRecoverPartitionAndDrivesFast", "pr-normal", "Partition_Recovery_hover"},                              \
            {"buttonRecoverPartitionAndDrivesAdvanced", "frr-normal", "Formatted_Reformatted_Recovery_hover"}, {       \
            "buttonBackToMainScreenFromPartitionAndDrivesRecoveryTab", "home-normal", "Recover_Partition_Drives_hover" \
        }                                                                                                              \
    }

void Quelvar_Recovery_SoftwareAppDelegate::changeMainScreenImages() {
    changeImages("imageViewMainScreen", MAIN_SCREEN_CHOICES);
}
void Quelvar_Recovery_SoftwareAppDelegate::resetMainScreenImages() {
    resetImages(MAIN_SCREEN_CHOICES);
}
void Quelvar_Recovery_SoftwareAppDelegate::changeRecoverFilesTabImages() {
    changeImages("imageViewRecoverFiles", FILES_CHOICES);
}
void Quelvar_Recovery_SoftwareAppDelegate::resetRecoverFilesTabImages() {
    resetImages(FILES_CHOICES);
}
void Quelvar_Recovery_SoftwareAppDelegate::changeRecoverPhotosTabImages() {
    changeImages("imageViewRecoverPhotos", PHOTOS_CHOICES);
}
void Quelvar_Recovery_SoftwareAppDelegate::resetRecoverPhotosTabImages() {
    resetImages(PHOTOS_CHOICES);
}
void Quelvar_Recovery_SoftwareAppDelegate::changeRecoverPartitionsTabImages() {
    changeImages("imageViewRecoverPartitions", PARTITIONS_CHOICES);
}
void Quelvar_Recovery_SoftwareAppDelegate::resetRecoverPartitionsTabImages() {
    resetImages(PARTITIONS_CHOICES);
}

// ---------------------------------------------------------------------------
// Main-thread requests

void Quelvar_Recovery_SoftwareAppDelegate::registerElement(const QString& id, QWidget* widget) {
    if (widget) elements_.insert(id, widget);
}

QWidget* Quelvar_Recovery_SoftwareAppDelegate::elementIfMade(const QString& id) const {
    if (id.isEmpty()) return nullptr;
    if (auto it = elements_.find(id); it != elements_.end() && *it) return *it;
    if (window_) return window_->findChild<QWidget*>(id);
    return nullptr;
}

QWidget* Quelvar_Recovery_SoftwareAppDelegate::element(const QString& id) const {
    QWidget* w = elementIfMade(id);
    if (!w) qCritical("No widget is named \"%s\"", qPrintable(id));
    return w;
}

void Quelvar_Recovery_SoftwareAppDelegate::performOnMainThread(std::function<void()> fn, bool waitUntilDone) {
    if (!fn) return;
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(this, std::move(fn), waitUntilDone ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void Quelvar_Recovery_SoftwareAppDelegate::onMain(const std::function<void()>& fn) {
    performOnMainThread(fn, true);
}

int Quelvar_Recovery_SoftwareAppDelegate::runAlert(const QString& title, const QString& message,
                                                   const QString& defaultButton, const QString& alternateButton,
                                                   const QString& otherButton) {
    QMessageBox box(window_);
    box.setWindowTitle(title);
    // Failures (their titles begin with "!") get the caution sign, all other
    // alerts the program's own icon.
    const QPixmap icon =
        imageNamed(title.startsWith(QLatin1Char('!')) ? QStringLiteral("alert-caution") : QStringLiteral("AppIcon"));
    if (!icon.isNull())
        box.setIconPixmap(icon.scaled(56, 56, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    else
        box.setIcon(QMessageBox::Information);
    box.setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { font-weight: bold; font-size: 14px; min-width: 340px; }"
                                     "QLabel#qt_msgbox_informativelabel { min-width: 340px; }"));
    box.setTextFormat(Qt::PlainText);
    box.setText(title);
    box.setInformativeText(message);
    // Messages carry paths and names from the medium: never read as markup.
    if (auto* info = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        info->setTextFormat(Qt::PlainText);
    QAbstractButton* b1 =
        box.addButton(defaultButton.isEmpty() ? QStringLiteral("OK") : defaultButton, QMessageBox::AcceptRole);
    QAbstractButton* b0 = alternateButton.isEmpty() ? nullptr : box.addButton(alternateButton, QMessageBox::RejectRole);
    QAbstractButton* bm1 = otherButton.isEmpty() ? nullptr : box.addButton(otherButton, QMessageBox::DestructiveRole);
    box.setDefaultButton(static_cast<QPushButton*>(b1));
    box.setEscapeButton(b0 ? b0 : (bm1 ? bm1 : b1));
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked && clicked == b0) return platform::AlertAlternateReturn;
    if (clicked && clicked == bm1) return platform::AlertOtherReturn;
    return platform::AlertDefaultReturn;
}

void Quelvar_Recovery_SoftwareAppDelegate::runAlertPanel(const Array& request) {
    onMain([this, &request] {
        const platform::AlertText t = platform::alertTextFromRequest(request);
        runAlert(Utf8Text::toQString(t.title), Utf8Text::toQString(t.message), Utf8Text::toQString(t.defaultButton),
                 Utf8Text::toQString(t.alternateButton), Utf8Text::toQString(t.otherButton));
    });
}

int Quelvar_Recovery_SoftwareAppDelegate::showAlertPanelWithData(const Dict& request) {
    int answer = platform::AlertDefaultReturn;
    onMain([this, &request, &answer] {
        // The body is shown as it stands, never used as a format.
        answer = runAlert(Utf8Text::toQString(request.get("title").stringValue()),
                          Utf8Text::toQString(request.get("body").stringValue()),
                          Utf8Text::toQString(request.get("defaultButton").stringValue()),
                          Utf8Text::toQString(request.get("alternateButton").stringValue()),
                          Utf8Text::toQString(request.get("otherButton").stringValue()));
        alertResultValue_ = answer;
    });
    return answer;
}

void Quelvar_Recovery_SoftwareAppDelegate::updateButton(const Dict& r) {
    onMain([this, &r] {
        if (!r.contains("button")) return;
        auto* button = find<QAbstractButton>(Utf8Text::toQString(r.get("button").stringValue()));
        if (!button) return;
        auto* hover = qobject_cast<HoverButton*>(button);
        if (r.contains("setEnabled")) button->setEnabled(r.get("setEnabled").boolValue());
        if (r.contains("setHidden")) button->setHidden(r.get("setHidden").boolValue());
        if (r.contains("setTitle")) button->setText(Utf8Text::toQString(r.get("setTitle").stringValue()));
        if (r.contains("setImage")) {
            // Pictures travel by name.
            const QPixmap image = imageNamed(Utf8Text::toQString(r.get("setImage").stringValue()));
            if (hover)
                hover->setImage(image);
            else
                button->setIcon(QIcon(image));
        }
        if (r.contains("setAlternateImagesState") && hover)
            hover->setAlternateImagesState(r.get("setAlternateImagesState").boolValue());
        if (r.contains("resetButton") && hover) hover->resetButton();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::updateTextField(const Dict& r) {
    onMain([this, &r] {
        if (!r.contains("textField") || !r.contains("textField String")) return;
        setText(Utf8Text::toQString(r.get("textField").stringValue()),
                Utf8Text::toQString(r.get("textField String").description()));
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::beginSheetWindow(const Dict& r) {
    onMain([this, &r] {
        auto* sheet = find<QWidget>(Utf8Text::toQString(r.get("sheetWindow").stringValue()));
        if (!sheet) return;
        sheetContexts_.remove(sheet);
        // A sheet blocks its window only, and show() returns at once: the
        // main thread goes on serving the worker that opened it.
        sheet->setWindowModality(Qt::WindowModal);
        if (window_ && sheet->isWindow()) {
            sheet->adjustSize();
            const QRect parent = window_->geometry();
            sheet->move(parent.center().x() - sheet->width() / 2, parent.top() + 40);
        }
        sheet->show();
        sheet->raise();
        sheet->activateWindow();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::beginSheetWindowWithContextInfoAndOthers(const Dict& r) {
    beginSheetWindow(r);
    onMain([this, &r] {
        if (QWidget* sheet = element(Utf8Text::toQString(r.get("sheetWindow").stringValue())))
            sheetContexts_.insert(sheet, QStringLiteral("window loading drives ended"));
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::endSheet(QWidget* sheet) {
    if (!sheet) return;
    const bool wasOpen = sheet->isVisible();
    if (auto* dialog = qobject_cast<QDialog*>(sheet)) dialog->done(0);
    sheet->hide();
    if (wasOpen) {
        if (auto it = sheetContexts_.find(sheet); it != sheetContexts_.end()) {
            const QString context = *it;
            sheetContexts_.erase(it);
            sheetDidEnd(sheet, 0, context);
        }
    }
}

void Quelvar_Recovery_SoftwareAppDelegate::endSheetWindow(const Dict& r) {
    onMain([this, &r] { endSheet(element(Utf8Text::toQString(r.get("sheetWindow").stringValue()))); });
}

void Quelvar_Recovery_SoftwareAppDelegate::sheetDidEnd(QWidget* sheet, int, const QString& contextInfo) {
    if (contextInfo != QStringLiteral("window loading drives ended")) return;
    // The drive list is built: its rows may be shown again.
    setZeroTableViewDrivesList(false);
    if (sheet) sheet->hide();
}

void Quelvar_Recovery_SoftwareAppDelegate::updateProgressIndicator(const Dict& r) {
    onMain([this, &r] {
        if (!r.contains("progressIndicator")) return;
        QWidget* w = element(Utf8Text::toQString(r.get("progressIndicator").stringValue()));
        if (auto* spinner = qobject_cast<BusyIndicator*>(w)) {
            if (r.contains("animation")) {
                if (r.get("animation").boolValue())
                    spinner->startAnimation();
                else
                    spinner->stopAnimation();
            }
            return;
        }
        auto* bar = qobject_cast<ProgressIndicator*>(w);
        if (!bar) return;
        if (r.contains("setIndeterminate")) bar->setIndeterminate(r.get("setIndeterminate").boolValue());
        if (r.contains("animation")) {
            if (r.get("animation").boolValue())
                bar->startAnimation();
            else
                bar->stopAnimation();
        }
        if (r.contains("minValue")) bar->setMinValue(r.get("minValue").doubleValue());
        if (r.contains("maxValue")) bar->setMaxValue(r.get("maxValue").doubleValue());
        if (r.contains("doubleValue")) bar->setDoubleValue(r.get("doubleValue").doubleValue());
        if (r.contains("incrementBy")) bar->incrementBy(r.get("incrementBy").doubleValue());
    });
}

// ---------------------------------------------------------------------------
// Progress display

void Quelvar_Recovery_SoftwareAppDelegate::updateProgress(const Dict& p) {
    onMain([this, &p] {
        setText(QStringLiteral("timeRemainingTextFieldForTree"),
                p.contains("TimeRemaining") ? Utf8Text::toQString(p.get("TimeRemaining").description()) : QString());
        setText(
            QStringLiteral("textFieldPercentDone"),
            p.contains("Percent Done")
                ? QStringLiteral("Overall Progress: %1%").arg(Utf8Text::toQString(p.get("Percent Done").description()))
                : QString());
        if (p.contains("Size Done") && p.contains("Total Size"))
            setText(QStringLiteral("textFieldSizeDone"),
                    QStringLiteral("Completed: %1 / %2")
                        .arg(Utf8Text::toQString(progressSize(p.get("Size Done").uint64Value())),
                             Utf8Text::toQString(progressSize(p.get("Total Size").uint64Value()))));
        else
            setText(QStringLiteral("textFieldSizeDone"), QStringLiteral(" "));

        auto* bar = find<ProgressIndicator>(QStringLiteral("progress"));
        if (p.contains("Progress Type") && bar) {
            const int type = p.get("Progress Type").intValue();
            if (type == 0)
                bar->setIndeterminate(true);
            else if (type == 1)
                bar->setIndeterminate(false);
        }
        if (p.contains("Start Animation") && bar) bar->startAnimation();
        if (p.contains("Stop Animation") && bar) bar->stopAnimation();
        if (p.contains("Progress Status")) {
            const std::string& status = p.get("Progress Status").stringValue();
            const QString main = Utf8Text::toQString(mainScanStatus_);
            setText(QStringLiteral("textFieldStatus"),
                    status == "default" ? main
                                        : QStringLiteral("%1 - %2").arg(
                                              main, Utf8Text::toQString(p.get("Progress Status").description())));
        }
        if (p.contains("Entries Found"))
            setText(QStringLiteral("textFieldEntries"), Utf8Text::toQString(p.get("Entries Found").description()));
        if (p.contains("Folders"))
            setText(QStringLiteral("textFieldFolders"), Utf8Text::toQString(p.get("Folders").description()));
        if (p.contains("Files"))
            setText(QStringLiteral("textFieldFiles"), Utf8Text::toQString(p.get("Files").description()));
        if (p.contains("Data"))
            setText(QStringLiteral("textFieldData"), Utf8Text::toQString(progressSize(p.get("Data").uint64Value())));
        if (bar) {
            if (p.contains("BarIncrement"))
                bar->incrementBy(static_cast<double>(static_cast<float>(p.get("BarIncrement").uint64Value())));
            if (p.contains("BarMinValue")) bar->setMinValue(static_cast<double>(p.get("BarMinValue").uint64Value()));
            if (p.contains("BarMaxValue")) bar->setMaxValue(static_cast<double>(p.get("BarMaxValue").uint64Value()));
            if (p.contains("BarDoubleValue"))
                bar->setDoubleValue(static_cast<double>(p.get("BarDoubleValue").uint64Value()));
        }
        if (p.contains("Tree Complete")) {
            if (auto* spinner = find<BusyIndicator>(QStringLiteral("scanningProgressIndicator")))
                spinner->stopAnimation();
            dirRootFileTypes_ = nullptr;
            dirRootFileTypesDeleted_ = nullptr;
            dirRootDeleted_ = nullptr;
            dirRootTemp_ = selectedVolume_ ? selectedVolume_->dirRoot : nullptr;
            platform::scanRunningFlag() = false;
            showTree();
        }
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::updateVolumeScanProgress(const Dict& p) {
    onMain([this, &p] {
        if (auto* spinner = find<BusyIndicator>(QStringLiteral("progressIndicatorScanForVolumesValidityScan"))) {
            if (p.contains("Start Animation")) spinner->startAnimation();
            if (p.contains("Stop Animation")) spinner->stopAnimation();
        }
        setText(QStringLiteral("pleaseWaitForValidatingVolumeTextField"),
                p.contains("Progress Status") ? QStringLiteral("Time Remaining (Sub Task):") : QString());
        setText(QStringLiteral("textFieldETAValidityScan"),
                p.contains("Time Remaining For SubTask")
                    ? Utf8Text::toQString(p.get("Time Remaining For SubTask").description())
                    : QString());
        if (p.contains("Volumes Found")) rebuildVolumesFoundTable();
        if (auto* bar = find<ProgressIndicator>(QStringLiteral("progressIndicatorScanForVolumes"))) {
            if (p.contains("BarIncrement"))
                bar->incrementBy(static_cast<double>(static_cast<float>(p.get("BarIncrement").intValue())));
            if (p.contains("BarMinValue")) bar->setMinValue(static_cast<double>(p.get("BarMinValue").intValue()));
            if (p.contains("BarMaxValue")) bar->setMaxValue(static_cast<double>(p.get("BarMaxValue").intValue()));
            if (p.contains("BarDoubleValue"))
                bar->setDoubleValue(static_cast<double>(p.get("BarDoubleValue").intValue()));
        }
        if (p.contains("TimeRemaining"))
            setText(QStringLiteral("textFieldETAScanForVolumes"),
                    Utf8Text::toQString(p.get("TimeRemaining").description()));
        if (p.contains("Scan Complete")) {
            platform::scanRunningFlag() = false;
            showPTScanList();
        }
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::rebuildVolumesFoundTable() {
    auto* table = find<QTableWidget>(QStringLiteral("tableViewScanForVolumes"));
    if (!table) return;
    const Array& rows = volumeScanArgument_.size() > 1 ? volumeScanArgument_[1].arrayValue() : Array();
    table->setRowCount(static_cast<int>(rows.size()));
    // Orange half-blended with white marks the rows of the live list.
    const QColor orange = QColor::fromRgbF(1.0, 0.5, 0.0);
    const QColor background =
        QColor::fromRgbF((orange.redF() + 1.0) / 2, (orange.greenF() + 1.0) / 2, (orange.blueF() + 1.0) / 2);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const Dict& row = rows[static_cast<std::size_t>(r)].dictValue();
        const Array& validity = row.get("Validity Column").arrayValue();
        auto* found = new QTableWidgetItem(Utf8Text::toQString(row.get("Found Column").description()));
        auto* valid = new QTableWidgetItem;
        if (!validity.empty()) {
            // The share of the volume found intact, as half stars: one per
            // ten points; above 100 there is no picture and the number shows.
            const int percent = validity[0].intValue();
            valid->setData(Qt::UserRole, percent);
            valid->setToolTip(QStringLiteral("%1%").arg(percent));
            if (percent <= 100) {
                static const char* const names[] = {"0_5", "1_", "1_5", "2_", "2_5", "3_", "3_5", "4_", "4_5", "5_"};
                const int band = percent <= 10 ? 0 : (percent - 1) / 10;
                valid->setData(Qt::DecorationRole, imageNamed(QString::fromLatin1(names[band])));
            } else {
                valid->setText(Utf8Text::toQString(validity[0].description()));
            }
        }
        for (QTableWidgetItem* item : {found, valid})
            item->setBackground(background);
        table->setItem(r, 0, found);
        table->setItem(r, 1, valid);
    }
    if (!rows.empty()) table->scrollToItem(table->item(static_cast<int>(rows.size()) - 1, 0));
    emit volumesFoundChanged();
}

void Quelvar_Recovery_SoftwareAppDelegate::showTree() {
    // Any question about stopping is moot now: the scan has ended.
    endSheet(element(QStringLiteral("alertWindowForAbort")));
    stopElapsedTimeThread_ = true;
    if (treeDisplayHook_)
        treeDisplayHook_();
    else if (window_)
        window_->selectTabViewItemWithIdentifier(QStringLiteral("Tree"));
}

void Quelvar_Recovery_SoftwareAppDelegate::showPTScanList() {
    endSheet(element(QStringLiteral("alertWindowForAbort")));
    stopElapsedTimeThread_ = true;
    if (ptScanListHook_)
        ptScanListHook_();
    else if (window_)
        window_->selectTabViewItemWithIdentifier(QStringLiteral("PT scan list"));
}

// ---------------------------------------------------------------------------
// Ticks and elapsed time

void Quelvar_Recovery_SoftwareAppDelegate::setUpTimer() {
    onMain([this] {
        timerValid_ = true;
        tick_.start();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::setUpTimerForDMedia() {
    performOnMainThread(
        [this] {
            timerValid_ = true;
            tickForDMedia_.start();
        },
        false);
}

void Quelvar_Recovery_SoftwareAppDelegate::invalidateTimer() {
    onMain([this] {
        timerValid_ = false;
        tick_.stop();
        tickForDMedia_.stop();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::timerTick() {
    // The volume is looked up afresh each second: the scan may have ended
    // and the user gone back in the meantime.
    if (!timerValid_) {
        tick_.stop();
        return;
    }
    if (std::shared_ptr<Volume> volume = selectedVolume_) volume->myTimerFireMethod();
}

void Quelvar_Recovery_SoftwareAppDelegate::timerTickForDMedia() {
    if (!timerValid_) {
        tickForDMedia_.stop();
        return;
    }
    if (std::shared_ptr<DMedia> drive = selectedDrive_) drive->myTimerFireMethod();
}

void Quelvar_Recovery_SoftwareAppDelegate::setStopElapsedTimeThread(bool stop) {
    stopElapsedTimeThread_ = stop;
}

void Quelvar_Recovery_SoftwareAppDelegate::startElapsedTimeThread() {
    stopElapsedTimeThread_ = false;
    elapsedTime_.start();
}

void Quelvar_Recovery_SoftwareAppDelegate::startElapsedTimeThreadScanForVolumes() {
    stopElapsedTimeThread_ = false;
    elapsedTimeScanForVolumes_.start();
}

void Quelvar_Recovery_SoftwareAppDelegate::elapsedTimeTick(QTimer* timer, const QString& field) {
    if (stopElapsedTimeThread_) {
        timer->stop();
        return;
    }
    const double seconds =
        scanStartDate_.isValid() ? scanStartDate_.msecsTo(QDateTime::currentDateTime()) / 1000.0 : 0.0;
    setText(field, Utf8Text::toQString(platform::getTimeFormStringForInterval(seconds)));
}

// ---------------------------------------------------------------------------
// Stop

void Quelvar_Recovery_SoftwareAppDelegate::stopTreeThread() {
    Dict request{{"sheetWindow", "alertWindowForAbort"}, {"parentWindow", "window"}};
    beginSheetWindow(request);
}

void Quelvar_Recovery_SoftwareAppDelegate::abortTreeThread() {
    endSheet(element(QStringLiteral("alertWindowForAbort")));
    if (selectedVolume_) selectedVolume_->setStopTreeThread(true);
    if (selectedDrive_) selectedDrive_->setAbortVolumeScan(true);
}

void Quelvar_Recovery_SoftwareAppDelegate::dontAbortTreeThread() {
    endSheet(element(QStringLiteral("alertWindowForAbort")));
}

// ---------------------------------------------------------------------------
// Navigation and the rest of the engine's requests

void Quelvar_Recovery_SoftwareAppDelegate::selectTabViewItemWithIdentifier(const std::string& id) {
    onMain([this, &id] {
        if (window_) window_->selectTabViewItemWithIdentifier(Utf8Text::toQString(id));
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::terminateApp() {
    onMain([] {
        if (auto* d = shared()) d->previewClose();
        QCoreApplication::quit();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::destroyVolumeAndBackToPartList() {
    performOnMainThread(
        [this] {
            // The scan that refused the volume walks its tree no more, and
            // nothing has shown it yet: the tree is freed at once, and the
            // volume let go.
            if (std::shared_ptr<Volume> volume = std::exchange(selectedVolume_, nullptr)) volume->freeTree();
            if (!window_) return;
            // Back to the list the refused volume was chosen from.
            const char* list = isPTListOrPTScanListChosen_ == 0   ? "PT list"
                               : isPTListOrPTScanListChosen_ == 1 ? "PT scan list"
                                                                  : "Drives List";
            window_->selectTabViewItemWithIdentifier(QString::fromLatin1(list));
            platform::scanRunningFlag() = false;
            platform::autoResumeFlag() = false;
        },
        false);
}

void Quelvar_Recovery_SoftwareAppDelegate::previewClose() {
    onMain([this] {
        if (QWidget* preview = elementIfMade(QStringLiteral("previewWindow")); preview && preview->isVisible())
            preview->close();
    });
}

void Quelvar_Recovery_SoftwareAppDelegate::setScanInfoOrSavingNotProcessing(bool v) {
    scanInfoOrSavingNotProcessing_ = v;
}

void Quelvar_Recovery_SoftwareAppDelegate::rawScanStarted(const Value&) {
    // The snapshot that lets an interrupted search resume is written by the
    // session code, which also holds the scan paused while it writes; until
    // then nothing pauses the scan and the search simply runs.
}

void Quelvar_Recovery_SoftwareAppDelegate::rawScanCompleted() {}
