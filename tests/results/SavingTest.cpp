// Saving marked files and folders: the names they get on the destination,
// the checks of the chosen folder, the reads through the file's extents, and
// whole saves of trees built here and of trees scanned from real HFS+
// volumes, compared byte for byte with what went into those volumes. Nothing
// may be written outside the destination or over anything already there,
// and a save that lost a file must say so.

#include "results/DataSaving.h"
#include "results/DestinationFileSystem.h"
#include "results/DestinationFolder.h"
#include "results/FileExtentsCopier.h"
#include "results/LocalDestinationFileSystem.h"
#include "results/NewDirViewHelper.h"
#include "results/SaveFileName.h"
#include "scan/ScanThread.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::AlertAlternateReturn;
using platform::AlertDefaultReturn;
using platform::Array;
using platform::Dict;
using testsupport::readText;
using testsupport::runCommand;
using testsupport::volumeOver;

namespace {

// ------------------------------------------------------------- helpers ----

// Every entry below root (links not followed), as paths relative to it.
std::set<std::string> entriesBelow(const fs::path& root) {
    std::set<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        out.insert(fs::relative(it->path(), root).string());
    return out;
}

// The destination answered by the test.
struct FakeDestination : DestinationFileSystem {
    std::optional<std::uint64_t> free = UINT64_MAX;
    std::optional<Info> answer = Info{true, "ext4"};
    bool onDevice = false;
    mutable std::vector<std::string> devicesAsked;
    std::optional<std::uint64_t> freeBytes(const std::string&) const override { return free; }
    std::optional<Info> info(const std::string&) const override { return answer; }
    bool isOnDevice(const std::string&, const std::string& devicePath) const override {
        devicesAsked.push_back(devicePath);
        return onDevice;
    }
};

// A medium whose every byte is known: byte i of the image is a function of
// i, so any misplaced read shows.
std::uint8_t imageByte(std::uint64_t i) {
    return static_cast<std::uint8_t>((i * 131u + (i >> 9) * 7u + 1u) & 0xFF);
}

fs::path makeImage(std::uint64_t sectors) {
    fs::path p = testsupport::makeTempDir("save-medium") / "medium.img";
    std::string bytes(sectors * 512, '\0');
    for (std::uint64_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(imageByte(i));
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p;
}

std::string imageBytes(std::uint64_t offset, std::uint64_t length) {
    std::string s(length, '\0');
    for (std::uint64_t i = 0; i < length; ++i)
        s[i] = static_cast<char>(imageByte(offset + i));
    return s;
}

// Builds a found tree the way the scans leave it: counters of every
// ancestor raised, marks set where asked.
struct TreeBuilder {
    NewDir* root = nullptr;
    TreeBuilder() { root = folder(nullptr, u"Root"); }
    ~TreeBuilder() { newdir::freeNDir(root); }
    TreeBuilder(const TreeBuilder&) = delete;
    TreeBuilder& operator=(const TreeBuilder&) = delete;

    NewDir* attach(NewDir* parent, NewDir* node) {
        node->pndirPointer = parent;
        node->selected = 1;
        if (!parent) return node;
        newdir::appendChild(parent, node);
        for (NewDir* a = parent; a; a = a->pndirPointer) {
            ++a->childrenCount;
            if (node->fileType == NewDir::File) a->fileSize += node->fileSize;
        }
        return node;
    }
    NewDir* folder(NewDir* parent, std::u16string_view name) {
        NewDir* n = newdir::allocate();
        n->fileType = NewDir::Folder;
        newdir::setFileName(n, name);
        return attach(parent, n);
    }
    NewDir* file(NewDir* parent, std::u16string_view name, std::uint64_t size,
                 std::vector<std::pair<std::uint32_t, std::uint32_t>> extents, std::uint8_t sectorsPerBlock = 8) {
        NewDir* n = newdir::allocate();
        n->fileType = NewDir::File;
        n->fileSize = size;
        n->sectorsPerBlock = sectorsPerBlock;
        newdir::setFileName(n, name);
        for (auto [start, count] : extents)
            n->extents.push_back({start, count});
        return attach(parent, n);
    }
};

struct Read {
    std::uint64_t sector;
    std::int32_t count;
    bool operator==(const Read&) const = default;
};

class Saving : public testsupport::ScanFixture {
protected:
    void SetUp() override {
        ScanFixture::SetUp();
        outer = testsupport::makeTempDir("save-outer");
        destination = outer / "chosen";
        fs::create_directory(destination);
    }

    // A volume over a fresh medium of `sectors` sectors that counts as
    // present in the drive list.
    std::shared_ptr<Volume> medium(std::uint64_t sectors = 4096, std::uint64_t start = 0) {
        image = makeImage(sectors);
        controller.setDriveDictArray(Array{Dict{{"Path", image.string()}}});
        return volumeOver(image, start, sectors - start);
    }

    std::shared_ptr<DataSaving> saver(std::shared_ptr<Volume> v, NewDir* root, Dict row = {}) {
        auto s = DataSaving::create(std::move(v), root, std::move(row), fake);
        s->setPanelSettleDelay(std::chrono::milliseconds(0));
        s->setMarkedData(DataSaving::countMarkedToSave(root).bytes);
        return s;
    }

    // Records every read and passes it on to the volume.
    void recordReads(DataSaving& s, Volume& v, std::function<void(std::size_t)> onRead = nullptr) {
        s.setSectorReader([this, &v, onRead](std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
            reads.push_back({sector, count});
            if (onRead) onRead(reads.size());
            return v.readSaveSector(sector, count, buffer);
        });
    }

    void save(DataSaving& s) { s.saveFilesAndFolders(Dict{{"path", destination.string()}}); }

    std::string lastAlertTitle() const {
        auto a = controller.alerts();
        return a.empty() ? std::string() : a.back().title;
    }
    std::string lastAlertMessage() const {
        auto a = controller.alerts();
        return a.empty() ? std::string() : a.back().message;
    }

    std::shared_ptr<FakeDestination> fake = std::make_shared<FakeDestination>();
    std::vector<Read> reads;
    fs::path outer, destination, image;
};

} // namespace

// ============================================================ names ====

TEST(SaveNames, ACollidingNameTakesAnUnderscoreOnItsNextToLastPart) {
    EXPECT_EQ(SaveFileName::collisionName("photo.jpg"), "photo_.jpg");
    EXPECT_EQ(SaveFileName::collisionName("archive.tar.gz"), "archive.tar_.gz");
    EXPECT_EQ(SaveFileName::collisionName("notes"), "notes_");
    EXPECT_EQ(SaveFileName::collisionName(".profile"), "_.profile");
    // Again and again until the name is free.
    EXPECT_EQ(SaveFileName::collisionName("photo_.jpg"), "photo__.jpg");
}

TEST(SaveNames, ACollisionNameOfAFullLengthNameStaysWithinTheLimitAndNew) {
    std::string name(255, 'a');
    std::set<std::string> seen{name};
    // Each new name is new and fits, until none is left to make.
    for (;;) {
        name = SaveFileName::collisionName(name);
        if (name.empty()) break;
        ASSERT_LE(name.size(), SaveFileName::kNameMax);
        ASSERT_TRUE(seen.insert(name).second) << "repeated " << name;
        ASSERT_LT(seen.size(), 1000u);
    }
    EXPECT_GT(seen.size(), 255u);
}

TEST(SaveNames, NamesFromTheMediumBecomeOneSafeComponent) {
    EXPECT_EQ(SaveFileName::safeComponent(""), "Untitled");
    EXPECT_EQ(SaveFileName::safeComponent("."), "_.");
    EXPECT_EQ(SaveFileName::safeComponent(".."), "_..");
    EXPECT_EQ(SaveFileName::safeComponent(std::string("a\0b", 3)), "ab");
    EXPECT_EQ(SaveFileName::safeComponent(std::string("\0", 1)), "Untitled");
    EXPECT_EQ(SaveFileName::safeComponent(std::string(".\0.", 3)), "_..");
    EXPECT_EQ(SaveFileName::safeComponent("../../etc"), ".._.._etc");
    // Cut at a character boundary, keeping the extension.
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "\xc3\xa9"; // é
    const std::string cut = SaveFileName::safeComponent(longName + ".txt");
    EXPECT_LE(cut.size(), SaveFileName::kNameMax);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");
    EXPECT_EQ(cut.size() % 2, 0u) << "cut inside a character";
    for (const char* unsafe : {"", ".", "..", "a/b"})
        EXPECT_FALSE(SaveFileName::isSafeComponent(unsafe));
}

TEST(SaveNames, OnlyFatExfatAndNtfsFamiliesRefuseColons) {
    for (const char* foreign : {"vfat", "msdos", "exfat", "ntfs", "ntfs3", "fuseblk"})
        EXPECT_FALSE(DestinationFileSystem::takesColons(foreign)) << foreign;
    for (const char* native : {"ext4", "xfs", "btrfs", "tmpfs", "hfsplus", "f2fs", ""})
        EXPECT_TRUE(DestinationFileSystem::takesColons(native)) << native;
}

// ====================================================== destination ====

TEST(SaveDestination, AFileIsCreatedExclusivelyUnderTheNextFreeName) {
    fs::path dir = testsupport::makeTempDir("save-dest");
    std::ofstream(dir / "photo.jpg") << "mine";
    std::ofstream(dir / "photo_.jpg") << "also mine";
    auto folder = DestinationFolder::openDestination(dir.string());
    ASSERT_TRUE(folder);
    std::string created;
    int fd = folder->createFile("photo.jpg", created);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(created, "photo__.jpg");
    EXPECT_EQ(readText(dir / "photo.jpg"), "mine");
    EXPECT_EQ(readText(dir / "photo_.jpg"), "also mine");
}

TEST(SaveDestination, AnExistingFolderIsUsedButALinkInItsPlaceIsNot) {
    fs::path dir = testsupport::makeTempDir("save-dest");
    fs::path elsewhere = testsupport::makeTempDir("save-elsewhere");
    fs::create_directory(dir / "Root");
    fs::create_directory_symlink(elsewhere, dir / "Docs");
    auto folder = DestinationFolder::openDestination(dir.string());
    ASSERT_TRUE(folder);
    std::string created;
    EXPECT_TRUE(folder->makeFolder("Root", created));
    EXPECT_EQ(created, "Root");
    auto docs = folder->makeFolder("Docs", created);
    ASSERT_TRUE(docs);
    EXPECT_EQ(created, "Docs_");
    int fd = docs->createFile("x", created);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_TRUE(fs::exists(dir / "Docs_" / "x"));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_FALSE(folder->openFolder("Docs"));
}

TEST(SaveDestination, UnsafeComponentsAreRefusedBeforeAnyCall) {
    fs::path dir = testsupport::makeTempDir("save-dest");
    auto folder = DestinationFolder::openDestination(dir.string());
    ASSERT_TRUE(folder);
    std::string created;
    for (const char* bad : {"..", ".", "", "a/b"}) {
        EXPECT_FALSE(folder->makeFolder(bad, created)) << bad;
        EXPECT_LT(folder->createFile(bad, created), 0) << bad;
    }
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST(SaveDestination, TheMountTableNamesTheDeepestFileSystemAbove) {
    fs::path dir = testsupport::makeTempDir("save-mounts");
    fs::create_directories(dir / "usb" / "photos");
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    const std::string dev = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    const std::string real = fs::canonical(dir).string();
    std::ofstream(dir / "mountinfo") << "1 0 " << dev << " / / rw - ext4 /dev/root rw\n"
                                     << "2 1 " << dev << " / " << real << "/usb rw - vfat /dev/sdz1 rw\n"
                                     << "3 1 " << dev << " / " << real << "/us rw - ntfs3 /dev/sdz2 rw\n";
    SystemPaths paths;
    paths.mountInfo = (dir / "mountinfo").string();
    LocalDestinationFileSystem local(paths);
    EXPECT_EQ(local.mountedTypeOf((dir / "usb" / "photos").string()), "vfat");
    EXPECT_EQ(local.mountedTypeOf(dir.string()), "ext4");
    auto info = local.info((dir / "usb" / "photos").string());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->typeName, "vfat");
    EXPECT_TRUE(info->writable);
    EXPECT_TRUE(local.freeBytes(dir.string()).has_value());
    EXPECT_FALSE(local.freeBytes((dir / "missing").string()).has_value());
}

TEST(SaveDestination, AFolderOnTheScannedDeviceItselfIsRecognised) {
    LocalDestinationFileSystem local;
    fs::path dir = testsupport::makeTempDir("save-device");
    // An image file is only read: a destination beside it harms nothing.
    std::ofstream(dir / "disk.img") << "x";
    EXPECT_FALSE(local.isOnDevice(dir.string(), (dir / "disk.img").string()));
    // The block device the temporary folder lives on, when this system has
    // one with a node in /dev.
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    const std::string mm = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    std::ifstream uevent("/sys/dev/block/" + mm + "/uevent");
    std::string line, name;
    while (std::getline(uevent, line))
        if (line.rfind("DEVNAME=", 0) == 0) name = line.substr(8);
    struct stat node {};
    if (name.empty() || ::stat(("/dev/" + name).c_str(), &node) != 0 || !S_ISBLK(node.st_mode) ||
        node.st_rdev != st.st_dev)
        GTEST_SKIP() << "the temporary folder is not on a block device with a node";
    EXPECT_TRUE(local.isOnDevice(dir.string(), "/dev/" + name));
}

TEST(SaveDestination, APartitionOfTheScannedDiskIsOnItAndItsSiblingIsNot) {
    // sysfs as the kernel lays it out: the destination's device is partition
    // 1 of a disk that also has partition 2; device nodes of the disk and of
    // partition 2 stand for what the user scans.
    fs::path dir = testsupport::makeTempDir("save-sysfs");
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    if (major(st.st_dev) == 0) GTEST_SKIP() << "the temporary folder has no block device";
    const unsigned M = major(st.st_dev), m = minor(st.st_dev);
    const std::string own = std::to_string(M) + ":" + std::to_string(m);
    const std::string disk = std::to_string(M) + ":" + std::to_string(m + 1000);
    const std::string sibling = std::to_string(M) + ":" + std::to_string(m + 1001);
    const fs::path sys = dir / "sys";
    const fs::path diskFolder = sys / "devices" / "virtual" / "block" / "fakedisk";
    fs::create_directories(diskFolder / "fakedisk1");
    fs::create_directories(diskFolder / "fakedisk2");
    std::ofstream(diskFolder / "dev") << disk << "\n";
    std::ofstream(diskFolder / "fakedisk1" / "dev") << own << "\n";
    std::ofstream(diskFolder / "fakedisk1" / "partition") << "1\n";
    std::ofstream(diskFolder / "fakedisk2" / "dev") << sibling << "\n";
    std::ofstream(diskFolder / "fakedisk2" / "partition") << "2\n";
    fs::create_directories(sys / "dev" / "block");
    fs::create_directory_symlink(diskFolder, sys / "dev" / "block" / disk);
    fs::create_directory_symlink(diskFolder / "fakedisk1", sys / "dev" / "block" / own);
    fs::create_directory_symlink(diskFolder / "fakedisk2", sys / "dev" / "block" / sibling);
    const fs::path diskNode = dir / "disk", siblingNode = dir / "part2";
    if (::mknod(diskNode.c_str(), S_IFBLK | 0600, makedev(M, m + 1000)) != 0 ||
        ::mknod(siblingNode.c_str(), S_IFBLK | 0600, makedev(M, m + 1001)) != 0)
        GTEST_SKIP() << "device nodes cannot be made here";
    SystemPaths paths;
    paths.sysfsRoot = sys.string();
    paths.mountInfo = (dir / "no-mountinfo").string();
    LocalDestinationFileSystem local(paths);
    EXPECT_TRUE(local.isOnDevice(dir.string(), diskNode.string()));
    EXPECT_FALSE(local.isOnDevice(dir.string(), siblingNode.string()));
}

// ============================================================ checks ====

TEST_F(Saving, TheSaveActionAsksFirstAndNoEndsIt) {
    TreeBuilder tree;
    auto s = saver(medium(), tree.root);
    controller.scriptAlertAnswers({AlertAlternateReturn});
    EXPECT_FALSE(s->saveData());
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "Information");
    EXPECT_EQ(controller.alerts()[0].defaultButton, "Yes");
    EXPECT_EQ(controller.alerts()[0].alternateButton, "No");
    EXPECT_TRUE(s->saveData());
}

