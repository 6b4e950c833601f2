#include "AppTestSupport.h"
#include "media/DMedia.h"
#include "volume/Volume.h"

#include <QDialog>
#include <QPushButton>
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
};

QTEST_MAIN(StopSheetTest)
#include "StopSheetTest.moc"
