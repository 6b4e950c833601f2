#include "AppTestSupport.h"
#include "app/DriveListMonitor.h"
#include "app/DriveListTableModel.h"
#include "app/DrivesTableDataSource.h"
#include "app/LogicalDriveCell.h"
#include "app/LogicalDriveCellPTList.h"
#include "app/LogicalDriveCellScanPTList.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

using platform::Array;
using platform::Dict;

namespace {

Dict volume(const std::string& path, const std::string& parent, std::int64_t index, std::int64_t child) {
    Dict v{{"Path", path}, {"WhetherVolume", 1}, {"Volume Name", path}};
    if (!parent.empty()) {
        v.set("Parent Drive Path", parent);
        v.set("Volume and Drive Index", index);
        v.set("Index of child Volume", child);
        v.set("Total Volumes in a disk", 2);
    }
    return v;
}

// Disk A with two volumes, disk B with none, and a volume no disk claims.
Quelvar_Recovery_SoftwareAppDelegate::DriveLists twoDisks() {
    const Dict a1 = volume("/dev/a1", "/dev/a", 1, 0), a2 = volume("/dev/a2", "/dev/a", 2, 1);
    const Dict loose = volume("/dev/loose", "", 0, 0);
    Dict a{{"Path", "/dev/a"}, {"Volume and Drive Index", 0}, {"Children Volume Array", Array{a1, a2}}};
    Dict b{{"Path", "/dev/b"}, {"Volume and Drive Index", 3}};
    return {Array{a, b}, Array{a1, a2, loose}, Array{a2}};
}

QString path(const std::optional<Dict>& row) {
    return row ? QString::fromStdString(row->get("Path").stringValue()) : QStringLiteral("<none>");
}

// Disks /dev/d00 to /dev/d13, more than the list shows at once.
Array fourteenDisks() {
    Array disks;
    for (int n = 0; n < 14; ++n) {
        Dict d = diskRow(QString::asprintf("/dev/d%02d", n).toStdString(), 1u << 20);
        d.set("Medium Identity", "1");
        disks.push_back(d);
    }
    return disks;
}

// The drives list of a partition scan, shown.
bool showDrivesList(ProgramUnderTest& p) {
    p.delegate.setScanMode(platform::ScanMode::Partitions);
    p.delegate.setZeroTableViewDrivesList(false);
    p.window.selectTabViewItemWithIdentifier(QStringLiteral("Drives List"));
    p.window.show();
    return QTest::qWaitForWindowExposed(&p.window);
}

} // namespace

class DrivesTableTest : public QObject {
    Q_OBJECT
private slots:
    void disksAndVolumesViewListsEveryVolumeOnce() {
        ProgramUnderTest p(twoDisks);
        DrivesTableDataSource* source = DrivesTableDataSource::install(p.delegate);
        p.delegate.setScanMode(platform::ScanMode::AdvancedPhotos);
        p.delegate.setZeroTableViewDrivesList(true);
        QCOMPARE(source->rowCount(DrivesTableDataSource::Table::Drives), 0);
        p.delegate.setZeroTableViewDrivesList(false);
        auto* table = p.widget<QTableView>("tableViewDrives");
        QStringList paths;
        for (int r = 0; r < source->rowCount(DrivesTableDataSource::Table::Drives); ++r)
            paths << path(DriveListTableModel::rowDict(table->model()->index(r, 0)));
        QCOMPARE(paths, QStringList({"/dev/a", "/dev/a1", "/dev/a2", "/dev/b", "/dev/loose"}));
        source->assignDisplayAttribsToCellArrayCells();
        QCOMPARE(p.delegate.displayDrvOrVolOrBoth(), 2);

        p.delegate.setScanMode(platform::ScanMode::Formatted); // the formatted-recovery list only
        p.delegate.fillCellArray();
        QCOMPARE(source->rowCount(DrivesTableDataSource::Table::Drives), 1);
        p.delegate.setScanMode(platform::ScanMode::None);
        source->assignDisplayAttribsToCellArrayCells();
        QCOMPARE(p.delegate.displayDrvOrVolOrBoth(), -1);
    }

