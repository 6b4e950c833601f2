#include "app/RecoverySessionController.h"

#include "app/MainWindow.h"
#include "app/ProgressIndicator.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "app/SavingDataSheet.h"
#include "app/ScanWizard.h"
#include "app/TreeScreen.h"
#include "app/TreeScreenController.h"
#include "platform/Paths.h"
#include "platform/SystemLog.h"
#include "results/NewDirViewHelper.h"
#include "results/qt/Utf8Text.h"
#include "session/RecoverySessionOpening.h"
#include "session/RecoverySessionSaving.h"
#include "volume/Volume.h"

#include <QAbstractButton>
#include <QAction>
#include <QDateTime>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <memory>
#include <thread>

using platform::Dict;

namespace {

// Follows the enabled state of the result screen's button.
class EnabledChangeFilter : public QObject {
public:
    EnabledChangeFilter(QObject* parent, std::function<void()> changed)
        : QObject(parent), changed_(std::move(changed)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange) changed_();
        return false;
    }

private:
    std::function<void()> changed_;
};

QFileDialog* sessionDialog(QWidget* parent, const QString& title, QFileDialog::AcceptMode mode) {
    auto* dialog = new QFileDialog(parent, title);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setNameFilter(QStringLiteral("Recovery Session (*.drs)"));
    dialog->setDefaultSuffix(QStringLiteral("drs"));
    dialog->setDirectory(Utf8Text::toQString(platform::defaultSessionDir()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}

} // namespace

RecoverySessionController* RecoverySessionController::install(Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    if (RecoverySessionController* existing = of(delegate)) return existing;
    return new RecoverySessionController(delegate);
}

RecoverySessionController* RecoverySessionController::of(const Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    return delegate.findChild<RecoverySessionController*>(QString(), Qt::FindDirectChildrenOnly);
}

RecoverySessionController::RecoverySessionController(Quelvar_Recovery_SoftwareAppDelegate& delegate)
    : QObject(&delegate), delegate_(delegate) {
    connectControls();
    // One stat() every five seconds: the main thread does it between events.
    openFileWatcher_.setInterval(5000);
    connect(&openFileWatcher_, &QTimer::timeout, this, &RecoverySessionController::openFilePathFileDetected);
}

void RecoverySessionController::connectControls() {
    MainWindow* window = delegate_.window();
    if (!window) return;
    connect(window->openRecoverySessionAction(), &QAction::triggered, this,
            [this, window] { open(window->openRecoverySessionAction()); });
    connect(window->saveRecoverySessionAction(), &QAction::triggered, this, &RecoverySessionController::save);
    QPushButton* button = window->treeScreen()->saveScanButton();
    connect(button, &QAbstractButton::clicked, this, &RecoverySessionController::save);
    button->installEventFilter(new EnabledChangeFilter(this, [this] { updateSaveCommand(); }));
    connect(window, &MainWindow::tabSelected, this, &RecoverySessionController::updateSaveCommand);
    updateSaveCommand();
}

void RecoverySessionController::updateSaveCommand() {
    if (MainWindow* window = delegate_.window())
        window->saveRecoverySessionAction()->setEnabled(window->selectedIdentifier() == QStringLiteral("Tree") &&
                                                        window->treeScreen()->saveScanButton()->isEnabled());
}

bool RecoverySessionController::homeScreenShown() const {
    MainWindow* window = delegate_.window();
    return window && window->selectedIdentifier() == QStringLiteral("Main Screen");
}

void RecoverySessionController::disableTreeButtons() {
    MainWindow* window = delegate_.window();
    if (!window) return;
    const TreeScreen* tree = window->treeScreen();
    for (QPushButton* b : {tree->saveScanButton(), tree->buttonTreeBackToPartitions(), tree->previewButton(),
                           tree->saveButton(), window->windowSavingData()->stopSaveButton()})
        b->setEnabled(false);
}

QString RecoverySessionController::defaultFileName() {
    // No colon in a file name: the time reads like 9_11_18 AM.
    return QStringLiteral("Drentic recovery session %1")
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("MMMM dd, yyyy, h_mm_ss AP")));
}

// ---------------------------------------------------------------------------
// Saving

void RecoverySessionController::save() {
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    if (!volume || !volume->dirRoot || !delegate_.scanInfoOrSavingNotProcessing()) {
        emit savingFinished(false);
        return;
    }
    QFileDialog* dialog =
        sessionDialog(delegate_.window(), QStringLiteral("Save Recovery Session"), QFileDialog::AcceptSave);
    dialog->selectFile(defaultFileName());
    connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
        const QStringList chosen = dialog->selectedFiles();
        if (result == QDialog::Accepted && !chosen.isEmpty())
            startSaving(chosen.first(), dialog);
        else
            emit savingFinished(false);
    });
    dialog->open();
}

