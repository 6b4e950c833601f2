#pragma once

// The program's wizard driven as a user drives it, through its widgets with
// QTest's clicks: from the home screen to a recovery kind's drive list, a
// drive's row, the file-type list and the result screen; marking and saving
// there. Shared by the widget tests that run whole recoveries.

#include "AppTestSupport.h"
#include "app/DriveListTableModel.h"
#include "app/DrivesTableDataSource.h"
#include "app/ScanWizard.h"
#include "app/SignatureListController.h"
#include "app/TreeScreenController.h"
#include "platform/ProcessFlags.h"
#include "results/qt/ResultOutlineModel.h"
#include "scan/ScanThread.h"
#include "support/LoopDevice.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTreeView>
#include <QtTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

struct Wizard {
    using Array = platform::Array;
    ProgramUnderTest p;
    TreeScreenController* tree = TreeScreenController::install(p.delegate);
    ScanWizard* wizard = ScanWizard::install(p.delegate);
    DrivesTableDataSource* tables = DrivesTableDataSource::of(p.delegate);
    struct Start {
        ScanThread::Entry entry;
        Array arguments;
    };
    std::vector<Start> starts;

    int treesShown = 0;

    explicit Wizard(Quelvar_Recovery_SoftwareAppDelegate::DriveListLoader drives, bool recordStarts = true)
        : p(std::move(drives)) {
        QObject::connect(tree, &TreeScreenController::treeShown, [this] { ++treesShown; });
        if (recordStarts)
            wizard->setScanStarter([this](std::shared_ptr<Volume>, ScanThread::Entry e, Array a) {
                starts.push_back({e, std::move(a)});
            });
    }
    ~Wizard() {
        // A drive list still loading ends before the program does.
        for (int i = 0; i < 1000 && wizard->loadingDrives(); ++i)
            QTest::qWait(10);
        platform::autoResumeFlag() = false;
        platform::scanRunningFlag() = false;
    }
    void click(const char* name) {
        auto* b = p.widget<QAbstractButton>(name);
        QVERIFY2(b && b->isEnabled() && b->isVisible(), name);
        // A check box takes the click on its box.
        const QPoint at = qobject_cast<QCheckBox*>(b) ? QPoint(8, b->height() / 2) : b->rect().center();
        QTest::mouseClick(b, Qt::LeftButton, {}, at);
    }
    QString tab() { return p.window.selectedIdentifier(); }
    bool waitFor(const QString& id, int ms = 20000) {
        for (int i = 0; i < ms / 10 && (tab() != id || wizard->loadingDrives()); ++i)
            QTest::qWait(10);
        return tab() == id;
    }
    // Clicks the row of a list whose dictionary has this "Path" (drives) or
    // comes at this position.
    void clickRow(const char* table, int row) {
        auto* view = p.widget<QTableView>(table);
        QVERIFY(view && row < view->model()->rowCount());
        const QRect r = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    }
    // A drive's row is clicked once the list shows it with no listing
    // running: a device attached just before comes with the listing the
    // wizard waits for, or with the relist that follows a change elsewhere.
    void clickDriveRow(const std::string& path) {
        const QString missing = waitForDriveRow(path);
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
        QVERIFY(tables->selectRowWithPath(path));
        const int row = p.widget<QTableView>("tableViewDrives")->selectionModel()->selectedRows().first().row();
        p.widget<QTableView>("tableViewDrives")->clearSelection();
        clickRow("tableViewDrives", row);
    }
    // Waits for a drive's row in the list, no listing running: nothing when
    // it shows, else whether the list was still loading or had loaded
    // without it, with the rows it has and what a loop device's node holds.
    QString waitForDriveRow(const std::string& path, int ms = 15000) {
        for (int i = 0; i < ms / 10 && (wizard->loadingDrives() || !driveRow(path)); ++i)
            QTest::qWait(10);
        if (!wizard->loadingDrives() && driveRow(path)) return {};
        QStringList rows;
        auto* table = p.widget<QTableView>("tableViewDrives");
        for (int r = 0; r < table->model()->rowCount(); ++r)
            if (auto row = DriveListTableModel::rowDict(table->model()->index(r, 0)))
                rows << QString::fromStdString(row->get("Path").description());
        const QString device = QString::fromStdString(path);
        const QString held =
            path.starts_with("/dev/loop")
                ? QStringLiteral("; the node holds ") + QString::fromStdString(testsupport::LoopDevice::holding(path))
                : QString();
        if (wizard->loadingDrives())
            return QStringLiteral("the drives list was still loading after %1 s, without a row for %2 so far (%3)%4")
                .arg(ms / 1000)
                .arg(device, rows.join(QStringLiteral(", ")), held);
        return QStringLiteral("%1 is not listed: the drives list has loaded with the rows %2%3")
            .arg(device, rows.join(QStringLiteral(", ")), held);
    }
    // A device's row in the drives list, by its path or by another of its
    // values ("Medium Identity", which no later medium at the node shares),
    // and the device chosen ("none").
    std::optional<platform::Dict> driveRow(const std::string& value, const char* key = "Path") {
        auto* table = p.widget<QTableView>("tableViewDrives");
        for (int r = 0; r < table->model()->rowCount(); ++r)
            if (auto row = DriveListTableModel::rowDict(table->model()->index(r, 0));
                row && row->get(key).isString() && row->get(key).stringValue() == value)
                return row;
        return std::nullopt;
    }
    std::string chosenDrive() const {
        const std::optional<platform::Dict> row = tables->selectedRow(DrivesTableDataSource::Table::Drives);
        return row ? row->get("Path").stringValue() : std::string("none");
    }
    // From the home screen to the drives list of a kind.
    void choose(const char* kind, const char* choice) {
        click(kind);
        click(choice);
        QVERIFY(waitFor("Drives List"));
    }
    // The result screen is shown once its tree is, which its worker
    // finishes after the screen came up.
    bool waitForTree() {
        const int before = treesShown;
        for (int i = 0; i < 6000 && treesShown == before; ++i)
            QTest::qWait(10);
        // The scan thread lets its volume go just after its last post.
        for (int i = 0; i < 1000 && p.delegate.selectedVolume().use_count() > 2; ++i)
            QTest::qWait(10);
        return treesShown > before && tab() == QStringLiteral("Tree");
    }
    Start lastStart() { return starts.empty() ? Start{} : starts.back(); }
    // Recover Photos ▸ Advanced of a disk, every type marked, to its result screen.
    bool photoScanOf(const std::string& disk) {
        choose("buttonRecoverPhotos", "buttonRecoverPhotosAdvanced");
        clickDriveRow(disk);
        click("nextButtonInDrivesList");
        if (tab() != QStringLiteral("Signatures")) return false;
        SignatureListController::of(p.delegate)->selectAllSig();
        click("nextButtonSigTab");
        return waitForTree();
    }
    // The window shown, then photoScanOf, its alerts answered OK as they come (a size calculator's notice that sectors
    // could not be read among them): its end alert's title and message, empty where the scan did not reach its
    // result screen.
    QString shownPhotoScanOf(const std::string& disk) {
        p.window.show();
        if (!QTest::qWaitForWindowExposed(&p.window)) return {};
        AlertAnswerer scanned(QStringLiteral("OK"), {}, true);
        if (!photoScanOf(disk)) return {};
        return scanned.title() + QStringLiteral(": ") + scanned.message();
    }
    // Everything marked through the root row's check box.
    void markEverything() {
        QTreeView* outline = tree->outline();
        const QModelIndex box = tree->model()->index(0, ResultOutlineModel::MarkColumn);
        QStyleOptionViewItem item;
        item.initFrom(outline->viewport());
        item.rect = outline->visualRect(box);
        item.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect indicator = outline->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &item, outline);
        QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, indicator.center());
        QCOMPARE(box.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    }
    // Save, to `out` as the folder chooser takes it; the alerts are the caller's to answer.
    void saveTo(const std::filesystem::path& out) {
        click("saveButton");
        QFileDialog* chooser = nullptr;
        QTRY_VERIFY((chooser = p.window.findChild<QFileDialog*>()) != nullptr && chooser->isVisible());
        chooser->setDirectory(QString::fromStdString(out.string()));
        chooser->selectFile(QString::fromStdString(out.string()));
        QMetaObject::invokeMethod(chooser, "accept");
    }
};
