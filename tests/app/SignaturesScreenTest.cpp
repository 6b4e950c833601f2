#include "AppTestSupport.h"
#include "app/NewSigSheet.h"
#include "app/SigListModel.h"
#include "app/SignatureListController.h"
#include "signatures/SigLists.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QSpinBox>
#include <QTreeView>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The program on the "File Types" screen of a file scan, with the built-in
// list as the user's list in a data folder of its own.
struct SignaturesProgram {
    fs::path data = [] {
        fs::path d = testsupport::makeTempDir("sigdata");
        ::setenv("DRENTIC_STATE_DIR", d.c_str(), 1);
        for (const char* name : {"Sig_FR.dat", "Sig_FR_backup.dat"})
            fs::copy_file(fs::path(DRENTIC_BUILT_IN_LISTS) / name, d / name);
        return d;
    }();
    ProgramUnderTest p;
    SignatureListController* c = SignatureListController::install(p.delegate);
    SigListModel* model = c->model();
    QTreeView* outline = p.widget<QTreeView>("outlineViewSig");

    SignaturesProgram() {
        p.delegate.setScanMode(platform::ScanMode::FastFiles);
        c->setSigDataLoadCount(0);
        c->loadSigData();
    }
    ~SignaturesProgram() { ::unsetenv("DRENTIC_STATE_DIR"); }

    QModelIndex row(const QString& name, const QModelIndex& parent = {}) const {
        for (int r = 0; r < model->rowCount(parent); ++r)
            if (model->index(r, 0, parent).data().toString() == name) return model->index(r, 0, parent);
        return {};
    }
    Qt::CheckState mark(const QModelIndex& i) const {
        return i.siblingAtColumn(SigListModel::MarkColumn).data(Qt::CheckStateRole).value<Qt::CheckState>();
    }
    void setMark(const QModelIndex& i, Qt::CheckState state) {
        model->setData(i.siblingAtColumn(SigListModel::MarkColumn), state, Qt::CheckStateRole);
    }
    void select(const QModelIndex& i) {
        outline->selectionModel()->select(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    // Types the sheet's texts and presses OK; the message of the alert that
    // came up, if one did.
    QString add(const QStringList& texts) {
        p.widget<QAbstractButton>("buttonSigAddFileType")->click();
        p.widget<QComboBox>("comboBoxSigCategory")->setEditText(texts[0]);
        const char* fields[] = {"textFieldSigSoftware", "textFieldSigExtension", "textFieldSigHeader",
                                "textFieldSigOffset", "textFieldMaxFileSize"};
        for (int i = 0; i < 5; ++i)
            p.widget<QLineEdit>(fields[i])->setText(texts[i + 1]);
        AlertAnswerer answer(QStringLiteral("OK"));
        p.widget<QAbstractButton>("buttonNewSigOK")->click();
        return answer.answered() && answer.title() == QLatin1String("!Error") ? answer.message() : QString();
    }
    std::shared_ptr<SigNode> savedType(const std::string& category, const std::string& software) const {
        const SigRootArray list = SigLists::loadSigData(platform::ScanMode::FastFiles, 0).value_or(SigRootArray{});
        for (const auto& cat : list)
            for (const auto& t : cat->children())
                if (cat->category == category && t->sig()->software == software) return t;
        return nullptr;
    }
};

} // namespace

class SignaturesScreenTest : public QObject {
    Q_OBJECT
private slots:
    void marksShowByCategoryAndPullInImagesWithDocuments() {
        SignaturesProgram s;
        const QModelIndex audio = s.row(QStringLiteral("Audio"));
        QVERIFY(audio.isValid());
        s.p.widget<QAbstractButton>("buttonSigDeselectAll")->click();
        QCOMPARE(s.mark(audio), Qt::Unchecked);
        QVERIFY(!s.p.enabled("nextButtonSigTab"));
        QCOMPARE(s.p.text("findFTStatusTextField"), QStringLiteral("All unmarked"));
        s.setMark(s.model->index(0, 0, audio), Qt::Checked);
        QCOMPARE(s.mark(audio), Qt::PartiallyChecked);
        QVERIFY(s.p.enabled("nextButtonSigTab"));
        QVERIFY(s.p.text("textFieldNumMarkedUnmarkedSig").startsWith(QLatin1String("Marked: 1, ")));

        const QModelIndex images = s.row(QStringLiteral("Images"));
        s.setMark(s.row(QStringLiteral("Documents")), Qt::Checked);
        QCOMPARE(s.mark(images), Qt::Checked);
        s.setMark(s.row(QStringLiteral("Documents")), Qt::Unchecked);
        QCOMPARE(s.mark(images), Qt::Checked);

        s.p.widget<QAbstractButton>("buttonSigSelectAll")->click();
        QCOMPARE(s.mark(audio), Qt::Checked);
        QCOMPARE(s.p.text("findFTStatusTextField"), QStringLiteral("All marked"));
    }

