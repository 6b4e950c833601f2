#include "results/qt/ResultOutlineModel.h"

#include "AppTestSupport.h"
#include "results/CheckController.h"
#include "results/DisplayedTree.h"
#include "results/ResultText.h"
#include "results/TreeArrangement.h"
#include "results/qt/OutlineCell.h"
#include "results/qt/OutlineImageCell.h"
#include "results/qt/TableViewImageCell.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/TreeCleanup.h"

#include <QAbstractItemModelTester>
#include <QTreeView>
#include <QtTest>

using Toggle = TreeArrangement::Toggle;

namespace {

// A tree with deleted entries, cleaned up as a scan leaves it.
std::shared_ptr<Volume> builtVolume() {
    auto v = std::make_shared<Volume>();
    NewDir* root = v->createRoot();
    NewDir* docs = addNode(root, u"Documents", NewDir::Folder, 0, false);
    addNode(docs, u"a.txt", NewDir::File, 10, false);
    addNode(docs, u"b.txt", NewDir::File, 20, true);
    NewDir* sub = addNode(docs, u"sub", NewDir::Folder, 0, false);
    addNode(sub, u"c.jpg", NewDir::File, 30, true);
    addNode(sub, u"d\rline.jpg", NewDir::File, 40, false);
    NewDir* lost = addNode(root, u"Lost Files", NewDir::Folder, 0, true);
    addNode(lost, u"e.png", NewDir::File, 50, true);
    addNode(root, u"empty", NewDir::Folder, 0, false);
    addNode(root, u"README", NewDir::File, 5, false);
    TreeCleanup::rearrangeTreeFromDir(root);
    TreeCleanup::rearrangeDeletedTree(root);
    newdir::fillChildrenDirectArrays(root);
    return v;
}

std::shared_ptr<Volume> scannedVolume() {
    const auto iso = testsupport::xorrisoImage();
    testsupport::ControllerScope scanning;
    return iso ? testsupport::scannedVolume(iso.path, iso.start) : nullptr;
}

// Shows the volume's tree as the end of a scan does.
void show(DisplayedTree& tree, const std::shared_ptr<Volume>& volume) {
    tree.setVolume(volume);
    tree.showVolumeRoot();
    tree.generateViewHelperFor(tree.dirRootTemp(), nullptr);
}

// A cell's text: the row's, in another column or for another role.
QString cell(const QModelIndex& row, int column, int role = Qt::DisplayRole) {
    return row.siblingAtColumn(column).data(role).toString();
}

// Every row of the model, depth first: its parent is the index it was
// reached from, and its item's node is listed at that row.
int walkWholeModel(const ResultOutlineModel& model) {
    int rows = 0;
    std::vector<QModelIndex> pending{model.index(0, 0)};
    while (!pending.empty()) {
        const QModelIndex p = pending.back();
        pending.pop_back();
        ++rows;
        const int n = model.rowCount(p);
        for (int r = 0; r < n; ++r) {
            const QModelIndex c = model.index(r, 0, p);
            if (!c.isValid() || model.parent(c) != p || c.row() != r) return -1;
            for (int col = 1; col < ResultOutlineModel::ColumnCount; ++col)
                if (model.parent(model.index(r, col, p)) != p) return -1;
            pending.push_back(c);
        }
    }
    return rows;
}

} // namespace

class ResultOutlineModelTest : public QObject {
    Q_OBJECT
private:
    // The model over the shown tree, checked by Qt's tester through marks,
    // the view changes (detached while the tree changes) and going back: one
    // row per node, and the views come and go without losing a file or a
    // mark.
    void exerciseModel(const std::shared_ptr<Volume>& volume) {
        DisplayedTree tree;
        show(tree, volume);
        const std::uint32_t files = volume->dirRoot->fileCount;
        const std::uint64_t bytes = volume->dirRoot->fileSize;
        QCOMPARE(tree.totalDataText(), ResultText::dataInFilesString(bytes, files));

        ResultOutlineModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTreeView view;
        view.setModel(&model);
        model.setMarkHandler([](NewDirViewHelper* item, bool mark) {
            CheckController(item->newDir(), mark ? 1 : 0).run();
            return true;
        });
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("Loading..."));
        QVERIFY(!model.hasChildren(model.index(0, 0)));
        QVERIFY(!(model.flags(model.index(0, ResultOutlineModel::MarkColumn)) & Qt::ItemIsUserCheckable));

