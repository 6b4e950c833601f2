#include "app/MainWindow.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>
#include <thread>

using platform::Array;
using platform::Dict;
using platform::Value;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void windowComesUpWithItsTitleAndAnEmptyTabView() {
        Quelvar_Recovery_SoftwareAppDelegate delegate;
        MainWindow window;
        delegate.setWindow(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Drentic Deleted File Recovery"));
        QCOMPARE(window.tabView()->count(), 0);
        QVERIFY(platform::appController() == &delegate);
        window.close();
        QVERIFY(!window.isVisible());
    }

    void screensAreSelectedByIdentifier() {
        MainWindow window;
        window.addScreen("Main Screen", new QLabel("home"));
        window.addScreen("Progress", new QLabel("progress"));
        QCOMPARE(window.selectedIdentifier(), QStringLiteral("Main Screen"));
        QVERIFY(window.selectTabViewItemWithIdentifier("Progress"));
        QCOMPARE(window.selectedIdentifier(), QStringLiteral("Progress"));
        QVERIFY(!window.selectTabViewItemWithIdentifier("Nowhere"));
        QCOMPARE(window.selectedIdentifier(), QStringLiteral("Progress"));
    }

    // A worker's requests are carried to the main thread and the worker
    // waits until they are done.
    void workerRequestsRunOnTheMainThreadAndWait() {
        Quelvar_Recovery_SoftwareAppDelegate delegate;
        MainWindow window;
        delegate.setWindow(&window);
        auto* button = new QPushButton("Save", &window);
        button->setObjectName("saveButton");
        auto* bar = new QProgressBar(&window);
        bar->setObjectName("saveBar");
        auto* label = new QLabel(&window);
        delegate.registerElement("statusText", label);

        bool ranOnMain = false;
        std::thread worker([&] {
            delegate.updateButton(Dict{{"button", "saveButton"}, {"setEnabled", false}, {"setTitle", "Stop"}});
            delegate.updateTextField(Dict{{"textField", "statusText"}, {"textField String", "Saving 50%"}});
            // Without the text nothing changes.
            delegate.updateTextField(Dict{{"textField", "statusText"}});
            // 64-bit counts beyond the int range still land on the bar.
            delegate.updateProgressIndicator(Dict{{"progressIndicator", "saveBar"},
                                                  {"setIndeterminate", false},
                                                  {"minValue", 0.0},
                                                  {"maxValue", 8e12},
                                                  {"doubleValue", 2e12}});
            delegate.performOnMainThread(
                [&] { ranOnMain = QThread::currentThread() == qApp->thread(); }, true);
        });
        while (!ranOnMain) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        worker.join();
        QVERIFY(!button->isEnabled());
        QCOMPARE(button->text(), QStringLiteral("Stop"));
        QCOMPARE(label->text(), QStringLiteral("Saving 50%"));
        QCOMPARE(bar->value(), bar->maximum() / 4);
    }

    void buttonRequestWithoutButtonChangesNothing() {
        Quelvar_Recovery_SoftwareAppDelegate delegate;
        MainWindow window;
        delegate.setWindow(&window);
        auto* button = new QPushButton("Save", &window);
        button->setObjectName("saveButton");
        delegate.updateButton(Dict{{"setEnabled", false}});
        QVERIFY(button->isEnabled());
        delegate.updateButton(Dict{{"button", "saveButton"}, {"setEnabled", true}, {"setHidden", false}});
        QVERIFY(button->isEnabled());
        QVERIFY(!button->isHidden());
    }

    // The pressed button's code is returned and kept for the waiting worker.
    void dictionaryAlertReportsTheAlternateButton() {
        Quelvar_Recovery_SoftwareAppDelegate delegate;
        MainWindow window;
        delegate.setWindow(&window);
        QTimer::singleShot(50, [] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w)) {
                    for (QAbstractButton* b : box->buttons())
                        if (b->text() == "NO") b->click();
                }
            }
        });
        int answer = delegate.showAlertPanelWithData(
            Dict{{"title", "Resume Recovery?"}, {"body", "100% of /dev/sda"}, {"defaultButton", "YES"},
                 {"alternateButton", "NO"}});
        QCOMPARE(answer, int(platform::AlertAlternateReturn));
        QCOMPARE(delegate.alertResultValue(), int(platform::AlertAlternateReturn));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