void RecoverySessionController::startSaving(const QString& path, QFileDialog* dialog) {
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    if (!volume || !volume->dirRoot) {
        emit savingFinished(false);
        return;
    }
    RecoverySession session;
    session.volume = volume;
    session.scanMode = platform::storedMode(delegate_.scanMode());
    ScanWizard* wizard = ScanWizard::of(delegate_);
    session.rawSearchMode = platform::storedMode(wizard ? wizard->rawSearchMode() : platform::RawSearchMode::None);
    session.isPTListOrPTScanListChosen = delegate_.isPTListOrPTScanListChosen();
    session.partitionListDictArray = delegate_.partitionListDictArray();
    session.partitionScanListDictArray = delegate_.partitionScanListDictArray();
    auto saving = std::make_shared<RecoverySessionSaving>(std::move(session), Utf8Text::fromQString(path));
    QPointer<QFileDialog> guard(dialog);
    saving->setPanelVisible([guard] { return guard && guard->isVisible(); });
    saving->setPanelSettleDelay(settleDelay_);
    TreeScreenController* tree = TreeScreenController::of(delegate_);
    if (tree) {
        saving->setShowWholeTree([tree] { tree->showWholeTree(); });
        saving->setSelectedRowIsFile([tree] {
            NewDirViewHelper* item = tree->selectedItem();
            return item && item->newDir() && !item->newDir()->isFolder();
        });
    }
    disableTreeButtons();
    delegate_.setScanInfoOrSavingNotProcessing(false);
    if (MainWindow* window = delegate_.window()) window->windowSavingData()->progressTree()->setIndeterminate(false);
    std::thread([this, saving] {
        const bool saved = saving->saveScanInfo();
        delegate_.performOnMainThread([this, saved] { emit savingFinished(saved); }, false);
    }).detach();
}

// ---------------------------------------------------------------------------
// Opening

void RecoverySessionController::open(QObject* sender) {
    MainWindow* window = delegate_.window();
    if (window && sender == window->openRecoverySessionAction() && !homeScreenShown()) {
        RecoverySessionOpening::refuseOpeningNow();
        return;
    }
    QFileDialog* dialog =
        sessionDialog(delegate_.window(), QStringLiteral("Open Recovery Session"), QFileDialog::AcceptOpen);
    connect(dialog, &QFileDialog::finished, this, [this, dialog](int result) {
        const QStringList chosen = dialog->selectedFiles();
        if (result != QDialog::Accepted || chosen.isEmpty()) return;
        if (RecoverySessionOpening::checkHead(Utf8Text::fromQString(chosen.first())))
            startOpening(chosen.first(), dialog);
    });
    dialog->open();
}

void RecoverySessionController::openScanInfoFile(const QString& path) {
    delegate_.makeMainWindowFrontThread();
    if (QFileInfo(path).suffix() != delegate_.scanInfoFileExtension()) return;
    if (!homeScreenShown()) {
        RecoverySessionOpening::refuseOpeningNow();
        return;
    }
    if (RecoverySessionOpening::checkHead(Utf8Text::fromQString(path))) startOpening(path, nullptr);
}

void RecoverySessionController::startOpening(const QString& path, QFileDialog* dialog) {
    auto opening = std::make_shared<RecoverySessionOpening>(Utf8Text::fromQString(path));
    if (dialog) {
        QPointer<QFileDialog> guard(dialog);
        opening->setPanelVisible([guard] { return guard && guard->isVisible(); });
        opening->setPanelSettleDelay(settleDelay_);
    }
    opening->setAdopt([this](const RecoverySession& s) {
        openedSession_ = std::make_shared<RecoverySession>(s);
        delegate_.setScanMode(platform::modeFromStored(s.scanMode, platform::ScanMode::Formatted));
        delegate_.setIsPTListOrPTScanListChosen(s.isPTListOrPTScanListChosen);
        delegate_.setPartitionListDictArray(s.partitionListDictArray);
        if (!delegate_.volumeScanArgument().empty()) delegate_.volumeScanArgument()[0] = s.partitionScanListDictArray;
        if (ScanWizard* wizard = ScanWizard::of(delegate_))
            wizard->setRawSearchMode(platform::modeFromStored(s.rawSearchMode, platform::RawSearchMode::Tree));
        delegate_.setSelectedVolume(s.volume);
    });
    opening->setShowTree([this] {
        if (TreeScreenController* tree = TreeScreenController::of(delegate_)) tree->showTree();
    });
    opening->setShowHome([this] {
        if (MainWindow* window = delegate_.window())
            window->selectTabViewItemWithIdentifier(QStringLiteral("Main Screen"));
    });

    MainWindow* window = delegate_.window();
    if (window) window->selectTabViewItemWithIdentifier(QStringLiteral("Tree"));
    disableTreeButtons();
    delegate_.setScanInfoOrSavingNotProcessing(false);
    if (window)
        for (QLabel* field : {window->treeScreen()->textFieldTotalData(), window->treeScreen()->textFieldMarkedData(),
                              window->windowSavingData()->textFieldSavedData()})
            field->setText(QStringLiteral(" "));
    std::thread([this, opening] {
        const bool opened = opening->openScanInfo();
        delegate_.performOnMainThread([this, opened] { emit openingFinished(opened); }, false);
    }).detach();
}

