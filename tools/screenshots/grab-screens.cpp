// Builds the program's window as the program does, shows each screen and
// sheet in turn (with a made-up scan's numbers where a screen shows
// progress, and the tree of a real scan of a volume image on the result
// screen, with the preview of one of its files), then clicks through every
// recovery kind of the wizard with volume and disk images standing in as
// drives, and writes each step as a PNG, so the look can be checked without
// clicking by hand:
//
//   drentic-screenshots OUTPUT_DIR [VOLUME_IMAGE [DISK_IMAGE [EXFAT_IMAGE [APFS_IMAGE [GPT_IMAGE]]]]]
//
// tools/screenshots.sh runs it under Xvfb with the macOS-made HFS+ volume of
// tests/data, a GPT disk whose HFS+ partition entry was deleted, an exFAT
// volume with a photo in its free space, the macOS-made APFS container of
// tests/data as a whole disk, and a GPT disk whose second of three HFS+
// entries was deleted; all are only read.

#include "app/DrivesTableDataSource.h"
#include "app/HoverButton.h"
#include "app/MainWindow.h"
#include "app/PreviewWindow.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "app/RecoverySessionController.h"
#include "app/ScanWizard.h"
#include "app/SignatureListController.h"
#include "app/TreeScreenController.h"
#include "media/ContentKind.h"
#include "media/DriveRow.h"
#include "platform/ProcessFlags.h"
#include "results/DataSaving.h"
#include "results/qt/Utf8Text.h"
#include "scan/ScanThread.h"
#include "volume/Volume.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QStackedWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <thread>

using platform::Array;
using platform::Dict;
using platform::Value;

namespace {

QString gOut;
int gCount = 0;

void settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void write(QWidget* w, const QString& name) {
    settle();
    const QString path = QStringLiteral("%1/%2-%3.png").arg(gOut).arg(++gCount, 2, 10, QLatin1Char('0')).arg(name);
    if (!w->grab().save(path))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

// The window with what is shown over it (a sheet is a window of its own),
// as the screen shows them.
void writeScreen(QWidget& window, const QString& name) {
    settle();
    const QRect frame = window.frameGeometry();
    const QPixmap shot = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    const QString path = QStringLiteral("%1/%2-%3.png").arg(gOut).arg(++gCount, 2, 10, QLatin1Char('0')).arg(name);
    if (!shot.save(path))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

QString fileName(QString id) {
    return id.replace(QLatin1Char(' '), QLatin1Char('-')).toLower();
}

// Answers every alert the program puts up (a finished scan says so).
void answerAlerts() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) box->buttons().first()->click();
}

// Scans the volume image as the wizard would and waits until the result
// screen shows its tree; false when it did not within half a minute.
bool showScannedTree(Quelvar_Recovery_SoftwareAppDelegate& delegate, MainWindow& window, TreeScreenController& tree,
                     const QString& image) {
    const QFileInfo info(image);
    if (!info.isFile()) return false;
    auto volume =
        Volume::initWithDictionary(DriveRow{.path = Utf8Text::fromQString(image),
                                            .preferredBlockSize = 512,
                                            .content = contentString(ContentKind::HFSPlus),
                                            .volumeName = Utf8Text::fromQString(info.fileName()),
                                            .volumeStart = 0,
                                            .volumeSizeInSectors = static_cast<std::uint64_t>(info.size()) / 512,
                                            .volumeScanType = 0,
                                            .deviceModel = "-",
                                            .deviceSerial = "-",
                                            .deviceRevision = "-"}
                                       .toDict());
    if (!volume) return false;
    bool shown = false;
    // Disconnected before `shown` goes: later scans show trees too.
    const auto connection = QObject::connect(&tree, &TreeScreenController::treeShown, [&shown] { shown = true; });
    delegate.setSelectedVolume(volume);
    platform::scanRunningFlag() = true;
    window.selectTabViewItemWithIdentifier(QStringLiteral("Progress"));
    // The alert runs its own event loop, so a timer answers it.
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, answerAlerts);
    answerer.start(100);
    std::thread([volume] { ScanThread(volume).startMakingTree(Array{"Normal Scan", 0}); }).detach();
    QElapsedTimer clock;
    clock.start();
    while (!shown && clock.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    QObject::disconnect(connection);
    return shown;
}

// The selected file previewed through the result screen's Preview button,
// after the advice to save the session first (answered "Preview").
void previewThroughTheButton(Quelvar_Recovery_SoftwareAppDelegate& delegate, MainWindow& window) {
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == QStringLiteral("Preview")) b->click();
    });
    answerer.start(100);
    if (auto* b = window.findChild<QAbstractButton*>(QStringLiteral("previewButton")); b && b->isEnabled())
        b->click();
    else
        std::fprintf(stderr, "cannot click previewButton\n");
    auto* preview = qobject_cast<PreviewWindow*>(delegate.elementIfMade(QStringLiteral("previewWindow")));
    QElapsedTimer clock;
    clock.start();
    while ((!preview || !preview->isVisible() || preview->previewLoading()) && clock.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        preview = qobject_cast<PreviewWindow*>(delegate.elementIfMade(QStringLiteral("previewWindow")));
    }
    if (preview && preview->isVisible()) write(preview, QStringLiteral("tree-preview-button"));
    delegate.previewClose();
}

