// The scan wizard driven through its widgets: every recovery kind from the
// home screen to the start of its scan thread, the lost-volume search, the
// range check, Back and Home; and whole recoveries from a loop device (or the
// image file when no loop device can be attached) to files saved byte for
// byte.

#include "app/ScanWizard.h"

#include "AppTestSupport.h"
#include "ScanWizardDriver.h"
#include "app/DriveListMonitor.h"
#include "app/DriveListTableModel.h"
#include "app/DrivesTableDataSource.h"
#include "app/PermissionPanel.h"
#include "app/PreviewWindow.h"
#include "app/SignatureListController.h"
#include "app/TreeScreenController.h"
#include "media/SystemPaths.h"
#include "platform/PageCache.h"
#include "platform/ProcessFlags.h"
#include "platform/SystemLog.h"
#include "results/qt/ResultOutlineModel.h"
#include "signatures/SignatureSearchState.h"
#include "support/ApfsNodeBuilder.h"
#include "support/FailingReads.h"
#include "support/HFSPlusImageBuilder.h"
#include "support/LoopDevice.h"
#include "support/PinnedPages.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTreeView>
#include <QtTest>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::Array;
using platform::Dict;
using platform::Value;
using namespace testsupport;

namespace {

// The volume a file recovery scans: journaled HFS+ whose journal still holds
// the catalog records of two deleted files. No Linux tool writes a journal.
struct DeletedFilesVolume {
    fs::path path;
    std::vector<std::uint8_t> live = HFSPlusImageBuilder::patternData(30000, 1);
    std::vector<std::uint8_t> gone = HFSPlusImageBuilder::patternData(70000, 2);
    DeletedFilesVolume() {
        HFSPlusImageBuilder b({.volumeName = "Deleted", .journaled = true});
        const auto docs = b.addFolder(HFSPlusImageBuilder::kRoot, "Docs");
        b.addFile(docs, "kept.txt", live);
        b.addDeletedFileInJournal(docs, "gone.bin", gone, 12);
        path = makeTempDir("wizard") / "deleted.img";
        writeText(path, asString(b.build()));
    }
};

// An MBR disk made by sfdisk whose one partition holds the xorriso HFS+
// volume.
fs::path sfdiskDisk() {
    const auto iso = xorrisoImage();
    if (!iso) return {};
    const std::vector<std::uint8_t> image = readBytes(iso.path);
    const std::vector<std::uint8_t> volume(image.begin() + static_cast<std::ptrdiff_t>(iso.start * 512), image.end());
    const fs::path disk = makeTempDir("sfdisk") / "mbr.img";
    zeroFile(disk, 2048 * 512 + volume.size());
    if (!runCommand("echo 'start=2048, type=af' | sfdisk -q " + shellQuote(disk.string()) + " >/dev/null 2>&1"))
        return {};
    writeBytesAt(disk, 2048 * 512, volume);
    return disk;
}

// The GPT disk of the fixtures with the HFS+ partition's entry deleted: its
// volume is still on the disk for the search to find.
fs::path diskWithLostVolume() {
    const fs::path disk = copyToTemp(testImage("gpt.img"));
    if (!runCommand("sgdisk -d 3 " + shellQuote(disk.string()) + " >/dev/null 2>&1")) return {};
    return disk;
}

// An exFAT stick made by mkfs.exfat and filled through exfat-fuse (as root,
// on a loop device): a live photo and a live fax (writeFax), and a photo
// deleted. `missing` says what was lacking when it could not be made.
struct ExFATStick {
    fs::path image;
    std::vector<std::uint8_t> photo, fax;
    std::string missing;
    ExFATStick() {
        if (::geteuid() != 0 || !fs::exists("/dev/fuse")) missing = "needs root and /dev/fuse";
        for (const char* tool : {"mkfs.exfat", "mount.exfat-fuse", "losetup", "convert", "tiffcp"})
            if (!haveTool(tool)) missing = std::string("needs ") + tool;
        if (!missing.empty()) return;
        const fs::path dir = makeTempDir("exfat-stick");
        const std::string fill = "convert -size 320x240 gradient:red-blue mnt/photo.jpg; "
                                 "convert -size 200x100 gradient:green-yellow mnt/old.jpg; cp fax.tif mnt/fax.tif; "
                                 "cp mnt/photo.jpg photo.jpg; rm mnt/old.jpg";
        if (!writeFax(dir / "fax.tif") || !exfatFilledThroughFuse(dir / "stick.img", "16M", dir / "mnt", fill)) {
            missing = "the exFAT stick could not be made";
            return;
        }
        image = dir / "stick.img";
        photo = readBytes(dir / "photo.jpg");
        fax = readBytes(dir / "fax.tif");
    }
};

unsigned long long sizeOf(const std::string& path) {
    const auto bytes = readBytes(path).size();
    return bytes ? bytes : 0;
}

Dict volumeRow(const std::string& path, unsigned long long size) {
    return Dict{{"Path", path},
                {"Size", size},
                {"Preferred Block Size", 512},
                {"WhetherVolume", true},
                {"Content", "Apple_HFS"},
                {"journaled", "Yes"},
                {"supportFileSystemRecovery", 1},
                {"Volume Name", "Deleted"},
                {"bundle path", "nil"},
                {"Index of child Volume", 0},
                {"Total Volumes in a disk", 1},
                {"Volume and Drive Index", 1}};
}

// A disk image of `sectors` zero sectors in a fresh folder with a photo ImageMagick made at sector 2048 and every
// `every` sectors after it, each of its own size; no photos when they could not be made.
struct PhotoDisk {
    fs::path image;
    std::vector<std::string> photos;
    std::uint64_t every;
    PhotoDisk(std::uint64_t sectors, std::uint64_t every_) : every(every_) {
        const fs::path dir = makeTempDir("photo-disk");
        std::string command = "cd " + shellQuote(dir.string());
        for (std::uint64_t k = 0; k < sectors / every; ++k)
            command += " && convert -seed " + sampleSeed(static_cast<unsigned>(k + 1)) + " -size " +
                       std::to_string(300 + 20 * k) + "x200 plasma:fractal -quality 90 p" + std::to_string(k) + ".jpg";
        if (!runCommand(command + " 2>&1")) return;
        image = zeroFile(dir / "disk.img", sectors * 512);
        for (std::uint64_t k = 0; k < sectors / every; ++k) {
            photos.push_back(readText(dir / ("p" + std::to_string(k) + ".jpg")));
            writeAt(image, sectorOf(k) * 512, {photos.back().begin(), photos.back().end()});
        }
    }
    std::uint64_t sectorOf(std::size_t k) const { return k * every + 2048; }
};

// The page cache lets go of bytes of a device.
bool letGo(const std::string& device, std::uint64_t offset, std::uint64_t length) {
    return runCommand("python3 -c 'import os; f = os.open(\"" + device + "\", os.O_RDONLY); os.posix_fadvise(f, " +
                      std::to_string(offset) + ", " + std::to_string(length) + ", os.POSIX_FADV_DONTNEED)' 2>&1")
        .has_value();
}

// While it lives, every alert is answered as a user who goes on answers it (Yes or OK, else its first button);
// what each said is kept.
struct EveryAlertAnswered {
    QStringList titles, messages;
    QTimer timer;
    EveryAlertAnswered() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible() && !box->buttons().isEmpty()) {
                    titles << box->text();
                    messages << box->informativeText();
                    QAbstractButton* answer = box->buttons().front();
                    for (QAbstractButton* b : box->buttons())
                        if (b->text() == QStringLiteral("Yes") || b->text() == QStringLiteral("OK")) answer = b;
                    answer->click();
                }
        });
        timer.start(20);
    }
    QString said() const {
        QStringList all;
        for (qsizetype i = 0; i < titles.size(); ++i)
            all << titles[i] + QStringLiteral(": ") + messages[i];
        return all.join(QStringLiteral(" | "));
    }
};