TEST_F(Saving, FreeSpaceEqualToTheMarkedBytesIsEnoughOneByteLessIsNot) {
    TreeBuilder tree;
    tree.file(tree.root, u"a", 5000, {{0, 2}});
    auto s = saver(medium(), tree.root);
    EXPECT_EQ(s->markedData(), 5000u);
    fake->free = 4999;
    EXPECT_FALSE(s->destinationPanelDidEnd(1, destination.string()));
    EXPECT_EQ(lastAlertTitle(), "! Not enough free disk space");
    EXPECT_EQ(lastAlertMessage(), "The volume you have chosen to save data does not have enough free space available.");
    // Unknown counts as none.
    fake->free.reset();
    EXPECT_FALSE(s->checkDestination(destination.string()));
    fake->free = 5000;
    EXPECT_TRUE(s->checkDestination(destination.string()));
    EXPECT_TRUE(fs::is_empty(destination));
}

TEST_F(Saving, AReadOnlyDestinationIsRefusedAndAnUnknownOneCountsAsNative) {
    TreeBuilder tree;
    auto s = saver(medium(), tree.root);
    fake->answer = DestinationFileSystem::Info{false, "ext4"};
    EXPECT_FALSE(s->checkDestination(destination.string()));
    EXPECT_EQ(lastAlertTitle(), "! Can not save");
    EXPECT_EQ(lastAlertMessage(), "The volume chosen to save data to, is not writable.");
    fake->answer = DestinationFileSystem::Info{true, "vfat"};
    EXPECT_TRUE(s->checkDestination(destination.string()));
    EXPECT_FALSE(s->canSaveSlashes());
    fake->answer.reset();
    EXPECT_TRUE(s->checkDestination(destination.string()));
    EXPECT_TRUE(s->canSaveSlashes());
}