// Until the session thread has ended (alerts answered meanwhile).
void waitForSession(RecoverySessionController& sessions, void (RecoverySessionController::*finished)(bool)) {
    bool ended = false;
    auto connection = QObject::connect(&sessions, finished, [&ended] { ended = true; });
    // An alert runs its own event loop, so a timer answers it.
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, answerAlerts);
    answerer.start(100);
    QElapsedTimer clock;
    clock.start();
    while (!ended && clock.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    QObject::disconnect(connection);
    settle();
}

// The images the walk stands in for drives with.
struct Images {
    QString volume, disk, exfat, apfs, gpt;
};

// A volume row of a whole image of the given content, the only volume of
// its disk.
DriveRow volumeRow(const QString& image, ContentKind content, const char* name, int index) {
    return DriveRow{.path = Utf8Text::fromQString(image),
                    .size = static_cast<std::uint64_t>(QFileInfo(image).size()),
                    .preferredBlockSize = 512,
                    .content = contentString(content),
                    .volumeName = name,
                    .whetherVolume = true,
                    .journaled = "-",
                    .bundlePath = "nil",
                    .indexOfChildVolume = 0,
                    .totalVolumesInADisk = 1,
                    .volumeAndDriveIndex = index};
}

// A disk row of an image.
DriveRow diskRow(const QString& image, const char* model, const char* serial, int index) {
    return DriveRow{.path = Utf8Text::fromQString(image),
                    .size = static_cast<std::uint64_t>(QFileInfo(image).size()),
                    .preferredBlockSize = 512,
                    .whetherDiskDict = true,
                    .deviceModel = model,
                    .deviceSerial = serial,
                    .deviceRevision = "1.0",
                    .bundlePath = "nil",
                    .volumeAndDriveIndex = index};
}

// The drive rows of the walk: the disk image with the volume image as its
// one volume, the exFAT and APFS images as volumes that fill their disks, and
// the second GPT disk. `empty` leaves them all out, for the empty list.
Quelvar_Recovery_SoftwareAppDelegate::DriveLists imageDrives(const Images& images, const bool& empty) {
    const QString& volume = images.volume;
    const QString& disk = images.disk;
    if (empty || volume.isEmpty()) return {};
    DriveRow hfs = volumeRow(volume, ContentKind::HFSPlus, "hfsplus_test", 1);
    hfs.journaled = "No";
    const Dict v = hfs.toDict();
    Array disks;
    if (!disk.isEmpty()) {
        Dict d = diskRow(disk, "Virtual Disk", "VD-0001", 0).toDict();
        d.set("Children Volume Array", Array{v});
        disks.push_back(d);
    }
    Array volumes{v}, hfsOnly{v};
    // Discovery lists exFAT and APFS volumes with the HFS+ ones.
    if (!images.exfat.isEmpty()) {
        DriveRow exfat = volumeRow(images.exfat, ContentKind::ExFAT, "STICK", 2);
        exfat.supportFileSystemRecovery = 1;
        volumes.push_back(exfat.toDict());
        hfsOnly.push_back(volumes.back());
    }
    if (!images.apfs.isEmpty()) {
        DriveRow apfs = volumeRow(images.apfs, ContentKind::APFS, "Container", 3);
        apfs.supportFileSystemRecovery = 1;
        volumes.push_back(apfs.toDict());
        hfsOnly.push_back(volumes.back());
    }
    if (!images.gpt.isEmpty()) disks.push_back(diskRow(images.gpt, "Three Partitions", "VD-0002", 4).toDict());
    return {disks, volumes, hfsOnly};
}

