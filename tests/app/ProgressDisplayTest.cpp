#include "AppTestSupport.h"
#include "app/BusyIndicator.h"
#include "app/ProgressIndicator.h"
#include "media/DMedia.h"
#include "platform/ProcessFlags.h"
#include "results/ResultText.h"
#include "volume/Volume.h"

#include <QDialog>
#include <QLabel>
#include <QTableWidget>
#include <QtTest>

using platform::Array;
using platform::Dict;
using platform::Value;

namespace {

// A scan as the engine runs it: it fills the volume's progress dictionary
// only while the hand-over flag is off, turns the flag on, and lets the
// once-a-second tick deliver it.
struct FakeScan {
    std::shared_ptr<Volume> volume = std::make_shared<Volume>();
    void hand(Dict progress) {
        QVERIFY(!volume->timerFireMethodCanRun());
        volume->dataUpdate = std::move(progress);
        volume->setTimerFireMethodCanRun(true);
        // The tick takes it within about a second and turns the flag off.
        QTRY_VERIFY_WITH_TIMEOUT(!volume->timerFireMethodCanRun(), 3000);
    }
};

QString text(ProgramUnderTest& p, const char* field) {
    return p.widget<QLabel>(field)->text();
}

} // namespace

class ProgressDisplayTest : public QObject {
    Q_OBJECT
private slots:
    void sizesAreDecimalWithTwoPlaces() {
        auto size = [](std::uint64_t bytes) { return ResultText::sizeString(bytes, ResultText::ZeroSize::TwoPlaces); };
        QCOMPARE(size(0), std::string("0.00 KB"));
        QCOMPARE(size(999999), std::string("1000.00 KB"));
        QCOMPARE(size(1000000), std::string("1.00 MB"));
        QCOMPARE(size(999999999), std::string("1000.00 MB"));
        QCOMPARE(size(1000000000), std::string("1.00 GB"));
        QCOMPARE(size(1500000000000ULL), std::string("1500.00 GB"));
    }

    void timesAreDaysHoursMinutesSeconds() {
        QCOMPARE(platform::getTimeFormStringForInterval(0), std::string("0:00:00:00"));
        QCOMPARE(platform::getTimeFormStringForInterval(3599), std::string("0:00:59:59"));
        QCOMPARE(platform::getTimeFormStringForInterval(3725), std::string("0:01:02:05"));
        QCOMPARE(platform::getTimeFormStringForInterval(86400), std::string("1:00:00:00"));
        QCOMPARE(platform::getTimeFormStringForInterval(1000000), std::string("11:13:46:40"));
        QCOMPARE(platform::getTimeFormStringForInterval(150.0 * 86400), std::string("150:00:00:00"));
    }