Array argumentsOf(const Wizard::Start& s) {
    return s.arguments;
}

// The marked types of a start's argument array, as extensions.
std::size_t typesIn(const Value& v) {
    return v.arrayValue().size();
}

} // namespace

class ScanWizardTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyKindStartsItsScanWithTheDesignedArguments();
    void theRangeScreenRefusesAnEmptyRangeAndBackFreesTheVolume();
    void partitionRecoveryFindsALostVolumeAndGoesBackThroughItsLists();
    void anEmptyListFillsWhenADeviceComesAndAnUnreadableOneAsksForRights();
    void theDrivesListKeepsTheChosenImageAsOthersComeAndGo();
    void aCardSwappedAtItsNodeIsAnotherRowAndNothingScansItUnderTheFirstsName();
    void filesAreRecoveredFromADeviceAsANewUserWould();
    void formattedRecoveryOfAnExFATStickFindsItsPhotos();
    void aWholeDiskAPFSContainerIsOfferedAndScanned();
    void photosOfADiskThatDiesBehindItsCacheAreSavedFromWhatTheCacheHolds();
    void aDiskDyingAThirdIntoAPhotoScanIsToldGoneAndOnlyWhatTheCacheHoldsIsSaved();
    void aMovieWithUnreadableSectorsInItsMediaDataIsListedBadBesideAWholePhoto();

private:
    void swapCardsAtOneNode(bool& nodeTaken);
};

void ScanWizardTest::initTestCase() {
    // The built-in lists as the user's own, in a folder of the test's.
    const fs::path data = makeTempDir("wizard-lists");
    ::setenv("DRENTIC_STATE_DIR", data.c_str(), 1);
    for (const char* list : {"Sig_FR", "Sig_PR", "Sig_AL"})
        for (const std::string& name : {std::string(list) + ".dat", std::string(list) + "_backup.dat"})
            fs::copy_file(fs::path(DRENTIC_BUILT_IN_LISTS) / name, data / name);
}

void ScanWizardTest::everyKindStartsItsScanWithTheDesignedArguments() {
    DeletedFilesVolume volume;
    const std::string disk = sfdiskDisk().string();
    QVERIFY(!disk.empty());
    Dict d = diskRow(disk, sizeOf(disk));
    Dict v = volumeRow(volume.path.string(), sizeOf(volume.path.string()));
    d.set("Children Volume Array", Array{v});
    Wizard w([&] { return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{Array{d}, Array{v}, Array{v}}; });
    auto* fileTypes = SignatureListController::of(w.p.delegate);

    // 0, files fast: a journaled volume starts its deleted-file scan from
    // the drives list.
    w.choose("buttonRecoverFiles", "buttonRecoverFilesFast");
    QCOMPARE(w.p.text("textFieldHeadingDriveListTab"), QStringLiteral("Please select volume to continue..."));
    QVERIFY(!w.p.enabled("nextButtonInDrivesList"));
    w.clickDriveRow(v.get("Path").stringValue());
    w.click("nextButtonInDrivesList");
    QCOMPARE(w.tab(), QStringLiteral("Progress"));
    QCOMPARE(w.wizard->rawSearchMode(), platform::RawSearchMode::DeletedFiles);
    QVERIFY(w.lastStart().entry == ScanThread::Entry::DeletedFiles);
    QCOMPARE(argumentsOf(w.lastStart()).size(), 2u);
    w.wizard->gotoHome(nullptr);
    QCOMPARE(w.tab(), QStringLiteral("Main Screen"));
    QVERIFY(!w.p.delegate.selectedVolume());

    // 1, files advanced: types marked and the range asked for lead through
    // the range screen; Skip would have started the plain deleted-file scan.
    w.choose("buttonRecoverFiles", "buttonRecoverFilesAdvanced");
    w.clickDriveRow(v.get("Path").stringValue());
    w.click("nextButtonInDrivesList");
    QCOMPARE(w.tab(), QStringLiteral("Signatures"));
    QVERIFY(fileTypes->categoryCount() > 0);
    fileTypes->selectAllSig();
    w.p.widget<QCheckBox>("rawSearchCheckBox")->setChecked(true);
    w.click("nextButtonSigTab");
    QCOMPARE(w.tab(), QStringLiteral("Raw slider"));
    QCOMPARE(w.p.text("textFieldStartSliderStatus"), QStringLiteral("0% 0 KB"));
    w.click("buttonRawSliderNext");
    Array a = argumentsOf(w.lastStart());
    QCOMPARE(w.wizard->rawSearchMode(), platform::RawSearchMode::DeletedFilesAndSearch);
    QVERIFY(a.size() == 4 && a[0].intValue() == 1 && a[1].intValue() == 1 && typesIn(a[2]) > 0 && a[3].intValue() == 0);
    // Resumed, the same start carries the resume block and "auto".
    w.wizard->setAutoRecovery({}, 777);
    w.wizard->rawSliderNextClicked(true);
    a = argumentsOf(w.lastStart());
    QVERIFY(a.size() == 6 && a[4].uint64Value() == 777 && a[5].stringValue() == "auto");
    w.wizard->gotoHome(nullptr);

    // 2, photos fast: never asks for a range.
    w.choose("buttonRecoverPhotos", "buttonRecoverPhotosFast");
    w.clickDriveRow(v.get("Path").stringValue());
    w.click("nextButtonInDrivesList");
    QVERIFY(w.p.widget<QCheckBox>("rawSearchCheckBox")->isHidden());
    QVERIFY(w.p.delegate.selectedVolume() && w.p.delegate.signatureSearch()->filterTreeForMedia);
    fileTypes->selectAllSig();
    w.click("nextButtonSigTab");
    a = argumentsOf(w.lastStart());
    QVERIFY(a.size() == 4 && a[3].intValue() == 1);
    w.wizard->gotoHome(nullptr);

    // 3, photos advanced: disks with their volumes; the disk's own scan.
    w.choose("buttonRecoverPhotos", "buttonRecoverPhotosAdvanced");
    QCOMPARE(w.p.text("textFieldHeadingDriveListTab"), QStringLiteral("Please select disk / volume to continue..."));
    QCOMPARE(w.tables->rowCount(DrivesTableDataSource::Table::Drives), 2);
    w.clickDriveRow(disk);
    w.click("nextButtonInDrivesList");
    fileTypes->selectAllSig();
    w.click("nextButtonSigTab");
    QVERIFY(w.lastStart().entry == ScanThread::Entry::DeletedFilesDisk);
    a = argumentsOf(w.lastStart());
    QVERIFY(a.size() == 2 && typesIn(a[0]) > 0 && a[1].intValue() == 1);
    w.wizard->setAutoRecovery({}, 5);
    w.wizard->rawSliderNextClicked(true);
    QCOMPARE(argumentsOf(w.lastStart()).size(), 4u);
    w.wizard->gotoHome(nullptr);

    // 4, partitions: the partition table's HFS+ partition, standard scan,
    // Skip; Back from the file types keeps the volume for the advanced scan.
    w.choose("buttonRecoverPartitionAndDrives", "buttonRecoverPartitionAndDrivesFast");
    QCOMPARE(w.p.text("textFieldHeadingDriveListTab"), QStringLiteral("Please select disk to continue..."));
    w.clickDriveRow(disk);
    w.click("nextButtonInDrivesList");
    QCOMPARE(w.tab(), QStringLiteral("PT list"));
    QCOMPARE(w.tables->rowCount(DrivesTableDataSource::Table::Partitions), 1);
    QVERIFY(!w.p.enabled("buttonPTListNext"));
    w.clickRow("tableViewPTList", 0);
    w.click("buttonPTListNext");
    QCOMPARE(w.tab(), QStringLiteral("Tree scan mode"));
    w.click("buttonTreeScanModeStd");
    w.click("skipButtonSigTab");
    a = argumentsOf(w.lastStart());
    QVERIFY(w.lastStart().entry == ScanThread::Entry::MakingTree && a.size() == 2 &&
            a[0].stringValue() == "Normal Scan" && a[1].intValue() == 0);
    w.p.window.selectTabViewItemWithIdentifier(QStringLiteral("Signatures"));
    w.click("buttonSigSelBack");
    QCOMPARE(w.tab(), QStringLiteral("Tree scan mode"));
    QVERIFY(w.p.delegate.selectedVolume());
    w.click("buttonTreeScanModeAdv");
    fileTypes->selectAllSig();
    w.click("nextButtonSigTab");
    a = argumentsOf(w.lastStart());
    QVERIFY(a.size() == 3 && a[0].stringValue() == "Advanced Scan" && a[1].intValue() == 1 && typesIn(a[2]) > 0);
    w.wizard->setAutoRecovery({}, 9);
    w.wizard->rawSliderNextClicked(true);
    QCOMPARE(argumentsOf(w.lastStart()).size(), 5u);
    w.wizard->gotoHome(nullptr);

    // 5, formatted drive: the volume goes straight to the file types with
    // the advanced tree scan.
    w.choose("buttonRecoverPartitionAndDrives", "buttonRecoverPartitionAndDrivesAdvanced");
    w.clickDriveRow(v.get("Path").stringValue());
    w.click("nextButtonInDrivesList");
    QCOMPARE(w.tab(), QStringLiteral("Signatures"));
    w.click("skipButtonSigTab");
    a = argumentsOf(w.lastStart());
    QVERIFY(a.size() == 2 && a[0].stringValue() == "Advanced Scan");
    QCOMPARE(w.wizard->rawSearchMode(), platform::RawSearchMode::Tree);
    w.wizard->rawSliderNextClicked(true);
    QCOMPARE(argumentsOf(w.lastStart()).size(), 2u);
}