    void nextButtonsFollowTheChoice() {
        ProgramUnderTest p(twoDisks);
        DrivesTableDataSource* source = DrivesTableDataSource::install(p.delegate);
        p.delegate.setScanMode(platform::ScanMode::Partitions);
        p.delegate.setZeroTableViewDrivesList(false);
        QVERIFY(!p.enabled("nextButtonInDrivesList"));
        QVERIFY(!source->selectedRow(DrivesTableDataSource::Table::Drives));
        QVERIFY(!source->selectRowWithPath("/dev/a1")); // a volume: not a row of the disks view
        QVERIFY(source->selectRowWithPath("/dev/b"));
        QCOMPARE(path(source->selectedRow(DrivesTableDataSource::Table::Drives)), QStringLiteral("/dev/b"));
        QVERIFY(p.enabled("nextButtonInDrivesList"));
        p.delegate.fillCellArray(); // a reload drops the choice
        QVERIFY(!p.enabled("nextButtonInDrivesList"));

        p.delegate.setPartitionListDictArray(Array{volume("/dev/a1", "", 0, 0)});
        p.delegate.fillCellArrayPTList();
        auto* box = p.widget<QCheckBox>("buttonPTListCheckBoxScanForVolumes");
        box->setChecked(true);
        QVERIFY(p.enabled("buttonPTListNext"));
        box->setChecked(false);
        QVERIFY(!p.enabled("buttonPTListNext"));
        p.widget<QTableView>("tableViewPTList")->selectRow(0);
        QVERIFY(p.enabled("buttonPTListNext"));
        QCOMPARE(path(source->selectedRow(DrivesTableDataSource::Table::Partitions)), QStringLiteral("/dev/a1"));
    }