TEST_F(Saving, AFolderOnTheMediumBeingRecoveredIsRefused) {
    TreeBuilder tree;
    tree.file(tree.root, u"a", 10, {{0, 1}});
    auto v = medium();
    auto s = saver(v, tree.root);
    fake->onDevice = true;
    EXPECT_FALSE(s->destinationPanelDidEnd(1, destination.string()));
    EXPECT_EQ(lastAlertTitle(), "! Can not save");
    EXPECT_NE(lastAlertMessage().find("drive or volume being recovered"), std::string::npos);
    EXPECT_EQ(fake->devicesAsked.front(), v->cPath());
    EXPECT_TRUE(fs::is_empty(destination));
}

TEST_F(Saving, APanelClosedWithoutOKDoesNothing) {
    TreeBuilder tree;
    auto s = saver(medium(), tree.root);
    EXPECT_FALSE(s->destinationPanelDidEnd(0, destination.string()));
    EXPECT_TRUE(controller.calls().empty());
}

TEST_F(Saving, CancellingTheForeignFileSystemWarningCreatesNothingAndRestoresTheScreen) {
    TreeBuilder tree;
    tree.file(tree.root, u"a", 10, {{0, 1}});
    auto v = medium();
    v->dirRoot = tree.root;
    auto s = saver(v, tree.root);
    s->setSelectedRowIsFile([] { return true; });
    fake->answer = DestinationFileSystem::Info{true, "exfat"};
    controller.scriptAlertAnswers({AlertAlternateReturn});
    ASSERT_TRUE(s->destinationPanelDidEnd(1, destination.string()));
    ASSERT_TRUE(s->waitUntilFinished(std::chrono::seconds(30)));
    v->dirRoot = nullptr;
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "Information");
    EXPECT_NE(controller.alerts()[0].message.find("Linux native filesystem"), std::string::npos);
    EXPECT_EQ(controller.alerts()[0].defaultButton, "OK");
    EXPECT_EQ(controller.alerts()[0].alternateButton, "Cancel");
    EXPECT_TRUE(fs::is_empty(destination));
    EXPECT_TRUE(controller.callsNamed("beginSheetWindow:").empty());
    std::map<std::string, bool> buttons;
    for (const auto& b : controller.callsNamed("updateButton:"))
        buttons[b.dictValue().get("button").stringValue()] = b.dictValue().get("setEnabled").boolValue();
    EXPECT_TRUE(buttons["saveScanButton"]);
    EXPECT_TRUE(buttons["buttonTreeBackToPartitions"]);
    EXPECT_TRUE(buttons["previewButton"]);
    EXPECT_TRUE(buttons["saveButton"]);
    EXPECT_FALSE(buttons["stopSaveButton"]);
    EXPECT_TRUE(controller.scanInfoOrSavingNotProcessing());
}

