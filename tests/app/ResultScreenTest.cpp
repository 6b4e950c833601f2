#include "AppTestSupport.h"
#include "app/TreeScreenController.h"
#include "platform/ProcessFlags.h"
#include "results/ResultText.h"
#include "results/qt/ResultOutlineModel.h"
#include "scan/ScanThread.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/TreeCleanup.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTreeView>
#include <QtTest>

using platform::Array;
using platform::Dict;

namespace {

std::shared_ptr<Volume> xorrisoVolume() {
    const auto iso = testsupport::xorrisoImage();
    return iso ? testsupport::volumeOver(iso.path, iso.start) : nullptr;
}

// The program after a real scan of the xorriso volume: the scan runs on a
// worker with the program as its controller, and its "Tree Complete" shows
// the tree.
struct ScannedProgram {
    ProgramUnderTest p;
    TreeScreenController* controller = TreeScreenController::install(p.delegate);
    std::shared_ptr<Volume> volume = xorrisoVolume();
    QString alertTitle, alertMessage;

    bool scan() {
        if (!volume) return false;
        p.delegate.setSelectedVolume(volume);
        platform::scanRunningFlag() = true;
        p.window.selectTabViewItemWithIdentifier("Progress");
        // Chosen from the drives list: a scan of the disk ends with its alert.
        AlertAnswerer answer(QStringLiteral("OK"));
        std::shared_ptr<Volume> v = volume;
        onWorker([v] { ScanThread(v).startMakingTree(Array{"Normal Scan", 0}); });
        // The scan's last post reaches the main thread after the scan ended.
        for (int i = 0; i < 1000 && !answer.answered(); ++i)
            QTest::qWait(10);
        alertTitle = answer.title();
        alertMessage = answer.message();
        return true;
    }
    ResultOutlineModel* model() const { return controller->model(); }
    QModelIndex rootIndex() const { return model()->index(0, 0); }
    // Runs one action that ends on a worker and waits for its end.
    template <class F> void andWait(const char* signal, F action) {
        QSignalSpy done(controller, signal);
        action();
        QVERIFY(done.wait(10000) || done.count() > 0);
    }
    void click(const char* button) { p.widget<QAbstractButton>(button)->click(); }
    // Presses a toggle and waits for the tree it shows.
    void toggle(const char* button) {
        andWait(SIGNAL(treeShown()), [&] { click(button); });
    }
};

// A small finished tree with deleted entries, as a scan hands it over.
std::shared_ptr<Volume> builtVolume() {
    auto v = std::make_shared<Volume>();
    NewDir* root = v->createRoot();
    NewDir* photos = addNode(root, u"Photos", NewDir::Folder, 0, false);
    addNode(photos, u"a.jpg", NewDir::File, 1000, false);
    addNode(photos, u"b.jpg", NewDir::File, 2000, true);
    NewDir* old = addNode(photos, u"old", NewDir::Folder, 0, false);
    addNode(old, u"c.JPG", NewDir::File, 3000, true);
    addNode(root, u"notes.txt", NewDir::File, 10, false);
    TreeCleanup::rearrangeTreeFromDir(root);
    TreeCleanup::rearrangeDeletedTree(root);
    newdir::fillChildrenDirectArrays(root);
    return v;
}

} // namespace