bool RecoverySessionController::sessionMediumReady() {
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    if (!volume) return true;
    if (!openedSession_ || openedSession_->volume != volume) {
        // A scan's own result is read from the medium it was just made of.
        if (!volume->mediumUnconfirmed()) return true;
        // Nothing to know the medium by: it stays unread.
        RecoverySessionOpening::mediumNotFoundAlert(*volume);
        return false;
    }
    // Found once is not found for good: since the last look the disk may
    // have gone, or another one of the same size and first sectors may
    // have taken its path. Its print is read again before every preview and
    // save (about sixteen sectors), the lists built again so that a medium
    // that moved is met under its new path.
    const bool wasUnconfirmed = volume->mediumUnconfirmed();
    const std::string pathBefore = volume->path();
    delegate_.rebuildDriveListOnMainThread();
    RecoverySession& session = *openedSession_;
    if (!RecoverySessionOpening::checkMediumAvailability(*volume, session, delegate_.driveDictArray(),
                                                         delegate_.volumeDictArray())) {
        RecoverySessionOpening::mediumNotFoundAlert(*volume);
        return false;
    }
    if (!wasUnconfirmed && volume->path() == pathBefore) return true;
    // Found under another path: the partition lists name it too.
    delegate_.setPartitionListDictArray(session.partitionListDictArray);
    if (!delegate_.volumeScanArgument().empty()) delegate_.volumeScanArgument()[0] = session.partitionScanListDictArray;
    platform::logFormat("The medium of the recovery session is connected at %@", volume->path());
    return true;
}

// ---------------------------------------------------------------------------
// Sessions handed over by another program

QString RecoverySessionController::openFilePath() {
    const std::string dir = platform::stateDir();
    if (dir.empty()) return {};
    return Utf8Text::toQString(dir) + QStringLiteral("/openFile.dat");
}

std::optional<QString> RecoverySessionController::handedOverPath(const QByteArray& bytes) {
    if (bytes.isEmpty() || bytes.size() % 2 != 0) return std::nullopt;
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    bool bigEndian = true;
    qsizetype from = 0;
    if (byte(0) == 0xFE && byte(1) == 0xFF) {
        from = 2;
    } else if (byte(0) == 0xFF && byte(1) == 0xFE) {
        bigEndian = false;
        from = 2;
    } else {
        // Paths are mostly ASCII: the zero half of each unit shows the order.
        qsizetype zeroHigh = 0, zeroLow = 0;
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
            zeroHigh += byte(i) == 0;
            zeroLow += byte(i + 1) == 0;
        }
        bigEndian = zeroHigh >= zeroLow;
    }
    QString text;
    text.reserve((bytes.size() - from) / 2);
    for (qsizetype i = from; i + 1 < bytes.size(); i += 2) {
        const auto unit =
            static_cast<char16_t>(bigEndian ? (byte(i) << 8) | byte(i + 1) : (byte(i + 1) << 8) | byte(i));
        if (unit == 0) return std::nullopt;
        text.append(QChar(unit));
    }
    // A lone surrogate is a garbled file, not a name.
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (text[i].isSurrogate()) return std::nullopt;
    }
    if (text.isEmpty()) return std::nullopt;
    return text;
}

std::optional<QString> RecoverySessionController::readHandedOverPath(const QString& file) {
    QFile in(file);
    // A path is short; anything much longer is not one.
    constexpr qint64 kLongest = 64 * 1024;
    if (!in.open(QIODevice::ReadOnly) || in.size() > kLongest) {
        platform::logFormat("openFile.dat ignored: %@",
                            Utf8Text::fromQString(in.isOpen() ? QStringLiteral("too long") : in.errorString()));
        return std::nullopt;
    }
    std::optional<QString> path = handedOverPath(in.readAll());
    if (!path) platform::logLine("openFile.dat ignored: it holds no UTF-16 path");
    return path;
}

bool RecoverySessionController::openHandedOverSession() {
    const QString file = openFilePath();
    if (file.isEmpty() || !QFileInfo::exists(file)) return false;
    const std::optional<QString> path = readHandedOverPath(file);
    if (path) openScanInfoFile(*path);
    QFile::remove(file);
    return true;
}

void RecoverySessionController::watchOpenFilePathFileThread() {
    openFileWatcher_.start();
}

void RecoverySessionController::openFilePathFileDetected() {
    const QString file = openFilePath();
    if (file.isEmpty() || !QFileInfo::exists(file)) return;
    const std::optional<QString> path = readHandedOverPath(file);
    // Deleted first: the session's own questions may take a while, and the
    // next look must not hand the same path over again.
    QFile::remove(file);
    if (path) openScanInfoFile(*path);
}