    // A scripted scan's dictionaries, delivered by the tick, show exactly
    // these texts; its last dictionary, sent directly, hands the tree over.
    void scriptedScanShowsTheDesignedTexts() {
        ProgramUnderTest p;
        FakeScan scan;
        p.delegate.setSelectedVolume(scan.volume);
        p.delegate.setMainScanStatus("Searching for deleted files from Backup");
        p.window.selectTabViewItemWithIdentifier("Progress");
        platform::scanRunningFlag() = true;
        int treeShown = 0;
        p.delegate.setTreeDisplayHook([&] { ++treeShown; });
        // The scan asks for the tick from its own thread.
        onWorker([&] { p.delegate.setUpTimer(); });
        QVERIFY(p.delegate.timerValid());
        auto* bar = p.widget<ProgressIndicator>("progress");

        scan.hand(Dict{{"Progress Type", 1},
                       {"Progress Status", "default"},
                       {"BarMinValue", 0ULL},
                       {"BarMaxValue", 8000000000000ULL},
                       {"BarDoubleValue", 2000000000000ULL},
                       {"Percent Done", 42},
                       {"Size Done", 999999999ULL},
                       {"Total Size", 1500000000000ULL},
                       {"TimeRemaining", "Calculating ..."},
                       {"Entries Found", 12},
                       {"Folders", 3},
                       {"Files", 9},
                       {"Data", 999999ULL}});
        QCOMPARE(text(p, "textFieldStatus"), QStringLiteral("Searching for deleted files from Backup"));
        QCOMPARE(text(p, "textFieldPercentDone"), QStringLiteral("Overall Progress: 42%"));
        QCOMPARE(text(p, "textFieldSizeDone"), QStringLiteral("Completed: 1000.00 MB / 1500.00 GB"));
        QCOMPARE(text(p, "timeRemainingTextFieldForTree"), QStringLiteral("Calculating ..."));
        QCOMPARE(text(p, "textFieldEntries"), QStringLiteral("12"));
        QCOMPARE(text(p, "textFieldFolders"), QStringLiteral("3"));
        QCOMPARE(text(p, "textFieldFiles"), QStringLiteral("9"));
        QCOMPARE(text(p, "textFieldData"), QStringLiteral("1000.00 KB"));
        QVERIFY(!bar->isIndeterminate());
        QCOMPARE(bar->value(), ProgressIndicator::kBarScale / 4);

        // Keys that are absent: time, share and size are cleared (the size
        // to one blank), the counts stay; a status other than "default"
        // follows the main status.
        scan.hand(Dict{{"Progress Status", "Reading catalog"},
                       {"Size Done", 5ULL},
                       {"Progress Type", 7},
                       {"BarIncrement", 2000000000000ULL}});
        QCOMPARE(text(p, "textFieldStatus"),
                 QStringLiteral("Searching for deleted files from Backup - Reading catalog"));
        QCOMPARE(text(p, "textFieldPercentDone"), QString());
        QCOMPARE(text(p, "timeRemainingTextFieldForTree"), QString());
        QCOMPARE(text(p, "textFieldSizeDone"), QStringLiteral(" "));
        QCOMPARE(text(p, "textFieldEntries"), QStringLiteral("12"));
        QVERIFY(!bar->isIndeterminate());
        QCOMPARE(bar->value(), ProgressIndicator::kBarScale / 2);

        scan.hand(Dict{{"Progress Type", 0}, {"Start Animation", true}, {"TimeRemaining", "0:01:02:05"}});
        QVERIFY(bar->isIndeterminate());
        QVERIFY(bar->isAnimating());
        QCOMPARE(text(p, "timeRemainingTextFieldForTree"), QStringLiteral("0:01:02:05"));

        // A dictionary that was handed is shown once: with the flag off the
        // tick does nothing.
        p.widget<QLabel>("textFieldEntries")->setText("untouched");
        QTest::qWait(1300);
        QCOMPARE(text(p, "textFieldEntries"), QStringLiteral("untouched"));

        // The scan's last dictionary goes to the display directly.
        p.widget<BusyIndicator>("scanningProgressIndicator")->startAnimation();
        onWorker([&] {
            platform::appController()->updateProgress(
                Dict{{"Progress Status", "Tree Completed ..."}, {"Tree Complete", true}, {"Stop Animation", true}});
            platform::appController()->invalidateTimer();
        });
        QCOMPARE(treeShown, 1);
        QVERIFY(!platform::scanRunningFlag());
        QVERIFY(!bar->isAnimating());
        QVERIFY(!p.widget<BusyIndicator>("scanningProgressIndicator")->isAnimating());
        QCOMPARE(text(p, "textFieldStatus"),
                 QStringLiteral("Searching for deleted files from Backup - Tree Completed ..."));
        QVERIFY(p.delegate.stopElapsedTimeThread());
        QVERIFY(!p.delegate.timerValid());
        QVERIFY(p.delegate.dirRootTemp() == scan.volume->dirRoot);
    }

    void treeCompleteShowsTheTreeScreenWithoutAHook() {
        ProgramUnderTest p;
        p.window.selectTabViewItemWithIdentifier("Progress");
        p.delegate.updateProgress(Dict{{"Tree Complete", true}});
        QCOMPARE(p.window.selectedIdentifier(), QStringLiteral("Tree"));
    }