TEST_F(Saving, ProgressTextsUseUnitsOfAThousand) {
    TreeBuilder tree;
    auto s = saver(medium(), tree.root);
    s->updateTreeProgress(0);
    EXPECT_TRUE(controller.calls().empty());
    s->updateTreeProgress(999999);
    s->updateTreeProgress(1000000);
    s->updateTreeProgress(2500000000ULL);
    auto texts = controller.callsNamed("updateTextField:");
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].dictValue().get("textField").stringValue(), "textFieldSavedData");
    EXPECT_EQ(texts[0].dictValue().get("textField String").stringValue(), "Saved: 1000.00 KB");
    EXPECT_EQ(texts[1].dictValue().get("textField String").stringValue(), "Saved: 1.00 MB");
    EXPECT_EQ(texts[2].dictValue().get("textField String").stringValue(), "Saved: 2.50 GB");
    auto bars = controller.callsNamed("updateProgressIndicator:");
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_EQ(bars[1].dictValue().get("progressIndicator").stringValue(), "progressTree");
    EXPECT_EQ(bars[1].dictValue().get("doubleValue").doubleValue(), 1000000.0);
}

// ================================================= files and extents ====

TEST_F(Saving, ASingleExtentFileIsSizedFromItsSizeAndItsLastBlockTrimmed) {
    TreeBuilder tree;
    // The extent claims 5 blocks; 5,000 bytes need 2 of 4,096.
    NewDir* f = tree.file(tree.root, u"a.bin", 5000, {{3, 5}});
    auto v = medium();
    auto s = saver(v, tree.root);
    recordReads(*s, *v);
    save(*s);
    EXPECT_EQ(f->extents[0].blockCount, 2u);
    EXPECT_EQ(reads, (std::vector<Read>{{24, 8}, {32, 8}}));
    EXPECT_EQ(readText(destination / "Root" / "a.bin"), imageBytes(24 * 512, 5000));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
    EXPECT_EQ(lastAlertMessage(), "Saved at: " + destination.string());
    EXPECT_EQ(s->savedData(), 5000u);
}

