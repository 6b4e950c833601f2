#include "AppTestSupport.h"
#include "app/TreeScreenController.h"
#include "platform/ProcessFlags.h"
#include "results/ResultText.h"
#include "results/qt/ResultOutlineModel.h"
#include "scan/ScanThread.h"
#include "support/ScanHelpers.h"

#include <QLabel>
#include <QLineEdit>
#include <QTreeView>
#include <QtTest>

using platform::Array;
using platform::Dict;

namespace {

std::shared_ptr<Volume> xorrisoVolume() {
    const auto iso = testsupport::xorrisoImage();
    return iso ? testsupport::volumeOver(iso.path, iso.start) : nullptr;
}

QString text(ProgramUnderTest& p, const char* name) {
    QWidget* w = p.window.findChild<QWidget*>(QString::fromLatin1(name));
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    return {};
}

bool enabled(ProgramUnderTest& p, const char* name) {
    QWidget* w = p.window.findChild<QWidget*>(QString::fromLatin1(name));
    return w && w->isEnabled();
}

// The program after a real scan of the xorriso volume: the scan runs on a
// worker with the program as its controller, and its "Tree Complete" shows
// the tree.
struct ScannedProgram {
    ProgramUnderTest p;
    TreeScreenController* controller = TreeScreenController::install(p.delegate);
    std::shared_ptr<Volume> volume = xorrisoVolume();
    QString alertTitle;

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
    v->rearrangeTreeFromDir(root);
    v->rearrangeDeletedTree(root);
    v->fillChildrenDirectArrays(root);
    return v;
}

} // namespace

