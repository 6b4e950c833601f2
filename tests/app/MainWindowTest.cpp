#include "AppTestSupport.h"
#include "app/ManualWindow.h"
#include "app/ProgressIndicator.h"
#include "app/UpdateCheck.h"
#include "app/WorkerRequestBridge.h"
#include "platform/ProcessFlags.h"

#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

using platform::Dict;

// A web server on a free local port that answers every request with body,
// or with a null body takes the request and never answers.
struct LocalServer : QTcpServer {
    explicit LocalServer(const QByteArray& body) {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this, body] {
            QTcpSocket* s = nextPendingConnection();
            if (!body.isNull())
                connect(s, &QTcpSocket::readyRead, s, [s, body] {
                    s->write("HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                             body);
                });
        });
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(serverPort()) + "/a list"; }
};

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    // The program starts on the home screen, every screen identifier selects
    // its page, and only the result screen may grow, and only taller.
    void programStartsOnTheHomeScreenAndEveryIdentifierSelectsItsPage() {
        ProgramUnderTest p;
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        const QSize initial = p.delegate.initialWindowSize();
        QCOMPARE(std::pair(p.window.minimumSize(), p.window.maximumSize()), std::pair(initial, initial));
        QCOMPARE(p.window.windowTitle(), QStringLiteral("Drentic Deleted File Recovery"));
        QCOMPARE(p.window.selectedIdentifier(), QStringLiteral("Main Screen"));
        QCOMPARE(p.window.tabView()->count(), 13);
        QVERIFY(platform::appController() == &p.delegate);
        QVERIFY(Quelvar_Recovery_SoftwareAppDelegate::shared() == &p.delegate);

        const QStringList ids = {
            "Main Screen",  "Recover Files", "Recover Photos", "Recover Partitions", "Drives List", "PT list",
            "PT scan prog", "PT scan list",  "Tree scan mode", "Signatures",         "Raw slider",  "Progress",
            "Tree"};
        QCOMPARE(MainWindow::screenIdentifiers(), ids);
        QSet<QWidget*> pages;
        for (const QString& id : ids) {
            // As a worker would ask for it.
            onWorker([&] { p.delegate.selectTabViewItemWithIdentifier(id.toStdString()); });
            QCOMPARE(p.window.selectedIdentifier(), id);
            QWidget* page = p.window.tabView()->currentWidget();
            QCOMPARE(page, p.window.screen(id));
            pages.insert(page);
        }
        QCOMPARE(pages.size(), ids.size());
        QVERIFY(!p.window.selectTabViewItemWithIdentifier("Nowhere"));
        QCOMPARE(p.window.selectedIdentifier(), QStringLiteral("Tree"));
        p.window.resize(initial + QSize(100, 100));
        QCOMPARE(p.window.size(), initial + QSize(0, 100));
        p.window.selectTabViewItemWithIdentifier("Main Screen");
        QCOMPARE(p.window.size(), initial);
    }

    // Requests find their controls by these names.
    void controlsCarryTheirNames() {
        ProgramUnderTest p;
        const QStringList names =
            QStringLiteral(
                "buttonRecoverFiles buttonRecoverPhotos buttonRecoverPartitionAndDrives imageViewMainScreen "
                "imageViewMainScreenImposed imageViewRecoverFilesImposed imageViewRecoverPhotosImposed "
                "imageViewRecoverPartitionsImposed tableViewDrives nextButtonInDrivesList "
                "textFieldHeadingDriveListTab tableViewPTList buttonPTListCheckBoxScanForVolumes buttonPTListNext "
                "progressIndicatorScanForVolumes progressIndicatorScanForVolumesValidityScan "
                "pleaseWaitForValidatingVolumeTextField textFieldETAValidityScan textFieldETAScanForVolumes "
                "tableViewScanForVolumes tableViewScanPTList buttonPTScanListNext textFieldNumFoundVolumes "
                "outlineViewSig nextButtonSigTab skipButtonSigTab rawSearchCheckBox buttonSigAddFileType "
                "buttonSigRemoveFileType sliderStart sliderEnd textFieldStartSliderStatus textFieldEndSliderStatus "
                "textFieldSizeOfRawScanDrvVol progress textFieldStatus textFieldPercentDone textFieldSizeDone "
                "timeRemainingTextFieldForTree textFieldEntries textFieldFolders textFieldFiles textFieldData "
                "textFieldScanTimeElapsed scanningProgressIndicator outlineViewData saveButton saveScanButton "
                "previewButton windowLoadingDrives progressIndicatorLoadingDrives alertWindowForAbort "
                "windowPreparingTree progressIndicatorPreparingTree windowSavingData progressTree "
                "windowSavingRecoverySession windowAboutPanel windowSIPPanel")
                .split(QLatin1Char(' '));
        for (const QString& name : names)
            QVERIFY2(p.delegate.element(name), qPrintable(name));
        // One control under two names.
        QCOMPARE(p.delegate.element("buttonSigSelNext"), p.delegate.element("nextButtonSigTab"));
        QCOMPARE(p.delegate.element("buttonRemoveFileType"), p.delegate.element("buttonSigRemoveFileType"));
        // Names are unique in the window.
        QStringList seen;
        for (QObject* o : p.window.findChildren<QObject*>()) {
            const QString n = o->objectName();
            if (n.isEmpty() || n.startsWith(QStringLiteral("qt_")) || n.startsWith(QStringLiteral("_q_"))) continue;
            QVERIFY2(!seen.contains(n), qPrintable(n));
            seen << n;
        }
    }

    void choosingAListScreenDisablesItsNextButton() {
        ProgramUnderTest p;
        for (auto [screen, next] : {std::pair{"Drives List", "nextButtonInDrivesList"},
                                    {"PT list", "buttonPTListNext"},
                                    {"PT scan list", "buttonPTScanListNext"},
                                    {"Signatures", "nextButtonSigTab"}}) {
            p.widget<QWidget>(next)->setEnabled(true);
            p.window.selectTabViewItemWithIdentifier(QString::fromLatin1(screen));
            QVERIFY2(!p.widget<QWidget>(next)->isEnabled(), next);
            p.window.selectTabViewItemWithIdentifier("Main Screen");
        }
    }

    // A worker's requests are carried to the main thread and the worker
    // waits until they are done; a button request naming no button changes
    // nothing.
    void workerRequestsRunOnTheMainThreadAndWait() {
        ProgramUnderTest p;
        auto* button = p.widget<QPushButton>("saveButton");
        const bool before = button->isEnabled();
        p.delegate.updateButton(Dict{{"setEnabled", !before}});
        QCOMPARE(button->isEnabled(), before);
        auto* label = new QLabel(&p.window);
        p.delegate.registerElement("statusText", label);
        bool ranOnMain = false;
        onWorker([&] {
            p.delegate.updateButton(Dict{{"button", "saveButton"}, {"setEnabled", false}, {"setTitle", "Stop"}});
            p.delegate.updateTextField(Dict{{"textField", "statusText"}, {"textField String", "Saving 50%"}});
            // Without the text nothing changes.
            p.delegate.updateTextField(Dict{{"textField", "statusText"}});
            // 64-bit counts beyond the int range still land on the bar.
            p.delegate.updateProgressIndicator(Dict{{"progressIndicator", "progressTree"},
                                                    {"setIndeterminate", false},
                                                    {"minValue", 0.0},
                                                    {"maxValue", 8e12},
                                                    {"doubleValue", 2e12}});
            p.delegate.performOnMainThread([&] { ranOnMain = QThread::currentThread() == qApp->thread(); }, true);
        });
        QVERIFY(ranOnMain);
        QCOMPARE(std::pair(button->isEnabled(), button->text()), std::pair(false, QStringLiteral("Stop")));
        QCOMPARE(label->text(), QStringLiteral("Saving 50%"));
        auto* bar = p.widget<ProgressIndicator>("progressTree");
        QCOMPARE(std::pair(bar->value(), bar->doubleValue()), std::pair(bar->maximum() / 4, 2e12));
        p.delegate.updateButton(Dict{{"button", "saveButton"}, {"setEnabled", true}, {"setHidden", false}});
        QVERIFY(button->isEnabled() && !button->isHidden());
    }

    // A sheet begun by a worker blocks the window but not the main thread,
    // and ending it runs its end handler.
    void sheetsAreWindowModalAndEndInTheirHandler() {
        ProgramUnderTest p;
        p.delegate.setZeroTableViewDrivesList(true);
        onWorker([&] {
            p.delegate.beginSheetWindowWithContextInfoAndOthers(
                Dict{{"sheetWindow", "windowLoadingDrives"}, {"parentWindow", "window"}});
            p.delegate.updateProgressIndicator(
                Dict{{"progressIndicator", "progressIndicatorLoadingDrives"}, {"animation", true}});
        });
        auto* sheet = p.widget<QDialog>("windowLoadingDrives");
        QVERIFY(sheet->isVisible() && sheet->windowModality() == Qt::WindowModal);
        QVERIFY(p.widget<ProgressIndicator>("progressIndicatorLoadingDrives")->isAnimating());
        QVERIFY(p.delegate.zeroTableViewDrivesList());
        p.delegate.endSheetWindow(Dict{{"sheetWindow", "windowLoadingDrives"}});
        QVERIFY(!sheet->isVisible() && !p.delegate.zeroTableViewDrivesList());
    }

    // Off the result screen a running scan keeps the program from ending, on
    // it a session or data being saved or a session being opened.
    void quitIsRefusedWhileAScanOrASaveRuns() {
        ProgramUnderTest p;
        platform::scanRunningFlag() = true;
        AlertAnswerer answer("OK");
        QVERIFY(!programEnds([&] { p.delegate.terminateApplication(); }, 100));
        QCOMPARE(answer.title(), QStringLiteral("Scan running"));
        QVERIFY(p.window.isVisible());
        AlertAnswerer again("OK");
        QVERIFY(!p.delegate.windowShouldClose());
        QCOMPARE(again.title(), QStringLiteral("Scan running"));
        p.window.selectTabViewItemWithIdentifier("Tree");
        p.delegate.setScanInfoOrSavingNotProcessing(false);
        AlertAnswerer saving("OK");
        QVERIFY(!p.delegate.windowShouldClose());
        QCOMPARE(saving.title(), QStringLiteral("Process Running"));
        p.delegate.setScanInfoOrSavingNotProcessing(true);
        platform::scanRunningFlag() = false;
        QVERIFY(p.delegate.windowShouldClose());
    }

    // Help hands the manual to the desktop; if that fails, a window of the program shows it at the step's section.
    void helpShowsTheManualWhenTheDesktopCannot() {
        ProgramUnderTest p;
        QList<QUrl> asked;
        p.delegate.setManualOpener([&](const QUrl& url) { return (asked << url).size() == 1; });
        p.window.helpAction()->trigger();
        QVERIFY(QFile::exists(asked.value(0).toLocalFile()) && !p.widget<ManualWindow>("windowManual"));
        p.window.helpAction()->trigger();
        auto* manual = p.widget<ManualWindow>("windowManual");
        QVERIFY(manual && QTest::qWaitForWindowExposed(manual) &&
                manual->browser()->toPlainText().contains("Scanning a disk image"));
        p.widget<QAbstractButton>("buttonHelpDriveListTab")->click();
        QCOMPARE(asked.last().fragment(), QStringLiteral("drives"));
        QTRY_VERIFY(manual->browser()->verticalScrollBar()->value() > 0);
    }

    // The update check never holds the window up: another version online is
    // offered; the same one, a server that never answers, or what is not a
    // small property list from the web ends as no update, silently at launch.
    void updateCheckOffersOnlyAnotherVersion() {
        WindowElements elements;
        WorkerRequestBridge requests(elements, {});
        UpdateCheck check(requests);
        check.setTimeout(std::chrono::milliseconds(300));
        QSignalSpy finished(&check, &UpdateCheck::checkFinished);
        const auto run = [&](const std::string& url, QObject* sender = nullptr) {
            check.setInfoPlist(platform::InfoPlist(
                Dict{{"CFBundleShortVersionString", "1.0.1"}, {"cloudPlistUrl", url}, {"updaterPath", "/bin/true"}}));
            finished.clear();
            check.checkForUpdateClicked(sender);
            QVERIFY(finished.isEmpty() || !url.starts_with("http"));
            QTRY_VERIFY(!finished.isEmpty());
        };
        const QByteArray list = "<plist><dict><key>CFBundleShortVersionString</key><string>", end = "</dict></plist>";
        LocalServer newer(list + "2.0</string>" + end), same(list + "1.0.1</string>" + end), silent{QByteArray()},
            garbage(list + "2.0"),
            huge(list + "2.0</string><key>p</key><string>" + QByteArray(UpdateCheck::kMaxListSize, 'x') + "</string>" +
                 end);
        AlertAnswerer yes("YES");
        run(newer.url());
        QCOMPARE(yes.title(), QStringLiteral("A newer version of Drentic Deleted File Recovery Software is available"));
        AlertAnswerer no("NO");
        for (const std::string& url : {silent.url(), same.url(), garbage.url(), huge.url(),
                                       ("data:," + list + "2.0</string>" + end).toStdString()}) {
            run(url);
            QVERIFY(!finished.first().first().toBool());
        }
        QVERIFY(no.title().isEmpty());
        AlertAnswerer ok("OK");
        run("", this);
        QCOMPARE(ok.message(), QStringLiteral("No update information is available."));
    }

    // Another program asks for the window by creating "bringFrontFile.dat";
    // the file is taken away within a couple of seconds.
    void bringFrontFileIsTakenAway() {
        QTemporaryDir state;
        qputenv("DRENTIC_STATE_DIR", state.path().toLocal8Bit());
        ProgramUnderTest p;
        const QString path = Quelvar_Recovery_SoftwareAppDelegate::bringFrontFilePath();
        QVERIFY(path.startsWith(state.path()));
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        p.window.showMinimized();
        p.delegate.watchBringFrontFileThread();
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(path), 5000);
        QVERIFY(p.window.isVisible() && !p.window.isMinimized());
        qunsetenv("DRENTIC_STATE_DIR");
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
