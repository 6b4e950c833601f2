#include "AppTestSupport.h"
#include "app/SavingDataSheet.h"
#include "app/TreeScreenController.h"
#include "media/DMedia.h"
#include "results/DataSaving.h"
#include "volume/Volume.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using platform::Dict;

class StopSheetTest : public QObject {
    Q_OBJECT
private slots:
    // The stop button asks first, on a sheet of the window: confirming stops
    // the volume and the drive; cancelling leaves the scan running.
    void theSheetsButtonsStopOrLeaveTheScan() {
        for (bool confirm : {true, false}) {
            ProgramUnderTest p;
            auto volume = std::make_shared<Volume>();
            auto drive = std::make_shared<DMedia>();
            p.delegate.setSelectedVolume(volume);
            p.delegate.setSelectedDrive(drive);
            p.window.selectTabViewItemWithIdentifier("Progress");
            p.widget<QPushButton>("buttonStopScan")->click();
            auto* sheet = p.widget<QDialog>("alertWindowForAbort");
            QVERIFY(sheet->isVisible() && sheet->windowModality() == Qt::WindowModal);
            QVERIFY(!volume->stopTreeThread());
            p.widget<QPushButton>(confirm ? "buttonAbortTreeThread" : "buttonDontAbortTreeThread")->click();
            QVERIFY(!sheet->isVisible());
            QCOMPARE(std::pair(volume->stopTreeThread(), drive->abortVolumeScan()), std::pair(confirm, confirm));
        }
    }

    // Confirming with nothing selected only closes the sheet. The scan may
    // end while the question is up: the sheet goes with it.
    void confirmingWithNothingSelectedOrTheScanEndingClosesTheSheet() {
        ProgramUnderTest p;
        p.delegate.stopTreeThread();
        p.delegate.abortTreeThread();
        QVERIFY(!p.widget<QDialog>("alertWindowForAbort")->isVisible());
        p.delegate.stopTreeThread();
        onWorker([&] { p.delegate.updateProgress(Dict{{"Tree Complete", true}}); });
        QVERIFY(!p.widget<QDialog>("alertWindowForAbort")->isVisible());
        QCOMPARE(p.window.selectedIdentifier(), QStringLiteral("Tree"));
        p.delegate.stopTreeThread();
        onWorker([&] { p.delegate.updateVolumeScanProgress(Dict{{"Scan Complete", true}}); });
        QVERIFY(!p.widget<QDialog>("alertWindowForAbort")->isVisible());
        QCOMPARE(p.window.selectedIdentifier(), QStringLiteral("PT scan list"));
    }

    // The saving sheet's line grows as the second pass begins; a press aimed where Stop Saving stood in the first
    // pass lands on it.
    void stopSavingStaysWhereItStoodInTheFirstPass() {
        ProgramUnderTest p;
        TreeScreenController::install(p.delegate);
        p.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        onWorker([&] {
            p.delegate.beginSheetWindow(Dict{{"sheetWindow", "windowSavingData"}, {"parentWindow", "window"}});
        });
        auto* sheet = p.widget<SavingDataSheet>("windowSavingData");
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        QTest::qWait(100);
        const QPoint aimed = sheet->stopSaveButton()->geometry().center();
        onWorker([&] {
            p.delegate.updateTextField(
                Dict{{"textField", "textFieldSavingMessage"}, {"textField String", DataSaving::kSecondPassMessage}});
        });
        QTest::qWait(100);
        QCOMPARE(sheet->messageLabel()->text(), QString::fromUtf8(DataSaving::kSecondPassMessage));
        QCOMPARE(sheet->stopSaveButton()->geometry().center(), aimed);
        QWidget* under = sheet->childAt(aimed);
        QCOMPARE(under, static_cast<QWidget*>(sheet->stopSaveButton()));
        QSignalSpy pressed(sheet->stopSaveButton(), &QAbstractButton::clicked);
        QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(sheet, aimed));
        QCOMPARE(pressed.count(), 1);
        p.delegate.endSheetWindow(Dict{{"sheetWindow", "windowSavingData"}});
    }
};

QTEST_MAIN(StopSheetTest)
#include "StopSheetTest.moc"