    void aSizeEditIsWrittenToTheUsersList() {
        SignaturesProgram s;
        const QModelIndex jpeg = s.row(QStringLiteral("JPEG image"), s.row(QStringLiteral("Images")));
        QVERIFY(s.model->setData(jpeg.siblingAtColumn(SigListModel::SizeColumn), 77, Qt::EditRole));
        QCOMPARE(jpeg.siblingAtColumn(SigListModel::SizeColumn).data().toULongLong(), 77ull);
        const auto saved = s.savedType("Images", "JPEG image");
        QVERIFY(saved);
        QCOMPARE(saved->sig()->userSize, 77ull);
    }

    void aTypeIsAddedThroughTheSheetAndDeletedAgain() {
        SignaturesProgram s;
        QCOMPARE(s.add({"", "Thing", "thg", "ABCDEF", "7", "5"}), QStringLiteral("Category cannot be nil"));
        QVERIFY(s.c->newSigWindow()->isVisible());
        QCOMPARE(s.add({"Mine", "Thing", "thg", "0xAB", "7", "5"}),
                 QStringLiteral("Please enter correct signature: A-F, a-f, 0-9"));
        QCOMPARE(s.p.text("textFieldSigHeader"), QStringLiteral("0xAB"));
        QCOMPARE(s.add({"Mine", "Thing", "thg", "FF D8 FF", "0", "5"}),
                 QStringLiteral("This signature/offset pair already exists in file type \"JPEG image\" under category "
                                "\"Images\"."));
        QCOMPARE(s.add({"Mine", "Thing", "thg", "AB CD EF", "7", "5"}), QString());
        QVERIFY(!s.c->newSigWindow()->isVisible());
        const auto saved = s.savedType("Mine", "Thing");
        QVERIFY(saved);
        QCOMPARE(saved->sig()->header, 0xABCDEFull);

        // Built-in types stay; the user's own, then its emptied category, go.
        const QModelIndex mine = s.row(QStringLiteral("Mine"));
        QCOMPARE(mine.row(), s.model->rowCount() - 1);
        s.select(s.model->index(0, 0, s.row(QStringLiteral("Images"))));
        QVERIFY(!s.p.enabled("buttonSigRemoveFileType"));
        s.select(s.model->index(0, 0, mine));
        QVERIFY(s.p.enabled("buttonSigRemoveFileType"));
        s.p.widget<QAbstractButton>("buttonSigRemoveFileType")->click();
        QVERIFY(!s.savedType("Mine", "Thing"));
        QCOMPARE(s.model->rowCount(s.row(QStringLiteral("Mine"))), 0);
        s.select(s.row(QStringLiteral("Mine")));
        s.p.widget<QAbstractButton>("buttonSigRemoveFileType")->click();
        QVERIFY(!s.row(QStringLiteral("Mine")).isValid());
    }

    void withoutAListOnlyThePlaceholderRowShows() {
        SignaturesProgram s;
        s.p.window.show();
        s.p.window.selectTabViewItemWithIdentifier("Signatures");
        s.outline->expandAll();
        QVERIFY(!s.outline->grab().isNull());
        s.c->emptySigRootArray();
        QCOMPARE(s.model->rowCount(), 1);
        QVERIFY(s.model->isPlaceholder(s.model->index(0, 0)));
        QVERIFY(!s.outline->grab().isNull());

        // A scan mode without a list: "Load File Types" is the way out.
        s.p.delegate.setScanMode(platform::ScanMode::None);
        s.c->loadSigData();
        QVERIFY(s.p.enabled("buttonSigLoadFileTypes"));
        QVERIFY(!s.p.enabled("buttonSigAddFileType"));
        QCOMPARE(s.p.text("textFieldNumTotalSig"), QStringLiteral("Total Signatures: 0"));
        QVERIFY(!s.p.widget<QWidget>("imageViewSigSpeedGradient")->grab().isNull());
        s.p.widget<QAbstractButton>("buttonSigLoadFileTypes")->click();
        QCOMPARE(s.model->index(0, 0).data().toString(),
                 QStringLiteral("Still no file types showing here. Click on \"Load File Types\" button to reload "
                                "backup."));
        s.select(s.model->index(0, 0));
        QVERIFY(!s.p.enabled("buttonSigRemoveFileType"));
    }

    void findMarksTheMatchesAndTheStepperWalksThem() {
        SignaturesProgram s;
        auto* field = s.p.widget<QLineEdit>("findFTSearchField");
        field->setText(QStringLiteral("mp3"));
        QTest::keyClick(field, Qt::Key_Return);
        const auto& found = s.c->arrayFTFound();
        QVERIFY(found.size() > 1);
        QCOMPARE(s.p.text("findFTStatusTextField"), QStringLiteral("%1 entries found and marked").arg(found.size()));
        for (const auto& node : found)
            QCOMPARE(node->selected, 1);
        auto selected = [&] { return s.model->nodeAt(s.outline->selectionModel()->selectedRows().value(0)); };
        QCOMPARE(selected(), found[0]);
        s.p.widget<QSpinBox>("stepperFT")->setValue(1);
        QCOMPARE(selected(), found[1]);

        field->setText(QStringLiteral("no such type"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(s.p.text("findFTStatusTextField"), QStringLiteral("No entry found"));
        QVERIFY(!s.p.enabled("stepperFT"));
    }
};

QTEST_MAIN(SignaturesScreenTest)
#include "SignaturesScreenTest.moc"