    // The rows moved by a device attached or detached, not by the user: the chosen disk (the second in view) stays
    // chosen while it is listed as the same medium, and the list stays scrolled where it was unless that would hide
    // the chosen disk; a press that lands as they move (within the settle time), on a place that now shows another
    // disk, chooses nothing.
    void aReloadOfItsOwnKeepsTheChosenDiskAndAPressAsTheRowsMoveChoosesNothing() {
        using namespace std::chrono_literals;
        const auto above = [](Array& d) { d.insert(d.begin(), diskRow("/dev/new", 1)); };
        const struct {
            const char* what;
            std::function<void(Array&)> change;
            int chosen, pressed; // places in view, -1 none
            std::chrono::milliseconds settle;
            const char* expected;
            int scrolled = 4; // the first row in view after
        } cases[] = {
            {"attached above", above, 1, -1, 0ms, "/dev/d05"},
            {"detached above, out of view", [](Array& d) { d.erase(d.begin()); }, 0, -1, 0ms, "/dev/d04", 3},
            {"another image there", [](Array& d) { d[5].dict()->set("Medium Identity", "2"); }, 1, -1, 0ms, "<none>"},
            {"nothing chosen", above, -1, -1, 0ms, "<none>"},
            {"the same rows", [](Array&) {}, 1, -1, 0ms, "/dev/d05"},
            {"pressed as one came above", above, 1, 1, 1h, "<none>"},
            {"pressed as one came below", [](Array& d) { d.push_back(diskRow("/dev/new", 1)); }, 1, 1, 1h, "/dev/d05"},
        };
        ProgramUnderTest p;
        DrivesTableDataSource* source = DrivesTableDataSource::install(p.delegate);
        auto* table = p.widget<QTableView>("tableViewDrives");
        QVERIFY(showDrivesList(p));
        const auto follow = [&](const Array& disks) {
            p.delegate.setDriveLists({disks, Array{}, Array{}});
            return source->reloadDrivesKeepingChoice();
        };
        const auto press = [&](int place) {
            const int height = table->verticalHeader()->defaultSectionSize();
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(20, place * height + height / 2));
        };
        for (const auto& c : cases) {
            source->setRowsSettleTime(0ms);
            follow(fourteenDisks());
            table->clearSelection();
            table->verticalScrollBar()->setValue(4);
            if (c.chosen >= 0) press(c.chosen);
            source->setRowsSettleTime(c.settle);
            Array disks = fourteenDisks();
            c.change(disks);
            const bool changed = disks != fourteenDisks();
            QSignalSpy resets(table->model(), &QAbstractItemModel::modelReset);
            QCOMPARE(follow(disks), changed);
            QCOMPARE(std::tuple(c.what, resets.count(), table->verticalScrollBar()->value()),
                     std::tuple(c.what, changed ? 1 : 0, c.scrolled));
            if (c.pressed >= 0) press(c.pressed);
            QCOMPARE(QString::fromLatin1(c.what) + ": " +
                         path(source->selectedRow(DrivesTableDataSource::Table::Drives)),
                     QString::fromLatin1(c.what) + ": " + c.expected);
            QCOMPARE(p.enabled("nextButtonInDrivesList"), QLatin1String(c.expected) != QLatin1String("<none>"));
        }
    }

    // A disk near the bottom of the scrolled list chosen, the devices above it detached one at a time (the list gets
    // shorter) and others attached above it: after every relist that disk is chosen and wholly in view.
    void theChosenDiskStaysInViewAsDevicesComeAndGo() {
        ProgramUnderTest p;
        DrivesTableDataSource* source = DrivesTableDataSource::install(p.delegate);
        auto* table = p.widget<QTableView>("tableViewDrives");
        QVERIFY(showDrivesList(p));
        source->setRowsSettleTime(std::chrono::milliseconds(0)); // the press is the user's, not a row that moved
        Array disks = fourteenDisks();
        p.delegate.setDriveLists({disks, Array{}, Array{}});
        source->reloadDrivesKeepingChoice();
        table->scrollToBottom();
        const int chosen = table->rowAt(table->viewport()->height() - 1) - 1;
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualRect(table->model()->index(chosen, 0)).center());
        const QString disk = path(source->selectedRow(DrivesTableDataSource::Table::Drives));
        QVERIFY(chosen > 0 && table->verticalScrollBar()->value() > 0 &&
                disk == QString::asprintf("/dev/d%02d", chosen));
        for (int step = 0; step < 10; ++step) {
            if (step < 4)
                disks.erase(disks.begin());
            else
                disks.insert(disks.begin(), diskRow("/dev/new" + std::to_string(step), 1));
            p.delegate.setDriveLists({disks, Array{}, Array{}});
            QVERIFY(source->reloadDrivesKeepingChoice());
            QCOMPARE(path(source->selectedRow(DrivesTableDataSource::Table::Drives)), disk);
            const QRect shown = table->visualRect(table->selectionModel()->selectedRows().first());
            QVERIFY2(table->viewport()->rect().contains(shown), qPrintable(QString::number(step)));
        }
    }

    void linesOfTheCells() {
        QCOMPARE(LogicalDriveCell::sizeText(999999), QStringLiteral("1000.00 KB"));
        QCOMPARE(LogicalDriveCell::sizeText(1000000), QStringLiteral("1.00 MB"));
        QCOMPARE(LogicalDriveCell::sizeText(999999999), QStringLiteral("1000.00 MB"));
        QCOMPARE(LogicalDriveCell::sizeText(1000000000), QStringLiteral("1.00 GB"));
        QCOMPARE(LogicalDriveCell::lines(Dict{{"device model", "M"}, {"device revision", "R"}}).first(),
                 QStringLiteral("M  R"));
        QCOMPARE(LogicalDriveCell::lines(Dict()),
                 QStringList({"  ", "Type: Disk", "Mount Point: ", "Size: 0.00 KB", "Volumes Contained: 0"}));
        Dict hfsx{{"WhetherVolume", 1}, {"Content", "Apple_HFSX"}};
        QCOMPARE(LogicalDriveCell::lines(hfsx).last(), QStringLiteral("File System: Mac OS Extended (Case Sensitive)"));
        QCOMPARE(LogicalDriveCellPTList::lines(Dict{{"Content", "Apple_HFS"}}).last(),
                 QStringLiteral("File System: Mac OS Extended"));

        const Dict apfsName{{"Content", "APFS"}, {"WhetherVolume", 1}};
        const Dict apfsType{{"Content", "41504653-0000-11AA-AA11-00306543ECAC"}, {"WhetherVolume", 1}};
        const QStringList seen{
            LogicalDriveCell::lines(apfsName).last(),           LogicalDriveCell::lines(apfsType).last(),
            LogicalDriveCellPTList::lines(apfsName).last(),     LogicalDriveCellPTList::lines(apfsType).last(),
            LogicalDriveCellScanPTList::lines(apfsName).last(), LogicalDriveCellScanPTList::lines(apfsType).last()};
        QCOMPARE(seen, QStringList({"File System: APFS", "File System: APFS", "File System: -", "File System: APFS",
                                    "File System: -", "File System: -"}));

        QCOMPARE(
            LogicalDriveCellScanPTList::startSectorLine(Dict{{"Volume Start", 2048}, {"Preferred Block Size", 512}}),
            QStringLiteral("Start Sector: 2048 (1.05 MB in disk)"));
        QStringList ratings;
        for (int v : {-5, 0, 10, 11, 100, 101})
            ratings << LogicalDriveCellScanPTList::ratingImageName(v);
        QCOMPARE(ratings, QStringList({"0_5", "0_5", "0_5", "1_", "5_", ""}));
    }

    // The disk's bar and stem hang below its icon only in the
    // disks-and-volumes view.
    void connectorsOnlyInTheDisksAndVolumesView() {
        DriveListTableModel model;
        model.setRows({Dict{{"Path", "/dev/a"}, {"Children Volume Array", Array{Dict()}}}});
        auto render = [&](int mode) {
            LogicalDriveCell cell;
            cell.setDisplayDrvOrVolOrBoth(mode);
            QImage image(400, 120, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            QStyleOptionViewItem option;
            option.rect = image.rect();
            cell.paint(&painter, option, model.index(0, 0));
            painter.end();
            return image.pixelColor(10 + 32, 120 - 10); // under the icon's middle, above the row's end
        };
        QCOMPARE(render(2), QColor(128, 128, 128));
        QCOMPARE(render(0), QColor(Qt::white));
    }

    void monitorSeesADeviceArriveAndAnotherMediumAtItsNode() {
        QTemporaryDir sysfs;
        std::filesystem::create_directories(sysfs.filePath("block").toStdString());
        DriveListMonitor monitor(sysfs.path().toStdString(), std::chrono::milliseconds(20));
        QSignalSpy changed(&monitor, &DriveListMonitor::changed);
        QTest::qWait(100);
        QCOMPARE(changed.count(), 0);
        std::filesystem::create_directories(sysfs.filePath("block/loop0").toStdString());
        std::ofstream(sysfs.filePath("block/loop0/size").toStdString()) << "0\n";
        QVERIFY(changed.wait(2000));
        std::ofstream(sysfs.filePath("block/loop0/size").toStdString()) << "2048\n"; // attached to a file
        QVERIFY(changed.wait(2000));
        std::ofstream(sysfs.filePath("block/loop0/diskseq").toStdString()) << "20\n";
        QVERIFY(changed.wait(2000));
        std::ofstream(sysfs.filePath("block/loop0/diskseq").toStdString()) << "21\n"; // another file, the same size
        QVERIFY(changed.wait(2000));
    }
};

QTEST_MAIN(DrivesTableTest)
#include "DrivesTableTest.moc"