    void lostVolumeSearchShowsTheDesignedTexts() {
        ProgramUnderTest p;
        auto drive = std::make_shared<DMedia>();
        p.delegate.setSelectedDrive(drive);
        p.window.selectTabViewItemWithIdentifier("PT scan prog");
        platform::scanRunningFlag() = true;
        int listShown = 0;
        p.delegate.setPTScanListHook([&] { ++listShown; });
        onWorker([&] { p.delegate.setUpTimerForDMedia(); });
        QTRY_VERIFY(p.delegate.timerValid());

        drive->dataUpdate = Dict{{"Progress Status", "x"},       {"Time Remaining For SubTask", "0:00:00:35"},
                                 {"Start Animation", true},      {"BarMinValue", 0},
                                 {"BarMaxValue", 1000},          {"BarDoubleValue", 250},
                                 {"TimeRemaining", "0:00:21:03"}};
        drive->setTimerFireMethodCanRun(true);
        QTRY_VERIFY_WITH_TIMEOUT(!drive->timerFireMethodCanRun(), 3000);
        QCOMPARE(text(p, "pleaseWaitForValidatingVolumeTextField"), QStringLiteral("Time Remaining (Sub Task):"));
        QCOMPARE(text(p, "textFieldETAValidityScan"), QStringLiteral("0:00:00:35"));
        QCOMPARE(text(p, "textFieldETAScanForVolumes"), QStringLiteral("0:00:21:03"));
        QVERIFY(p.widget<BusyIndicator>("progressIndicatorScanForVolumesValidityScan")->isAnimating());
        auto* bar = p.widget<ProgressIndicator>("progressIndicatorScanForVolumes");
        QCOMPARE(bar->value(), ProgressIndicator::kBarScale / 4);

        // Without "Progress Status" the label goes, even with a sub-task
        // time; an absent "TimeRemaining" leaves its text.
        drive->dataUpdate =
            Dict{{"Time Remaining For SubTask", "0:00:00:10"}, {"BarIncrement", 250}, {"Stop Animation", true}};
        drive->setTimerFireMethodCanRun(true);
        QTRY_VERIFY_WITH_TIMEOUT(!drive->timerFireMethodCanRun(), 3000);
        QCOMPARE(text(p, "pleaseWaitForValidatingVolumeTextField"), QString());
        QCOMPARE(text(p, "textFieldETAValidityScan"), QStringLiteral("0:00:00:10"));
        QCOMPARE(text(p, "textFieldETAScanForVolumes"), QStringLiteral("0:00:21:03"));
        QVERIFY(!p.widget<BusyIndicator>("progressIndicatorScanForVolumesValidityScan")->isAnimating());
        QCOMPARE(bar->value(), ProgressIndicator::kBarScale / 2);

        // A found volume appears in the live list at once.
        Array& rows = *p.delegate.volumeScanArgument()[1].array();
        rows.push_back(Dict{{"Found Column", "Volume at 2048"}, {"Validity Column", Array{Value(96)}}});
        rows.push_back(Dict{{"Found Column", "Volume at 409640"}, {"Validity Column", Array{Value(130)}}});
        onWorker([&] { p.delegate.updateVolumeScanProgress(Dict{{"Volumes Found", true}}); });
        auto* table = p.widget<QTableWidget>("tableViewScanForVolumes");
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("Volume at 2048"));
        QCOMPARE(table->item(0, 1)->data(Qt::UserRole).toInt(), 96);
        QVERIFY(!table->item(0, 1)->data(Qt::DecorationRole).value<QPixmap>().isNull());
        QCOMPARE(table->item(1, 1)->text(), QStringLiteral("130"));

        onWorker([&] { p.delegate.updateVolumeScanProgress(Dict{{"Scan Complete", true}}); });
        QCOMPARE(listShown, 1);
        QVERIFY(!platform::scanRunningFlag());
        p.delegate.invalidateTimer();
    }

    void elapsedTimeCountsFromTheScanStart() {
        ProgramUnderTest p;
        p.delegate.setScanStartDate(QDateTime::currentDateTime().addSecs(-3725));
        p.delegate.startElapsedTimeThread();
        QTRY_VERIFY_WITH_TIMEOUT(text(p, "textFieldScanTimeElapsed").startsWith(QStringLiteral("0:01:02:0")), 3000);
        p.delegate.setStopElapsedTimeThread(true);
        QTest::qWait(1200);
        p.widget<QLabel>("textFieldScanTimeElapsed")->setText("stopped");
        QTest::qWait(1200);
        QCOMPARE(text(p, "textFieldScanTimeElapsed"), QStringLiteral("stopped"));
    }
};

QTEST_MAIN(ProgressDisplayTest)
#include "ProgressDisplayTest.moc"