void ScanWizardTest::theRangeScreenRefusesAnEmptyRangeAndBackFreesTheVolume() {
    DeletedFilesVolume volume;
    // A volume without file-system recovery: the search alone.
    Dict v = volumeRow(volume.path.string(), 1000000000ULL);
    v.set("supportFileSystemRecovery", 0);
    Wizard w([&] { return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{Array{}, Array{v}, Array{v}}; });
    w.choose("buttonRecoverFiles", "buttonRecoverFilesAdvanced");
    w.clickDriveRow(v.get("Path").stringValue());
    w.click("nextButtonInDrivesList");
    SignatureListController::of(w.p.delegate)->selectAllSig();
    w.p.widget<QCheckBox>("rawSearchCheckBox")->setChecked(true);
    w.click("nextButtonSigTab");
    QCOMPARE(w.p.text("textFieldSizeOfRawScanDrvVol"), QStringLiteral("1.00 GB"));
    w.p.widget<QSlider>("sliderStart")->setValue(500);
    w.p.widget<QSlider>("sliderEnd")->setValue(500);
    QCOMPARE(w.p.text("textFieldEndSliderStatus"), QStringLiteral("50% 500.00 MB"));
    AlertAnswerer answer(QStringLiteral("OK"));
    w.click("buttonRawSliderNext");
    QCOMPARE(answer.title(), QStringLiteral("! Can not continue"));
    QCOMPARE(w.tab(), QStringLiteral("Raw slider"));
    QVERIFY(w.starts.empty() && !platform::scanRunningFlag());
    w.p.widget<QSlider>("sliderStart")->setValue(499);
    w.click("buttonRawSliderNext");
    const Array a = argumentsOf(w.lastStart());
    QCOMPARE(w.wizard->rawSearchMode(), platform::RawSearchMode::SearchOnly);
    QVERIFY(a.size() == 4 && a[0].intValue() == 0 && a[1].intValue() == 1 && a[3].intValue() == 0);
    QVERIFY(platform::scanRunningFlag());
    w.p.window.selectTabViewItemWithIdentifier(QStringLiteral("Raw slider"));
    w.click("buttonRawSliderBack");
    QCOMPARE(w.tab(), QStringLiteral("Signatures"));
    w.click("buttonSigSelBack");
    QCOMPARE(w.tab(), QStringLiteral("Drives List"));
    QVERIFY(!w.p.delegate.selectedVolume());
    w.click("backButtonInDrivesList");
    QCOMPARE(w.tab(), QStringLiteral("Recover Files"));
    QCOMPARE(w.p.delegate.scanMode(), platform::ScanMode::None);
    w.click("buttonBackToMainScreenFromFileRecoveryTab");
    QCOMPARE(w.tab(), QStringLiteral("Main Screen"));
}