void click(MainWindow& window, const char* name) {
    if (auto* b = window.findChild<QAbstractButton*>(QString::fromLatin1(name)); b && b->isEnabled())
        b->click();
    else
        std::fprintf(stderr, "cannot click %s\n", name);
    settle();
}

// Waits for a screen and for what leads to it to have finished: a drive
// list loading behind it, a scan thread letting its volume go.
bool waitForScreen(MainWindow& window, const char* id, int ms = 30000) {
    auto* delegate = Quelvar_Recovery_SoftwareAppDelegate::shared();
    ScanWizard* wizard = delegate ? ScanWizard::of(*delegate) : nullptr;
    const auto busy = [&] {
        return (wizard && wizard->loadingDrives()) || (delegate && delegate->selectedVolume().use_count() > 2);
    };
    QElapsedTimer clock;
    clock.start();
    while ((window.selectedIdentifier() != QString::fromLatin1(id) || busy()) && clock.elapsed() < ms) {
        answerAlerts();
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    settle();
    return window.selectedIdentifier() == QString::fromLatin1(id);
}

void selectRow(MainWindow& window, const char* table, int row) {
    if (auto* view = window.findChild<QTableView*>(QString::fromLatin1(table))) view->selectRow(row);
    settle();
}

// Home from the result screen, as a user leaves it: the question (taken
// when named), "OK", and the wait for the tree to be freed.
void leaveTheResultScreen(Quelvar_Recovery_SoftwareAppDelegate& delegate, MainWindow& window, const char* picture) {
    if (window.selectedIdentifier() != QStringLiteral("Tree")) return;
    QTimer::singleShot(300, [picture] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                if (picture) write(box, QString::fromLatin1(picture));
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == QStringLiteral("OK")) b->click();
            }
    });
    click(window, "buttonGoToHomeFromTreeTab");
    waitForScreen(window, "Main Screen");
    // The tree is freed on a worker; nothing else may go before it ends.
    QElapsedTimer clock;
    clock.start();
    while ((TreeScreenController::of(delegate)->treeWorkerRunning() || delegate.dirRootTemp()) &&
           clock.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The shown tree saved as a recovery session through the result screen's
// button and its dialog, the saving sheet over the result screen, and the
// session opened again from the home screen.
void saveAndOpenSession(Quelvar_Recovery_SoftwareAppDelegate& delegate, MainWindow& window) {
    RecoverySessionController* sessions = RecoverySessionController::install(delegate);
    sessions->setPanelSettleDelay(std::chrono::milliseconds(0));
    // The sheet is up only while the file is written: shown here by hand,
    // with a bar partly done, as the other sheets are.
    delegate.beginSheetWindow(Dict{{"sheetWindow", "windowSavingRecoverySession"}, {"parentWindow", "window"}});
    delegate.updateProgressIndicator(Dict{{"progressIndicator", "progressSavingRecoverySession"},
                                          {"setIndeterminate", false},
                                          {"minValue", 0.0},
                                          {"maxValue", 100.0},
                                          {"doubleValue", 40.0}});
    writeScreen(window, QStringLiteral("tree-saving-session"));
    delegate.endSheetWindow(Dict{{"sheetWindow", "windowSavingRecoverySession"}});

    const QString file = QDir::temp().filePath(QStringLiteral("drentic-screenshots-session.drs"));
    QFile::remove(file);
    click(window, "saveScanButton");
    auto* dialog = window.findChild<QFileDialog*>();
    if (!dialog) return;
    writeScreen(window, QStringLiteral("tree-save-session-dialog"));
    // Typed over the suggested name, as a user does.
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) name->setText(file);
    static_cast<QDialog*>(dialog)->accept();
    waitForSession(*sessions, &RecoverySessionController::savingFinished);
    write(&window, QStringLiteral("tree-session-saved"));

    // Home through the result screen's own button, which the wizard serves.
    ScanWizard::install(delegate);
    leaveTheResultScreen(delegate, window, nullptr);
    // The head is checked before the file is read, and says so in an alert
    // of its own when it is refused.
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                std::fprintf(stderr, "alert: %s: %s\n", qPrintable(box->text()), qPrintable(box->informativeText()));
                box->buttons().first()->click();
            }
    });
    answerer.start(100);
    sessions->openScanInfoFile(file);
    waitForSession(*sessions, &RecoverySessionController::openingFinished);
    if (TreeScreenController* tree = TreeScreenController::of(delegate)) tree->outline()->expandAll();
    write(&window, QStringLiteral("tree-opened-session"));
    QFile::remove(file);
}