// Earlier extents are read in runs of eight blocks and their remainder in one
// read; a last extent of sixteen blocks is one run, then eight single blocks;
// FAT entries count their blocks from the data area; sector-addressed
// sources read one sector at a time from the device's start.
TEST_F(Saving, ExtentsAreReadInRunsOfEightBlocksAndTheLastOneBlockByBlock) {
    const struct {
        const char* name;
        std::uint64_t size;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> extents;
        std::uint8_t sectorsPerBlock;
        std::uint64_t dataStart, volumeStart;
        const char* content;
        std::vector<Read> reads;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces; // sector, bytes
    } cases[] = {
        {"sixteen",
         16 * 4096 - 100,
         {{1, 16}},
         8,
         0,
         0,
         "Apple_HFS",
         {{8, 64}, {72, 8}, {80, 8}, {88, 8}, {96, 8}, {104, 8}, {112, 8}, {120, 8}, {128, 8}},
         {{8, 16 * 4096 - 100}}},
        // 11 blocks, then 3; each block two sectors; volume at sector 100.
        {"runs",
         13 * 1024 + 10,
         {{10, 11}, {40, 3}},
         2,
         0,
         100,
         "Apple_HFS",
         {{120, 16}, {136, 6}, {180, 2}, {182, 2}, {184, 2}},
         {{120, 11 * 1024}, {180, 2 * 1024 + 10}}},
        {"fat", 700, {{2, 1}}, 4, 33, 0, "Apple_HFS", {{33 + 8, 4}}, {{41, 700}}},
        // The data start is ignored for sector-addressed sources.
        {"apfs", 1200, {{50, 2}, {70, 1}}, 1, 9, 20, "APFS", {{50, 1}, {51, 1}, {70, 1}}, {{50, 1024}, {70, 176}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TreeBuilder tree;
        tree.file(tree.root, newdir::utf16(c.name), c.size, c.extents, c.sectorsPerBlock)->dataStartSector =
            c.dataStart;
        auto v = medium(4096, c.volumeStart);
        auto s = saver(v, tree.root, Dict{{"Content", c.content}});
        reads.clear();
        recordReads(*s, *v);
        save(*s);
        EXPECT_EQ(reads, c.reads);
        std::string expected;
        for (auto [sector, bytes] : c.pieces)
            expected += imageBytes(sector * 512, bytes);
        EXPECT_EQ(readText(destination / "Root" / c.name), expected);
    }
}

TEST_F(Saving, ZeroLengthFilesAreNotCreatedButAFileWithoutExtentsIsSavedEmpty) {
    TreeBuilder tree;
    tree.file(tree.root, u"empty.txt", 0, {});
    tree.file(tree.root, u"lost.txt", 300, {});
    auto v = medium();
    auto s = saver(v, tree.root);
    recordReads(*s, *v);
    save(*s);
    EXPECT_TRUE(reads.empty());
    EXPECT_FALSE(fs::exists(destination / "Root" / "empty.txt"));
    ASSERT_TRUE(fs::exists(destination / "Root" / "lost.txt"));
    EXPECT_EQ(fs::file_size(destination / "Root" / "lost.txt"), 0u);
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, ExtentsLongerThanTheFileNeverWritePastItsSize) {
    TreeBuilder tree;
    // Two extents of 4 blocks (16 KiB) for a 5,000-byte file: size minus
    // the blocks before the last one would be negative.
    tree.file(tree.root, u"f.bin", 5000, {{0, 2}, {10, 2}});
    auto v = medium();
    auto s = saver(v, tree.root);
    recordReads(*s, *v);
    save(*s);
    EXPECT_EQ(readText(destination / "Root" / "f.bin"), imageBytes(0, 5000));
    // Nothing more is read once the file is whole.
    EXPECT_EQ(reads, (std::vector<Read>{{0, 16}}));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, ExtentsShorterThanTheFileGiveWhatTheyHoldAndNoMore) {
    TreeBuilder tree;
    // Two single-block extents for a 20,000-byte file: size minus the
    // blocks before the last one is longer than the block that was read.
    tree.file(tree.root, u"g.bin", 20000, {{0, 1}, {5, 1}});
    auto s = saver(medium(), tree.root);
    save(*s);
    EXPECT_EQ(readText(destination / "Root" / "g.bin"), imageBytes(0, 4096) + imageBytes(40 * 512, 4096));
    EXPECT_TRUE(logged("hold 8192 of its 20000 bytes"));
}

TEST_F(Saving, ExtentsOutsideTheVolumeAreNotReadAndTheFileCountsAsAnError) {
    TreeBuilder tree;
    tree.file(tree.root, u"far.bin", 9000, {{400, 3}}); // sectors 3200.. of a 1024-sector volume
    tree.file(tree.root, u"near.bin", 100, {{1, 1}});
    auto v = medium(1024);
    auto s = saver(v, tree.root);
    recordReads(*s, *v);
    save(*s);
    for (const Read& r : reads)
        EXPECT_LE(r.sector + static_cast<std::uint64_t>(r.count), 1024u);
    EXPECT_EQ(readText(destination / "Root" / "near.bin"), imageBytes(8 * 512, 100));
    EXPECT_EQ(s->savingErrors(), 1u);
    EXPECT_EQ(lastAlertTitle(), "Saving completed with 1 errors");
    EXPECT_NE(lastAlertMessage().find("Saved at: " + destination.string()), std::string::npos);
}

TEST_F(Saving, AFailedReadCountsTheFileAndTheSaveGoesOnWithTheNext) {
    TreeBuilder tree;
    tree.file(tree.root, u"1.bin", 5000, {{0, 2}});
    NewDir* sub = tree.folder(tree.root, u"sub");
    tree.file(sub, u"2.bin", 100, {{4, 1}});
    tree.file(tree.root, u"3.bin", 100, {{6, 1}});
    auto v = medium();
    auto s = saver(v, tree.root);
    s->setSectorReader([&](std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
        return sector == 0 ? false : v->readSaveSector(sector, count, buffer);
    });
    save(*s);
    EXPECT_EQ(readText(destination / "Root" / "3.bin"), imageBytes(48 * 512, 100));
    EXPECT_EQ(readText(destination / "Root" / "sub" / "2.bin"), imageBytes(32 * 512, 100));
    EXPECT_EQ(s->savingErrors(), 1u);
    EXPECT_NE(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, AMediumThatHasGoneStopsTheSaveAndCountsWhatWasLeft) {
    TreeBuilder tree;
    for (char16_t c = u'a'; c <= u'e'; ++c)
        tree.file(tree.root, std::u16string(1, c), 100, {{1, 1}});
    auto s = saver(medium(), tree.root);
    int attempts = 0;
    s->setSectorReader([&](std::uint64_t, std::int32_t, std::uint8_t*) {
        ++attempts;
        controller.setDriveDictArray({});
        return false;
    });
    save(*s);
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(s->savingErrors(), 5u);
    EXPECT_EQ(lastAlertTitle(), "Saving completed with 5 errors");
}

TEST_F(Saving, StoppingStopsBeforeTheNextRead) {
    TreeBuilder tree;
    tree.file(tree.root, u"big.bin", 40 * 4096, {{0, 40}});
    tree.file(tree.root, u"after.bin", 100, {{60, 1}});
    auto v = medium();
    auto s = saver(v, tree.root);
    recordReads(*s, *v, [&](std::size_t n) {
        if (n == 2) s->abortDataSaving();
    });
    save(*s);
    EXPECT_EQ(reads.size(), 2u);
    EXPECT_EQ(fs::file_size(destination / "Root" / "big.bin"), 2u * 8 * 4096);
    EXPECT_FALSE(fs::exists(destination / "Root" / "after.bin"));
    EXPECT_EQ(lastAlertTitle(), "Saving Aborted");
    EXPECT_EQ(lastAlertMessage(), "Saving location was: " + destination.string());
    EXPECT_EQ(s->savingErrors(), 0u);
}

TEST_F(Saving, TheStopButtonOfTheSheetStopsASaveOnItsThread) {
    TreeBuilder tree;
    tree.file(tree.root, u"big.bin", 40 * 4096, {{0, 40}});
    auto v = medium();
    auto s = saver(v, tree.root);
    std::atomic<int> count{0};
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    s->setSectorReader([&](std::uint64_t sector, std::int32_t n, std::uint8_t* buffer) {
        if (++count == 2) {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return release; });
        }
        return v->readSaveSector(sector, n, buffer);
    });
    ASSERT_TRUE(s->destinationPanelDidEnd(1, destination.string()));
    EXPECT_FALSE(controller.scanInfoOrSavingNotProcessing());
    while (count.load() < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    s->abortDataSaving();
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(s->waitUntilFinished(std::chrono::seconds(30)));
    EXPECT_EQ(count.load(), 2);
    EXPECT_EQ(lastAlertTitle(), "Saving Aborted");
    EXPECT_TRUE(controller.scanInfoOrSavingNotProcessing());
}

TEST_F(Saving, TheSheetShowsProgressOnceAfterTheStartAndEndsBeforeTheAlert) {
    TreeBuilder tree;
    tree.file(tree.root, u"a.bin", 3 * 8 * 4096, {{0, 24}});
    auto s = saver(medium(), tree.root);
    save(*s);
    std::vector<std::string> seen;
    for (const auto& c : controller.calls()) {
        const Dict d = c.argument.dictValue();
        std::string what = c.name;
        for (const char* key : {"sheetWindow", "button", "textField", "progressIndicator", "title"})
            if (d.contains(key)) what += " " + d.get(key).stringValue();
        seen.push_back(what);
    }
    auto at = [&](const std::string& s) { return std::find(seen.begin(), seen.end(), s) - seen.begin(); };
    EXPECT_LT(at("beginSheetWindow: windowSavingData"), at("updateButton: stopSaveButton"));
    EXPECT_LT(at("updateButton: stopSaveButton"), at("updateTextField: textFieldSavedData"));
    EXPECT_LT(at("updateTextField: textFieldSavedData"), at("endSheetWindow: windowSavingData"));
    EXPECT_LT(at("endSheetWindow: windowSavingData"), at("showAlertPanelWithData: Saving Completed"));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "updateTextField: textFieldSavedData"), 1);
    EXPECT_EQ(seen.back(), "updateButton: stopSaveButton");
    auto bars = controller.callsNamed("updateProgressIndicator:");
    ASSERT_GE(bars.size(), 2u);
    EXPECT_EQ(bars[1].dictValue().get("maxValue").doubleValue(), 3.0 * 8 * 4096);
}