void ScanWizardTest::partitionRecoveryFindsALostVolumeAndGoesBackThroughItsLists() {
    const fs::path disk = diskWithLostVolume();
    QVERIFY(!disk.empty());
    // The disk as a loop device where one can be attached, else its image.
    LoopDevice loop(disk);
    const std::string device = loop.path().empty() ? disk.string() : loop.path();
    const Dict d = diskRow(device, sizeOf(disk.string()));
    Quelvar_Recovery_SoftwareAppDelegate::DriveListLoader drives =
        Quelvar_Recovery_SoftwareAppDelegate::discoveredDrives;
    if (loop.path().empty())
        drives = [d] { return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{Array{d}, Array{}, Array{}}; };
    Wizard w(drives, false);
    w.choose("buttonRecoverPartitionAndDrives", "buttonRecoverPartitionAndDrivesFast");
    w.clickDriveRow(device);
    w.click("nextButtonInDrivesList");
    QCOMPARE(w.tables->rowCount(DrivesTableDataSource::Table::Partitions), 0);
    QVERIFY(w.p.widget<QLabel>("textFieldEmptyPTList")->isVisible());
    // The disk's other partitions hold FAT and exFAT volumes.
    QVERIFY(w.p.text("textFieldEmptyPTList").startsWith("No HFS/HFS+ partition was found on this disk"));
    const auto search = [&] {
        w.click("buttonPTListCheckBoxScanForVolumes");
        w.click("buttonPTListNext");
        QVERIFY(w.waitFor("PT scan list"));
        QVERIFY(w.tables->rowCount(DrivesTableDataSource::Table::FoundVolumes) >= 1);
        QVERIFY(!w.p.enabled("buttonPTScanListNext"));
    };
    search();
    w.click("buttonPTScanListBack");
    QCOMPARE(w.tab(), QStringLiteral("PT list"));
    QVERIFY(!w.p.widget<QCheckBox>("buttonPTListCheckBoxScanForVolumes")->isChecked());
    search();
    w.clickRow("tableViewScanPTList", 0);
    w.click("buttonPTScanListNext");
    QCOMPARE(w.tab(), QStringLiteral("Tree scan mode"));
    QCOMPARE(w.p.delegate.selectedVolume()->startSector, 34816u);
    w.click("buttonTreeScanModeBack");
    QCOMPARE(w.tab(), QStringLiteral("PT scan list"));
    QVERIFY(!w.p.delegate.selectedVolume());

    // The found volume scanned: its files are on the result screen.
    w.clickRow("tableViewScanPTList", 0);
    w.click("buttonPTScanListNext");
    w.click("buttonTreeScanModeStd");
    AlertAnswerer scanned(QStringLiteral("OK"));
    w.click("skipButtonSigTab");
    QVERIFY(w.waitForTree());
    QVERIFY(w.tree->model()->rowCount(w.tree->model()->index(0, 0)) > 0);
}

void ScanWizardTest::anEmptyListFillsWhenADeviceComesAndAnUnreadableOneAsksForRights() {
    const fs::path sysfs = makeTempDir("sysfs");
    fs::create_directories(sysfs / "block");
    std::atomic<bool> attached{false};
    const Dict v = volumeRow("/nonexistent/device", 1000);
    Wizard w([&] {
        const Array volumes = attached ? Array{v} : Array{};
        return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{Array{}, volumes, volumes};
    });
    w.wizard->watchDrives(new DriveListMonitor(sysfs.string(), std::chrono::milliseconds(50)));
    // The row is clicked as soon as it shows, quicker than a user sees it.
    w.tables->setRowsSettleTime(std::chrono::milliseconds(0));
    w.choose("buttonRecoverFiles", "buttonRecoverFilesFast");
    QVERIFY(w.p.widget<QLabel>("textFieldEmptyDrivesList")->isVisible());
    attached = true;
    fs::create_directories(sysfs / "block" / "loop7");
    writeText(sysfs / "block" / "loop7" / "size", "2048\n");
    QTRY_COMPARE(w.tables->rowCount(DrivesTableDataSource::Table::Drives), 1);
    QVERIFY(w.waitFor("Drives List"));
    QVERIFY(!w.p.widget<QLabel>("textFieldEmptyDrivesList")->isVisible());
    w.clickDriveRow("/nonexistent/device");
    w.click("nextButtonInDrivesList");
    QCOMPARE(w.tab(), QStringLiteral("Drives List"));
    QVERIFY(w.p.widget<QWidget>("windowSIPPanel")->isVisible());
    QVERIFY(!w.p.delegate.selectedVolume());

    // Run from where it was built, the program is started by its own path,
    // with the display handed over; installed, by its name.
    const QString step = w.p.text("textStep1");
    const QString command = step.mid(step.indexOf(QStringLiteral("pkexec ")));
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    QVERIFY2(command.endsWith(QLatin1Char(' ') + program) && QFileInfo(program).isExecutable(), qPrintable(step));
    PermissionPanel::Launch launch{.program = "/usr/local/bin/drentic-recovery",
                                   .installedProgram = "/usr/local/bin/drentic-recovery",
                                   .policyInstalled = true,
                                   .onPath = "/usr/local/bin/drentic-recovery",
                                   .display = ":1",
                                   .xauthority = "/run/user/1000/gdm/Xauthority"};
    QCOMPARE(PermissionPanel::startCommand(launch), QStringLiteral("pkexec drentic-recovery"));
    launch.onPath.clear();
    QCOMPARE(PermissionPanel::startCommand(launch), QStringLiteral("pkexec /usr/local/bin/drentic-recovery"));
    launch.policyInstalled = false;
    QCOMPARE(PermissionPanel::startCommand(launch),
             QStringLiteral("pkexec env DISPLAY=:1 XAUTHORITY=/run/user/1000/gdm/Xauthority "
                            "/usr/local/bin/drentic-recovery"));
}

// Recover Photos ▸ Advanced lists the machine's disks as the program finds them. Two images attached, and one between
// them detached as the list shows: a listing with nothing chosen, which chooses nothing. The second image chosen, a
// third attached (at the loop device freed before the second's, unless another program took it: the second's row
// moves down) and detached: the second stays chosen, Next scans it and the heading names it.
void ScanWizardTest::theDrivesListKeepsTheChosenImageAsOthersComeAndGo() {
    if (::geteuid() != 0) QSKIP("needs root for loop devices");
    const fs::path dir = makeTempDir("come-and-go");
    for (const char* name : {"first.img", "between.img", "second.img", "third.img"})
        zeroFile(dir / name, 1u << 20);
    LoopDevice first(dir / "first.img");
    auto between = std::make_unique<LoopDevice>(dir / "between.img");
    LoopDevice second(dir / "second.img");
    QVERIFY(!first.path().empty() && !between->path().empty() && !second.path().empty());
    Wizard w(Quelvar_Recovery_SoftwareAppDelegate::discoveredDrives);
    std::string scanned;
    w.wizard->setScanStarter([&](std::shared_ptr<Volume> v, ScanThread::Entry, Array) { scanned = v->path(); });
    w.wizard->watchDrives(new DriveListMonitor(SystemPaths::system().sysfsRoot, std::chrono::milliseconds(50)));
    w.tables->setRowsSettleTime(std::chrono::milliseconds(0)); // the clicks come quicker than a user's
    w.p.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.p.window));
    w.choose("buttonRecoverPhotos", "buttonRecoverPhotosAdvanced");
    // A node let go of may go to another program's device at once: a row that goes is known by its medium.
    const auto medium = [&](const std::string& node) {
        const std::optional<Dict> row = w.driveRow(node);
        return row ? row->get("Medium Identity").description() : std::string("no row");
    };
    const std::string gone = medium(between->path());
    QVERIFY(w.driveRow(gone, "Medium Identity"));
    between.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!w.driveRow(gone, "Medium Identity"), 10000);
    QCOMPARE(w.chosenDrive(), std::string("none"));
    QVERIFY(!w.p.enabled("nextButtonInDrivesList"));
    w.clickDriveRow(second.path());
    std::string third;
    {
        LoopDevice attached(dir / "third.img");
        QVERIFY(!attached.path().empty());
        const auto shown = [&] {
            const std::optional<Dict> row = w.driveRow(attached.path());
            return row && row->get("device model").description() == "third.img";
        };
        QTRY_VERIFY_WITH_TIMEOUT(shown(), 10000);
        third = medium(attached.path());
        QCOMPARE(w.chosenDrive(), second.path());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!w.driveRow(third, "Medium Identity"), 10000);
    QCOMPARE(w.chosenDrive(), second.path());
    w.click("nextButtonInDrivesList");
    QCOMPARE(w.tab(), QStringLiteral("Signatures"));
    SignatureListController::of(w.p.delegate)->selectAllSig();
    w.click("nextButtonSigTab");
    QCOMPARE(scanned, second.path());
    QCOMPARE(w.p.text("textFieldStatus"), QStringLiteral("Searching for music, video and photos from second.img - -"));
}