        model.attach(NewDirViewHelper::of(tree.dirRootTemp()));
        view.expandAll();
        QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("Root"));
        int nodes = 0;
        std::uint32_t withoutType = 0;
        NewDir* firstFile = nullptr;
        newdir::preOrder(volume->dirRoot, newdir::childList, newdir::anyChild, [&](NewDir* n) {
            ++nodes;
            if (n->fileType != NewDir::File) return;
            withoutType += NewDirViewHelper::of(n)->extension().empty();
            if (!firstFile) firstFile = n;
        });
        QCOMPARE(walkWholeModel(model), nodes);

        // Mark the first file, through its check box.
        const QModelIndex file = model.indexOfNode(firstFile);
        QCOMPARE(file.data(ResultOutlineModel::KindRole).toInt(), int(NewDir::File));
        const QModelIndex box = file.siblingAtColumn(ResultOutlineModel::MarkColumn);
        QVERIFY(model.setData(box, Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(box.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        const QModelIndex rootBox = model.index(0, ResultOutlineModel::MarkColumn);
        QVERIFY(rootBox.data(Qt::CheckStateRole).toInt() != int(Qt::Unchecked));
        QCOMPARE(tree.dirRootTemp()->selected, 1);

        // Every arrangement, each made while the model is detached.
        TreeArrangement arrangement(tree);
        for (Toggle press : {Toggle::FileTypes, Toggle::Deleted, Toggle::FileTypes, Toggle::Deleted}) {
            model.detach();
            QVERIFY(arrangement.prepareTree(press));
            model.attach(NewDirViewHelper::of(tree.dirRootTemp()));
            view.expandAll();
            QVERIFY(walkWholeModel(model) >= 1);
            const QModelIndex top = model.index(0, 0);
            for (int r = 0; r < model.rowCount(top); ++r) {
                const QModelIndex c = model.index(r, ResultOutlineModel::MarkColumn, top);
                QVERIFY(model.setData(c, Qt::Checked, Qt::CheckStateRole));
                QVERIFY(model.setData(c, Qt::Unchecked, Qt::CheckStateRole));
            }
        }
        model.detach();

        // Everything marked, then the file-types view holds the same files
        // but those without an extension.
        CheckController(volume->dirRoot, 1).run();
        tree.countMarkedDataAndFiles();
        QCOMPARE(std::pair(tree.markedFiles, tree.markedData), std::pair(files, bytes));
        QVERIFY(arrangement.prepareTree(Toggle::FileTypes));
        tree.countMarkedDataAndFiles();
        QCOMPARE(tree.markedFiles + withoutType, files);
        QCOMPARE(tree.dirRootFileTypes->selected, 1);
        QVERIFY(arrangement.prepareTree(Toggle::Deleted));
        QVERIFY(arrangement.prepareTree(Toggle::FileTypes));
        QCOMPARE(tree.dirRootTemp(), volume->dirRoot);
        QVERIFY(arrangement.prepareTree(Toggle::Deleted));
        QCOMPARE(std::pair(volume->dirRoot->fileCount, int(volume->dirRoot->selected)), std::pair(files, 1));

        tree.freeTreeNodes();
        QCOMPARE(volume->dirRoot, static_cast<NewDir*>(nullptr));
        QVERIFY(!tree.dirRootHelper() && !tree.dirRootFileTypes);
        QCOMPARE(model.rowCount(), 1);
    }

private slots:
    void modelOfAScannedXorrisoVolumePassesTheTester() {
        auto volume = scannedVolume();
        if (!volume) QSKIP("xorriso image not made");
        QVERIFY(volume->dirRoot && volume->dirRoot->fileCount > 100);
        exerciseModel(volume);
    }

    void modelOfABuiltTreeWithDeletedEntriesPassesTheTester() { exerciseModel(builtVolume()); }

    void cellsShowTheDesignedTexts() {
        auto volume = builtVolume();
        DisplayedTree tree;
        show(tree, volume);
        ResultOutlineModel model;
        model.attach(tree.dirRootHelper());
        const QModelIndex root = model.index(0, 0);
        QCOMPARE(
            (QStringList{model.headerData(0, Qt::Horizontal).toString(), model.headerData(2, Qt::Horizontal).toString(),
                         model.headerData(5, Qt::Horizontal).toString()}),
            (QStringList{"Files", "Mark", "Modification date"}));
        using M = ResultOutlineModel;
        const QModelIndex docs = model.index(0, 0, root);
        QCOMPARE((QStringList{cell(docs, 0), cell(docs, M::FilesCountColumn), cell(docs, M::SizeColumn),
                              cell(docs, M::CompleteColumn), cell(docs, M::ModificationDateColumn),
                              cell(docs, 0, Qt::ToolTipRole), cell(docs, M::CompleteColumn, Qt::ToolTipRole),
                              cell(docs, M::FilesCountColumn, Qt::ToolTipRole)}),
                 (QStringList{"Documents", "4", "0.10 KB", "N.A.", " - ", "Documents", "Not Applicable", "4"}));
        const QModelIndex a = model.index(0, 0, docs);
        QCOMPARE(a.data(Qt::ToolTipRole).toString(), QStringLiteral("a.txt\nDouble click to preview"));
        model.setPreviewState([](const NewDirViewHelper*) { return 2; });
        QCOMPARE(a.data(Qt::ToolTipRole).toString(), QStringLiteral("a.txt\nSingle click to preview"));
        // A carriage return in a name shows as "_".
        const QModelIndex sub = model.index(2, 0, docs);
        QCOMPARE(model.index(1, 0, sub).data().toString(), QStringLiteral("d_line.jpg"));
        QVERIFY(model.index(0, 0, sub).data(ResultOutlineModel::DeletedRole).toBool());
        // An empty folder shows its own mark; mixed marks from a partly
        // marked folder.
        const QModelIndex empty = model.index(2, ResultOutlineModel::MarkColumn, root);
        QCOMPARE(empty.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        CheckController(static_cast<NewDirViewHelper*>(a.internalPointer())->newDir(), 1).run();
        QCOMPARE(docs.siblingAtColumn(ResultOutlineModel::MarkColumn).data(Qt::CheckStateRole).toInt(),
                 int(Qt::PartiallyChecked));
        tree.freeTreeNodes();
    }

    void theNameCellDrawsIconsAndTheOverlay() {
        OutlineCell cell;
        QPixmap overlay(6, 6);
        overlay.fill(Qt::red);
        cell.setDeleteOverlay(overlay);
        const QImage plain = cell.iconFor(2, QStringLiteral("a.jpg"), false).toImage();
        const QImage marked = cell.iconFor(2, QStringLiteral("a.jpg"), true).toImage();
        QCOMPARE(marked.size(), QSize(16, 16));
        QCOMPARE(marked.pixelColor(12, 2), QColor(Qt::red));
        QVERIFY(plain != marked);
        // A folder named like a document is still a folder, unless it is a
        // bundle of rich text.
        QCOMPARE(cell.iconFor(1, QStringLiteral("Photos.2010"), false).toImage(),
                 cell.iconFor(1, QStringLiteral("Other"), false).toImage());
    }

    void theVerdictAndRatingCellsPickTheirPictures() {
        OutlineImageCell verdict;
        QPixmap green(4, 4), red(4, 4), grey(4, 4);
        green.fill(Qt::green);
        red.fill(Qt::red);
        grey.fill(Qt::gray);
        verdict.setImages(green, red, grey);
        QCOMPARE(verdict.imageFor(QStringLiteral("Bad")).toImage(), red.toImage());
        QCOMPARE(verdict.imageFor(QStringLiteral("Good")).toImage(), green.toImage());
        QCOMPARE(verdict.imageFor(QStringLiteral("N.A.")).toImage(), grey.toImage());
        QVERIFY(verdict.imageFor(QStringLiteral("x")).isNull());
        QCOMPARE(TableViewImageCell::imageNameFor(10), QStringLiteral("0_5"));
        QCOMPARE(TableViewImageCell::imageNameFor(11), QStringLiteral("1_"));
        QCOMPARE(TableViewImageCell::imageNameFor(100), QStringLiteral("5_"));
        QCOMPARE(TableViewImageCell::imageNameFor(101), QString());
    }
};

QTEST_MAIN(ResultOutlineModelTest)
#include "ResultOutlineModelTest.moc"
