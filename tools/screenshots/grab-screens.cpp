// Builds the program's window as the program does, shows each screen and
// sheet in turn (with a made-up scan's numbers where a screen shows
// progress, and the tree of a real scan of a volume image on the result
// screen) and writes each as a PNG, so the look can be checked without
// clicking through the wizard:
//
//   drentic-screenshots OUTPUT_DIR [VOLUME_IMAGE]
//
// tools/screenshots.sh runs it under Xvfb with the macOS-made HFS+ volume of
// tests/data, which is only read.

#include "app/HoverButton.h"
#include "app/MainWindow.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "app/TreeScreenController.h"
#include "platform/ProcessFlags.h"
#include "results/qt/Utf8Text.h"
#include "scan/ScanThread.h"
#include "volume/Volume.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QStackedWidget>
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
        Volume::initWithDictionary(Dict{{"Path", Utf8Text::fromQString(image)},
                                        {"Preferred Block Size", 512},
                                        {"Volume Start", 0ULL},
                                        {"Volume Size In Sectors", static_cast<unsigned long long>(info.size() / 512)},
                                        {"Volume Scan Type", 0},
                                        {"Content", "Apple_HFS"},
                                        {"Volume Name", Utf8Text::fromQString(info.fileName())},
                                        {"device model", "-"},
                                        {"device serial", "-"},
                                        {"device revision", "-"}});
    if (!volume) return false;
    bool shown = false;
    QObject::connect(&tree, &TreeScreenController::treeShown, [&shown] { shown = true; });
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
    return shown;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR [VOLUME_IMAGE]\n", argv[0]);
        return 2;
    }
    gOut = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(gOut);
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Highlight, QColor(0x2F, 0x6F, 0xDB));
    QApplication::setPalette(palette);

    Quelvar_Recovery_SoftwareAppDelegate delegate;
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
    } else if (argc > 2) {
        std::fprintf(stderr, "the scan of %s did not show a tree\n", argv[2]);
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
                                         {"body", "A previous recovery scan was not completed. Do you wish to resume "
                                                  "that same scan?"},
                                         {"defaultButton", "YES"},
                                         {"alternateButton", "NO"}});
    return 0;
}