// Two cards of one size, the first chosen at its loop device, then swapped there for the second (losetup -d, and -P at
// the node). Next pressed at once, before any look at the devices, opens nothing: the user is told, and the list shows
// the second card, not chosen. So does the scan's start where the card is swapped back as the file types are chosen.
// Followed, the list shows the card swapped in within the monitor's interval, not chosen; that card chosen is the one
// scanned.
void ScanWizardTest::aCardSwappedAtItsNodeIsAnotherRowAndNothingScansItUnderTheFirstsName() {
    if (::geteuid() != 0) QSKIP("needs root for loop devices");
    // Another program's losetup -f may take the node between its detach and attach: the cards go to another node.
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool nodeTaken = false;
        swapCardsAtOneNode(nodeTaken);
        if (!nodeTaken || QTest::currentTestFailed()) return;
    }
    QFAIL("other programs took the loop device at every swap");
}

void ScanWizardTest::swapCardsAtOneNode(bool& nodeTaken) {
    using namespace std::chrono_literals;
    const fs::path dir = makeTempDir("swapped");
    for (const char* card : {"first.img", "second.img"})
        zeroFile(dir / card, 1u << 20);
    LoopDevice loop(dir / "first.img");
    QVERIFY(!loop.path().empty());
    const fs::path backing = fs::path("/sys/block") / fs::path(loop.path()).filename() / "loop" / "backing_file";
    // The program's listing may hold the node open as it is detached: the attach waits for it to let go.
    const auto swapTo = [&](const char* card) {
        nodeTaken = !loop.swapTo(dir / card, "-P");
        return !nodeTaken;
    };
    Wizard w(Quelvar_Recovery_SoftwareAppDelegate::discoveredDrives);
    std::vector<std::string> scanned; // the card each scan was started on, and the card at its node then
    w.wizard->setScanStarter([&](std::shared_ptr<Volume> v, ScanThread::Entry, Array) {
        const std::string at = readText(backing);
        scanned.push_back(v->model() + " at " + fs::path(at.substr(0, at.find('\n'))).filename().string());
    });
    const auto listed = [&] {
        const std::optional<Dict> row = w.driveRow(loop.path());
        return (row ? row->get("device model").description() : "no row") +
               (w.chosenDrive() == loop.path() ? ", chosen" : "");
    };
    const auto pressed = [&](const char* button) {
        AlertAnswerer told(QStringLiteral("OK"));
        w.click(button);
        return told.title() + QStringLiteral(" on ") + w.tab();
    };
    const QString refused = QStringLiteral("Drive Not Connected on Drives List");
    w.tables->setRowsSettleTime(0ms);
    w.p.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.p.window));
    w.choose("buttonRecoverPhotos", "buttonRecoverPhotosAdvanced");
    w.clickDriveRow(loop.path());
    QCOMPARE(listed(), std::string("first.img, chosen"));
    if (!swapTo("second.img")) return;
    QCOMPARE(pressed("nextButtonInDrivesList"), refused);
    QTRY_COMPARE_WITH_TIMEOUT(listed(), std::string("second.img"), 10000);

    w.clickDriveRow(loop.path());
    w.click("nextButtonInDrivesList");
    QCOMPARE(w.tab(), QStringLiteral("Signatures"));
    if (!swapTo("first.img")) return;
    SignatureListController::of(w.p.delegate)->selectAllSig();
    QCOMPARE(pressed("nextButtonSigTab"), refused);
    QTRY_COMPARE_WITH_TIMEOUT(listed(), std::string("first.img"), 10000);

    w.wizard->watchDrives(new DriveListMonitor(SystemPaths::system().sysfsRoot, 200ms));
    w.clickDriveRow(loop.path());
    if (!swapTo("second.img")) return;
    QTRY_COMPARE_WITH_TIMEOUT(listed(), std::string("second.img"), 5000);
    w.clickDriveRow(loop.path());
    w.click("nextButtonInDrivesList");
    SignatureListController::of(w.p.delegate)->selectAllSig();
    w.click("nextButtonSigTab");
    QCOMPARE(scanned, std::vector<std::string>{"second.img at second.img"});
}