// ====================================================== tree shape ====

TEST_F(Saving, OnlyMarkedNodesAreSavedWithTheTreesFolders) {
    TreeBuilder tree;
    NewDir* docs = tree.folder(tree.root, u"Docs");
    tree.file(docs, u"kept.txt", 100, {{1, 1}});
    NewDir* skipped = tree.file(docs, u"skipped.txt", 100, {{2, 1}});
    skipped->selected = 0;
    NewDir* unmarked = tree.folder(tree.root, u"Unmarked");
    tree.file(unmarked, u"x.txt", 100, {{3, 1}});
    unmarked->selected = 0;
    NewDir* empty = tree.folder(tree.root, u"Empty");
    (void)empty;
    NewDir* deep = tree.folder(tree.folder(docs, u"A"), u"B");
    tree.file(deep, u"deep.txt", 10, {{4, 1}});
    auto s = saver(medium(), tree.root);
    save(*s);
    EXPECT_EQ(entriesBelow(destination),
              (std::set<std::string>{"Root", "Root/Docs", "Root/Docs/kept.txt", "Root/Docs/A", "Root/Docs/A/B",
                                     "Root/Docs/A/B/deep.txt", "Root/Empty"}));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, ExtensionFoldersOfTheFileTypesViewCarryTheirCount) {
    TreeBuilder tree;
    NewDir* jpg = tree.folder(tree.root, u"jpg");
    for (int i = 0; i < 3; ++i)
        tree.file(jpg, u"p" + newdir::utf16(std::to_string(i)) + u".jpg", 10, {{1, 1}});
    // The names come from the outline items, as the file-types view makes
    // them: the extension folder's item shows its count.
    std::vector<std::unique_ptr<NewDirViewHelper>> items;
    items.push_back(NewDirViewHelper::initWithNewDir(tree.root));
    items.push_back(NewDirViewHelper::initWithNewDir(jpg, true));
    items.back()->setFileName("jpg");
    for (NewDir* f : jpg->childList) {
        items.push_back(NewDirViewHelper::initWithNewDir(f));
        items.back()->setFileName("shown-" + items.back()->fileName());
    }
    auto s = saver(medium(), tree.root);
    save(*s);
    EXPECT_EQ(entriesBelow(destination),
              (std::set<std::string>{"Root", "Root/jpg [3]", "Root/jpg [3]/shown-p0.jpg", "Root/jpg [3]/shown-p1.jpg",
                                     "Root/jpg [3]/shown-p2.jpg"}));
}

TEST_F(Saving, NamesWithSlashesFollowTheDestinationsFileSystem) {
    for (const char* type : {"ext4", "vfat"}) {
        TreeBuilder tree;
        NewDir* ab = tree.folder(tree.root, u"a/b");
        tree.file(ab, u"c/d.txt", 10, {{1, 1}});
        auto s = saver(medium(), tree.root);
        fake->answer = DestinationFileSystem::Info{true, type};
        ASSERT_TRUE(s->checkDestination(destination.string()));
        save(*s);
    }
    EXPECT_TRUE(fs::exists(destination / "Root" / "a:b" / "c:d.txt"));
    EXPECT_TRUE(fs::exists(destination / "Root" / "a_b" / "c_d.txt"));
}

