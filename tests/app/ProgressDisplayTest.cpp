#include "AppTestSupport.h"
#include "app/BusyIndicator.h"
#include "app/ProgressIndicator.h"
#include "media/DMedia.h"
#include "platform/ProcessFlags.h"
#include "volume/Volume.h"

#include <QLabel>
#include <QTableWidget>
#include <QtTest>

using platform::Array;
using platform::Dict;
using platform::Value;

namespace {

// A scan as the engine runs it: it fills the volume's (or the drive's)
// progress dictionary only while the hand-over flag is off, turns the flag
// on, and lets the once-a-second tick deliver it.
template <class Scanned> void hand(Scanned& scanned, Dict progress) {
    QVERIFY(!scanned.timerFireMethodCanRun());
    scanned.dataUpdate = std::move(progress);
    scanned.setTimerFireMethodCanRun(true);
    // The tick takes it within about a second and turns the flag off.
    QTRY_VERIFY_WITH_TIMEOUT(!scanned.timerFireMethodCanRun(), 3000);
}

} // namespace

class ProgressDisplayTest : public QObject {
    Q_OBJECT
private slots:
    // A scripted scan's dictionaries, delivered by the tick, show exactly
    // these texts; its last dictionary, sent directly, hands the tree over.
    void scriptedScanShowsTheDesignedTexts() {
        ProgramUnderTest p;
        auto volume = std::make_shared<Volume>();
        p.delegate.setSelectedVolume(volume);
        p.delegate.setMainScanStatus("Searching for deleted files from Backup");
        p.window.selectTabViewItemWithIdentifier("Progress");
        platform::scanRunningFlag() = true;
        int treeShown = 0;
        p.delegate.setTreeDisplayHook([&] { ++treeShown; });
        // The scan asks for the tick from its own thread.
        onWorker([&] { p.delegate.setUpTimer(); });
        QVERIFY(p.delegate.timerValid());
        auto* bar = p.widget<ProgressIndicator>("progress");

        hand(*volume, Dict{{"Progress Type", 1},
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
        const auto fields = {
            "textFieldStatus",  "textFieldPercentDone", "textFieldSizeDone", "timeRemainingTextFieldForTree",
            "textFieldEntries", "textFieldFolders",     "textFieldFiles",    "textFieldData"};
        QCOMPARE(p.texts(fields),
                 (QStringList{"Searching for deleted files from Backup", "Overall Progress: 42%",
                              "Completed: 1000.00 MB / 1500.00 GB", "Calculating ...", "12", "3", "9", "1000.00 KB"}));
        QCOMPARE(std::pair(bar->isIndeterminate(), bar->value()), std::pair(false, ProgressIndicator::kBarScale / 4));

        // Keys that are absent: time, share and size are cleared (the size
        // to one blank), the counts stay; a status other than "default"
        // follows the main status.
        hand(*volume, Dict{{"Progress Status", "Reading catalog"},
                           {"Size Done", 5ULL},
                           {"Progress Type", 7},
                           {"BarIncrement", 2000000000000ULL}});
        QCOMPARE(p.texts(fields), (QStringList{"Searching for deleted files from Backup - Reading catalog", "", " ", "",
                                               "12", "3", "9", "1000.00 KB"}));
        QCOMPARE(std::pair(bar->isIndeterminate(), bar->value()), std::pair(false, ProgressIndicator::kBarScale / 2));

        hand(*volume, Dict{{"Progress Type", 0}, {"Start Animation", true}, {"TimeRemaining", "0:01:02:05"}});
        QVERIFY(bar->isIndeterminate() && bar->isAnimating());
        QCOMPARE(p.text("timeRemainingTextFieldForTree"), QStringLiteral("0:01:02:05"));

        // A dictionary that was handed is shown once: with the flag off the
        // tick does nothing.
        p.widget<QLabel>("textFieldEntries")->setText("untouched");
        QTest::qWait(1300);
        QCOMPARE(p.text("textFieldEntries"), QStringLiteral("untouched"));

        // The scan's last dictionary goes to the display directly.
        p.widget<BusyIndicator>("scanningProgressIndicator")->startAnimation();
        onWorker([&] {
            platform::appController()->updateProgress(
                Dict{{"Progress Status", "Tree Completed ..."}, {"Tree Complete", true}, {"Stop Animation", true}});
            platform::appController()->invalidateTimer();
        });
        QCOMPARE(treeShown, 1);
        QVERIFY(!platform::scanRunningFlag());
        QVERIFY(!bar->isAnimating() && !p.widget<BusyIndicator>("scanningProgressIndicator")->isAnimating());
        QCOMPARE(p.text("textFieldStatus"),
                 QStringLiteral("Searching for deleted files from Backup - Tree Completed ..."));
        QVERIFY(p.delegate.stopElapsedTimeThread() && !p.delegate.timerValid());
        QVERIFY(p.delegate.dirRootTemp() == volume->dirRoot);
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

        hand(*drive, Dict{{"Progress Status", "x"},
                          {"Time Remaining For SubTask", "0:00:00:35"},
                          {"Start Animation", true},
                          {"BarMinValue", 0},
                          {"BarMaxValue", 1000},
                          {"BarDoubleValue", 250},
                          {"TimeRemaining", "0:00:21:03"}});
        const auto fields = {"pleaseWaitForValidatingVolumeTextField", "textFieldETAValidityScan",
                             "textFieldETAScanForVolumes"};
        QCOMPARE(p.texts(fields), (QStringList{"Time Remaining (Sub Task):", "0:00:00:35", "0:00:21:03"}));
        auto* busy = p.widget<BusyIndicator>("progressIndicatorScanForVolumesValidityScan");
        auto* bar = p.widget<ProgressIndicator>("progressIndicatorScanForVolumes");
        QCOMPARE(std::pair(busy->isAnimating(), bar->value()), std::pair(true, ProgressIndicator::kBarScale / 4));

        // Without "Progress Status" the label goes, even with a sub-task
        // time; an absent "TimeRemaining" leaves its text.
        hand(*drive,
             Dict{{"Time Remaining For SubTask", "0:00:00:10"}, {"BarIncrement", 250}, {"Stop Animation", true}});
        QCOMPARE(p.texts(fields), (QStringList{"", "0:00:00:10", "0:00:21:03"}));
        QCOMPARE(std::pair(busy->isAnimating(), bar->value()), std::pair(false, ProgressIndicator::kBarScale / 2));

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
        QTRY_VERIFY_WITH_TIMEOUT(p.text("textFieldScanTimeElapsed").startsWith(QStringLiteral("0:01:02:0")), 3000);
        p.delegate.setStopElapsedTimeThread(true);
        QTest::qWait(1200);
        p.widget<QLabel>("textFieldScanTimeElapsed")->setText("stopped");
        QTest::qWait(1200);
        QCOMPARE(p.text("textFieldScanTimeElapsed"), QStringLiteral("stopped"));
    }
};

QTEST_MAIN(ProgressDisplayTest)
#include "ProgressDisplayTest.moc"