void ScanWizardTest::filesAreRecoveredFromADeviceAsANewUserWould() {
    DeletedFilesVolume volume;
    LoopDevice loop(volume.path);
    // On a machine that lends a loop device the program finds it by itself.
    std::string device = loop.path();
    Quelvar_Recovery_SoftwareAppDelegate::DriveListLoader drives =
        Quelvar_Recovery_SoftwareAppDelegate::discoveredDrives;
    if (device.empty()) {
        device = volume.path.string();
        const Dict v = volumeRow(device, sizeOf(device));
        drives = [v] { return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{Array{}, Array{v}, Array{v}}; };
    }
    Wizard w(drives, false);
    // Fast: the journaled volume's scan starts from the drives list; Home
    // from the result asks first and frees the tree.
    w.choose("buttonRecoverFiles", "buttonRecoverFilesFast");
    w.clickDriveRow(device);
    {
        AlertAnswerer scanned(QStringLiteral("OK"));
        w.click("nextButtonInDrivesList");
        QVERIFY(w.waitForTree());
    }
    QVERIFY(w.p.delegate.dirRootTemp());
    {
        AlertAnswerer leave(QStringLiteral("OK"));
        w.click("buttonGoToHomeFromTreeTab");
    }
    QCOMPARE(w.tab(), QStringLiteral("Main Screen"));
    QTRY_VERIFY_WITH_TIMEOUT(!w.p.delegate.selectedVolume() && !w.p.delegate.dirRootTemp(), 10000);

    w.choose("buttonRecoverFiles", "buttonRecoverFilesAdvanced");
    w.clickDriveRow(device);
    w.click("nextButtonInDrivesList");
    QCOMPARE(w.tab(), QStringLiteral("Signatures"));
    {
        // The end of the scan says what it found.
        AlertAnswerer scanned(QStringLiteral("OK"));
        w.click("skipButtonSigTab");
        QVERIFY(w.waitForTree());
    }

    // The deleted file is in the tree: find it, mark it, save it.
    ResultOutlineModel* model = w.tree->model();
    QVERIFY(model);
    QLineEdit* find = w.p.widget<QLineEdit>("findField");
    find->setText(QStringLiteral("gone.bin"));
    QTest::keyClick(find, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(w.p.enabled("markAllButton"), 10000);
    w.click("markAllButton");
    const fs::path out = makeTempDir("wizard-save");
    AlertAnswerer notTheSameVolume(QStringLiteral("Yes"));
    w.click("saveButton");
    QFileDialog* chooser = nullptr;
    QTRY_VERIFY((chooser = w.p.window.findChild<QFileDialog*>()) != nullptr && chooser->isVisible());
    chooser->setDirectory(QString::fromStdString(out.string()));
    chooser->selectFile(QString::fromStdString(out.string()));
    AlertAnswerer done(QStringLiteral("OK"));
    QMetaObject::invokeMethod(chooser, "accept");
    fs::path saved;
    for (int i = 0; i < 3000 && saved.empty(); ++i) {
        QTest::qWait(10);
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(out, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->path().filename() == "gone.bin" && fs::file_size(it->path()) == volume.gone.size())
                saved = it->path();
    }
    QVERIFY(!saved.empty());
    QTRY_VERIFY_WITH_TIMEOUT(!w.tree->savingRunning(), 20000);
    QCOMPARE(readBytes(saved), volume.gone);
}

void ScanWizardTest::formattedRecoveryOfAnExFATStickFindsItsPhotos() {
    ExFATStick stick;
    if (stick.image.empty()) QSKIP(stick.missing.c_str());
    LoopDevice loop(stick.image);
    QVERIFY(!loop.path().empty());
    Wizard w(Quelvar_Recovery_SoftwareAppDelegate::discoveredDrives, false);
    w.choose("buttonRecoverPartitionAndDrives", "buttonRecoverPartitionAndDrivesAdvanced");
    w.clickDriveRow(loop.path());
    w.click("nextButtonInDrivesList");
    QCOMPARE(w.tab(), QStringLiteral("Signatures"));
    // Its file system is only searched: there is nothing to skip to.
    QVERIFY(!w.p.enabled("skipButtonSigTab"));
    SignatureListController::of(w.p.delegate)->selectAllSig();
    w.click("nextButtonSigTab");
    QVERIFY(w.waitForTree());
    // The live photo's bytes begin one of the carved photos; the deleted
    // one is carved beside it.
    std::shared_ptr<Volume> v = w.p.delegate.selectedVolume();
    QVERIFY(v && v->dirRoot);
    int photos = 0;
    bool live = false;
    for (const auto& [path, node] : nodesByPath(v->dirRoot)) {
        if (node->isFolder() || !path.ends_with(".jpg")) continue;
        ++photos;
        live = live || readThroughExtents(*v, *node).starts_with(asString(stick.photo));
    }
    QVERIFY(photos >= 2 && live);

    // The fax, found where it begins, previewed from its row through the Preview button as a picture of its first
    // page.
    const NewDir* fax = nullptr;
    const std::string faxHead = asString(stick.fax).substr(0, 512);
    for (const auto& [path, node] : nodesByPath(v->dirRoot))
        if (!node->isFolder() && path.ends_with(".tif") && readThroughExtents(*v, *node).starts_with(faxHead))
            fax = node;
    QVERIFY(fax);
    const QModelIndex row = w.tree->model()->indexOfNode(fax);
    QTreeView* outline = w.tree->outline();
    outline->scrollTo(row);
    QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(row).center());
    QVERIFY(w.tree->selectedItem() && w.tree->selectedItem()->newDir() == fax);
    {
        // The advice to save the session first, answered as a user goes on.
        AlertAnswerer goOn(QStringLiteral("Preview"));
        w.click("previewButton");
        QTRY_VERIFY(goOn.answered());
    }
    auto* preview = PreviewWindow::made(&w.p.window);
    QTRY_VERIFY(preview && preview->isVisible() && !preview->previewLoading());
    QCOMPARE(preview->selectedPreviewTab(), QStringLiteral("Image"));
    QVERIFY(showsTheFaxFirstPage(preview->findChild<QLabel*>("previewImage")->pixmap()));
    w.p.delegate.previewClose();
}

void ScanWizardTest::aWholeDiskAPFSContainerIsOfferedAndScanned() {
    const fs::path image = ApfsNodeBuilder::makeContainer(makeTempDir("apfs-disk") / "container.img");
    if (image.empty()) QSKIP("mkapfs is not installed or failed");
    // mkapfs leaves the volume empty: a file of the builder's.
    ApfsNodeBuilder builder(image);
    const std::string text = "kept in a container that fills its disk\n";
    const std::uint64_t at = builder.writeData(text);
    builder.writeNode(
        {.records = {ApfsNodeBuilder::inode({.id = 20, .parent = 2, .name = "note.txt", .size = text.size()}),
                     ApfsNodeBuilder::fileExtent(20, 0, 4096, at)}});
    LoopDevice loop(image);
    if (loop.path().empty()) QSKIP("needs root for a loop device");
    Wizard w(Quelvar_Recovery_SoftwareAppDelegate::discoveredDrives, false);
    w.choose("buttonRecoverFiles", "buttonRecoverFilesFast");
    w.clickDriveRow(loop.path());
    {
        AlertAnswerer scanned(QStringLiteral("OK"));
        w.click("nextButtonInDrivesList");
        QVERIFY(w.waitForTree());
    }
    std::shared_ptr<Volume> v = w.p.delegate.selectedVolume();
    QVERIFY(v && v->volumeContent == "APFS");
    const NewDir* note = nodeAt(v->dirRoot, "note.txt");
    QVERIFY(note);
    QCOMPARE(readThroughExtents(*v, *note), text);
}