TEST_F(Saving, HostileNamesStayInsideTheDestination) {
    TreeBuilder tree;
    NewDir* up = tree.folder(tree.root, u"..");
    tree.file(up, u"..", 10, {{1, 1}});
    tree.file(up, u".", 10, {{2, 1}});
    NewDir* dot = tree.folder(tree.root, u".");
    tree.file(dot, u"a/b", 10, {{3, 1}});
    NewDir* nameless = tree.folder(tree.root, u"");
    tree.file(nameless, u"", 10, {{4, 1}});
    NewDir* nul = tree.file(tree.root, u"x", 10, {{5, 1}});
    nul->nameBuffer = std::u16string(u"..\0/..\0evil", 11);
    nul->nameLength = 11;
    NewDir* slashes = tree.file(tree.root, u"x", 10, {{6, 1}});
    newdir::setFileName(slashes, u"../../../escaped");
    auto s = saver(medium(), tree.root);
    fake->answer = DestinationFileSystem::Info{true, "vfat"};
    ASSERT_TRUE(s->checkDestination(destination.string()));
    save(*s);
    // Nothing beside the destination, nothing above it.
    EXPECT_EQ(entriesBelow(outer),
              (std::set<std::string>{"chosen", "chosen/Root", "chosen/Root/_..", "chosen/Root/_../_..",
                                     "chosen/Root/_../_.", "chosen/Root/_.", "chosen/Root/_./a_b",
                                     "chosen/Root/Untitled", "chosen/Root/Untitled/Untitled", "chosen/Root/.._..evil",
                                     "chosen/Root/.._.._.._escaped"}));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, ALinkPlantedInTheDestinationIsNotFollowed) {
    fs::path elsewhere = testsupport::makeTempDir("save-elsewhere");
    std::ofstream(elsewhere / "precious.txt") << "keep me";
    fs::create_directory_symlink(elsewhere, destination / "Root");
    TreeBuilder tree;
    tree.file(tree.root, u"a.txt", 100, {{1, 1}});
    NewDir* docs = tree.folder(tree.root, u"Docs");
    tree.file(docs, u"precious.txt", 100, {{2, 1}});
    auto s = saver(medium(), tree.root);
    save(*s);
    EXPECT_EQ(entriesBelow(elsewhere), (std::set<std::string>{"precious.txt"}));
    EXPECT_EQ(readText(elsewhere / "precious.txt"), "keep me");
    EXPECT_EQ(readText(destination / "Root_" / "a.txt"), imageBytes(8 * 512, 100));
    EXPECT_EQ(readText(destination / "Root_" / "Docs" / "precious.txt"), imageBytes(16 * 512, 100));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, ALinkPlantedInPlaceOfAFileIsNotWrittenThrough) {
    fs::path elsewhere = testsupport::makeTempDir("save-elsewhere");
    std::ofstream(elsewhere / "precious.txt") << "keep me";
    fs::create_directories(destination / "Root");
    fs::create_symlink(elsewhere / "precious.txt", destination / "Root" / "a.txt");
    fs::create_symlink(elsewhere / "missing.txt", destination / "Root" / "b.txt");
    TreeBuilder tree;
    tree.file(tree.root, u"a.txt", 100, {{1, 1}});
    tree.file(tree.root, u"b.txt", 100, {{2, 1}});
    auto s = saver(medium(), tree.root);
    save(*s);
    EXPECT_EQ(readText(elsewhere / "precious.txt"), "keep me");
    EXPECT_FALSE(fs::exists(elsewhere / "missing.txt"));
    EXPECT_EQ(readText(destination / "Root" / "a_.txt"), imageBytes(8 * 512, 100));
    EXPECT_EQ(readText(destination / "Root" / "b_.txt"), imageBytes(16 * 512, 100));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, SavingTwiceIntoOneDestinationKeepsBothCopies) {
    TreeBuilder tree;
    NewDir* docs = tree.folder(tree.root, u"Docs");
    tree.file(docs, u"photo.jpg", 3000, {{1, 1}});
    tree.file(docs, u"notes", 200, {{2, 1}});
    tree.file(docs, u"photo.jpg", 100, {{3, 1}}); // a second photo.jpg in the same folder
    auto s = saver(medium(), tree.root);
    save(*s);
    save(*s);
    const fs::path d = destination / "Root" / "Docs";
    EXPECT_EQ(entriesBelow(d),
              (std::set<std::string>{"photo.jpg", "photo_.jpg", "photo__.jpg", "photo___.jpg", "notes", "notes_"}));
    EXPECT_EQ(readText(d / "photo.jpg"), imageBytes(8 * 512, 3000));
    EXPECT_EQ(readText(d / "photo_.jpg"), imageBytes(24 * 512, 100));
    EXPECT_EQ(readText(d / "photo__.jpg"), imageBytes(8 * 512, 3000));
    EXPECT_EQ(readText(d / "photo___.jpg"), imageBytes(24 * 512, 100));
    EXPECT_EQ(readText(d / "notes"), readText(d / "notes_"));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, AFolderThatCannotBeMadeSkipsItsSubtreeAndCounts) {
    TreeBuilder tree;
    NewDir* a = tree.folder(tree.root, u"a");
    tree.file(a, u"1", 10, {{1, 1}});
    tree.file(tree.folder(a, u"inner"), u"2", 10, {{1, 1}});
    tree.file(tree.root, u"b", 10, {{1, 1}});
    NewDir* c = tree.folder(tree.root, u"c");
    tree.file(c, u"3", 10, {{1, 1}});
    auto s = saver(medium(), tree.root);
    // Every name the collision rule can give "a" is taken by a file, so the
    // folder cannot be made whoever runs the test.
    fs::create_directories(destination / "Root");
    std::string taken = "a";
    for (; taken.size() <= SaveFileName::kNameMax; taken += '_')
        std::ofstream(destination / "Root" / taken) << "x";
    std::ofstream(destination / "Root" / std::string(SaveFileName::kNameMax, '_')) << "x";
    save(*s);
    EXPECT_EQ(readText(destination / "Root" / "b"), imageBytes(8 * 512, 10));
    EXPECT_EQ(readText(destination / "Root" / "c" / "3"), imageBytes(8 * 512, 10));
    EXPECT_EQ(readText(destination / "Root" / "a"), "x");
    // The folder and the two files below it.
    EXPECT_EQ(s->savingErrors(), 3u);
    EXPECT_EQ(lastAlertTitle(), "Saving completed with 3 errors");
    EXPECT_TRUE(logged("Could not create the folder Root/a on the destination"));
}