// Clicks through the wizard: files, photos, partitions (with the search for
// lost volumes and a real scan of what it found), formatted drives, the
// empty list and the permission panel.
void walkTheWizard(Quelvar_Recovery_SoftwareAppDelegate& delegate, MainWindow& window, const Images& images,
                   bool& noDrives) {
    const QString& volume = images.volume;
    const QString& disk = images.disk;
    ScanWizard* wizard = ScanWizard::install(delegate);
    DrivesTableDataSource* tables = DrivesTableDataSource::of(delegate);
    SignatureListController* fileTypes = SignatureListController::of(delegate);
    const std::string volumePath = Utf8Text::fromQString(volume), diskPath = Utf8Text::fromQString(disk);
    leaveTheResultScreen(delegate, window, nullptr);
    // A kind and its choice, the volume picked from the drives list, and the
    // screen Next leads to; then home again.
    const auto pickAndGoOn = [&](const char* kind, const char* choice, const char* list, const char* next) {
        click(window, kind);
        click(window, choice);
        if (waitForScreen(window, "Drives List")) {
            tables->selectRowWithPath(volumePath);
            write(&window, QString::fromLatin1(list));
            click(window, "nextButtonInDrivesList");
            write(&window, QString::fromLatin1(next));
        }
        wizard->gotoHome(nullptr);
    };
    window.selectTabViewItemWithIdentifier(QStringLiteral("Main Screen"));

    click(window, "buttonRecoverFiles");
    write(&window, QStringLiteral("walk-files-kind"));
    click(window, "buttonRecoverFilesAdvanced");
    if (!waitForScreen(window, "Drives List")) return;
    tables->selectRowWithPath(volumePath);
    write(&window, QStringLiteral("walk-files-drives"));
    click(window, "nextButtonInDrivesList");
    if (auto* find = window.findChild<QLineEdit*>(QStringLiteral("findFTSearchField"))) {
        find->setText(QStringLiteral("jpg"));
        fileTypes->findFileTypes();
    }
    if (auto* range = window.findChild<QCheckBox*>(QStringLiteral("rawSearchCheckBox"))) range->setChecked(true);
    write(&window, QStringLiteral("walk-files-file-types"));
    click(window, "nextButtonSigTab");
    write(&window, QStringLiteral("walk-files-range"));
    wizard->gotoHome(nullptr);

    // Photos from a whole disk: every type of the photo list carved, and
    // the result screen of what the carving found.
    click(window, "buttonRecoverPhotos");
    click(window, "buttonRecoverPhotosAdvanced");
    if (waitForScreen(window, "Drives List")) {
        tables->selectRowWithPath(disk.isEmpty() ? volumePath : diskPath);
        write(&window, QStringLiteral("walk-photos-disks-and-volumes"));
        click(window, "nextButtonInDrivesList");
        fileTypes->selectAllSig();
        write(&window, QStringLiteral("walk-photos-file-types"));
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, answerAlerts);
        answerer.start(100);
        click(window, "nextButtonSigTab");
        write(&window, QStringLiteral("walk-photos-progress"));
        if (waitForScreen(window, "Tree")) {
            if (TreeScreenController* tree = TreeScreenController::of(delegate)) tree->outline()->expandAll();
            write(&window, QStringLiteral("walk-photos-tree"));
        }
        leaveTheResultScreen(delegate, window, nullptr);
    } else {
        wizard->gotoHome(nullptr);
    }

    if (!disk.isEmpty()) {
        click(window, "buttonRecoverPartitionAndDrives");
        click(window, "buttonRecoverPartitionAndDrivesFast");
        if (waitForScreen(window, "Drives List")) {
            tables->selectRowWithPath(diskPath);
            write(&window, QStringLiteral("walk-partitions-disks"));
            click(window, "nextButtonInDrivesList");
            write(&window, QStringLiteral("walk-partitions-pt-list"));
            click(window, "buttonPTListCheckBoxScanForVolumes");
            click(window, "buttonPTListNext");
            write(&window, QStringLiteral("walk-partitions-searching"));
            if (waitForScreen(window, "PT scan list")) {
                selectRow(window, "tableViewScanPTList", 0);
                write(&window, QStringLiteral("walk-partitions-found-volumes"));
                click(window, "buttonPTScanListNext");
                write(&window, QStringLiteral("walk-partitions-scan-mode"));
                click(window, "buttonTreeScanModeStd");
                write(&window, QStringLiteral("walk-partitions-file-types"));
                click(window, "buttonSigAddFileType");
                if (QWidget* sheet = window.findChild<QWidget*>(QStringLiteral("newSigWindow")))
                    write(sheet, QStringLiteral("walk-add-file-type-sheet"));
                fileTypes->addNewSigCancelled();
                // The scan's closing alert runs its own event loop: a timer
                // answers it.
                QTimer answerer;
                QObject::connect(&answerer, &QTimer::timeout, answerAlerts);
                answerer.start(100);
                click(window, "skipButtonSigTab");
                write(&window, QStringLiteral("walk-partitions-progress"));
                if (waitForScreen(window, "Tree")) write(&window, QStringLiteral("walk-partitions-tree"));
            }
        }
        leaveTheResultScreen(delegate, window, "walk-home-from-result");
    }

    pickAndGoOn("buttonRecoverPartitionAndDrives", "buttonRecoverPartitionAndDrivesAdvanced", "walk-formatted-volumes",
                "walk-formatted-file-types");

    // A scan of a volume from a drives list to its result screen, whose
    // closing alert a timer answers.
    const auto scanToTree = [&](const QString& image, const char* list, const char* next, const char* tree,
                                bool markTypes) {
        if (!waitForScreen(window, "Drives List")) return;
        tables->selectRowWithPath(Utf8Text::fromQString(image));
        write(&window, QString::fromLatin1(list));
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, answerAlerts);
        answerer.start(100);
        click(window, "nextButtonInDrivesList");
        if (markTypes) {
            fileTypes->selectAllSig();
            write(&window, QString::fromLatin1(next));
            click(window, "nextButtonSigTab");
        }
        if (waitForScreen(window, "Tree")) {
            if (TreeScreenController* t = TreeScreenController::of(delegate)) t->outline()->expandAll();
            write(&window, QString::fromLatin1(tree));
        }
        leaveTheResultScreen(delegate, window, nullptr);
    };
    // Formatted recovery of an exFAT volume: only searched, so the file
    // types cannot be skipped; its photo found by its contents.
    if (!images.exfat.isEmpty()) {
        click(window, "buttonRecoverPartitionAndDrives");
        click(window, "buttonRecoverPartitionAndDrivesAdvanced");
        scanToTree(images.exfat, "walk-formatted-exfat-volumes", "walk-formatted-exfat-file-types",
                   "walk-formatted-exfat-tree", true);
    }
    // An APFS container that fills its disk, among the volumes, and its files.
    if (!images.apfs.isEmpty()) {
        click(window, "buttonRecoverFiles");
        click(window, "buttonRecoverFilesFast");
        scanToTree(images.apfs, "walk-apfs-whole-disk-volumes", nullptr, "walk-apfs-whole-disk-tree", false);
    }
    // A GPT disk whose second of three HFS+ entries was deleted lists the
    // first and the third.
    if (!images.gpt.isEmpty()) {
        click(window, "buttonRecoverPartitionAndDrives");
        click(window, "buttonRecoverPartitionAndDrivesFast");
        if (waitForScreen(window, "Drives List")) {
            tables->selectRowWithPath(Utf8Text::fromQString(images.gpt));
            click(window, "nextButtonInDrivesList");
            write(&window, QStringLiteral("walk-partitions-entry-2-deleted"));
        }
        wizard->gotoHome(nullptr);
    }

    noDrives = true;
    click(window, "buttonRecoverFiles");
    click(window, "buttonRecoverFilesFast");
    if (waitForScreen(window, "Drives List")) write(&window, QStringLiteral("walk-no-drives"));
    wizard->gotoHome(nullptr);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s OUTPUT_DIR [VOLUME_IMAGE [DISK_IMAGE [EXFAT_IMAGE [APFS_IMAGE [GPT_IMAGE]]]]]\n",
                     argv[0]);
        return 2;
    }
    gOut = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(gOut);
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Highlight, QColor(0x2F, 0x6F, 0xDB));
    QApplication::setPalette(palette);

    const auto arg = [&](int i) { return argc > i ? QString::fromLocal8Bit(argv[i]) : QString(); };
    const Images images{arg(2), arg(3), arg(4), arg(5), arg(6)};
    bool noDrives = false;
    Quelvar_Recovery_SoftwareAppDelegate delegate([&] { return imageDrives(images, noDrives); });
    MainWindow window;
    delegate.setWindow(&window);
    delegate.awakeFromNib();
    TreeScreenController* tree = TreeScreenController::install(delegate);

    // Numbers of a scan in the middle of its work.
    delegate.setMainScanStatus("Searching for deleted files from Backup Disk");
    delegate.updateProgress(Dict{{"Progress Type", 1},
                                 {"Progress Status", "Reading catalog"},
                                 {"BarMinValue", 0ULL},
                                 {"BarMaxValue", 976773168ULL},
                                 {"BarDoubleValue", 412000000ULL},
                                 {"Percent Done", 42},
                                 {"Size Done", 210944000000ULL},
                                 {"Total Size", 500107862016ULL},
                                 {"TimeRemaining", "0:00:12:41"},
                                 {"Entries Found", 18342},
                                 {"Folders", 1204},
                                 {"Files", 17138},
                                 {"Data", 48213000000ULL}});
    delegate.updateTextField(
        Dict{{"textField", "textFieldScanStartTime"}, {"textField String", "2024-05-14 10:21:07"}});
    delegate.updateTextField(Dict{{"textField", "textFieldScanTimeElapsed"}, {"textField String", "0:00:09:12"}});
    delegate.updateProgressIndicator(Dict{{"progressIndicator", "scanningProgressIndicator"}, {"animation", true}});
    // And of a search for lost volumes.
    Array& rows = *delegate.volumeScanArgument()[1].array();
    rows.push_back(Dict{{"Found Column", "Volume \"Photos\" at sector 2048"}, {"Validity Column", Array{Value(96)}}});
    rows.push_back(
        Dict{{"Found Column", "Volume \"Untitled\" at sector 409640"}, {"Validity Column", Array{Value(41)}}});
    delegate.updateVolumeScanProgress(Dict{{"Volumes Found", true},
                                           {"Progress Status", "validating"},
                                           {"Time Remaining For SubTask", "0:00:00:35"},
                                           {"BarMinValue", 0},
                                           {"BarMaxValue", 1000},
                                           {"BarDoubleValue", 380},
                                           {"TimeRemaining", "0:00:21:03"}});
    delegate.updateTextField(
        Dict{{"textField", "textFieldScanForVolumesStartTime"}, {"textField String", "2024-05-14 11:02:40"}});
    delegate.updateTextField(
        Dict{{"textField", "textFieldScanForVolumesTimeElapsed"}, {"textField String", "0:00:04:50"}});
    delegate.updateTextField(Dict{{"textField", "textFieldHeadingDriveListTab"},
                                  {"textField String", "Please select volume to continue..."}});
    delegate.updateTextField(Dict{{"textField", "textFieldSizeOfRawScanDrvVol"}, {"textField String", "500.11 GB"}});
    delegate.updateTextField(Dict{{"textField", "textFieldStartSliderStatus"}, {"textField String", "0% 0 KB"}});
    delegate.updateTextField(Dict{{"textField", "textFieldEndSliderStatus"}, {"textField String", "100% 500.11 GB"}});

    for (const QString& id : MainWindow::screenIdentifiers()) {
        window.selectTabViewItemWithIdentifier(id);
        write(&window, fileName(id));
    }

    // The home screen while the pointer is over a choice.
    window.selectTabViewItemWithIdentifier(QStringLiteral("Main Screen"));
    if (auto* b = window.findChild<HoverButton*>(QStringLiteral("buttonRecoverPhotos"))) b->mouseEntered();
    write(&window, QStringLiteral("main-screen-hover"));
    if (auto* b = window.findChild<HoverButton*>(QStringLiteral("buttonRecoverPhotos"))) b->mouseExited();
    window.selectTabViewItemWithIdentifier(QStringLiteral("Recover Partitions"));
    if (auto* b = window.findChild<HoverButton*>(QStringLiteral("buttonRecoverPartitionAndDrivesAdvanced")))
        b->mouseEntered();
    write(&window, QStringLiteral("recover-partitions-hover"));

    // The result screen with the tree of a real scan, folders open and a
    // file selected, then the same files by type.
    if (argc > 2 && showScannedTree(delegate, window, *tree, QString::fromLocal8Bit(argv[2]))) {
        QTreeView* outline = tree->outline();
        outline->expandAll();
        const QModelIndex root = outline->model()->index(0, 0);
        const int rows = outline->model()->rowCount(root);
        if (rows > 0) outline->setCurrentIndex(outline->model()->index(rows - 1, 0, root));
        write(&window, QStringLiteral("tree-scanned"));
        previewThroughTheButton(delegate, window);
        if (auto* toggle = window.findChild<QAbstractButton*>(QStringLiteral("buttonTreeFileTypesToggle"))) {
            bool shown = false;
            auto connection = QObject::connect(tree, &TreeScreenController::treeShown, [&shown] { shown = true; });
            toggle->click();
            QElapsedTimer clock;
            clock.start();
            while (!shown && clock.elapsed() < 10000)
                QApplication::processEvents(QEventLoop::AllEvents, 20);
            QObject::disconnect(connection);
            outline->expandAll();
            write(&window, QStringLiteral("tree-file-types"));
        }
        saveAndOpenSession(delegate, window);
    } else if (argc > 2) {
        std::fprintf(stderr, "the scan of %s did not show a tree\n", argv[2]);
    }

    if (!images.volume.isEmpty()) {
        walkTheWizard(delegate, window, images, noDrives);
    }

    // The sheets and panels.
    window.selectTabViewItemWithIdentifier(QStringLiteral("Progress"));
    for (const char* sheet :
         {"windowLoadingDrives", "alertWindowForAbort", "windowPreparingTree", "windowReturningTree",
          "windowSavingData", "windowSavingRecoverySession", "windowLoadingRecoverySession",
          "windowSavingAutoRecoverySession", "windowLoadingAutoRecoverySession"}) {
        delegate.beginSheetWindow(Dict{{"sheetWindow", sheet}, {"parentWindow", "window"}});
        QWidget* w = window.findChild<QWidget*>(QString::fromLatin1(sheet));
        if (w) write(w, QString::fromLatin1(sheet));
        // The saving sheet's line as a save's second pass says it.
        if (w && QLatin1String(sheet) == QLatin1String("windowSavingData")) {
            delegate.updateTextField(
                Dict{{"textField", "textFieldSavingMessage"}, {"textField String", DataSaving::kSecondPassMessage}});
            write(w, QStringLiteral("windowSavingData-second-pass"));
        }
        delegate.endSheetWindow(Dict{{"sheetWindow", sheet}});
    }
    for (const char* panel : {"windowAboutPanel", "windowSIPPanel"}) {
        QWidget* w = window.findChild<QWidget*>(QString::fromLatin1(panel));
        if (!w) continue;
        w->show();
        write(w, QString::fromLatin1(panel));
        w->hide();
    }

    // An alert, answered as soon as it has been photographed.
    QTimer::singleShot(300, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                write(box, QStringLiteral("alert"));
                box->buttons().first()->click();
            }
        }
    });
    delegate.showAlertPanelWithData(Dict{{"title", "Resume Recovery?"},
                                         {"body", "A previous recovery scan was not completed: \"Searching for "
                                                  "music, video and photos from WDC WD10EZEX 1234\" on \"WDC "
                                                  "WD10EZEX 1234\" (/dev/sdb). Do you wish to resume that same scan?"},
                                         {"defaultButton", "YES"},
                                         {"alternateButton", "NO"}});
    return 0;
}