// A disk with a photo every 8 MiB that dies behind the page cache as Recover Photos ▸ Advanced reaches its last
// sixteenth (a loop device in direct I/O over the FUSE tool: the loop device's own cache is all there is), the pages
// of its first photo since let go of by the cache; everything marked through the root's check box, then Save. The
// save reads what the cache holds and asks the disk only for the rest, so every photo the cache holds is saved whole,
// even one read past the cache as a walk of the first photo's lost sectors steps over it; what neither gives is
// zeros, or cut where the save found the disk gone as its log tells, or not saved, never another file's bytes. The
// other photos before the death are pinned in the cache, so that what it holds does not hang on the machine's load;
// the photos the cache holds after the save are asked to be whole.
void ScanWizardTest::photosOfADiskThatDiesBehindItsCacheAreSavedFromWhatTheCacheHolds() {
    if (!ServedByTheFuseTool::possible()) QSKIP("the FUSE tool and loop devices need root, /dev/fuse and losetup");
    constexpr std::uint64_t kSectors = 262144, kEvery = 16384;
    const PhotoDisk disk(kSectors, kEvery);
    if (disk.photos.empty()) QSKIP("ImageMagick could not make the photos");
    const std::vector<std::string>& photos = disk.photos;
    const fs::path map = disk.image.parent_path() / "map";
    writeText(map, "");
    constexpr std::uint64_t kDeath = kSectors - kSectors / 16;
    ServedByTheFuseTool served(disk.image, map, ServedByTheFuseTool::Loop::DirectIo, kDeath);
    QVERIFY2(!served.device.empty(), "the FUSE tool did not serve the disk");
    // The cache holds every photo before the death but the first through the save, whatever else the machine does:
    // their pages, with the margin the carving measures past a photo's end, are pinned there while the disk still
    // answers; the first one's are let go after the scan.
    std::vector<std::unique_ptr<PinnedPages>> pinned;
    for (std::size_t k = 1; disk.sectorOf(k) < kDeath; ++k) {
        pinned.push_back(std::make_unique<PinnedPages>(served.device, disk.sectorOf(k) * 512, photos[k].size() + 4096));
        QVERIFY2(pinned.back()->pinned(), qPrintable(QStringLiteral("photo %1").arg(k)));
    }
    // The save's log, for the files it tells cut.
    std::mutex logMutex;
    std::vector<std::string> logs;
    platform::setLogSink([&](const std::string& line) {
        std::lock_guard lock(logMutex);
        logs.push_back(line);
    });
    const auto told = [&](const std::string& part) {
        std::lock_guard lock(logMutex);
        return std::any_of(logs.begin(), logs.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    };
    const auto savedLog = [&] {
        std::lock_guard lock(logMutex);
        QStringList lines;
        for (const std::string& l : logs)
            if (l.find("Root/") != std::string::npos) lines << QString::fromStdString(l);
        return lines.join(QStringLiteral(" | "));
    };
    struct SinkRestored {
        ~SinkRestored() { platform::setLogSink(nullptr); }
    } sinkRestored;
    const platform::Array drives{diskRow(served.device, kSectors * 512)};
    Wizard w([drives] { return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{drives, {}, {}}; }, false);
    QVERIFY(!w.shownPhotoScanOf(served.device).isEmpty());
    // The scan read every photo; the cache lets go of the first one's pages.
    QVERIFY(letGo(served.device, disk.sectorOf(0) * 512, (photos[0].size() + 4095) / 4096 * 4096));

    // Every alert answered, the destination taken as it is.
    EveryAlertAnswered alerts;
    const QStringList& titles = alerts.titles;
    w.markEverything();
    const fs::path out = makeTempDir("dying-disk-save");
    w.saveTo(out);
    QTRY_VERIFY_WITH_TIMEOUT(titles.filter(QStringLiteral("Saving")).size() > 0, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!w.tree->savingRunning(), 20000);
    alerts.timer.stop();
    QVERIFY2(titles.filter(QStringLiteral("Saving completed")).size() == 1, qPrintable(alerts.said()));

    // Each saved file a photo, each of its sectors the photo's own bytes or zeros (what could not be read), and
    // zeros past the photo's end; or, cut where the save found the disk gone, as the log tells it, the photo's first
    // bytes. A photo the cache still holds whole now held it through the save (the disk cannot fill it again): it is
    // saved whole. No file is empty.
    const auto sectorsOf = [](const std::string& bytes, const std::string& photo, bool cut) {
        std::vector<int> own; // 1: the photo's, 0: zeros
        if (bytes.empty() || (cut ? bytes.size() >= photo.size() : bytes.size() < photo.size()) ||
            bytes.size() >= photo.size() + 4096)
            return own;
        for (std::size_t at = 0; at < bytes.size(); at += 512) {
            const std::string_view got = std::string_view(bytes).substr(at, 512);
            const std::string_view want = at < photo.size() ? std::string_view(photo).substr(at, 512) : "";
            const bool zeros = got.find_first_not_of('\0') == std::string_view::npos;
            const bool mine = got.substr(0, want.size()) == want &&
                              got.substr(want.size()).find_first_not_of('\0') == std::string_view::npos;
            if (!mine && !zeros) return std::vector<int>{};
            own.push_back(mine ? 1 : 0);
        }
        return own;
    };
    std::set<std::size_t> whole;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(out, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        const std::string bytes = readText(it->path());
        const std::string path = fs::relative(it->path(), out).string();
        bool matched = false;
        for (std::size_t k = 0; k < photos.size(); ++k) {
            const bool cut = told("Could not read " + path + " from the medium; " + std::to_string(bytes.size()) +
                                  " of its " + std::to_string(photos[k].size()) + " bytes are saved");
            const std::vector<int> own = sectorsOf(bytes, photos[k], cut);
            if (own.empty()) continue;
            matched = true;
            if (!cut && std::count(own.begin(), own.end(), 1) == static_cast<std::ptrdiff_t>(own.size()))
                whole.insert(k);
        }
        QVERIFY2(matched, qPrintable(QString::fromStdString(it->path().string()) +
                                     QStringLiteral("; the save's log of the files: ") + savedLog()));
    }
    QVERIFY(!whole.count(0));
    const int device = ::open(served.device.c_str(), O_RDONLY | O_CLOEXEC);
    QVERIFY(device >= 0);
    std::size_t held = 0;
    for (std::size_t k = 1; k < photos.size(); ++k) {
        std::vector<std::uint8_t> bytes(photos[k].size());
        if (platform::readCachedBytes(device, bytes.data(), bytes.size(), disk.sectorOf(k) * 512) !=
            static_cast<std::int64_t>(bytes.size()))
            continue;
        ++held;
        QVERIFY2(whole.count(k),
                 qPrintable(QStringLiteral("photo %1; the save's log of the files: %2").arg(k).arg(savedLog())));
    }
    ::close(device);
    QVERIFY2(held * 2 > photos.size(), qPrintable(QString::number(held)));
}

// A disk of photos that dies 30 % into Recover Photos ▸ Advanced (a loop device in direct I/O over the FUSE tool): the
// scan goes on with what the page cache holds and its end says the drive stopped answering. Mark All, then Save: the
// save asks the disk again, finds it gone and says so, and saves each photo the cache holds whole, exact, and no
// other file: none of zeros, none cut. The cache holds chosen photos on both sides of the death (pinned while the
// disk answered, so that the machine's load does not choose), and lets go of the first one after the scan.
void ScanWizardTest::aDiskDyingAThirdIntoAPhotoScanIsToldGoneAndOnlyWhatTheCacheHoldsIsSaved() {
    if (!ServedByTheFuseTool::possible()) QSKIP("the FUSE tool and loop devices need root, /dev/fuse and losetup");
    constexpr std::uint64_t kSectors = 262144, kEvery = 16384, kDeath = kSectors * 3 / 10;
    const PhotoDisk disk(kSectors, kEvery);
    if (disk.photos.empty()) QSKIP("ImageMagick could not make the photos");
    const std::vector<std::string>& photos = disk.photos;
    const fs::path map = disk.image.parent_path() / "map";
    writeText(map, "");
    ServedByTheFuseTool served(disk.image, map, ServedByTheFuseTool::Loop::DirectIo, kDeath);
    QVERIFY2(!served.device.empty(), "the FUSE tool did not serve the disk");
    // Three photos before the death and two past it, each with the margin the carving measures past its end.
    const std::set<std::size_t> held{1, 2, 3, 8, 12};
    std::vector<std::unique_ptr<PinnedPages>> pinned;
    for (const std::size_t k : held) {
        pinned.push_back(std::make_unique<PinnedPages>(served.device, disk.sectorOf(k) * 512, photos[k].size() + 4096));
        QVERIFY2(pinned.back()->pinned(), qPrintable(QStringLiteral("photo %1").arg(k)));
    }
    const platform::Array drives{diskRow(served.device, kSectors * 512)};
    Wizard w([drives] { return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{drives, {}, {}}; }, false);
    const QString scanEnd = w.shownPhotoScanOf(served.device);
    QVERIFY(!scanEnd.isEmpty());
    // How far the scan had come: the read that ran into the death began at most a read's length before it.
    const QRegularExpressionMatch stopped =
        QRegularExpression(QStringLiteral("The drive stopped answering (\\d+)% of the way into the scan"))
            .match(scanEnd);
    QVERIFY2(stopped.hasMatch() && stopped.captured(1).toInt() >= 20 && stopped.captured(1).toInt() <= 30,
             qPrintable(scanEnd));
    QVERIFY(letGo(served.device, disk.sectorOf(0) * 512, (photos[0].size() + 4095) / 4096 * 4096));

    EveryAlertAnswered alerts;
    // Every photo found by its extension, then Mark All: the root is marked whole.
    QLineEdit* find = w.p.widget<QLineEdit>("findField");
    find->setText(QStringLiteral(".jpg"));
    QTest::keyClick(find, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(w.p.enabled("markAllButton"), 10000);
    w.click("markAllButton");
    QCOMPARE(w.tree->model()->index(0, ResultOutlineModel::MarkColumn).data(Qt::CheckStateRole).toInt(),
             int(Qt::Checked));
    const fs::path out = makeTempDir("dead-disk-save");
    w.saveTo(out);
    QTRY_VERIFY_WITH_TIMEOUT(alerts.titles.filter(QStringLiteral("Saving")).size() > 0, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!w.tree->savingRunning(), 20000);
    alerts.timer.stop();
    const qsizetype gone = alerts.titles.indexOf(QStringLiteral("! Can not save files"));
    QVERIFY2(gone >= 0, qPrintable(alerts.said()));
    QCOMPARE(alerts.messages[gone], QStringLiteral("The Drive or Volume being read is no longer available."));
    QVERIFY2(alerts.titles.back().startsWith(QStringLiteral("Saving")) &&
                 alerts.messages.back().contains(QStringLiteral("no longer answers")),
             qPrintable(alerts.said()));

    // Each saved file is a photo to its last byte, then zeros as far as the margin goes.
    std::set<std::size_t> saved;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(out, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        const std::string bytes = readText(it->path());
        const auto k = std::find_if(photos.begin(), photos.end(), [&](const std::string& photo) {
            return bytes.starts_with(photo) && bytes.size() < photo.size() + 4096 &&
                   bytes.find_first_not_of('\0', photo.size()) == std::string::npos;
        });
        QVERIFY2(k != photos.end(), qPrintable(QStringLiteral("%1 (%2 bytes) | %3")
                                                   .arg(QString::fromStdString(it->path().string()))
                                                   .arg(bytes.size())
                                                   .arg(alerts.said())));
        saved.insert(static_cast<std::size_t>(k - photos.begin()));
    }
    for (const std::size_t k : held)
        QVERIFY2(saved.count(k), qPrintable(QStringLiteral("photo %1 | %2").arg(k).arg(alerts.said())));
    QVERIFY(!saved.count(0));
}

// A live disk holding a movie whose media data has a run of sectors the disk cannot read, far past what a walk of the
// movie's atoms reads, and a photo after it (Recover Photos ▸ Advanced): the movie's row shows it Bad, the photo's
// not; the scan's end tells lost sectors, not a drive that stopped.
void ScanWizardTest::aMovieWithUnreadableSectorsInItsMediaDataIsListedBadBesideAWholePhoto() {
    if (!ServedByTheFuseTool::possible()) QSKIP("the FUSE tool and loop devices need root, /dev/fuse and losetup");
    if (!haveTool("ffmpeg") || !haveTool("convert")) QSKIP("needs ffmpeg and ImageMagick");
    const std::string movie =
        toolSample("ffmpeg -v error -f lavfi -i " + sampleVideo("size=320x240:rate=25:duration=4") +
                       " -vf noise=alls=60:allf=t -threads 1 -c:v mpeg4 -q:v 3 \"$OUT\"",
                   "mp4");
    const std::string photo =
        toolSample("convert -seed " + sampleSeed(7) + " -size 640x480 plasma: -quality 90 \"$OUT\"", "jpg");
    QVERIFY(!movie.empty() && !photo.empty());
    // The media data atom among the movie's top-level atoms.
    std::uint64_t mdat = 0, mdatSize = 0;
    for (std::uint64_t at = 0; at + 8 <= movie.size() && mdatSize == 0;) {
        const std::uint64_t size = std::uint64_t(std::uint8_t(movie[at])) << 24 |
                                   std::uint64_t(std::uint8_t(movie[at + 1])) << 16 |
                                   std::uint64_t(std::uint8_t(movie[at + 2])) << 8 | std::uint8_t(movie[at + 3]);
        if (movie.compare(at + 4, 4, "mdat") == 0) {
            mdat = at;
            mdatSize = size;
        }
        if (size < 8) break;
        at += size;
    }
    QVERIFY2(mdatSize >= (2u << 20), qPrintable(QString::number(mdatSize)));
    constexpr std::uint64_t kSectors = 131072, kMovieAt = 2048, kPhotoAt = 65536, kBadRun = 64;
    QVERIFY(kMovieAt * 512 + movie.size() < kPhotoAt * 512);
    const std::uint64_t bad = kMovieAt + (mdat + mdatSize / 2) / 512;
    const fs::path image = zeroImage(kSectors * 512);
    writeAt(image, kMovieAt * 512, {movie.begin(), movie.end()});
    writeAt(image, kPhotoAt * 512, {photo.begin(), photo.end()});
    const fs::path map = image.parent_path() / "map";
    writeText(map, std::to_string(bad) + " " + std::to_string(kBadRun) + "\n");
    ServedByTheFuseTool served(image, map, ServedByTheFuseTool::Loop::DirectIo);
    QVERIFY2(!served.device.empty(), "the FUSE tool did not serve the disk");

    const platform::Array drives{diskRow(served.device, kSectors * 512)};
    Wizard w([drives] { return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{drives, {}, {}}; }, false);
    const QString scanEnd = w.shownPhotoScanOf(served.device);
    QVERIFY(!scanEnd.isEmpty());
    QVERIFY2(scanEnd.contains(QStringLiteral("could not be read")) && !scanEnd.contains(QStringLiteral("stopped")),
             qPrintable(scanEnd));
    std::shared_ptr<Volume> v = w.p.delegate.selectedVolume();
    QVERIFY(v && v->dirRoot);
    const NewDir *found = nullptr, *beside = nullptr;
    for (const auto& [path, node] : nodesByPath(v->dirRoot)) {
        if (node->isFolder()) continue;
        if (firstSector(*node) == kMovieAt) found = node;
        if (firstSector(*node) == kPhotoAt) beside = node;
    }
    QVERIFY(found && beside);
    const auto verdict = [&](const NewDir* node) {
        const QModelIndex row = w.tree->model()->indexOfNode(node);
        w.tree->outline()->scrollTo(row);
        return row.siblingAtColumn(ResultOutlineModel::CompleteColumn).data().toString();
    };
    QCOMPARE(verdict(found), QStringLiteral("Bad"));
    QVERIFY(verdict(beside) != QStringLiteral("Bad"));
}

QTEST_MAIN(ScanWizardTest)
#include "ScanWizardTest.moc"