TEST_F(Saving, ADestinationThatCannotBeOpenedSavesNothingAndSaysSo) {
    TreeBuilder tree;
    tree.file(tree.root, u"b", 10, {{1, 1}});
    auto s = saver(medium(), tree.root);
    s->saveFilesAndFolders(Dict{{"path", (destination / "gone").string()}});
    EXPECT_FALSE(fs::exists(destination / "gone"));
    EXPECT_EQ(s->savingErrors(), 2u);
    EXPECT_NE(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, AWriteThatFailsIsCountedAndTheSaveGoesOn) {
    TreeBuilder tree;
    tree.file(tree.root, u"small-1", 3000, {{1, 1}});
    tree.file(tree.root, u"too-big", 40000, {{2, 10}});
    tree.file(tree.root, u"small-2", 3000, {{20, 1}});
    auto s = saver(medium(), tree.root);
    // A file-size limit makes the destination refuse writes past 16 KiB,
    // as a full disk would.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 16384;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    save(*s);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(readText(destination / "Root" / "small-1"), imageBytes(8 * 512, 3000));
    EXPECT_EQ(readText(destination / "Root" / "small-2"), imageBytes(160 * 512, 3000));
    EXPECT_EQ(s->savingErrors(), 1u);
    EXPECT_EQ(lastAlertTitle(), "Saving completed with 1 errors");
    EXPECT_NE(lastAlertMessage().find("1 of the marked files and folders could not be saved"), std::string::npos);
    EXPECT_TRUE(logged("Could not write Root/too-big"));
}

TEST_F(Saving, ADeepChainOfFoldersIsSavedWithoutRecursionOrRunningOutOfDescriptors) {
    TreeBuilder tree;
    const int depth = 300;
    std::vector<NewDir*> chain{tree.root};
    for (int i = 0; i < depth; ++i) {
        chain.push_back(tree.folder(chain.back(), u"d"));
        if (i % 50 == 0) tree.file(chain.back(), u"f", 10, {{1, 1}});
    }
    tree.file(chain.back(), u"bottom", 10, {{1, 1}});
    // A second folder beside the chain on many levels: the walk comes back
    // up through folders it had to close on the way down.
    for (int i = 0; i < depth; i += 3)
        tree.file(tree.folder(chain[i], u"e"), u"late", 10, {{2, 1}});
    struct rlimit old {};
    ::getrlimit(RLIMIT_NOFILE, &old);
    struct rlimit few = old;
    few.rlim_cur = std::min<rlim_t>(old.rlim_cur, 200);
    ::setrlimit(RLIMIT_NOFILE, &few);
    auto v = medium();
    auto s = saver(v, tree.root);
    save(*s);
    ::setrlimit(RLIMIT_NOFILE, &old);
    fs::path p = destination / "Root";
    for (int i = 0; i < depth; ++i) {
        if (i % 3 == 0) {
            EXPECT_EQ(readText(p / "e" / "late"), imageBytes(16 * 512, 10)) << i;
        }
        p /= "d";
    }
    EXPECT_TRUE(fs::exists(p / "bottom"));
    EXPECT_EQ(s->savingErrors(), 0u);
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

// ==================================================== real volumes ====

namespace {

void markAll(NewDir* root) {
    std::vector<NewDir*> pending{root};
    while (!pending.empty()) {
        NewDir* n = pending.back();
        pending.pop_back();
        n->selected = 1;
        for (NewDir* c : n->childList)
            pending.push_back(c);
    }
}

// sha256 of every file below root, by path relative to it.
std::map<std::string, std::string> checksumsBelow(const fs::path& root) {
    std::map<std::string, std::string> out;
    auto listing = runCommand("cd " + testsupport::shellQuoted(root) +
                              " && find . -type f -print0 | sort -z | xargs -0 -r sha256sum");
    if (!listing) return out;
    std::istringstream lines(*listing);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 68) out[line.substr(68)] = line.substr(0, 64);
    return out;
}

} // namespace

class SavingScans : public Saving {
protected:
    std::shared_ptr<Volume> scan(const fs::path& img, std::uint64_t start) {
        auto v = keep(volumeOver(img, start));
        ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
        return v;
    }
};

TEST_F(SavingScans, EveryFileOfTheXorrisoVolumeIsSavedByteForByte) {
    const auto iso = testsupport::xorrisoImage();
    if (!iso) GTEST_SKIP() << "fixture images not made";
    auto v = scan(iso.path, iso.start);
    ASSERT_NE(v->dirRoot, nullptr);
    markAll(v->dirRoot);
    auto s = saver(v, v->dirRoot);
    ASSERT_TRUE(s->destinationPanelDidEnd(1, destination.string()));
    ASSERT_TRUE(s->waitUntilFinished(std::chrono::minutes(5)));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
    EXPECT_EQ(s->savingErrors(), 0u);

    const auto manifest = testsupport::xorrisoManifest();
    const auto saved = checksumsBelow(destination / "Root");
    std::size_t files = 0;
    for (const auto& [path, e] : manifest) {
        const fs::path there = destination / "Root" / path;
        if (e.type == "dir") {
            EXPECT_TRUE(fs::is_directory(there)) << path;
            continue;
        }
        if (e.size == 0) {
            EXPECT_FALSE(fs::exists(there)) << path << ": an empty file is not created";
            continue;
        }
        ++files;
        auto it = saved.find(path);
        ASSERT_NE(it, saved.end()) << path;
        EXPECT_EQ(it->second, e.sha256) << path;
    }
    EXPECT_GT(files, 3000u);
    EXPECT_EQ(s->savedData(), DataSaving::countMarkedToSave(v->dirRoot).bytes);
}

TEST_F(SavingScans, AMarkedSubtreeOfTheXorrisoVolumeIsSavedUnderItsAncestors) {
    const auto iso = testsupport::xorrisoImage();
    if (!iso) GTEST_SKIP() << "fixture images not made";
    auto v = scan(iso.path, iso.start);
    NewDir* large = testsupport::nodeAt(v->dirRoot, "large");
    ASSERT_NE(large, nullptr);
    markAll(large);
    v->dirRoot->selected = 1;
    auto s = saver(v, v->dirRoot);
    save(*s);
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
    const auto manifest = testsupport::xorrisoManifest();
    const auto saved = checksumsBelow(destination / "Root");
    ASSERT_EQ(saved.size(), 3u); // the empty file is not created
    for (const auto& [path, sum] : saved)
        EXPECT_EQ(manifest.at(path).sha256, sum) << path;
    EXPECT_EQ(entriesBelow(destination).count("Root/large"), 1u);
    EXPECT_EQ(entriesBelow(destination).size(), 5u);
}

TEST_F(SavingScans, TheMacOSVolumesFilesAreSavedAsIcatReadsThem) {
    fs::path img = testsupport::copyOfReadyImage("hfsplus.raw");
    auto v = scan(img, 0);
    ASSERT_NE(v->dirRoot, nullptr);
    markAll(v->dirRoot);
    auto s = saver(v, v->dirRoot);
    save(*s);
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
    EXPECT_EQ(readText(destination / "Root" / "a_directory" / "a_file"),
              "This is a text file.\n\nWe should be able to parse it.\n");
    EXPECT_EQ(readText(destination / "Root" / "a_directory" / "another_file"), "This is another file.\n");
    EXPECT_EQ(readText(destination / "Root" / "passwords.txt"),
              "place,user,password\nbank,joesmith,superrich\nalarm system,-,1234\ntreasure chest,-,1111\n"
              "uber secret laire,admin,admin\n");
    // The resource fork's file has an empty data fork: not created.
    EXPECT_FALSE(fs::exists(destination / "Root" / "a_directory" / "a_resourcefork"));

    // Every saved file against The Sleuth Kit, by catalog node ID.
    if (!testsupport::haveTool("icat")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    std::vector<std::pair<const NewDir*, fs::path>> pending{{v->dirRoot, destination / "Root"}};
    std::size_t compared = 0;
    while (!pending.empty()) {
        auto [node, where] = pending.back();
        pending.pop_back();
        for (const NewDir* c : node->childList) {
            const fs::path there = where / SaveFileName::displayName(newdir::utf8(newdir::fileName(c)), false, 0, true);
            if (c->isFolder()) {
                pending.push_back({c, there});
            } else if (c->fileSize > 0) {
                auto expected =
                    runCommand("icat -f hfs " + testsupport::shellQuoted(img) + " " + std::to_string(c->fileID));
                ASSERT_TRUE(expected) << there;
                EXPECT_EQ(readText(there), *expected) << there;
                ++compared;
            }
        }
    }
    EXPECT_GE(compared, 4u);
}