class ResultScreenTest : public QObject {
    Q_OBJECT
private slots:
    // The tree of a finished scan on the tree screen: its marks, the
    // toggles switching the view on a worker and back, a find stepping
    // through the matches, and going back.
    void aFinishedScanShowsItsTreeOnTheTreeScreen() {
        ScannedProgram s;
        if (!s.scan()) QSKIP("xorriso image not made");
        QCOMPARE(s.alertTitle, QStringLiteral("Deleted file scan completed"));
        QCOMPARE(s.p.window.selectedIdentifier(), QStringLiteral("Tree"));
        QVERIFY(s.volume->dirRoot && s.p.delegate.dirRootTemp() == s.volume->dirRoot);
        QCOMPARE(s.rootIndex().data().toString(), QStringLiteral("Root"));
        QVERIFY(s.model()->rowCount(s.rootIndex()) > 0 && s.controller->outline()->isExpanded(s.rootIndex()));
        QCOMPARE(s.p.text("textFieldTotalData").toStdString(),
                 ResultText::dataInFilesString(s.volume->dirRoot->fileSize, s.volume->dirRoot->fileCount));
        QCOMPARE(s.p.texts({"textFieldMarkedData", "buttonTreeFileTypesToggle", "buttonTreeShowDeleted"}),
                 (QStringList{"0 KB in 0 Files", "File Types View", "Show Deleted"}));
        for (const char* name :
             {"markAllButton", "unmarkAllButton", "prevButton", "nextButton", "previewButton", "saveButton"})
            QVERIFY2(!s.p.enabled(name), name);
        QVERIFY(s.p.enabled("saveScanButton"));

        // Marking the root through its check box marks everything.
        const QModelIndex box = s.rootIndex().siblingAtColumn(ResultOutlineModel::MarkColumn);
        QVERIFY(s.model()->setData(box, Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(s.p.text("textFieldMarkedData"), s.p.text("textFieldTotalData"));
        QVERIFY(s.p.enabled("saveButton"));
        QVERIFY(s.model()->setData(box, Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(!s.p.enabled("saveButton"));

        // While a save runs the marks stay as they are.
        s.p.delegate.setScanInfoOrSavingNotProcessing(false);
        AlertAnswerer refused(QStringLiteral("OK"));
        QVERIFY(!s.model()->setData(box, Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(refused.title(), QStringLiteral("Process Running"));
        QCOMPARE(s.volume->dirRoot->selected, 0);
        s.p.delegate.setScanInfoOrSavingNotProcessing(true);

        const int folderRows = s.model()->rowCount(s.rootIndex());
        s.toggle("buttonTreeFileTypesToggle");
        QCOMPARE(s.p.text("buttonTreeFileTypesToggle"), QStringLiteral("Data  View"));
        QVERIFY(s.p.enabled("buttonTreeFileTypesToggle"));
        NewDir* fileTypesRoot = s.controller->displayedTree()->dirRootFileTypes;
        QVERIFY(fileTypesRoot && s.p.delegate.dirRootTemp() == fileTypesRoot);
        // Extension folders show their file count after the name.
        const QModelIndex firstType = s.model()->index(0, 0, s.rootIndex());
        QVERIFY(firstType.data().toString().endsWith(QStringLiteral("[%1]").arg(s.model()->rowCount(firstType))));
        s.toggle("buttonTreeShowDeleted");
        QCOMPARE(s.p.text("buttonTreeShowDeleted"), QStringLiteral("Show  All"));
        s.toggle("buttonTreeFileTypesToggle");
        s.toggle("buttonTreeShowDeleted");
        QCOMPARE(s.p.texts({"buttonTreeFileTypesToggle", "buttonTreeShowDeleted"}),
                 (QStringList{"File Types View", "Show Deleted"}));
        QCOMPARE(s.model()->rowCount(s.rootIndex()), folderRows);

        // Find fields show their titles as placeholders: nothing to delete before typing.
        auto* field = s.p.widget<QLineEdit>("findField");
        auto* types = s.p.widget<QLineEdit>("findFTSearchField");
        QVERIFY(field->text().isEmpty() && field->placeholderText() == "Find" && types->text().isEmpty());
        QCOMPARE(types->placeholderText(), QStringLiteral("Find (type e.g. mp3 and press return)"));
        field->setText(QStringLiteral("leaf1"));
        QMetaObject::invokeMethod(field, "returnPressed");
        QTRY_VERIFY_WITH_TIMEOUT(
            s.p.text("findTextField").endsWith(QStringLiteral("Matches Found")) && s.p.enabled("nextButton"), 10000);
        const auto find = s.controller->treeFind();
        const std::size_t found = find->findArrayCount();
        QVERIFY(found > 1);
        QCOMPARE(s.p.text("findTextField"), QStringLiteral("%1 Matches Found").arg(found));
        QVERIFY(s.p.enabled("markAllButton") && !s.p.enabled("unmarkAllButton"));
        auto selected = [&] { return s.controller->selectedItem() ? s.controller->selectedItem()->newDir() : nullptr; };
        s.click("nextButton");
        QCOMPARE(s.p.text("findTextFieldSelectedIndex"), QStringLiteral("1/%1 highlighted").arg(found));
        QCOMPARE(selected(), find->foundNode(0));
        s.click("nextButton");
        QCOMPARE(selected(), find->foundNode(1));
        s.click("prevButton");
        QCOMPARE(selected(), find->foundNode(0));
        s.click("markAllButton");
        QVERIFY(!s.p.enabled("markAllButton") && s.p.enabled("unmarkAllButton"));
        QCOMPARE(s.volume->dirRoot->selected, 1);
        QVERIFY(s.p.enabled("saveButton"));
        s.click("unmarkAllButton");
        QCOMPARE(s.volume->dirRoot->selected, 0);
        QVERIFY(!s.p.enabled("saveButton"));

        // Going back frees the whole tree and the volume, and shows the
        // drives list of the recovery kind chosen.
        platform::scanRunningFlag() = false;
        s.p.delegate.setScanMode(platform::ScanMode::FastFiles);
        s.andWait(SIGNAL(treeFreed()), [&] {
            AlertAnswerer ok(QStringLiteral("OK"));
            s.controller->treeBackButtonClicked();
            QCOMPARE(ok.title(), QStringLiteral("Important Tip"));
        });
        QVERIFY(!s.p.delegate.selectedVolume() && !s.volume->dirRoot && !s.p.delegate.dirRootTemp());
        QCOMPARE(s.rootIndex().data().toString(), QStringLiteral("Loading..."));
        QCOMPARE(s.p.window.selectedIdentifier(), QStringLiteral("Drives List"));
        QCOMPARE(s.p.text("textFieldHeadingDriveListTab"), QStringLiteral("Please select volume to continue..."));
        QVERIFY(!s.p.widget<QWidget>("windowReturningTree")->isVisible());
        // A find left in the list is forgotten with the tree.
        QCOMPARE(s.controller->treeFind()->findArrayCount(), std::size_t(0));
    }

    void goingBackFromTheDeletedViewPutsTheListsBackAndFreesEverything() {
        ProgramUnderTest p;
        TreeScreenController* controller = TreeScreenController::install(p.delegate);
        auto volume = builtVolume();
        p.delegate.setSelectedVolume(volume);
        // Chosen from a partition list, after an advanced scan: no alert.
        p.delegate.setIsPTListOrPTScanListChosen(0);
        controller->showTree();
        QCOMPARE(p.window.selectedIdentifier(), QStringLiteral("Tree"));
        QCOMPARE(p.text("textFieldTotalData"), QStringLiteral("6.01 KB in 4 Files"));
        QSignalSpy shown(controller, SIGNAL(treeShown()));
        p.widget<QAbstractButton>("buttonTreeShowDeleted")->click();
        // The outline lets go of the tree while the worker changes it.
        QCOMPARE(controller->model()->index(0, 0).data().toString(), QStringLiteral("Loading..."));
        QVERIFY(shown.wait(10000));
        QCOMPARE(p.text("buttonTreeShowDeleted"), QStringLiteral("Show  All"));
        const QModelIndex root = controller->model()->index(0, 0);
        QCOMPARE(controller->model()->rowCount(root), 1);
        QCOMPARE(p.text("textFieldTotalData"), QStringLiteral("5.00 KB in 2 Files"));

        QSignalSpy freed(controller, SIGNAL(treeFreed()));
        controller->freeTree(false);
        QVERIFY(freed.wait(10000));
        QCOMPARE(qobject_cast<QLabel*>(p.delegate.element(QStringLiteral("textFieldReturningTree")))->text(),
                 QStringLiteral("Returning Tree to Original State. Please wait ..."));
        QVERIFY(!volume->dirRoot && !p.delegate.selectedVolume());
    }

    // A scan that could not read some sectors says how many at its end: a line of its own alert, or an alert
    // of its own where the scan has none. A resumed scan counts those its interrupted part lost too.
    void aScanThatLostSectorsSaysSoAtItsEnd() {
        for (const auto& [standard, resumed] : {std::pair{true, false}, {false, false}, {false, true}}) {
            ProgramUnderTest p;
            TreeScreenController* controller = TreeScreenController::install(p.delegate);
            auto volume = testsupport::volumeOver(testsupport::patternImage(64));
            // Listed, so that a failed read is a bad sector and not a drive that has gone.
            p.delegate.setDriveDictArray(Array{Dict{{"Path", volume->path()}}});
            testsupport::FailingReads bad;
            bad.failSectors(5, 2);
            volume->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
            std::vector<std::uint8_t> sectors(16 * 512);
            QCOMPARE(volume->readSectorRange(0, 16, sectors.data()), std::optional<std::uint64_t>(2));
            // Three below sector 4, where the resumed search went on.
            if (resumed) volume->lostBeforeResume = Volume::LostBeforeResume{4, 3};
            addNode(volume->createRoot(), u"a.jpg", NewDir::File, 1000, false);
            p.delegate.setSelectedVolume(volume);
            p.delegate.setIsPTListOrPTScanListChosen(standard ? 1 : 0);
            p.delegate.setTreeScanMode(standard ? platform::TreeScanMode::Standard : platform::TreeScanMode::Advanced);
            AlertAnswerer answer(QStringLiteral("OK"));
            controller->showTree();
            QCOMPARE(answer.title(), standard ? "Standard scan completed" : "! Sectors could not be read");
            QVERIFY(answer.message().contains(
                QStringLiteral(
                    "Sectors of the drive that could not be read, or lay in a bad area and were not read: %1.")
                    .arg(resumed ? 5 : 2)));
            // No catalog node was among them.
            QVERIFY(!answer.message().contains(QStringLiteral("Advance Scan")));
            // The tree shown goes with the program.
        }
    }

    // A card still listed that dies under the page cache part-way through its folders: the scan ends with what it
    // found, the result screen shows it and the count of sectors lost, and the program stays.
    void aScanOfADiskThatDiesWhileListedStaysOnScreen() {
        const std::filesystem::path dir = testsupport::makeTempDir("dying-card"), file = dir / "photo.bin";
        const std::filesystem::path image = testsupport::mkfsVfat(dir, "-F 16 -s 4", "20480");
        testsupport::writeText(file, testsupport::patternBytes(7, 400000));
        for (int d = 10; d < 22; ++d) {
            const std::string folder = "::/D" + std::to_string(d);
            testsupport::mtools(image, "mmd", folder);
            testsupport::mtools(image, "mcopy", testsupport::shellQuote(file.string()) + " " + folder + "/");
        }
        ProgramUnderTest p;
        TreeScreenController* controller = TreeScreenController::install(p.delegate);
        auto volume = testsupport::volumeOver(image, 0, 0, 512, "FAT16");
        p.delegate.setDriveDictArray(Array{Dict{{"Path", volume->path()}}});
        testsupport::FailingReads dying;
        dying.dieUnderThePageCacheAt(std::filesystem::file_size(image) / 512 / 8);
        volume->setRawRead(dying.reader(), {}, dying.pastEveryCacheReader());
        p.delegate.setSelectedVolume(volume);
        platform::scanRunningFlag() = true;
        p.window.selectTabViewItemWithIdentifier("Progress");
        // Every alert answered, the last one the scan's end.
        QStringList titles;
        QString message;
        QTimer answering;
        connect(&answering, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && !box->buttons().isEmpty()) {
                    titles << box->text();
                    message = box->informativeText();
                    box->buttons().front()->click();
                }
        });
        answering.start(20);
        onWorker([volume] { ScanThread(volume).startMakingTree(Array{"Normal Scan", 0}); });
        QTRY_VERIFY2_WITH_TIMEOUT(titles.contains(QStringLiteral("Deleted file scan completed")),
                                  qPrintable(titles.join("|")), 10000);
        QVERIFY(message.contains(
            QStringLiteral("Sectors of the drive that could not be read, or lay in a bad area and were not read: ")));
        QVERIFY(!titles.contains(QStringLiteral("! Error")));
        QVERIFY(!volume->mediumGone() && volume->unreadableSectorCount() > 0);
        QCOMPARE(p.window.selectedIdentifier(), QStringLiteral("Tree"));
        QVERIFY(p.delegate.selectedVolume() == volume && p.delegate.dirRootTemp() == volume->dirRoot);
        QVERIFY(controller->model()->rowCount(controller->model()->index(0, 0)) > 0);
        QVERIFY(p.enabled("saveScanButton"));
        QVERIFY(dying.failedReads() > 0 && dying.failedReads() < 60);
    }

    // A Standard scan of a disk that fails one node of the volume's catalog, the index root or a leaf: its end
    // counts the sectors and points to the advanced scan, which searches the whole volume for catalog records.
    void aStandardScanThatLostCatalogNodesPointsToTheAdvancedScan() {
        const auto image = testsupport::smallXorrisoImage();
        if (!image) QSKIP("xorriso is missing");
        auto sound = testsupport::volumeOver(image.path, image.start);
        {
            testsupport::ControllerScope scope;
            ScanThread(sound).startMakingTree(Array{"Normal Scan", 0});
        }
        for (const std::uint32_t node : {sound->catRootNode, sound->firstLeafNode}) {
            ScannedProgram s;
            s.volume = testsupport::volumeOver(image.path, image.start);
            testsupport::FailingReads bad;
            bad.failSectors(testsupport::catalogNodeSector(*sound, node), 8);
            s.volume->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
            // Listed, so that a failed read is a bad sector and not a drive that has gone.
            s.p.delegate.setDriveDictArray(Array{Dict{{"Path", s.volume->path()}}});
            s.p.delegate.setIsPTListOrPTScanListChosen(1);
            s.p.delegate.setTreeScanMode(platform::TreeScanMode::Standard);
            QVERIFY(s.scan());
            QCOMPARE(s.alertTitle, QStringLiteral("Standard scan completed"));
            QVERIFY2(
                s.alertMessage.endsWith(QStringLiteral(
                    "Sectors of the drive that could not be read, or lay in a bad area and were not read: 8. The scan "
                    "took them as zeros: entries and "
                    "files that lay on them may be missing or damaged. Please try Advance Scan for tree on the "
                    "desired volume.")),
                qPrintable(s.alertMessage));
            // The tree shown goes with the program.
        }
        sound->freeTree();
    }

    void aTreeStillShownWhenTheProgramEndsGoesWithIt() {
        ProgramUnderTest p;
        TreeScreenController* controller = TreeScreenController::install(p.delegate);
        auto volume = builtVolume();
        p.delegate.setSelectedVolume(volume);
        p.delegate.setIsPTListOrPTScanListChosen(1);
        controller->showTree();
        QSignalSpy shown(controller, SIGNAL(treeShown()));
        p.widget<QAbstractButton>("buttonTreeFileTypesToggle")->click();
        QVERIFY(shown.wait(10000));
        const QModelIndex root = controller->model()->index(0, 0);
        QCOMPARE(controller->model()->index(0, 0, root).data().toString(), QStringLiteral("jpg[2]"));
        QCOMPARE(controller->model()->index(1, 0, root).data().toString(), QStringLiteral("JPG[1]"));
        // The sanitizer build's leak check at exit sees what is left.
    }
};

QTEST_MAIN(ResultScreenTest)
#include "ResultScreenTest.moc"