class ResultScreenTest : public QObject {
    Q_OBJECT
private slots:
    void aFinishedScanShowsItsTreeOnTheTreeScreen() {
        ScannedProgram s;
        if (!s.scan()) QSKIP("xorriso image not made");
        QCOMPARE(s.alertTitle, QStringLiteral("Deleted file scan completed"));
        QCOMPARE(s.p.window.selectedIdentifier(), QStringLiteral("Tree"));
        QVERIFY(s.volume->dirRoot);
        QVERIFY(s.p.delegate.dirRootTemp() == s.volume->dirRoot);
        QCOMPARE(s.rootIndex().data().toString(), QStringLiteral("Root"));
        QVERIFY(s.model()->rowCount(s.rootIndex()) > 0);
        QVERIFY(s.controller->outline()->isExpanded(s.rootIndex()));
        QCOMPARE(text(s.p, "textFieldTotalData").toStdString(),
                 ResultText::dataInFilesString(s.volume->dirRoot->fileSize, s.volume->dirRoot->fileCount));
        QCOMPARE(text(s.p, "textFieldMarkedData"), QStringLiteral("0 KB in 0 Files"));
        QCOMPARE(text(s.p, "buttonTreeFileTypesToggle"), QStringLiteral("File Types View"));
        QCOMPARE(text(s.p, "buttonTreeShowDeleted"), QStringLiteral("Show Deleted"));
        for (const char* name :
             {"markAllButton", "unmarkAllButton", "prevButton", "nextButton", "previewButton", "saveButton"})
            QVERIFY2(!enabled(s.p, name), name);
        QVERIFY(enabled(s.p, "saveScanButton"));

        // Marking the root through its check box marks everything.
        const QModelIndex box = s.rootIndex().siblingAtColumn(ResultOutlineModel::MarkColumn);
        QVERIFY(s.model()->setData(box, Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(text(s.p, "textFieldMarkedData"), text(s.p, "textFieldTotalData"));
        QVERIFY(enabled(s.p, "saveButton"));
        QVERIFY(s.model()->setData(box, Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(!enabled(s.p, "saveButton"));

        // While a save runs the marks stay as they are.
        s.p.delegate.setScanInfoOrSavingNotProcessing(false);
        AlertAnswerer refused(QStringLiteral("OK"));
        QVERIFY(!s.model()->setData(box, Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(refused.title(), QStringLiteral("Process Running"));
        QCOMPARE(s.volume->dirRoot->selected, 0);
        s.p.delegate.setScanInfoOrSavingNotProcessing(true);

        // Going back frees the whole tree and the volume, and shows the
        // drives list of the recovery kind chosen.
        platform::scanRunningFlag() = false;
        s.p.delegate.setScanMode(0);
        s.andWait(SIGNAL(treeFreed()), [&] {
            AlertAnswerer ok(QStringLiteral("OK"));
            s.controller->treeBackButtonClicked();
            QCOMPARE(ok.title(), QStringLiteral("Important Tip"));
        });
        QVERIFY(!s.p.delegate.selectedVolume());
        QCOMPARE(s.volume->dirRoot, static_cast<NewDir*>(nullptr));
        QCOMPARE(s.rootIndex().data().toString(), QStringLiteral("Loading..."));
        QVERIFY(!s.p.delegate.dirRootTemp());
        QCOMPARE(s.p.window.selectedIdentifier(), QStringLiteral("Drives List"));
        QCOMPARE(text(s.p, "textFieldHeadingDriveListTab"), QStringLiteral("Please select volume to continue..."));
        QVERIFY(!s.p.widget<QWidget>("windowReturningTree")->isVisible());
    }

    void theTogglesSwitchTheViewOnAWorkerAndBack() {
        ScannedProgram s;
        if (!s.scan()) QSKIP("xorriso image not made");
        const int folderRows = s.model()->rowCount(s.rootIndex());
        s.andWait(SIGNAL(treeShown()), [&] { s.p.widget<QAbstractButton>("buttonTreeFileTypesToggle")->click(); });
        QCOMPARE(text(s.p, "buttonTreeFileTypesToggle"), QStringLiteral("Data  View"));
        QVERIFY(enabled(s.p, "buttonTreeFileTypesToggle"));
        NewDir* fileTypesRoot = s.controller->displayedTree()->dirRootFileTypes;
        QVERIFY(fileTypesRoot);
        QVERIFY(s.p.delegate.dirRootTemp() == fileTypesRoot);
        // Extension folders show their file count after the name.
        const QModelIndex firstType = s.model()->index(0, 0, s.rootIndex());
        QVERIFY(firstType.data().toString().endsWith(QStringLiteral("[%1]").arg(s.model()->rowCount(firstType))));

        s.andWait(SIGNAL(treeShown()), [&] { s.p.widget<QAbstractButton>("buttonTreeShowDeleted")->click(); });
        QCOMPARE(text(s.p, "buttonTreeShowDeleted"), QStringLiteral("Show  All"));
        s.andWait(SIGNAL(treeShown()), [&] { s.p.widget<QAbstractButton>("buttonTreeFileTypesToggle")->click(); });
        s.andWait(SIGNAL(treeShown()), [&] { s.p.widget<QAbstractButton>("buttonTreeShowDeleted")->click(); });
        QCOMPARE(text(s.p, "buttonTreeFileTypesToggle"), QStringLiteral("File Types View"));
        QCOMPARE(text(s.p, "buttonTreeShowDeleted"), QStringLiteral("Show Deleted"));
        QCOMPARE(s.model()->rowCount(s.rootIndex()), folderRows);

        s.andWait(SIGNAL(treeFreed()), [&] { s.controller->freeTree(false); });
        QCOMPARE(s.volume->dirRoot, static_cast<NewDir*>(nullptr));
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
        QCOMPARE(text(p, "textFieldTotalData"), QStringLiteral("6.01 KB in 4 Files"));
        QSignalSpy shown(controller, SIGNAL(treeShown()));
        p.widget<QAbstractButton>("buttonTreeShowDeleted")->click();
        // The outline lets go of the tree while the worker changes it.
        QCOMPARE(controller->model()->index(0, 0).data().toString(), QStringLiteral("Loading..."));
        QVERIFY(shown.wait(10000));
        QCOMPARE(text(p, "buttonTreeShowDeleted"), QStringLiteral("Show  All"));
        const QModelIndex root = controller->model()->index(0, 0);
        QCOMPARE(controller->model()->rowCount(root), 1);
        QCOMPARE(text(p, "textFieldTotalData"), QStringLiteral("5.00 KB in 2 Files"));

        QSignalSpy freed(controller, SIGNAL(treeFreed()));
        controller->freeTree(false);
        QVERIFY(freed.wait(10000));
        QCOMPARE(qobject_cast<QLabel*>(p.delegate.element(QStringLiteral("textFieldReturningTree")))->text(),
                 QStringLiteral("Returning Tree to Original State. Please wait ..."));
        QCOMPARE(volume->dirRoot, static_cast<NewDir*>(nullptr));
        QVERIFY(!p.delegate.selectedVolume());
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

    void findStepsThroughTheMatchesInTheOutline() {
        ScannedProgram s;
        if (!s.scan()) QSKIP("xorriso image not made");
        auto* field = s.p.widget<QLineEdit>("findField");
        field->setText(QStringLiteral("leaf1"));
        QMetaObject::invokeMethod(field, "returnPressed");
        QTRY_VERIFY_WITH_TIMEOUT(
            text(s.p, "findTextField").endsWith(QStringLiteral("Matches Found")) && enabled(s.p, "nextButton"), 10000);
        const std::size_t found = s.controller->treeFind()->findArrayCount();
        QVERIFY(found > 1);
        QCOMPARE(text(s.p, "findTextField"), QStringLiteral("%1 Matches Found").arg(found));
        QVERIFY(enabled(s.p, "markAllButton"));
        QVERIFY(!enabled(s.p, "unmarkAllButton"));
        s.p.widget<QAbstractButton>("nextButton")->click();
        QCOMPARE(text(s.p, "findTextFieldSelectedIndex"), QStringLiteral("1/%1 highlighted").arg(found));
        NewDirViewHelper* selected = s.controller->selectedItem();
        QVERIFY(selected);
        QCOMPARE(selected->newDir(), s.controller->treeFind()->foundNode(0));
        s.p.widget<QAbstractButton>("nextButton")->click();
        QCOMPARE(s.controller->selectedItem()->newDir(), s.controller->treeFind()->foundNode(1));
        s.p.widget<QAbstractButton>("prevButton")->click();
        QCOMPARE(s.controller->selectedItem()->newDir(), s.controller->treeFind()->foundNode(0));

        s.p.widget<QAbstractButton>("markAllButton")->click();
        QVERIFY(!enabled(s.p, "markAllButton"));
        QVERIFY(enabled(s.p, "unmarkAllButton"));
        QVERIFY(s.volume->dirRoot->selected == 1);
        s.p.widget<QAbstractButton>("unmarkAllButton")->click();
        QVERIFY(s.volume->dirRoot->selected == 0);

        // A find left in the list is forgotten with the tree.
        s.andWait(SIGNAL(treeFreed()), [&] { s.controller->freeTree(false); });
        QCOMPARE(s.controller->treeFind()->findArrayCount(), std::size_t(0));
    }
};

QTEST_MAIN(ResultScreenTest)
#include "ResultScreenTest.moc"
