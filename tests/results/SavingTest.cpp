// Saving marked files and folders: the names they get on the destination,
// the checks of the chosen folder, the reads through the file's extents, and
// whole saves of trees built here, compared byte for byte with the medium.
// Nothing may be written outside the destination or over anything already
// there, and a save that lost a file must say so. Saves of trees scanned
// from the fixture volumes are compared with their manifest and with The
// Sleuth Kit's icat through scan-image by tests/tools/scan-image-save.sh.

#include "fs/exfat/ExFATFileSystem.h"
#include "platform/ByteView.h"
#include "platform/PageCache.h"
#include "results/DataSaving.h"
#include "results/DestinationFileSystem.h"
#include "results/DestinationFolder.h"
#include "results/LocalDestinationFileSystem.h"
#include "results/NewDirViewHelper.h"
#include "results/PreviewData.h"
#include "results/SaveFileName.h"
#include "scan/ScanThread.h"
#include "support/ApfsNodeBuilder.h"
#include "support/FailingReads.h"
#include "support/LoopDevice.h"
#include "support/PinnedPages.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::AlertAlternateReturn;
using platform::Array;
using platform::Dict;
using testsupport::patternBytes;
using testsupport::readText;
using testsupport::volumeOver;

namespace {

// Every entry below root (links not followed), as paths relative to it.
std::set<std::string> entriesBelow(const fs::path& root) {
    std::set<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        out.insert(fs::relative(it->path(), root).string());
    return out;
}

using Strings = std::vector<std::string>;
// An alert's title and its first two buttons.
Strings alertButtons(const platform::AlertText& a) {
    return {a.title, a.defaultButton, a.alternateButton};
}

// The device a path's file system is on, and its number as sysfs writes it.
dev_t deviceOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_dev;
}
std::string majorMinor(dev_t dev) {
    return std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

// What a dd conv=noerror,sync copy gives of a file's `bytes` from sector `first` on: zeros in each sector that is
// bad, or with `wholePages` lies in a 4 KiB page that holds a bad sector; and how many sectors so lost.
std::pair<std::string, std::uint64_t> asDdCopiesIt(std::string bytes, std::uint64_t first, const std::vector<bool>& bad,
                                                   bool wholePages) {
    const std::uint64_t span = wholePages ? 8 : 1;
    std::uint64_t lost = 0;
    for (std::uint64_t i = 0; i * 512 < bytes.size(); ++i) {
        const std::uint64_t page = (first + i) - (first + i) % span;
        if (std::none_of(bad.begin() + static_cast<std::ptrdiff_t>(page),
                         bad.begin() + static_cast<std::ptrdiff_t>(page + span), [](bool b) { return b; }))
            continue;
        ++lost;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(i * 512),
                  bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>((i + 1) * 512, bytes.size())),
                  '\0');
    }
    return {std::move(bytes), lost};
}

// Whether the save left at `path` what a dd conv=noerror,sync copy gives of a file as `copy`, `lost` of its sectors
// zeros: those bytes, or, where not one of its sectors could be read, no file at all, zeros being no recovered file.
bool savedAsADdCopyGivesIt(const fs::path& path, const std::string& copy, std::uint64_t lost) {
    if (lost * 512 >= copy.size()) return !fs::exists(path);
    return fs::exists(path) && readText(path) == copy;
}

// The end of a live save that wrote files with sectors it could not read and could not save `errors` files.
std::string endOfASaveWithUnreadableSectors(std::uint64_t errors) {
    return errors != 0 ? "Saving completed with " + std::to_string(errors) + " errors"
                       : "Saving completed with unreadable sectors";
}

// How a test serves a card with bad sectors: the reader model failing exactly those sectors or their whole 4 KiB
// pages, or a read-only loop device over the bad-sector FUSE tool of bench/, which serves the card without a cache of
// its own, in direct I/O (the sectors fail alone) or reading its file through the page cache, which the tool lets the
// kernel keep (their pages fail whole through that cache too, which a read past every cache, of the file with
// O_DIRECT, passes by: each sector fails alone there) or not (only the loop device's own cache fails them whole: a
// read past it gets each sector alone, as from a disk). Over the tool the model passes every read on and counts the
// reads the device failed.
enum class Serving { Model, ModelInWholePages, LoopInDirectIO, LoopThroughThePageCache, LoopOverAnUncachedFile };
constexpr Serving kServings[] = {Serving::Model, Serving::ModelInWholePages, Serving::LoopInDirectIO,
                                 Serving::LoopThroughThePageCache};

struct ServedCard {
    using Runs = std::vector<std::pair<std::uint64_t, std::uint64_t>>; // first sector, sectors
    const bool overFuse, wholePages;
    testsupport::FailingReads failing;
    std::optional<testsupport::ServedByTheFuseTool> served;
    // The card's image, or the loop device; empty when the tool did not serve it.
    std::string medium;

    ServedCard(Serving serving, const fs::path& image, const Runs& bad)
        : overFuse(serving >= Serving::LoopInDirectIO), wholePages(serving == Serving::ModelInWholePages) {
        if (!overFuse) {
            for (const auto& [first, count] : bad)
                failing.failSectors(first, count);
            if (wholePages) failing.failWholePages();
            medium = image.string();
            return;
        }
        const fs::path map = image.parent_path() / "map";
        std::ofstream out(map);
        for (const auto& [first, count] : bad)
            out << first << ' ' << count << '\n';
        out.close();
        using Loop = testsupport::ServedByTheFuseTool::Loop;
        served.emplace(image, map,
                       serving == Serving::LoopInDirectIO            ? Loop::DirectIo
                       : serving == Serving::LoopThroughThePageCache ? Loop::ThroughTheFilesCache
                                                                     : Loop::OverAnUncachedFile);
        medium = served->device;
    }

    static bool fuseServes() { return testsupport::ServedByTheFuseTool::possible(); }
    static std::string name(Serving serving) {
        const char* names[] = {"the reader model", "the reader model failing whole pages",
                               "a loop device over the FUSE tool in direct I/O",
                               "a loop device over the FUSE tool through the page cache",
                               "a loop device over the FUSE tool through its own page cache alone"};
        return names[static_cast<int>(serving)];
    }
};

// What a save asks inside `sectors` of one file where nothing answers, at the most: eight asks once in every 64
// sectors, sixteen twice as far apart, then one at least once in every 128 KiB (its places lie about seven eighths
// of that apart), so that an island of that width in a file is always found.
std::uint64_t asksInABadRunOfAFile(std::uint64_t sectors) {
    return 8 + 16 + sectors / 224 + 1;
}

// The destination answered by the test.
struct FakeDestination : DestinationFileSystem {
    std::optional<std::uint64_t> free = UINT64_MAX;
    std::optional<Info> answer = Info{true, "ext4"};
    bool onDevice = false;
    mutable std::vector<std::string> devicesAsked;
    std::optional<std::uint64_t> freeBytes(const std::string&) const override { return free; }
    std::optional<Info> info(const std::string&) const override { return answer; }
    bool isOnMedium(const std::string&, const std::string& mediumPath) const override {
        devicesAsked.push_back(mediumPath);
        return onDevice;
    }
};

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

// A loop device over an image while it lives, with the image's file system
// mounted at `at` when one is given; an empty device when there is none.
struct MountedLoopDevice {
    testsupport::LoopDevice loop;
    fs::path mounted;
    MountedLoopDevice(const fs::path& image, const fs::path& at = {}) : loop(image) {
        if (!loop.path().empty() && !at.empty() && fs::create_directories(at) &&
            testsupport::runCommand("mount " + loop.path() + " " + testsupport::shellQuote(at.string())))
            mounted = at;
    }
    ~MountedLoopDevice() {
        if (!mounted.empty()) testsupport::runCommand("umount " + testsupport::shellQuote(mounted.string()));
    }
};

using Read = std::pair<std::uint64_t, std::int32_t>; // first sector, sectors
using Lost = std::optional<std::uint64_t>;

// The read a save makes by itself.
Lost saveRead(Volume& v, std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
    return v.readSectorRange(sector, count, buffer, DMedia::RangeReader::Save);
}

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
        image = testsupport::patternImage(sectors);
        controller.setDriveDictArray(Array{Dict{{"Path", image.string()}}});
        return volumeOver(image, start, sectors - start);
    }

    // The FAT32 card (or the volume of `content` from sector `start`) served at `device`, read through `raw` where
    // given (a failing model's reader, and its way past every cache), scanned as the normal scan scans it and every
    // file marked, the destination emptied.
    std::shared_ptr<Volume> scannedCard(const std::string& device, std::uint64_t sectors, DMedia::RawRead raw = {},
                                        const std::string& content = "FAT32", std::uint64_t start = 0,
                                        DMedia::RawRead pastEveryCache = {}) {
        fs::remove_all(destination / "Root");
        controller.clear();
        controller.setDriveDictArray(Array{Dict{{"Path", device}}});
        auto v = keep(volumeOver(device, start, sectors - start, 512, content));
        if (raw) v->setRawRead(std::move(raw), {}, std::move(pastEveryCache));
        ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
        newdir::preOrder(v->dirRoot, newdir::childList, newdir::anyChild, [](NewDir* n) { n->selected = 1; });
        return v;
    }
    std::shared_ptr<DataSaving> saver(std::shared_ptr<Volume> v, NewDir* root, Dict row = {}) {
        auto s = DataSaving::create(std::move(v), root, std::move(row), fake);
        s->setPanelSettleDelay(std::chrono::milliseconds(0));
        s->setMarkedData(DataSaving::countMarkedToSave(root).bytes);
        return s;
    }

    // Records every read and passes it on to the volume.
    void recordReads(DataSaving& s, Volume& v) {
        s.setSectorReader([this, &v](std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
            reads.push_back({sector, count});
            return saveRead(v, sector, count, buffer);
        });
    }

    void save(DataSaving& s) { s.saveFilesAndFolders(Dict{{"path", destination.string()}}); }
    // The fixture's tree saved from a fresh medium, its reads recorded.
    std::shared_ptr<DataSaving> saveTree(std::uint64_t sectors = 4096) {
        auto v = medium(sectors);
        auto s = saver(v, tree.root);
        recordReads(*s, *v);
        save(*s);
        return s;
    }
    std::string saved(const fs::path& path) const { return readText(destination / "Root" / path); }

    std::string lastAlertTitle() const { return controller.alerts().empty() ? "" : controller.alerts().back().title; }
    // Whether the save told the user that the medium it reads has gone.
    bool toldTheMediumGone() const {
        const auto alerts = controller.alerts();
        return std::any_of(alerts.begin(), alerts.end(), [](const platform::AlertText& a) {
            return a.title == "! Can not save files" &&
                   a.message == "The Drive or Volume being read is no longer available.";
        });
    }
    std::string lastAlertMessage() const {
        return controller.alerts().empty() ? "" : controller.alerts().back().message;
    }
    // How many sectors of the file at `path` the log, from its line `from` on, last says the save wrote as zeros, in
    // whichever of its words: those that could not be read (a read asked for them), those no read asked for, or both.
    std::uint64_t loggedAsZeros(const std::string& path, std::size_t from = 0) {
        std::lock_guard lock(logMutex);
        std::uint64_t count = 0;
        for (std::size_t k = from; k < logs.size(); ++k)
            for (const char* said :
                 {" could not be read from the medium; they are written as zeros",
                  " were not read from the medium, as no read asked for them", " are written as zeros: "})
                if (logs[k].find(" sectors of " + path + said) != std::string::npos && std::isdigit(logs[k][0]))
                    count = std::stoull(logs[k]);
        return count;
    }
    // Whether the log says the file at `path` is not saved as not one of its sectors a read asked for could be read.
    bool loggedNotOneSectorRead(const std::string& path) {
        return logged("Not one sector of " + path + " could be read") ||
               logged(" sectors of " + path + " that were asked for could be read from the medium, and no read asked");
    }

    TreeBuilder tree;
    std::shared_ptr<FakeDestination> fake = std::make_shared<FakeDestination>();
    std::vector<Read> reads;
    fs::path outer, destination, image;
};

} // namespace

// ============================================================ names ====

// "photo.jpg", "photo_.jpg" and "notes" collide in SavingTwiceIntoOneDestinationKeepsBothCopies.
TEST(SaveNames, ACollidingNameTakesAnUnderscoreOnItsNextToLastPart) {
    EXPECT_EQ(SaveFileName::collisionName("archive.tar.gz"), "archive.tar_.gz");
    EXPECT_EQ(SaveFileName::collisionName(".profile"), "_.profile");
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

// "", ".", "..", slashes and NULs in names are saved in
// HostileNamesStayInsideTheDestination; a name that is nothing but NULs, or
// dots once they are gone, is made safe too.
TEST(SaveNames, NamesFromTheMediumBecomeOneSafeComponent) {
    EXPECT_EQ(SaveFileName::safeComponent(std::string("\0", 1)), "Untitled");
    EXPECT_EQ(SaveFileName::safeComponent(std::string(".\0.", 3)), "_..");
    // Cut at a character boundary, keeping the extension.
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "\xc3\xa9"; // é
    const std::string cut = SaveFileName::safeComponent(longName + ".txt");
    EXPECT_LE(cut.size(), SaveFileName::kNameMax);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");
    EXPECT_EQ(cut.size() % 2, 0u) << "cut inside a character";
}

TEST(SaveNames, OnlyFatExfatAndNtfsFamiliesRefuseColons) {
    for (const char* foreign : {"vfat", "msdos", "exfat", "ntfs", "ntfs3", "fuseblk"})
        EXPECT_FALSE(DestinationFileSystem::takesColons(foreign)) << foreign;
    for (const char* native : {"ext4", "xfs", "btrfs", "tmpfs", "hfsplus", "f2fs", ""})
        EXPECT_TRUE(DestinationFileSystem::takesColons(native)) << native;
}

// ====================================================== destination ====

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

// A save's second pass writes again into a file its first pass made: only into that very file, under its name, never
// into what has taken the name since, nor through a link, nor waiting on a pipe planted there.
TEST(SaveDestination, OnlyTheFileTheSaveMadeIsOpenedAgainUnderItsName) {
    const fs::path dir = testsupport::makeTempDir("save-again");
    auto folder = DestinationFolder::openDestination(dir.string());
    ASSERT_TRUE(folder);
    std::string made;
    int fd = folder->createFile("a.bin", made);
    struct stat st {};
    ASSERT_TRUE(fd >= 0 && ::fstat(fd, &st) == 0);
    ::close(fd);
    fd = folder->reopenFile(made, st.st_dev, st.st_ino);
    EXPECT_GE(fd, 0);
    ::close(fd);
    const struct {
        const char* what;
        std::function<void()> plant;
    } rows[] = {
        {"another file", [&] { std::ofstream(dir / made) << "theirs"; }},
        {"a link to the file made", [&] { fs::create_symlink(dir / "b.bin", dir / made); }},
        {"a pipe", [&] { ASSERT_EQ(::mkfifo((dir / made).c_str(), 0600), 0); }},
    };
    fs::rename(dir / made, dir / "b.bin");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove(dir / made);
        row.plant();
        EXPECT_LT(folder->reopenFile(made, st.st_dev, st.st_ino), 0);
    }
    EXPECT_EQ(fs::file_size(dir / "b.bin"), 0u);
}

TEST(SaveDestination, TheMountTableNamesTheDeepestFileSystemAbove) {
    fs::path dir = testsupport::makeTempDir("save-mounts");
    fs::create_directories(dir / "usb" / "photos");
    const std::string dev = majorMinor(deviceOf(dir)), real = fs::canonical(dir).string();
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
    EXPECT_FALSE(local.isOnMedium(dir.string(), (dir / "disk.img").string()));
    // The block device the temporary folder lives on, when this system has
    // one with a node in /dev.
    const dev_t dev = deviceOf(dir);
    std::ifstream uevent("/sys/dev/block/" + majorMinor(dev) + "/uevent");
    std::string line, name;
    while (std::getline(uevent, line))
        if (line.rfind("DEVNAME=", 0) == 0) name = line.substr(8);
    struct stat node {};
    if (name.empty() || ::stat(("/dev/" + name).c_str(), &node) != 0 || !S_ISBLK(node.st_mode) || node.st_rdev != dev)
        GTEST_SKIP() << "the temporary folder is not on a block device with a node";
    EXPECT_TRUE(local.isOnMedium(dir.string(), "/dev/" + name));
}

TEST(SaveDestination, APartitionOfTheScannedDiskOrOfALoopDeviceOverTheScannedFileIsOnItAndItsSiblingIsNot) {
    // sysfs as the kernel lays it out: the destination's device is partition
    // 1 of a loop device over disk.img that also has partition 2, and another
    // loop device reaches the same file. Device nodes of the loop device, of
    // partition 2 and of the other loop device stand for what the user scans.
    fs::path dir = testsupport::makeTempDir("save-sysfs");
    const dev_t own = deviceOf(dir);
    if (major(own) == 0) GTEST_SKIP() << "the temporary folder has no block device";
    const dev_t disk = makedev(major(own), minor(own) + 1000), sibling = makedev(major(own), minor(own) + 1001),
                twin = makedev(major(own), minor(own) + 1002);
    const fs::path sys = dir / "sys", block = sys / "devices" / "virtual" / "block", image = dir / "disk.img";
    testsupport::writeText(image, "image");
    testsupport::writeText(dir / "other.img", "other");
    for (auto [folder, dev, attributes] :
         {std::tuple{"a", disk, Strings{"loop/backing_file", image.string(), "size", "8192"}},
          {"a/b", own, Strings{"partition", "1", "start", "2048", "size", "2048"}},
          {"a/c", sibling, Strings{"partition", "2", "start", "4096", "size", "2048"}},
          {"d", twin, Strings{"loop/backing_file", image.string(), "loop/offset", "1048576"}}}) {
        testsupport::writeText(block / folder / "dev", majorMinor(dev) + "\n");
        for (std::size_t i = 0; i < attributes.size(); i += 2)
            testsupport::writeText(block / folder / attributes[i], attributes[i + 1] + "\n");
        fs::create_directories(sys / "dev" / "block");
        fs::create_directory_symlink(block / folder, sys / "dev" / "block" / majorMinor(dev));
    }
    for (auto [name, dev] : {std::pair{"disk", disk}, {"part2", sibling}, {"twin", twin}})
        if (::mknod((dir / name).c_str(), S_IFBLK | 0600, dev) != 0) GTEST_SKIP() << "device nodes cannot be made here";
    SystemPaths paths;
    paths.sysfsRoot = sys.string();
    paths.mountInfo = (dir / "no-mountinfo").string();
    LocalDestinationFileSystem local(paths);
    for (auto [medium, on] :
         {std::pair{"disk", true}, {"part2", false}, {"disk.img", true}, {"twin", true}, {"other.img", false}})
        EXPECT_EQ(local.isOnMedium(dir.string(), (dir / medium).string()), on) << medium;
}

// ============================================================ checks ====

TEST_F(Saving, APanelClosedWithoutOKDoesNothingAndTheSaveActionAsksFirstAndNoEndsIt) {
    auto s = saver(medium(), tree.root);
    EXPECT_FALSE(s->destinationPanelDidEnd(0, destination.string()));
    EXPECT_TRUE(controller.calls().empty());
    controller.scriptAlertAnswers({AlertAlternateReturn});
    EXPECT_FALSE(s->saveData());
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(alertButtons(controller.alerts()[0]), (Strings{"Information", "Yes", "No"}));
    EXPECT_TRUE(s->saveData());
}

// Free space equal to the marked bytes is enough, one byte less is not, and
// unknown counts as none; a read-only folder is refused and one of unknown
// type counts as native; a folder on the medium being recovered is refused.
// Nothing is written in any case.
TEST_F(Saving, TheChosenFolderIsCheckedForRoomWritingAndTheMediumBeingRecovered) {
    tree.file(tree.root, u"a", 5000, {{0, 2}});
    auto v = medium();
    auto s = saver(v, tree.root);
    EXPECT_EQ(s->markedData(), 5000u);
    fake->free = 4999;
    EXPECT_FALSE(s->destinationPanelDidEnd(1, destination.string()));
    EXPECT_EQ(lastAlertTitle(), "! Not enough free disk space");
    EXPECT_EQ(lastAlertMessage(), "The volume you have chosen to save data does not have enough free space available.");
    fake->free.reset();
    EXPECT_FALSE(s->checkDestination(destination.string()));
    fake->free = 5000;
    EXPECT_TRUE(s->checkDestination(destination.string()));

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

    fake->onDevice = true;
    EXPECT_FALSE(s->destinationPanelDidEnd(1, destination.string()));
    EXPECT_EQ(lastAlertTitle(), "! Can not save");
    EXPECT_NE(lastAlertMessage().find("drive or volume being recovered"), std::string::npos);
    EXPECT_EQ(fake->devicesAsked.back(), v->cPath());
    EXPECT_TRUE(fs::is_empty(destination));
}

TEST_F(Saving, CancellingTheForeignFileSystemWarningCreatesNothingAndRestoresTheScreen) {
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
    EXPECT_EQ(alertButtons(controller.alerts()[0]), (Strings{"Information", "OK", "Cancel"}));
    EXPECT_NE(controller.alerts()[0].message.find("Linux native filesystem"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(destination));
    EXPECT_TRUE(controller.callsNamed("beginSheetWindow:").empty());
    std::map<std::string, bool> buttons;
    for (const auto& b : controller.callsNamed("updateButton:"))
        buttons[b.dictValue().get("button").stringValue()] = b.dictValue().get("setEnabled").boolValue();
    for (const char* name : {"saveScanButton", "buttonTreeBackToPartitions", "previewButton", "saveButton"})
        EXPECT_TRUE(buttons[name]) << name;
    EXPECT_FALSE(buttons["stopSaveButton"]);
    EXPECT_TRUE(controller.scanInfoOrSavingNotProcessing());
}

TEST_F(Saving, ProgressTextsUseUnitsOfAThousand) {
    auto s = saver(medium(), tree.root);
    s->updateTreeProgress(0);
    EXPECT_TRUE(controller.calls().empty());
    for (std::uint64_t bytes : {999999ULL, 1000000ULL, 2500000000ULL})
        s->updateTreeProgress(bytes);
    Strings texts;
    for (const auto& t : controller.callsNamed("updateTextField:")) {
        EXPECT_EQ(t.dictValue().get("textField").stringValue(), "textFieldSavedData");
        texts.push_back(t.dictValue().get("textField String").stringValue());
    }
    EXPECT_EQ(texts, (Strings{"Saved: 1000.00 KB", "Saved: 1.00 MB", "Saved: 2.50 GB"}));
    auto bars = controller.callsNamed("updateProgressIndicator:");
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_EQ(bars[1].dictValue().get("progressIndicator").stringValue(), "progressTree");
    EXPECT_EQ(bars[1].dictValue().get("doubleValue").doubleValue(), 1000000.0);
}

// ================================================= files and extents ====

TEST_F(Saving, ASingleExtentFileIsSizedFromItsSizeAndItsLastBlockTrimmed) {
    // The extent claims 5 blocks; 5,000 bytes need 2 of 4,096.
    NewDir* f = tree.file(tree.root, u"a.bin", 5000, {{3, 5}});
    auto s = saveTree();
    EXPECT_EQ(f->extents[0].blockCount, 2u);
    EXPECT_EQ(reads, (std::vector<Read>{{24, 16}}));
    EXPECT_EQ(saved("a.bin"), patternBytes(24 * 512, 5000));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
    EXPECT_EQ(lastAlertMessage(), "Saved at: " + destination.string());
    EXPECT_EQ(s->savedData(), 5000u);
}

// A FAT or exFAT file the scan found cut short (its chain broke after one block) keeps that block only: the blocks
// after it are another file's. Where no chain ended it (HFS+), a damaged file's one extent is read on for its size.
TEST_F(Saving, ADamagedSingleExtentFileIsStretchedOnlyWhereNoChainEndedIt) {
    for (const char* content : {"FAT16", "Apple_HFS"}) {
        SCOPED_TRACE(content);
        fs::remove_all(destination / "Root");
        TreeBuilder cut;
        NewDir* f = cut.file(cut.root, u"cut.bin", 10000, {{3, 1}});
        f->complete = NewDir::kDamaged;
        auto v = medium();
        v->volumeContent = content;
        save(*saver(v, cut.root));
        const std::string got = saved("cut.bin");
        const std::size_t size = std::string(content) == "Apple_HFS" ? 10000 : 4096;
        EXPECT_EQ(got.size(), size);
        EXPECT_TRUE(got == patternBytes(24 * 512, size));
    }
}

// Blocks that follow each other on the medium are read at once, across
// extents that touch; FAT entries count their blocks from the data area;
// sector-addressed sources count sectors from the device's start. Extents
// longer than the file stop once the file is whole; extents shorter than it
// give what they hold.
TEST_F(Saving, BlocksThatFollowEachOtherAreReadAtOnce) {
    struct File {
        const char* name;
        std::uint64_t size;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> extents;
        std::uint8_t sectorsPerBlock;
        std::uint64_t dataStart, volumeStart;
        const char* content;
    };
    const struct {
        File f;
        std::vector<Read> reads;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces; // sector, bytes
    } cases[] = {
        {{"sixteen", 16 * 4096 - 100, {{1, 16}}, 8, 0, 0, "Apple_HFS"}, {{8, 128}}, {{8, 16 * 4096 - 100}}},
        // 11 blocks, then 3; each block two sectors; volume at sector 100.
        {{"runs", 13 * 1024 + 10, {{10, 11}, {40, 3}}, 2, 0, 100, "Apple_HFS"},
         {{120, 22}, {180, 6}},
         {{120, 11 * 1024}, {180, 2 * 1024 + 10}}},
        {{"touching", 3 * 4096, {{5, 1}, {6, 2}}, 8, 0, 0, "Apple_HFS"}, {{40, 24}}, {{40, 3 * 4096}}},
        {{"fat", 700, {{2, 1}}, 4, 33, 0, "Apple_HFS"}, {{33 + 8, 4}}, {{41, 700}}},
        // APFS: 4096-byte blocks of eight sectors from the container's start.
        {{"apfs", 1200, {{50, 1}}, 8, 0, 20, "APFS"}, {{420, 8}}, {{420, 1200}}},
        {{"longer", 5000, {{0, 2}, {10, 2}}, 8, 0, 0, "Apple_HFS"}, {{0, 16}}, {{0, 5000}}},
        {{"shorter", 20000, {{0, 1}, {5, 1}}, 8, 0, 0, "Apple_HFS"}, {{0, 8}, {40, 8}}, {{0, 4096}, {40, 4096}}},
    };
    for (const auto& [f, expectedReads, pieces] : cases) {
        SCOPED_TRACE(f.name);
        TreeBuilder tree;
        tree.file(tree.root, newdir::utf16(f.name), f.size, f.extents, f.sectorsPerBlock)->dataStartSector =
            f.dataStart;
        auto v = medium(4096, f.volumeStart);
        auto s = saver(v, tree.root, Dict{{"Content", f.content}});
        reads.clear();
        recordReads(*s, *v);
        save(*s);
        EXPECT_EQ(reads, expectedReads);
        std::string expected;
        for (auto [sector, bytes] : pieces)
            expected += patternBytes(sector * 512, bytes);
        EXPECT_EQ(saved(f.name), expected);
        // A file whose extents hold only part of it is kept, but not saved.
        EXPECT_EQ(lastAlertTitle(), std::string(f.name) == "shorter" ? "Saving Failed" : "Saving Completed");
    }
    EXPECT_TRUE(logged("hold 8192 of its 20000 bytes"));
}

// A picture inside a camera raw begins part way into its first sector; an
// offset past the extents (a damaged session file) leaves no file.
TEST_F(Saving, AFileThatBeginsInsideItsFirstSectorIsTheExtentsBytesFromThere) {
    tree.file(tree.root, u"one.jpg", 1000, {{10, 3}}, 1)->firstSectorOffset = 200;
    tree.file(tree.root, u"two.jpg", 700, {{20, 1}, {30, 1}}, 1)->firstSectorOffset = 200;
    tree.file(tree.root, u"past.jpg", 1000, {{40, 3}}, 1)->firstSectorOffset = 3 * 512;
    saveTree();
    EXPECT_EQ(saved("one.jpg"), patternBytes(10 * 512 + 200, 1000));
    EXPECT_EQ(saved("two.jpg"), patternBytes(20 * 512 + 200, 312) + patternBytes(30 * 512, 388));
    EXPECT_FALSE(fs::exists(destination / "Root" / "past.jpg"));
    for (auto [sector, count] : reads)
        EXPECT_LT(sector, 40u);
}

// A file whose extents hold none of its bytes (its volume cut short before it) is not left empty under its name and
// counts as an error: the save never says it completed.
TEST_F(Saving, ZeroLengthFilesAreNotCreatedAndAFileWithoutExtentsIsNoSavedFile) {
    tree.file(tree.root, u"empty.txt", 0, {});
    tree.file(tree.root, u"lost.txt", 300, {});
    tree.file(tree.root, u"whole.txt", 300, {{1, 1}});
    auto s = saveTree();
    EXPECT_EQ(reads.size(), 1u);
    EXPECT_FALSE(fs::exists(destination / "Root" / "empty.txt"));
    EXPECT_FALSE(fs::exists(destination / "Root" / "lost.txt"));
    EXPECT_EQ(s->savingErrors(), 1u);
    EXPECT_EQ(lastAlertTitle(), "Saving completed with 1 errors");
    EXPECT_TRUE(logged("The extents of Root/lost.txt hold 0 of its 300 bytes; it is not saved"));
}

// A medium that goes as a file is read: a file of which nothing was written is not left, empty, under its name; one
// cut part-way keeps what it holds; one whose own sectors all came is saved whole, though a sector after its end was
// lost and the medium went before the lost ones were counted. The log and the end's counts tell each as it ended.
TEST_F(Saving, AFileOfWhichNothingIsSavedIsNotLeftAndEachFileIsToldAsItEnded) {
    // The reader's answer to the save's read number `call`; a read that gets nothing takes the medium off the
    // drive lists. `lostSector` reads the first, losing one sector of it, and gets nothing after.
    using Answer = std::function<Lost(Volume&, int call, std::uint64_t sector, std::int32_t, std::uint8_t*)>;
    const auto lostSector = [](std::uint64_t lost) -> Answer {
        return [lost](Volume& v, int call, std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) -> Lost {
            if (call > 0) return Lost();
            const Lost got = saveRead(v, sector, count, buffer);
            std::fill_n(buffer + (lost - sector) * 512, 512, 0);
            return got ? Lost(*got + 1) : got;
        };
    };
    const struct {
        const char* name;
        std::uint64_t size;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> extents;
        Answer answer;
        std::string saved; // empty: no file
        std::string told;
        bool counted;
    } cases[] = {
        {"first read",
         8000,
         {{1, 1}, {10, 1}},
         [](Volume&, int, std::uint64_t, std::int32_t, std::uint8_t*) { return Lost(); },
         "",
         "Could not read Root/f from the medium; it is not saved",
         false},
        {"second read",
         8000,
         {{1, 1}, {10, 1}},
         [](Volume& v, int call, std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
             return call == 0 ? saveRead(v, sector, count, buffer) : Lost();
         },
         patternBytes(8 * 512, 4096),
         "Could not read Root/f from the medium; 4096 of its 8000 bytes are saved",
         false},
        {"a sector after its end lost", 3000, {{1, 1}}, lostSector(15), patternBytes(8 * 512, 3000), "", true},
        {"one of its sectors lost",
         3000,
         {{1, 1}},
         lostSector(12),
         patternBytes(8 * 512, 2048) + std::string(512, '\0') + patternBytes(13 * 512, 440),
         "Root/f is not saved whole: the medium is no longer available",
         false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        fs::remove_all(destination / "Root");
        controller.clear();
        TreeBuilder files;
        files.file(files.root, u"f", row.size, row.extents);
        auto v = medium();
        // The system's cache holds none of it.
        testsupport::FailingReads passed;
        v->setRawRead(passed.reader(), [](int, std::uint8_t*, std::size_t, std::uint64_t) -> std::int64_t {
            errno = EAGAIN;
            return -1;
        });
        auto s = saver(v, files.root);
        int calls = 0;
        s->setSectorReader([&](std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
            const Lost lost = row.answer(*v, calls++, sector, count, buffer);
            if (!lost) controller.setDriveDictArray({});
            return lost;
        });
        save(*s);
        const fs::path path = destination / "Root" / "f";
        EXPECT_EQ(fs::exists(path), !row.saved.empty());
        if (!row.saved.empty()) {
            EXPECT_TRUE(readText(path) == row.saved);
        }
        if (!row.told.empty()) {
            EXPECT_TRUE(logged(row.told));
        }
        EXPECT_FALSE(logged("0 of its"));
        EXPECT_EQ(std::tuple(s->savedFiles(), s->savingErrors()),
                  std::tuple(row.counted ? 1ull : 0ull, row.counted ? 0ull : 1ull));
    }
}

TEST_F(Saving, ExtentsOutsideTheVolumeAreNotReadAndTheFileCountsAsAnError) {
    tree.file(tree.root, u"far.bin", 9000, {{400, 3}}); // sectors 3200.. of a 1024-sector volume
    tree.file(tree.root, u"near.bin", 100, {{1, 1}});
    auto s = saveTree(1024);
    for (auto [sector, count] : reads)
        EXPECT_LE(sector + static_cast<std::uint64_t>(count), 1024u);
    EXPECT_EQ(saved("near.bin"), patternBytes(8 * 512, 100));
    EXPECT_EQ(s->savingErrors(), 1u);
    EXPECT_EQ(lastAlertTitle(), "Saving completed with 1 errors");
    EXPECT_NE(lastAlertMessage().find("Saved at: " + destination.string()), std::string::npos);
}

TEST_F(Saving, AFailedReadCountsTheFileAndTheSaveGoesOnWithTheNext) {
    tree.file(tree.root, u"1.bin", 5000, {{0, 2}});
    tree.file(tree.folder(tree.root, u"sub"), u"2.bin", 100, {{4, 1}});
    tree.file(tree.root, u"3.bin", 100, {{6, 1}});
    auto v = medium();
    auto s = saver(v, tree.root);
    s->setSectorReader([&](std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
        return sector == 0 ? Lost() : saveRead(*v, sector, count, buffer);
    });
    save(*s);
    EXPECT_EQ(saved("3.bin"), patternBytes(48 * 512, 100));
    EXPECT_EQ(saved("sub/2.bin"), patternBytes(32 * 512, 100));
    EXPECT_EQ(s->savingErrors(), 1u);
    EXPECT_NE(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, AMediumThatHasGoneStopsTheSaveAndCountsWhatWasLeft) {
    for (char16_t c = u'a'; c <= u'e'; ++c)
        tree.file(tree.root, std::u16string(1, c), 100, {{1, 1}});
    auto s = saver(medium(), tree.root);
    int attempts = 0;
    s->setSectorReader([&](std::uint64_t, std::int32_t, std::uint8_t*) {
        ++attempts;
        controller.setDriveDictArray({});
        return Lost();
    });
    save(*s);
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(s->savingErrors(), 5u);
    EXPECT_EQ(lastAlertTitle(), "Saving Failed");
    // Through the range reader, a device that answers ENODEV, or has left the lists, has gone: the reader's own
    // alert, once, and the program goes on.
    for (const int error : {ENODEV, EIO}) {
        testsupport::FailingReads dead;
        dead.failEveryReadAfter(0);
        dead.setError(error);
        auto v = medium();
        v->setRawRead(dead.reader(), {}, dead.pastEveryCacheReader());
        if (error == EIO) controller.setDriveDictArray({});
        controller.clear();
        save(*(s = saver(v, tree.root)));
        EXPECT_EQ(std::tuple(s->savingErrors(), dead.failedReads(), controller.terminateRequested(), lastAlertTitle()),
                  std::tuple(5ull, 1ull, false, std::string("Saving Failed")));
        EXPECT_TRUE(controller.alerts().size() == 2 && controller.alerts()[0].title == "! Can not save files");
    }
}

// A medium that goes as a file is saved: while the reader's alert waits for the user, and after it, no file lies
// empty under a found file's name, whether the medium went at the file's first read or after some of it was written
// (which stays); what was written of a file is there while the alert waits.
TEST_F(Saving, NoFileLiesEmptyUnderAFoundFilesNameWhileAnAlertAboutTheMediumWaits) {
    const struct {
        const char* name;
        std::uint64_t readsBeforeDeath;
        int error;
        std::map<std::string, std::string> written; // by name, what the save leaves
    } cases[] = {
        {"at the first file's first read", 0, ENODEV, {}},
        {"at the first read, off the drive lists", 0, EIO, {}},
        {"at the first file's second read", 1, ENODEV, {{"f", patternBytes(8 * 512, 4096)}}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        fs::remove_all(destination / "Root");
        controller.clear();
        TreeBuilder files;
        files.file(files.root, u"f", 8000, {{1, 1}, {10, 1}});
        files.file(files.root, u"g", 100, {{20, 1}});
        auto v = medium();
        testsupport::FailingReads dying;
        dying.failEveryReadAfter(row.readsBeforeDeath);
        dying.setError(row.error);
        // The system's cache holds none of it.
        v->setRawRead(dying.reader(), [](int, std::uint8_t*, std::size_t, std::uint64_t) -> std::int64_t {
            errno = EAGAIN;
            return -1;
        });
        if (row.error == EIO) controller.setDriveDictArray({});
        // Each file in the destination and its size, as every alert finds them.
        std::vector<std::map<std::string, std::uintmax_t>> seen;
        const auto filesThere = [&] {
            std::map<std::string, std::uintmax_t> there;
            if (fs::exists(destination / "Root"))
                for (const auto& entry : fs::directory_iterator(destination / "Root"))
                    there[entry.path().filename().string()] = fs::file_size(entry.path());
            return there;
        };
        controller.setCallObserver([&](const platform::RecordingController::Call& call) {
            if (call.name == "runAlertPanel:" || call.name == "showAlertPanelWithData:") seen.push_back(filesThere());
        });
        save(*saver(v, files.root));
        controller.setCallObserver(nullptr);
        EXPECT_TRUE(toldTheMediumGone());
        ASSERT_FALSE(seen.empty());
        std::map<std::string, std::uintmax_t> expected;
        for (const auto& [name, bytes] : row.written)
            expected[name] = bytes.size();
        // The reader's alert, then the end's.
        for (const auto& there : seen)
            EXPECT_EQ(there, expected);
        EXPECT_EQ(filesThere(), expected);
        for (const auto& [name, bytes] : row.written)
            EXPECT_TRUE(saved(name) == bytes) << name;
    }
}

// Stop pressed while the save thread reads: nothing is read after that read,
// nothing after that file is written, and the end counts the files not
// written.
TEST_F(Saving, TheStopButtonOfTheSheetStopsASaveOnItsThreadBeforeTheNextRead) {
    constexpr std::uint32_t readBlocks = FileExtentsCopier::kMaxReadBytes / 4096;
    tree.file(tree.root, u"big.bin", 3 * readBlocks * 4096, {{0, 3 * readBlocks}});
    tree.file(tree.root, u"after.bin", 100, {{3 * readBlocks, 1}});
    auto v = medium(3 * readBlocks * 8 + 8);
    auto s = saver(v, tree.root);
    std::atomic<int> count{0};
    std::promise<void> release;
    s->setSectorReader(
        [&, released = release.get_future().share()](std::uint64_t sector, std::int32_t n, std::uint8_t* buffer) {
            if (++count == 2) released.wait();
            return saveRead(*v, sector, n, buffer);
        });
    ASSERT_TRUE(s->destinationPanelDidEnd(1, destination.string()));
    EXPECT_FALSE(controller.scanInfoOrSavingNotProcessing());
    while (count.load() < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    s->abortDataSaving();
    release.set_value();
    ASSERT_TRUE(s->waitUntilFinished(std::chrono::seconds(30)));
    EXPECT_EQ(count.load(), 2);
    EXPECT_EQ(fs::file_size(destination / "Root" / "big.bin"), 2 * FileExtentsCopier::kMaxReadBytes);
    EXPECT_FALSE(fs::exists(destination / "Root" / "after.bin"));
    // The end counts both marked files as not saved, as a whole save's end would: the one cut short and the one
    // never reached.
    EXPECT_EQ(lastAlertTitle(), "Saving Aborted");
    EXPECT_EQ(lastAlertMessage(), "Saving location was: " + destination.string() +
                                      "\n\n2 of the marked files and folders could not be saved; the system log says "
                                      "which and why.");
    EXPECT_EQ(s->savingErrors(), 2u);
    EXPECT_TRUE(logged("Root/big.bin is not saved whole: the save was stopped as it was written"));
    EXPECT_TRUE(logged("The save was stopped before it reached 1 of the marked files"));
    EXPECT_TRUE(controller.scanInfoOrSavingNotProcessing());
}

TEST_F(Saving, TheSheetShowsProgressOnceAfterTheStartAndEndsBeforeTheAlert) {
    tree.file(tree.root, u"a.bin", 3 * 8 * 4096, {{0, 24}});
    saveTree();
    Strings seen;
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

// The figures the sheet showed of the bytes saved, in order (its bar's values, but the reset to nothing at the end).
std::vector<std::uint64_t> shownFigures(const platform::RecordingController& controller) {
    std::vector<std::uint64_t> out;
    for (const auto& call : controller.callsNamed("updateProgressIndicator:"))
        if (const Dict d = call.dictValue(); d.contains("doubleValue") && d.get("doubleValue").doubleValue() > 0)
            out.push_back(static_cast<std::uint64_t>(d.get("doubleValue").doubleValue()));
    return out;
}

// Waits up to a few seconds for the sheet to show `bytes`, as its once-a-second tick shows them.
bool showsWithinSeconds(const platform::RecordingController& controller, std::uint64_t bytes) {
    for (int i = 0; i < 500; ++i) {
        if (const auto figures = shownFigures(controller); !figures.empty() && figures.back() == bytes) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The bytes of the files on the destination.
std::uint64_t bytesBelow(const fs::path& root) {
    std::uint64_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) bytes += entry.file_size();
    return bytes;
}

// The sheet counts every byte written, as it is written: while a long file's save waits on a read that is slow to
// come back, it shows the chunks written before, and what it shows only grows, to the bytes the files hold. A save
// whose disk goes part-way shows what was written while the alert that says so waits, and at the end.
TEST_F(Saving, TheSheetShowsEveryByteWrittenAsItIsWrittenAlsoWhileAReadOrAnAlertWaits) {
    constexpr std::uint64_t kChunk = FileExtentsCopier::kMaxReadBytes;
    constexpr std::uint32_t kChunkBlocks = kChunk / 4096;
    tree.file(tree.root, u"long.bin", 4 * kChunk, {{0, 4 * kChunkBlocks}});
    auto v = medium(4 * kChunkBlocks * 8 + 8);
    auto s = saver(v, tree.root);
    int readsMade = 0;
    bool shownWhileReading = false;
    s->setSectorReader([&](std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
        // The third read comes back only once the two chunks before it show.
        if (++readsMade == 3) shownWhileReading = showsWithinSeconds(controller, 2 * kChunk);
        return saveRead(*v, sector, count, buffer);
    });
    save(*s);
    EXPECT_TRUE(shownWhileReading);
    std::vector<std::uint64_t> figures = shownFigures(controller);
    EXPECT_TRUE(std::is_sorted(figures.begin(), figures.end()));
    ASSERT_FALSE(figures.empty());
    EXPECT_EQ(std::tuple(figures.back(), bytesBelow(destination), lastAlertTitle()),
              std::tuple(4 * kChunk, 4 * kChunk, std::string("Saving Completed")));

    // Six files of a chunk, a chunk apart; the disk goes at the fourth's first sector.
    TreeBuilder six;
    for (std::uint32_t i = 0; i < 6; ++i)
        six.file(six.root, u"f" + newdir::utf16(std::to_string(i)), kChunk, {{2 * i * kChunkBlocks, kChunkBlocks}});
    fs::remove_all(destination / "Root");
    controller.clear();
    auto dying = medium(12 * kChunkBlocks * 8 + 8);
    const std::uint64_t diesAt = 6 * kChunkBlocks * 8 * 512;
    dying->setRawRead([diesAt](int fd, std::uint8_t* into, std::size_t length, std::uint64_t offset) -> std::int64_t {
        if (offset + length > diesAt) {
            errno = ENODEV;
            return -1;
        }
        return ::pread(fd, into, length, static_cast<off_t>(offset));
    });
    std::optional<std::pair<std::uint64_t, bool>> atTheAlert; // bytes written then, and whether they showed
    controller.setCallObserver([&](const platform::RecordingController::Call& call) {
        if (call.name != "runAlertPanel:" || atTheAlert) return;
        const std::uint64_t written = bytesBelow(destination);
        atTheAlert = {written, showsWithinSeconds(controller, written)};
    });
    auto gone = saver(dying, six.root);
    save(*gone);
    controller.setCallObserver(nullptr);
    ASSERT_TRUE(toldTheMediumGone());
    ASSERT_TRUE(atTheAlert.has_value());
    EXPECT_EQ(*atTheAlert, std::pair(3 * kChunk, true));
    figures = shownFigures(controller);
    ASSERT_FALSE(figures.empty());
    EXPECT_EQ(std::pair(figures.back(), bytesBelow(destination)), std::pair(3 * kChunk, 3 * kChunk));
}

// ====================================================== tree shape ====

TEST_F(Saving, OnlyMarkedNodesAreSavedWithTheTreesFolders) {
    NewDir* docs = tree.folder(tree.root, u"Docs");
    tree.file(docs, u"kept.txt", 100, {{1, 1}});
    tree.file(docs, u"skipped.txt", 100, {{2, 1}})->selected = 0;
    NewDir* unmarked = tree.folder(tree.root, u"Unmarked");
    tree.file(unmarked, u"x.txt", 100, {{3, 1}});
    unmarked->selected = 0;
    tree.folder(tree.root, u"Empty");
    tree.file(tree.folder(tree.folder(docs, u"A"), u"B"), u"deep.txt", 10, {{4, 1}});
    auto s = saveTree();
    EXPECT_EQ(entriesBelow(destination),
              (std::set<std::string>{"Root", "Root/Docs", "Root/Docs/kept.txt", "Root/Docs/A", "Root/Docs/A/B",
                                     "Root/Docs/A/B/deep.txt", "Root/Empty"}));
    EXPECT_EQ(s->savedData(), 110u);
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, ExtensionFoldersOfTheFileTypesViewCarryTheirCount) {
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
    saveTree();
    EXPECT_EQ(entriesBelow(destination),
              (std::set<std::string>{"Root", "Root/jpg [3]", "Root/jpg [3]/shown-p0.jpg", "Root/jpg [3]/shown-p1.jpg",
                                     "Root/jpg [3]/shown-p2.jpg"}));
}

TEST_F(Saving, NamesWithSlashesFollowTheDestinationsFileSystem) {
    for (const char* type : {"ext4", "vfat"}) {
        TreeBuilder tree;
        tree.file(tree.folder(tree.root, u"a/b"), u"c/d.txt", 10, {{1, 1}});
        auto s = saver(medium(), tree.root);
        fake->answer = DestinationFileSystem::Info{true, type};
        ASSERT_TRUE(s->checkDestination(destination.string()));
        save(*s);
    }
    EXPECT_TRUE(fs::exists(destination / "Root" / "a:b" / "c:d.txt"));
    EXPECT_TRUE(fs::exists(destination / "Root" / "a_b" / "c_d.txt"));
}

TEST_F(Saving, HostileNamesStayInsideTheDestination) {
    NewDir* up = tree.folder(tree.root, u"..");
    tree.file(up, u"..", 10, {{1, 1}});
    tree.file(up, u".", 10, {{2, 1}});
    tree.file(tree.folder(tree.root, u"."), u"a/b", 10, {{3, 1}});
    tree.file(tree.folder(tree.root, u""), u"", 10, {{4, 1}});
    NewDir* nul = tree.file(tree.root, u"x", 10, {{5, 1}});
    nul->texts.setName(std::u16string_view(u"..\0/..\0evil", 11));
    nul->nameLength = 11;
    newdir::setFileName(tree.file(tree.root, u"x", 10, {{6, 1}}), u"../../../escaped");
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
    tree.file(tree.root, u"a.txt", 100, {{1, 1}});
    tree.file(tree.folder(tree.root, u"Docs"), u"precious.txt", 100, {{2, 1}});
    saveTree();
    EXPECT_EQ(entriesBelow(elsewhere), (std::set<std::string>{"precious.txt"}));
    EXPECT_EQ(readText(elsewhere / "precious.txt"), "keep me");
    EXPECT_EQ(readText(destination / "Root_" / "a.txt"), patternBytes(8 * 512, 100));
    EXPECT_EQ(readText(destination / "Root_" / "Docs" / "precious.txt"), patternBytes(16 * 512, 100));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, ALinkPlantedInPlaceOfAFileIsNotWrittenThrough) {
    fs::path elsewhere = testsupport::makeTempDir("save-elsewhere");
    std::ofstream(elsewhere / "precious.txt") << "keep me";
    fs::create_directories(destination / "Root");
    fs::create_symlink(elsewhere / "precious.txt", destination / "Root" / "a.txt");
    fs::create_symlink(elsewhere / "missing.txt", destination / "Root" / "b.txt");
    tree.file(tree.root, u"a.txt", 100, {{1, 1}});
    tree.file(tree.root, u"b.txt", 100, {{2, 1}});
    saveTree();
    EXPECT_EQ(readText(elsewhere / "precious.txt"), "keep me");
    EXPECT_FALSE(fs::exists(elsewhere / "missing.txt"));
    EXPECT_EQ(saved("a_.txt"), patternBytes(8 * 512, 100));
    EXPECT_EQ(saved("b_.txt"), patternBytes(16 * 512, 100));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, SavingTwiceIntoOneDestinationKeepsBothCopies) {
    NewDir* docs = tree.folder(tree.root, u"Docs");
    tree.file(docs, u"photo.jpg", 3000, {{1, 1}});
    tree.file(docs, u"notes", 200, {{2, 1}});
    tree.file(docs, u"photo.jpg", 100, {{3, 1}}); // a second photo.jpg in the same folder
    auto s = saveTree();
    save(*s);
    EXPECT_EQ(entriesBelow(destination / "Root" / "Docs"),
              (std::set<std::string>{"photo.jpg", "photo_.jpg", "photo__.jpg", "photo___.jpg", "notes", "notes_"}));
    EXPECT_EQ(saved("Docs/photo.jpg"), patternBytes(8 * 512, 3000));
    EXPECT_EQ(saved("Docs/photo_.jpg"), patternBytes(24 * 512, 100));
    EXPECT_EQ(saved("Docs/photo__.jpg"), patternBytes(8 * 512, 3000));
    EXPECT_EQ(saved("Docs/photo___.jpg"), patternBytes(24 * 512, 100));
    EXPECT_EQ(saved("Docs/notes"), saved("Docs/notes_"));
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, AFolderThatCannotBeMadeSkipsItsSubtreeAndCounts) {
    NewDir* a = tree.folder(tree.root, u"a");
    tree.file(a, u"1", 10, {{1, 1}});
    tree.file(tree.folder(a, u"inner"), u"2", 10, {{1, 1}});
    tree.file(tree.root, u"b", 10, {{1, 1}});
    tree.file(tree.folder(tree.root, u"c"), u"3", 10, {{1, 1}});
    // Every name the collision rule can give "a" is taken by a file, so the
    // folder cannot be made whoever runs the test.
    fs::create_directories(destination / "Root");
    std::string taken = "a";
    for (; taken.size() <= SaveFileName::kNameMax; taken += '_')
        std::ofstream(destination / "Root" / taken) << "x";
    std::ofstream(destination / "Root" / std::string(SaveFileName::kNameMax, '_')) << "x";
    auto s = saveTree();
    EXPECT_EQ(saved("b"), patternBytes(8 * 512, 10));
    EXPECT_EQ(saved("c/3"), patternBytes(8 * 512, 10));
    EXPECT_EQ(saved("a"), "x");
    // The folder and the two files below it.
    EXPECT_EQ(s->savingErrors(), 3u);
    EXPECT_EQ(lastAlertTitle(), "Saving completed with 3 errors");
    EXPECT_TRUE(logged("Could not create the folder Root/a on the destination"));
}

TEST_F(Saving, ADestinationThatCannotBeOpenedSavesNothingAndSaysSo) {
    tree.file(tree.root, u"b", 10, {{1, 1}});
    auto s = saver(medium(), tree.root);
    s->saveFilesAndFolders(Dict{{"path", (destination / "gone").string()}});
    EXPECT_FALSE(fs::exists(destination / "gone"));
    EXPECT_EQ(s->savingErrors(), 2u);
    EXPECT_NE(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, AWriteThatFailsIsCountedAndTheSaveGoesOn) {
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
    EXPECT_EQ(saved("small-1"), patternBytes(8 * 512, 3000));
    EXPECT_EQ(saved("small-2"), patternBytes(160 * 512, 3000));
    EXPECT_EQ(s->savingErrors(), 1u);
    EXPECT_EQ(lastAlertTitle(), "Saving completed with 1 errors");
    EXPECT_NE(lastAlertMessage().find("1 of the marked files and folders could not be saved"), std::string::npos);
    EXPECT_TRUE(logged("Could not write Root/too-big"));
}

// A file system that takes every write and loses the data on its way to the
// device: an ext4 without a journal on a loop device over a file in a tmpfs
// too small to hold it. Mounted at `at`; unmounted and detached when it goes.
class LosingFileSystem {
public:
    explicit LosingFileSystem(const fs::path& at) : dir_(testsupport::makeTempDir("losing")) {
        const std::string tmp = testsupport::shellQuote((dir_ / "tmp").string());
        const std::string backing = testsupport::shellQuote((dir_ / "tmp" / "backing").string());
        fs::create_directories(dir_ / "tmp");
        fs::create_directories(at);
        if (!testsupport::runCommand("mount -t tmpfs -o size=6m tmpfs " + tmp + " 2>/dev/null")) return;
        tmpfs_ = true;
        if (!testsupport::runCommand("truncate -s 64M " + backing + " && mkfs.ext4 -q -F -O ^has_journal " + backing))
            return;
        if (loop_.emplace(dir_ / "tmp" / "backing").path().empty()) return;
        if (testsupport::runCommand("mount " + loop_->path() + " " + testsupport::shellQuote(at.string()) +
                                    " 2>/dev/null"))
            mounted_ = at;
    }
    ~LosingFileSystem() {
        if (!mounted_.empty()) testsupport::runCommand("umount " + testsupport::shellQuote(mounted_.string()));
        loop_.reset();
        if (tmpfs_) testsupport::runCommand("umount " + testsupport::shellQuote((dir_ / "tmp").string()));
    }
    LosingFileSystem(const LosingFileSystem&) = delete;
    LosingFileSystem& operator=(const LosingFileSystem&) = delete;
    bool ready() const { return !mounted_.empty(); }

private:
    fs::path dir_, mounted_;
    std::optional<testsupport::LoopDevice> loop_;
    bool tmpfs_ = false;
};

TEST_F(Saving, WritesTheDeviceLosesAfterTheyWereTakenAreNoSavedFilesWhereverThatFileSystemIsMounted) {
    // Three files of 4 MiB, 12 MiB in all for a device that keeps under 6.
    for (std::uint32_t i = 0; i < 3; ++i)
        tree.file(tree.root, u"part" + newdir::utf16(std::to_string(i)), 4u << 20, {{1 + i * 1024, 1024}});
    // The destination itself on that file system, and a destination of
    // which only the folder "Root", there from before, is.
    for (const bool nested : {false, true}) {
        if (!testsupport::haveTool("mkfs.ext4") || !testsupport::haveTool("losetup"))
            GTEST_SKIP() << "mkfs.ext4 or losetup is missing";
        const fs::path chosen = outer / (nested ? "nested" : "whole");
        fs::create_directories(chosen);
        LosingFileSystem losing(nested ? chosen / "Root" : chosen);
        if (!losing.ready()) GTEST_SKIP() << "no loop device could be attached and mounted";
        auto s = saver(medium(8 + 3 * 8192), tree.root);
        s->saveFilesAndFolders(Dict{{"path", chosen.string()}});
        EXPECT_NE(s->ending(), DataSaving::Ending::Completed) << nested;
        EXPECT_EQ(s->savedFiles() + s->savingErrors(), 3u) << nested;
        EXPECT_GE(s->savingErrors(), 2u) << nested;
        EXPECT_TRUE(logged("Could not sync Root/part")) << nested;
    }
}

TEST_F(Saving, ADeepChainOfFoldersIsSavedWithoutRecursionOrRunningOutOfDescriptors) {
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
    auto s = saveTree();
    ::setrlimit(RLIMIT_NOFILE, &old);
    fs::path p = destination / "Root";
    for (int i = 0; i < depth; ++i, p /= "d")
        EXPECT_TRUE(i % 3 || readText(p / "e" / "late") == patternBytes(16 * 512, 10)) << i;
    EXPECT_TRUE(fs::exists(p / "bottom"));
    EXPECT_EQ(s->savingErrors(), 0u);
    EXPECT_EQ(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, SavedFilesAreNotExecutable) {
    tree.file(tree.root, u"a.sh", 100, {{1, 1}});
    const mode_t old = ::umask(0);
    saveTree();
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat((destination / "Root" / "a.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// One unreadable sector costs that sector alone: the file is still read at
// once (the range reader reads a failed range again beneath it) and saved at
// its full length, zeros there, and the save says so. One in the slack of a
// file's last block costs the file nothing.
TEST_F(Saving, AnUnreadableSectorIsSavedAsZerosInAWholeFileAndTheEndSaysSo) {
    tree.file(tree.root, u"a.bin", 20 * 4096, {{0, 20}});
    tree.file(tree.root, u"tail.bin", 4096 + 100, {{30, 2}});
    testsupport::FailingReads bad;
    bad.failSectors(100);
    bad.failSectors(250);
    auto v = medium();
    v->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
    auto s = saver(v, tree.root);
    recordReads(*s, *v);
    save(*s);
    // A file with a lost sector outside its bytes reads those it takes again, to count its own.
    EXPECT_EQ(reads, (std::vector<Read>{{0, 160}, {240, 16}, {240, 9}}));
    std::string a = patternBytes(0, 20 * 4096);
    std::fill_n(a.begin() + 100 * 512, 512, '\0');
    EXPECT_TRUE(saved("a.bin") == a);
    EXPECT_EQ(saved("tail.bin"), patternBytes(240 * 512, 4196));
    EXPECT_TRUE(logged("1 sectors of Root/a.bin could not be read from the medium; they are written as zeros"));
    EXPECT_EQ(std::tuple(s->ending(), s->savedFiles(), s->savedWithUnreadableSectors(), lastAlertTitle()),
              std::tuple(DataSaving::Ending::CompletedWithUnreadableSectors, 2ull, 1ull,
                         std::string("Saving completed with unreadable sectors")));
    EXPECT_EQ(lastAlertMessage(),
              "Saved at: " + destination.string() +
                  "\n\nSaved files with sectors the medium did not give: 1. Those sectors are written "
                  "as zeros; the system log names the files, and which of their sectors could not "
                  "be read and which were not asked for.");
}

// Three bad sectors ten apart in a file: each stretch is one sector, and the sector after each is saved as its own
// bytes, never as those of a place the save asked at to learn whether the disk still answers.
TEST_F(Saving, EachSectorIsSavedFromItsOwnPlaceOnly) {
    tree.file(tree.root, u"photo.jpg", 256 * 512, {{591, 64}}, 4);
    testsupport::FailingReads bad;
    for (const std::uint64_t sector : {2464, 2474, 2484})
        bad.failSectors(sector);
    auto v = medium(65536);
    v->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
    auto s = saver(v, tree.root);
    save(*s);
    std::string expected = patternBytes(2364 * 512, 256 * 512);
    for (const std::uint64_t sector : {2464, 2474, 2484})
        std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>((sector - 2364) * 512), 512, '\0');
    EXPECT_TRUE(saved("photo.jpg") == expected);
    EXPECT_TRUE(logged("3 sectors of Root/photo.jpg could not be read from the medium"));
    EXPECT_EQ(std::tuple(s->savedFiles(), s->savedWithUnreadableSectors()), std::tuple(1ull, 1ull));
}

// A FAT card whose files have bad sectors in the patterns a failing card shows (single ones a few apart, one in
// eight, one in two, three in every eight, two readable inside runs of fifteen), its tables and folders readable. The
// save runs to its end, every readable sector of every file saved as the card holds it and every unreadable one as
// zeros, counted: the disk answers between its failures, so it is never taken for stopped. A preview shows a whole file
// as it is and refuses one with a bad sector.
TEST_F(Saving, ScatteredBadSectorsCostOnlyThemselvesInTheSaveAndThePreview) {
    const fs::path dir = testsupport::makeTempDir("save-scattered");
    const fs::path image = testsupport::mkfsVfat(dir, "-F 16 -s 4", "16384");
    std::map<std::string, std::string> contents;
    for (const std::uint64_t size : {300, 2048, 5000, 40000, 65536, 150001, 300000, 700000}) {
        // Eight characters, as the scan shows a short name.
        const std::string digits = std::to_string(size),
                          name = "F" + std::string(7 - digits.size(), '0') + digits + ".BIN";
        contents[name] = patternBytes(size * 7919, size);
        testsupport::writeText(dir / name, contents[name]);
        testsupport::mtools(image, "mcopy", testsupport::shellQuote((dir / name).string()) + " ::/");
    }
    const std::string card = readText(image);
    std::map<std::string, std::uint64_t> firstSector;
    for (const auto& [name, bytes] : contents) {
        const std::size_t at = card.find(bytes);
        ASSERT_TRUE(at != std::string::npos && at % 512 == 0) << name;
        firstSector[name] = at / 512;
    }
    std::set<std::uint64_t> fewApart;
    for (std::uint64_t s = 0, i = 0; s < card.size() / 512; s += 4 + (i++ * 5) % 9)
        fewApart.insert(s);
    const std::vector<std::pair<std::string, std::function<bool(std::uint64_t)>>> patterns{
        {"single ones a few apart", [&](std::uint64_t s) { return fewApart.count(s) != 0; }},
        {"one in eight", [](std::uint64_t s) { return s % 8 == 3; }},
        {"one in two", [](std::uint64_t s) { return s % 2 == 1; }},
        {"three bad then five good", [](std::uint64_t s) { return s % 8 < 3; }},
        // The walk from the first of each run of fifteen steps over the two
        // readable sectors inside it: the save asks into what it stepped over.
        {"two readable inside fifteen bad", [](std::uint64_t s) { return s % 32 < 15 && s % 32 != 4 && s % 32 != 5; }},
    };
    for (const auto& [pattern, isBad] : patterns) {
        SCOPED_TRACE(pattern);
        testsupport::FailingReads failing;
        std::map<std::string, std::uint64_t> badIn;
        for (const auto& [name, bytes] : contents) {
            for (std::uint64_t s = firstSector[name]; s < firstSector[name] + (bytes.size() + 511) / 512; ++s) {
                if (!isBad(s)) continue;
                failing.failSectors(s);
                ++badIn[name];
            }
        }
        fs::remove_all(destination / "Root");
        controller.clear();
        auto v = keep(volumeOver(image, 0, 0, 512, "FAT16"));
        v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
        ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
        std::atomic<bool> abort{false};
        std::size_t files = 0;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot)) {
            if (node->isFolder() || !contents.count(path)) continue;
            ++files;
            node->selected = 1;
            const PreviewData::Result preview = PreviewData::getPreviewData(*v, PreviewData::Source::of(*node), abort);
            if (badIn[path] == 0)
                EXPECT_TRUE(preview.outcome == PreviewData::Outcome::Loaded &&
                            std::string(preview.data.begin(), preview.data.end()) == contents[path])
                    << path;
            else
                EXPECT_EQ(preview.outcome, PreviewData::Outcome::ReadFailed) << path;
        }
        ASSERT_EQ(files, contents.size());
        v->dirRoot->selected = 1;
        auto s = saver(v, v->dirRoot);
        save(*s);
        std::uint64_t holed = 0, unread = 0;
        for (const auto& [name, bytes] : contents) {
            std::string expected = bytes;
            for (std::uint64_t i = 0; i < expected.size(); i += 512)
                if (isBad(firstSector[name] + i / 512))
                    std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(i),
                                std::min<std::size_t>(512, expected.size() - i), '\0');
            EXPECT_TRUE(savedAsADdCopyGivesIt(destination / "Root" / name, expected, badIn[name])) << name;
            if (badIn[name] == 0) continue;
            if (badIn[name] * 512 >= bytes.size()) {
                ++unread;
                continue;
            }
            ++holed;
            EXPECT_EQ(loggedAsZeros("Root/" + name), badIn[name]) << name;
        }
        EXPECT_EQ(std::tuple(s->savedFiles(), s->savedWithUnreadableSectors(), s->notOneSectorRead(), lastAlertTitle()),
                  std::tuple(std::uint64_t{contents.size()} - unread, holed, unread,
                             endOfASaveWithUnreadableSectors(unread)));
    }
}

// A camera card's photo with one unreadable sector, found by the FAT scan and
// by the carving of the whole card, is saved at its full length: the card's
// bytes, with zeros for that sector alone.
TEST_F(Saving, APhotoWithAnUnreadableSectorIsSavedWholeFromTheFATScanAndFromTheCarving) {
    const fs::path dir = testsupport::makeTempDir("save-card"), photo = dir / "photo.jpg";
    ASSERT_TRUE(testsupport::runCommand("convert -seed " + testsupport::sampleSeed(7) +
                                        " -size 640x480 plasma: -quality 95 " +
                                        testsupport::shellQuote(photo.string())));
    const fs::path image = testsupport::mkfsVfat(dir, "-F 16 -s 8", "16384");
    testsupport::mtools(image, "mcopy", testsupport::shellQuote(photo.string()) + " ::/");
    const std::string card = readText(image), original = readText(photo);
    const std::uint64_t first = card.find(original) / 512, unreadable = first + original.size() / 1024;
    ASSERT_LT(first * 512, card.size());
    for (const bool carving : {false, true}) {
        SCOPED_TRACE(carving);
        testsupport::FailingReads bad;
        bad.failSectors(unreadable);
        auto v = keep(volumeOver(image, 0, 0, 512, carving ? "" : "FAT16"));
        v->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
        if (carving)
            ScanThread(v).scanForDeletedFilesDisk(Array{testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, {"jpg"}), 1});
        else
            ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
        std::size_t saves = 0;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot)) {
            if (node->isFolder() || node->extents.empty() || testsupport::firstSector(*node) != first) continue;
            ASSERT_GE(node->fileSize, original.size());
            for (NewDir* n = node; n; n = n->pndirPointer)
                n->selected = 1;
            auto s = saver(v, v->dirRoot);
            save(*s);
            ++saves;
            std::string expected = card.substr(first * 512, node->fileSize);
            std::fill_n(expected.begin() + (unreadable - first) * 512, 512, '\0');
            EXPECT_TRUE(saved(path) == expected) << path;
            EXPECT_NE(lastAlertMessage().find("Saved files with sectors the medium did not give: 1."),
                      std::string::npos);
        }
        EXPECT_EQ(saves, 1u);
    }
}

// Eighty files of 64 KiB spread over a 64 MiB disk, saved in the tree's order (ascending, or shuffled): a disk that
// dies part-way, with or without a page cache still answering for what was read, ends the save within a few dozen
// failed reads with the designed alert; every file saved before is whole and none after is called whole. A live disk
// whose last 24 MiB are bad is saved to the end, every readable byte kept, whatever the order.
TEST_F(Saving, ADiskThatDiesEndsTheSaveWithinAFewReadsAndALiveOneWithABadEndIsSavedToTheEnd) {
    constexpr std::uint64_t kSectors = 131072, kFiles = 80, kEvery = 1536, kFileBytes = 64 * 1024;
    constexpr std::uint64_t kBadFrom = kSectors - 24 * 2048;
    enum class Disk { Dies, DiesUnderACache, BadEnd };
    for (const Disk disk : {Disk::Dies, Disk::DiesUnderACache, Disk::BadEnd}) {
        for (const bool shuffled : {false, true}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(disk)) + (shuffled ? " shuffled" : " ascending"));
            TreeBuilder files;
            std::vector<std::uint64_t> order;
            for (std::uint64_t k = 0; k < kFiles; ++k) {
                const std::uint64_t n = shuffled ? k * 37 % kFiles : k;
                order.push_back(n);
                files.file(files.root, newdir::utf16("f" + std::to_string(n)), kFileBytes,
                           {{static_cast<std::uint32_t>(n * kEvery / 8), 16}});
            }
            fs::remove_all(destination / "Root");
            controller.clear();
            auto v = medium(kSectors);
            testsupport::FailingReads failing;
            if (disk == Disk::Dies) failing.failEveryReadAfter(20);
            if (disk == Disk::DiesUnderACache) failing.dieUnderThePageCacheAfter(20);
            if (disk == Disk::BadEnd) failing.failSectors(kBadFrom, kSectors - kBadFrom);
            v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
            auto s = saver(v, files.root);
            save(*s);

            const std::string image = readText(this->image);
            std::uint64_t whole = 0, holed = 0, unread = 0;
            for (std::size_t i = 0; i < order.size(); ++i) {
                const std::uint64_t at = order[i] * kEvery;
                const fs::path path = destination / "Root" / ("f" + std::to_string(order[i]));
                const std::string bytes = fs::exists(path) ? readText(path) : std::string();
                const bool exact = bytes == image.substr(at * 512, kFileBytes);
                whole += exact ? 1 : 0;
                if (disk != Disk::BadEnd) {
                    // One read a file: the first twenty are saved whole.
                    if (i < 20) {
                        EXPECT_TRUE(exact) << path;
                    }
                    continue;
                }
                std::string expected = image.substr(at * 512, kFileBytes);
                if (at + kFileBytes / 512 > kBadFrom)
                    std::fill(expected.begin() + static_cast<std::ptrdiff_t>(at > kBadFrom ? 0 : (kBadFrom - at) * 512),
                              expected.end(), '\0');
                // A file wholly in the bad end is not written.
                EXPECT_TRUE(at >= kBadFrom ? !fs::exists(path) : bytes == expected) << path;
                holed += at < kBadFrom && at + kFileBytes / 512 > kBadFrom ? 1 : 0;
                unread += at >= kBadFrom ? 1 : 0;
            }
            // What the end calls whole is whole.
            EXPECT_EQ(s->savedFiles() - s->savedWithUnreadableSectors(), whole);
            const bool toldGone = toldTheMediumGone();
            EXPECT_FALSE(controller.terminateRequested());
            if (disk == Disk::BadEnd) {
                EXPECT_FALSE(toldGone);
                EXPECT_EQ(std::tuple(s->savedFiles(), s->savedWithUnreadableSectors(), lastAlertTitle()),
                          std::tuple(kFiles - unread, holed, endOfASaveWithUnreadableSectors(unread)));
                // A few for each file in the bad end, whose first sector is not known yet when shuffled, and the
                // asks inside each.
                EXPECT_LE(failing.failedReads(), (holed + unread) * (7 + kFileBytes / 512 / 56));
            } else {
                EXPECT_TRUE(toldGone);
                EXPECT_GE(whole, 20u);
                EXPECT_EQ(s->savingErrors(), kFiles - s->savedFiles());
                EXPECT_NE(lastAlertTitle(), "Saving Completed");
                EXPECT_NE(lastAlertTitle(), "Saving completed with unreadable sectors");
                EXPECT_LE(failing.failedReads(), 40u);
            }
        }
    }
}

// A disk that stops answering while a scan reads it, judged so by the scan's own walk, then a save of every file: the
// save asks once more whether it answers, is told it does not, tells the user, and takes from the page cache the files
// it holds whole (those the scan read before the death, and one a probe read after it); no other file is made, none
// of zeros, each told as not saved, and the end says the disk no longer answers. The disk comes back: the next save
// asks again, finds it answering, and saves every file exact, those the first walk stepped over included, until it
// reads into a place where the disk dies once more.
TEST_F(Saving, ASaveAfterAScanFoundItsDiskStoppedTakesOnlyWhatTheCacheHoldsUntilTheDiskAnswersAgain) {
    constexpr std::uint64_t kSectors = 131072, kFiles = 16, kEvery = kSectors / kFiles, kFileSectors = 128;
    constexpr std::uint64_t kDeath = kSectors / 2 + 1000, kHeld = 12, kDiesAgain = 13;
    TreeBuilder files;
    for (std::uint64_t k = 0; k < kFiles; ++k)
        files.file(files.root, newdir::utf16("f" + std::to_string(k)), kFileSectors * 512,
                   {{static_cast<std::uint32_t>(k * kEvery / 8), static_cast<std::uint32_t>(kFileSectors / 8)}});
    auto v = medium(kSectors);
    const std::string bytes = readText(image);
    const auto exact = [&](std::uint64_t k) {
        const fs::path path = destination / "Root" / ("f" + std::to_string(k));
        return fs::exists(path) && readText(path) == bytes.substr(k * kEvery * 512, kFileSectors * 512);
    };
    testsupport::FailingReads dying;
    dying.dieUnderThePageCacheAt(kDeath);
    dying.holdInTheCache(kHeld * kEvery, kFileSectors);
    v->setRawRead(dying.reader(), dying.cachedReader(), dying.pastEveryCacheReader());
    std::vector<std::uint8_t> batch(2048 * 512);
    for (std::uint64_t s = 0; s < kSectors; s += 2048)
        v->readSweepSectors(s, 2048, batch.data());
    ASSERT_TRUE(v->stoppedAnswering());
    const std::uint64_t byTheScan = dying.failedReads();
    auto s = saver(v, files.root);
    save(*s);
    for (std::uint64_t k = 0; k < kFiles; ++k) {
        const bool cached = k == kHeld || (k + 1) * kEvery + 8192 < kDeath;
        const bool past = k * kEvery >= kDeath;
        if (cached) {
            EXPECT_TRUE(exact(k)) << k;
        } else if (past) {
            EXPECT_FALSE(fs::exists(destination / "Root" / ("f" + std::to_string(k)))) << k;
        }
    }
    EXPECT_TRUE(toldTheMediumGone());
    EXPECT_LE(dying.failedReads() - byTheScan, 12u);
    EXPECT_EQ(s->savingErrors(), kFiles - s->savedFiles());
    EXPECT_NE(lastAlertMessage().find("no longer answers"), std::string::npos) << lastAlertMessage();
    EXPECT_TRUE(logged("f15 is not saved: the medium is no longer available"));

    dying.answerAgain(kDiesAgain * kEvery + 1);
    fs::remove_all(destination / "Root");
    controller.clear();
    const std::uint64_t beforeTheSecond = dying.failedReads();
    save(*(s = saver(v, files.root)));
    for (std::uint64_t k = 0; k < kFiles; ++k) {
        if (k < kDiesAgain || k == kHeld) {
            EXPECT_TRUE(exact(k)) << k;
        } else if (k > kDiesAgain) {
            EXPECT_FALSE(fs::exists(destination / "Root" / ("f" + std::to_string(k)))) << k;
        }
    }
    EXPECT_TRUE(toldTheMediumGone());
    EXPECT_LE(dying.failedReads() - beforeTheSecond, 40u);
}

// Files on readable islands of a 48 MiB bad area of a live disk (one just the file's size, one of a MiB holding
// two, one of 16 sectors), files on the bad area and files clear of it, saved in the tree's order or another: the
// walk of the area steps over the islands, and the save asks for the places it needs, so every file lying wholly on
// readable sectors is saved byte-exact, those on the bad area as zeros, counted, and the save runs to its end. The
// same where a sweep of the whole disk walked the area before the save, stepping over the islands, and where the disk
// fails the whole 4 KiB page of a bad sector (the islands begin inside a page): each sector the medium's where its
// page reads, zeros elsewhere.
TEST_F(Saving, FilesOnReadableIslandsOfABadAreaAreSavedWhole) {
    constexpr std::uint64_t kSectors = 131072, kBadFirst = 16384, kBadEnd = 114688;
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> islands{{30003, 128}, {70001, 2048}, {90005, 16}};
    // First sector and sectors of each file.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> placed{{1000, 128},  {20000, 128},  {30003, 128},
                                                                      {50000, 128}, {70101, 128},  {71001, 512},
                                                                      {90005, 16},  {100000, 128}, {120000, 128}};
    std::vector<bool> badSector(kSectors);
    std::uint64_t from = kBadFirst;
    for (const auto& [first, count] : islands) {
        std::fill(badSector.begin() + static_cast<std::ptrdiff_t>(from),
                  badSector.begin() + static_cast<std::ptrdiff_t>(first), true);
        from = first + count;
    }
    std::fill(badSector.begin() + static_cast<std::ptrdiff_t>(from),
              badSector.begin() + static_cast<std::ptrdiff_t>(kBadEnd), true);
    for (const bool wholePages : {false, true})
        for (const bool sweptBefore : {false, true})
            for (const bool reversed : {false, true}) {
                SCOPED_TRACE(std::string(wholePages ? "whole pages" : "single sectors") +
                             (sweptBefore ? ", swept before" : "") + (reversed ? ", reversed" : ", in order"));
                TreeBuilder files;
                for (std::size_t k = 0; k < placed.size(); ++k) {
                    const auto& [first, count] = placed[reversed ? placed.size() - 1 - k : k];
                    files.file(files.root, newdir::utf16("f" + std::to_string(first)), count * 512,
                               {{static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count)}}, 1);
                }
                fs::remove_all(destination / "Root");
                controller.clear();
                auto v = medium(kSectors);
                testsupport::FailingReads failing;
                from = kBadFirst;
                for (const auto& [first, count] : islands) {
                    failing.failSectors(from, first - from);
                    from = first + count;
                }
                failing.failSectors(from, kBadEnd - from);
                if (wholePages) failing.failWholePages();
                v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
                std::vector<std::uint8_t> batch(2048 * 512);
                for (std::uint64_t s = 0; sweptBefore && s < kSectors; s += 2048)
                    v->readSweepSectors(s, 2048, batch.data());
                auto s = saver(v, files.root);
                save(*s);
                std::uint64_t holed = 0, unread = 0;
                for (const auto& [first, count] : placed) {
                    const std::string name = "f" + std::to_string(first);
                    const auto [expected, lost] =
                        asDdCopiesIt(patternBytes(first * 512, count * 512), first, badSector, wholePages);
                    EXPECT_TRUE(savedAsADdCopyGivesIt(destination / "Root" / name, expected, lost)) << name;
                    if (lost == count) {
                        ++unread;
                        EXPECT_TRUE(loggedNotOneSectorRead("Root/" + name)) << name;
                    } else if (lost != 0) {
                        ++holed;
                        EXPECT_EQ(loggedAsZeros("Root/" + name), lost) << name;
                    }
                }
                EXPECT_EQ(std::tuple(s->savedFiles(), s->savedWithUnreadableSectors(), s->notOneSectorRead(),
                                     lastAlertTitle()),
                          std::tuple(std::uint64_t{placed.size()} - unread, holed, unread,
                                     endOfASaveWithUnreadableSectors(unread)));
            }
}

// A 128 MiB FAT32 card that mkfs.vfat made with one-sector clusters and mtools filled with forty-one files in four
// folders, small and large in turn, unreadable but for its reserved sectors, FATs and folders and the small files: the
// walk of the first large file steps over the small ones after it and runs to the card's end with nothing answering,
// and the places no read has reached are bad too. Before it gives the card up, the save asks where it still has to
// read, at the next files, and the card answers there; each file lies on what walks of files before it stepped over,
// and begins anywhere in a page. Where the bad sectors fail alone (the reader model, or a read-only loop device over
// the bad-sector FUSE tool of bench/ serving the card without a cache of its own, in direct I/O or reading its file
// through the page cache, which the tool lets the kernel keep and the save reads past) and where they fail their
// whole 4 KiB page for every reader (the reader model so), every sector of every file is saved as a copy by dd
// conv=noerror,sync gives it: the medium's bytes where its sector, or its page, reads, zeros elsewhere; a readable
// file whose first page is a bad neighbour's too loses only that page. The save runs to its end at a few failed reads
// a file.
TEST_F(Saving, ACardUnreadableButForHalfItsFilesIsSavedByteExactToItsEnd) {
    for (const char* tool : {"mkfs.vfat", "mmd", "mcopy"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    const fs::path dir = testsupport::makeTempDir("islands"), image = dir / "fat.img";
    constexpr std::uint64_t kSectors = 262144, kPageSectors = 8;
    testsupport::mkfsVfat(dir, "-F 32 -s 1", "131072");
    std::mt19937_64 random(std::random_device{}());
    std::vector<std::string> files; // the small ones, every other, are readable
    const std::vector<std::string> folders{"DIR1", "DIR2", "DIR3", "DIR4"};
    for (int i = 0; i < 41; ++i) {
        files.emplace_back(static_cast<std::size_t>(i % 2 == 0 ? 2 + i * 7 % 9 : 128 + i * 37 % 512) * 4096 -
                               static_cast<std::size_t>(i % 3) * 1536,
                           '\0');
        std::generate(files.back().begin(), files.back().end(), [&] { return static_cast<char>(random()); });
        // Eleven files at most a folder, so that each folder keeps to its one cluster before the files.
        const fs::path path = dir / folders[static_cast<std::size_t>(i) / 11] / ("F" + std::to_string(10 + i) + ".BIN");
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << files.back();
    }
    testsupport::mtools(image, "mmd", "::/DIR1 ::/DIR2 ::/DIR3 ::/DIR4");
    for (const std::string& folder : folders)
        testsupport::mtools(image, "mcopy", testsupport::shellQuote((dir / folder).string()) + "/* ::/" + folder);
    // Each file by its first sector, and the runs that fail: every sector from the first file on but the small files'.
    const std::string card = readText(image);
    std::map<std::uint64_t, std::size_t> fileAt;
    for (std::size_t k = 0; k < files.size(); ++k)
        fileAt[card.find(files[k]) / 512] = k;
    ASSERT_EQ(fileAt.size(), files.size());
    ServedCard::Runs bad;
    std::vector<bool> badSector(kSectors);
    std::uint64_t from = fileAt.begin()->first;
    for (const auto& [first, k] : fileAt) {
        if (k % 2 != 0) continue;
        if (first > from) bad.emplace_back(from, first - from);
        from = first + (files[k].size() + 511) / 512;
    }
    bad.emplace_back(from, kSectors - from);
    for (const auto& [first, count] : bad)
        std::fill_n(badSector.begin() + static_cast<std::ptrdiff_t>(first), count, true);
    ASSERT_GT(std::count_if(fileAt.begin(), fileAt.end(),
                            [&](const auto& file) { return file.second % 2 == 0 && file.first % kPageSectors != 0; }),
              0)
        << "no readable file begins inside a page";
    for (const Serving serving : kServings) {
        SCOPED_TRACE(ServedCard::name(serving));
        if (serving >= Serving::LoopInDirectIO && !ServedCard::fuseServes())
            GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse and losetup";
        ServedCard served(serving, image, bad);
        ASSERT_FALSE(served.medium.empty()) << "the FUSE tool did not serve the card";
        const bool overFuse = served.overFuse, wholePages = served.wholePages;
        testsupport::FailingReads& failing = served.failing;
        const std::string& medium = served.medium;
        auto v = scannedCard(medium, kSectors, failing.reader());
        auto s = saver(v, v->dirRoot);
        save(*s);
        std::size_t found = 0, holed = 0, unread = 0;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot)) {
            const auto file = node->extents.empty() ? fileAt.end() : fileAt.find(testsupport::firstSector(*node));
            if (node->isFolder() || file == fileAt.end()) continue;
            ++found;
            const auto [expected, lost] = asDdCopiesIt(files[file->second], file->first, badSector, wholePages);
            const bool none = lost * 512 >= expected.size();
            holed += lost > 0 && !none ? 1 : 0;
            unread += none ? 1 : 0;
            EXPECT_TRUE(savedAsADdCopyGivesIt(destination / "Root" / path, expected, lost)) << path;
        }
        EXPECT_EQ(std::tuple(found, s->savedFiles(), s->savedWithUnreadableSectors(), lastAlertTitle()),
                  std::tuple(files.size(), std::uint64_t{files.size() - unread}, std::uint64_t{holed},
                             endOfASaveWithUnreadableSectors(unread)));
        // A few for each file, and the asks inside each bad one: none of its pages is asked for twice, nor a bad
        // area page by page.
        if (!overFuse) {
            std::uint64_t inside = 0;
            for (const auto& [first, k] : fileAt)
                if (k % 2 != 0) inside += asksInABadRunOfAFile((files[k].size() + 511) / 512);
            EXPECT_LE(failing.failedReads(), 10 * files.size() + inside);
        }
        // The loop device is detached, and the tool unmounted, once nothing holds it open.
        freeVolumes();
    }
}

// A 128 MiB FAT32 card that mkfs.vfat made and mtools filled with photos, PNG, PSD and TIFF images, audio and
// documents, many of them fragmented over the gaps deleted fillers left, served by a loop device that reads through
// its own page cache a view failing single sectors: that cache fails a bad sector's page whole, and a read past it
// gets each sector alone, as from a disk. With one sector in eight bad, or every sector from the first file on bad
// but the folders' and every other file's, Save All writes every readable sector of every file with its own bytes:
// each file is what mtools copies out of the card with its bad sectors zeroed, as a dd conv=noerror,sync copy gives.
TEST_F(Saving, EverySectorThatAnswersPastALoopDevicesOwnCacheIsSavedWithItsOwnBytes) {
    for (const char* tool : {"mkfs.vfat", "mcopy", "mshowfat", "convert", "sox", "lame"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    if (!ServedCard::fuseServes()) GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse and losetup";
    constexpr std::uint64_t kSectors = 262144;
    const fs::path dir = testsupport::makeTempDir("own-cache"), image = testsupport::mkfsVfat(dir, "-F 32", "131072");
    const auto quoted = [&](const std::string& name) { return testsupport::shellQuote((dir / name).string()); };
    const auto make = [&](const std::string& name, const std::string& command) {
        testsupport::writeText(dir / name, testsupport::toolSample(command, name.substr(name.find('.') + 1)));
    };
    // Fillers, every other one deleted again; with the hint of where free clusters begin taken out of the FSInfo
    // sector, mtools writes each file after them into the first free clusters, split over the gaps.
    const std::vector<std::uint8_t> bootSector = testsupport::readBytesAt(image, 0, 512);
    const platform::ByteView boot(bootSector);
    const auto lostFreeHint = [&] {
        testsupport::writeBytesAt(image, boot.le16(48) * 512 + 492, {255, 255, 255, 255});
    };
    std::vector<std::string> files;
    std::string fillers, deleted;
    for (int i = 10; i < 50; ++i) {
        const std::string name = "FILL" + std::to_string(i) + ".BIN";
        testsupport::writeText(dir / name, patternBytes(i * 7919, 60000 + i * 4000));
        fillers += " " + quoted(name);
        (i % 2 == 0 ? files.emplace_back(name) : deleted += " ::/" + name);
    }
    testsupport::mtools(image, "mcopy", fillers + " ::/");
    testsupport::mtools(image, "mdel", deleted);
    testsupport::mtools(image, "mmd", "::/PICS ::/SOUND ::/DOCS");
    const auto add = [&](const std::string& folder, const std::string& name) {
        lostFreeHint();
        testsupport::mtools(image, "mcopy", quoted(name) + " ::/" + folder + "/");
        files.push_back(folder + "/" + name);
    };
    for (unsigned i = 1; i <= 6; ++i) {
        const std::string size = std::to_string(200 + i * 70) + "x" + std::to_string(150 + i * 50);
        const std::string plasma = "convert -seed " + testsupport::sampleSeed(i) + " -size " + size + " plasma:";
        make("PHOTO" + std::to_string(i) + ".JPG", plasma + " -quality 90 \"$OUT\"");
        add("PICS", "PHOTO" + std::to_string(i) + ".JPG");
        if (i > 3) continue;
        for (const std::string kind : {"PNG", "PSD", "TIF"}) {
            make("IMAGE" + std::to_string(i) + "." + kind, plasma + " " + kind + ":\"$OUT\"");
            add("PICS", "IMAGE" + std::to_string(i) + "." + kind);
        }
    }
    for (unsigned i = 1; i <= 3; ++i) {
        const std::string tone = " synth " + std::to_string(i) + " sine " + testsupport::sampleTone(300 + i * 110);
        make("SONG" + std::to_string(i) + ".WAV", "sox -n -r 22050 -c 2 \"$OUT\"" + tone);
        make("SONG" + std::to_string(i) + ".AIF", "sox -n -r 22050 -c 1 -t aiff \"$OUT\"" + tone);
        make("SONG" + std::to_string(i) + ".MP3",
             "sox -n -r 22050 -c 1 -t wav -" + tone + " | lame --quiet - \"$OUT\"");
        for (const char* kind : {"WAV", "AIF", "MP3"})
            add("SOUND", "SONG" + std::to_string(i) + "." + kind);
    }
    // Notes of one sector to a few dozen.
    for (unsigned i = 1; i <= 8; ++i) {
        std::string note;
        for (unsigned line = 0; note.size() < (i == 1 ? 700 : i * i * 500); ++line)
            note += "Line " + std::to_string(line) + " of note " + std::to_string(i) + ", kept as it was written.\n";
        testsupport::writeText(dir / ("NOTE" + std::to_string(i) + ".TXT"), note);
        add("DOCS", "NOTE" + std::to_string(i) + ".TXT");
    }
    // Each file's sectors, and the folders', as mshowfat gives their clusters.
    const std::uint64_t dataStart = boot.le16(14) + std::uint64_t{boot.u8(16)} * boot.le32(36),
                        perCluster = boot.u8(13);
    const auto sectorsOf = [&](const std::string& path) {
        const std::string shown = testsupport::runCommand("MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null mshowfat -i " +
                                                          testsupport::shellQuote(image.string()) + " " +
                                                          testsupport::shellQuote("::/" + path))
                                      .value_or("");
        std::vector<std::uint64_t> sectors;
        for (std::size_t at = shown.find('<'); at != std::string::npos; at = shown.find('<', at + 1)) {
            const std::uint64_t first = std::stoull(shown.substr(at + 1));
            const std::size_t dash = shown.find_first_of("->", at);
            const std::uint64_t last = shown[dash] == '-' ? std::stoull(shown.substr(dash + 1)) : first;
            for (std::uint64_t cluster = first; cluster <= last; ++cluster)
                for (std::uint64_t k = 0; k < perCluster; ++k)
                    sectors.push_back(dataStart + (cluster - 2) * perCluster + k);
        }
        return sectors;
    };
    std::map<std::uint64_t, std::string> fileAt; // by first sector
    std::map<std::string, std::vector<std::uint64_t>> sectorsOfFile;
    for (const std::string& file : files) {
        sectorsOfFile[file] = sectorsOf(file);
        ASSERT_FALSE(sectorsOfFile[file].empty()) << file;
        fileAt[sectorsOfFile[file].front()] = file;
    }
    ASSERT_GT(std::count_if(sectorsOfFile.begin(), sectorsOfFile.end(),
                            [](const auto& f) { return f.second.back() - f.second.front() + 1 != f.second.size(); }),
              4)
        << "too few files are fragmented";
    // The folders' sectors stay readable, and the sectors of every other file in the order they begin.
    std::vector<bool> folder(kSectors), everyOther(kSectors);
    for (const char* path : {"", "PICS", "SOUND", "DOCS"})
        for (const std::uint64_t s : sectorsOf(path))
            folder[s] = true;
    bool readable = true;
    for (const auto& [first, file] : fileAt) {
        for (const std::uint64_t own : sectorsOfFile[file])
            everyOther[own] = readable;
        readable = !readable;
    }
    const struct {
        const char* damage;
        std::function<bool(std::uint64_t)> bad;
    } cases[] = {
        {"one sector in eight", [&](std::uint64_t s) { return s >= dataStart && s % 8 == 3 && !folder[s]; }},
        {"all but every other file",
         [&](std::uint64_t s) { return s >= fileAt.begin()->first && !folder[s] && !everyOther[s]; }},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.damage);
        ServedCard::Runs bad;
        std::string zeroed = readText(image);
        for (std::uint64_t s = 0; s < kSectors; ++s) {
            if (!row.bad(s)) continue;
            std::fill_n(zeroed.begin() + static_cast<std::ptrdiff_t>(s * 512), 512, '\0');
            if (!bad.empty() && bad.back().first + bad.back().second == s)
                ++bad.back().second;
            else
                bad.emplace_back(s, 1);
        }
        testsupport::writeText(dir / "zeroed.img", zeroed);
        ServedCard served(Serving::LoopOverAnUncachedFile, image, bad);
        ASSERT_FALSE(served.medium.empty()) << "the FUSE tool did not serve the card";
        auto v = scannedCard(served.medium, kSectors);
        auto s = saver(v, v->dirRoot);
        save(*s);
        std::set<std::string> found;
        std::uint64_t unread = 0;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot)) {
            const auto file = node->extents.empty() ? fileAt.end() : fileAt.find(testsupport::firstSector(*node));
            if (node->isFolder() || file == fileAt.end()) continue;
            found.insert(file->second);
            const std::string expected =
                testsupport::runCommand("MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null mcopy -n -i " +
                                        testsupport::shellQuote((dir / "zeroed.img").string()) + " " +
                                        testsupport::shellQuote("::/" + file->second) + " -")
                    .value_or("");
            // None of these files is zeros: one that the copy gives as zeros lies wholly on bad sectors, and is not
            // written.
            const bool none = expected.find_first_not_of('\0') == std::string::npos;
            unread += none ? 1 : 0;
            EXPECT_TRUE(!expected.empty() &&
                        (none ? !fs::exists(destination / "Root" / path) : saved(path) == expected))
                << path;
        }
        EXPECT_EQ(std::tuple(found.size(), s->savedFiles()), std::tuple(files.size(), files.size() - unread));
        freeVolumes();
    }
}

// Files of random bytes of these names and sizes copied onto the card by mtools, each named with `extension`: their
// bytes by name.
std::map<std::string, std::string> randomFilesOnCard(const fs::path& dir, const fs::path& image,
                                                     const std::vector<std::pair<std::string, std::size_t>>& sizes,
                                                     const std::string& extension = "") {
    std::mt19937_64 random(std::random_device{}());
    std::map<std::string, std::string> files;
    for (const auto& [name, size] : sizes) {
        std::string& bytes = files[name];
        bytes.resize(size);
        std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
        const fs::path file = dir / (name + extension);
        std::ofstream(file, std::ios::binary) << bytes;
        testsupport::mtools(image, "mcopy", testsupport::shellQuote(file.string()) + " ::/" + name + extension);
    }
    return files;
}

// A file on a 128 MiB FAT32 card that mkfs.vfat made and mtools filled, whose bad sectors lie in runs with readable
// runs between them that are shorter than the step a walk has reached there, or islands of 8 to 500 sectors in one
// bad area, or every other run of 128 sectors from the file to the card's end: the walks step over readable runs, and
// the save asks inside every run they stepped over until each readable run of 64 sectors or more there is found and
// read to its edges. Served each way a card is served here, every file keeps every sector a dd conv=noerror,sync copy
// of the card gives it but those of readable runs shorter than 64 sectors, which hold their bytes or zeros; the
// sectors written as zeros are those counted as unreadable, and the save costs at most a failed read for every 64 bad
// sectors of the files and a few for each bad run.
TEST_F(Saving, ReadableRunsBetweenBadRunsOfAFileAreSavedAsADdCopyGivesThem) {
    for (const char* tool : {"mkfs.vfat", "mcopy"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    constexpr std::uint64_t kSectors = 262144, kLeastRun = 64;
    const fs::path dir = testsupport::makeTempDir("runs"), image = testsupport::mkfsVfat(dir, "-F 32", "131072");
    const std::vector<std::pair<std::string, std::size_t>> sizes{
        {"A.BIN", 24 * 1024}, {"BIG.BIN", 4000 * 512 - 300}, {"C.BIN", 600 * 512 - 100}};
    const std::map<std::string, std::string> files = randomFilesOnCard(dir, image, sizes);
    const std::string card = readText(image);
    std::map<std::string, std::uint64_t> firstSector;
    for (const auto& [name, bytes] : files)
        firstSector[name] = card.find(bytes) / 512;
    const std::uint64_t big = firstSector["BIG.BIN"];
    // Runs of bad sectors from BIG.BIN's first sector, less the readable islands in them; or, from there to the card's
    // end, every run of `randomRuns` sectors bad or not at random, half of them bad.
    const struct {
        const char* damage;
        ServedCard::Runs bad, islands;
        std::uint64_t randomRuns;
    } cases[] = {
        {"readable runs between four bad runs", {{0, 512}, {640, 128}, {1152, 640}, {2176, 256}}, {}, 0},
        {"islands in one bad area",
         {{64, 3840}},
         {{300, 64}, {611, 100}, {1000, 30}, {1301, 63}, {1777, 200}, {2500, 8}, {3001, 500}},
         0},
        {"half the runs of 128 sectors", {}, {}, 128},
    };
    for (const auto& row : cases) {
        ServedCard::Runs bad;
        for (const auto& [offset, count] : row.bad) {
            std::uint64_t from = big + offset;
            for (const auto& [island, length] : row.islands) {
                bad.emplace_back(from, big + island - from);
                from = big + island + length;
            }
            bad.emplace_back(from, big + offset + count - from);
        }
        std::uint64_t seed = 12345;
        for (std::uint64_t first = big; row.randomRuns != 0 && first < kSectors; first += row.randomRuns) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            if ((seed >> 33) % 2 == 0) bad.emplace_back(first, std::min(row.randomRuns, kSectors - first));
        }
        std::vector<bool> badSector(kSectors);
        for (const auto& [first, count] : bad)
            std::fill_n(badSector.begin() + static_cast<std::ptrdiff_t>(first), count, true);
        for (const Serving serving : kServings) {
            SCOPED_TRACE(std::string(row.damage) + ", " + ServedCard::name(serving));
            if (serving >= Serving::LoopInDirectIO && !ServedCard::fuseServes())
                GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse and losetup";
            ServedCard served(serving, image, bad);
            ASSERT_FALSE(served.medium.empty()) << "the FUSE tool did not serve the card";
            auto v = scannedCard(served.medium, kSectors, served.failing.reader());
            const std::uint64_t beforeTheSave = served.failing.failedReads();
            const std::size_t logsBefore = logs.size();
            auto s = saver(v, v->dirRoot);
            save(*s);
            EXPECT_EQ(std::tuple(s->savedFiles(), lastAlertTitle()),
                      std::tuple(std::uint64_t{files.size()}, std::string("Saving completed with unreadable sectors")));
            const auto ddReads = [&](std::uint64_t sector) {
                const std::uint64_t span = served.wholePages ? 8 : 1, page = sector - sector % span;
                return std::none_of(badSector.begin() + static_cast<std::ptrdiff_t>(page),
                                    badSector.begin() + static_cast<std::ptrdiff_t>(page + span),
                                    [](bool b) { return b; });
            };
            std::uint64_t badOfTheFiles = 0, runsOfTheFiles = 0;
            for (const auto& [name, node] : testsupport::nodesByPath(v->dirRoot)) {
                const auto file = std::find_if(firstSector.begin(), firstSector.end(), [&](const auto& placed) {
                    return !node->extents.empty() && placed.second == testsupport::firstSector(*node);
                });
                ASSERT_NE(file, firstSector.end()) << name;
                const std::string& bytes = files.at(file->first);
                const std::uint64_t first = file->second, sectors = (bytes.size() + 511) / 512;
                const std::string expected = asDdCopiesIt(bytes, first, badSector, served.wholePages).first;
                const std::string got = saved(name);
                ASSERT_EQ(got.size(), bytes.size()) << name;
                // The readable runs shorter than kLeastRun, within the file: their sectors may be zeros.
                std::vector<bool> mayBeZeros(sectors);
                for (std::uint64_t i = 0; i < sectors;) {
                    std::uint64_t end = i + 1;
                    while (end < sectors && ddReads(first + end) == ddReads(first + i))
                        ++end;
                    if (ddReads(first + i) && end - i < kLeastRun)
                        std::fill(mayBeZeros.begin() + static_cast<std::ptrdiff_t>(i),
                                  mayBeZeros.begin() + static_cast<std::ptrdiff_t>(end), true);
                    if (!ddReads(first + i)) ++runsOfTheFiles;
                    i = end;
                }
                std::uint64_t zeros = 0, wrong = 0;
                for (std::uint64_t i = 0; i < sectors; ++i) {
                    const std::string sector = got.substr(i * 512, 512);
                    const bool zero = sector == std::string(sector.size(), '\0');
                    zeros += zero ? 1 : 0;
                    wrong += sector == expected.substr(i * 512, 512) || (zero && mayBeZeros[i]) ? 0 : 1;
                    badOfTheFiles += badSector[first + i] ? 1 : 0;
                }
                EXPECT_EQ(wrong, 0u) << name;
                // Random bytes: a sector of zeros is one the save could not read.
                EXPECT_EQ(loggedAsZeros("Root/" + name, logsBefore), zeros) << name;
            }
            // A failed read for every kLeastRun bad sectors asked inside, and a few for each bad run: its walk, the
            // runs that walk stepped over asked at their first sectors, the edges of a readable run found there.
            EXPECT_LE(served.failing.failedReads() - beforeTheSave, badOfTheFiles / kLeastRun + 24 * runsOfTheFiles);
            freeVolumes();
        }
    }
}

// A file lying wholly in a bad area of a FAT32 card that mkfs.vfat made and mtools filled, between readable files: the
// first pass's walks of the area cost a few dozen failed reads, and the second pass's scrape of the area asks densely
// a few times, then at least once in every 128 KiB, so an island that wide would be found, not a failed read for every
// 64 sectors of it (a 40 MiB file cost 1,444 so). Served each way a card is served here, every other file is saved as
// a dd conv=noerror,sync copy gives it, byte-exact where its pages are readable, and the bad one, not one of whose
// sectors answered, is not written, and counted.
TEST_F(Saving, AFileWhollyInABadAreaCostsItsWalksAndAnAskIn128KiBAndTheOthersAreSavedExact) {
    for (const char* tool : {"mkfs.vfat", "mcopy"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    constexpr std::uint64_t kSectors = 262144;
    const struct {
        const char* size;
        std::size_t bytes;
    } cases[] = {{"2 MiB", 2u << 20}, {"9 MiB and a little", (9u << 20) + 1000}, {"40 MiB", 40u << 20}};
    for (const auto& row : cases) {
        const fs::path dir = testsupport::makeTempDir("bad-file"),
                       image = testsupport::mkfsVfat(dir, "-F 32", "131072");
        const std::vector<std::pair<std::string, std::size_t>> sizes{
            {"A", 1300000}, {"B", 2600000}, {"BAD", row.bytes}, {"C", 700000}, {"D", 1400000}};
        const std::map<std::string, std::string> files = randomFilesOnCard(dir, image, sizes, ".BIN");
        const std::string card = readText(image);
        std::map<std::string, std::uint64_t> firstSector;
        for (const auto& [name, bytes] : files) {
            firstSector[name] = card.find(bytes) / 512;
            ASSERT_EQ(card.compare(firstSector[name] * 512, bytes.size(), bytes), 0) << name << " is not in one piece";
        }
        const std::uint64_t bad = firstSector["BAD"], badSectors = (row.bytes + 511) / 512;
        std::vector<bool> badSector(kSectors);
        std::fill_n(badSector.begin() + static_cast<std::ptrdiff_t>(bad), badSectors, true);
        for (const Serving serving : kServings) {
            SCOPED_TRACE(std::string(row.size) + ", " + ServedCard::name(serving));
            if (serving >= Serving::LoopInDirectIO && !ServedCard::fuseServes())
                GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse and losetup";
            ServedCard served(serving, image, {{bad, badSectors}});
            ASSERT_FALSE(served.medium.empty()) << "the FUSE tool did not serve the card";
            auto v = scannedCard(served.medium, kSectors, served.failing.reader());
            const std::uint64_t beforeTheSave = served.failing.failedReads();
            auto s = saver(v, v->dirRoot);
            save(*s);
            std::uint64_t found = 0, holed = 0;
            for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot)) {
                if (node->isFolder()) continue;
                const std::string shown = path.substr(path.find('/') + 1);
                const auto file = files.find(shown.substr(0, shown.find_first_of(" .")));
                ASSERT_NE(file, files.end()) << path;
                ++found;
                const auto [expected, lost] =
                    asDdCopiesIt(file->second, firstSector[file->first], badSector, served.wholePages);
                EXPECT_TRUE(savedAsADdCopyGivesIt(destination / "Root" / shown, expected, lost)) << path;
                if (file->first == "BAD") {
                    EXPECT_TRUE(loggedNotOneSectorRead("Root/" + shown)) << path;
                } else if (lost != 0) {
                    ++holed;
                    EXPECT_EQ(loggedAsZeros("Root/" + shown), lost) << path;
                }
            }
            EXPECT_EQ(std::tuple(found, s->savedFiles(), s->savedWithUnreadableSectors(), s->notOneSectorRead(),
                                 lastAlertTitle()),
                      std::tuple(std::uint64_t{files.size()}, std::uint64_t{files.size() - 1}, holed, 1ull,
                                 endOfASaveWithUnreadableSectors(1)));
            // Twice a walk of the area with its halving back (the file's, and an ask's into what it stepped over), a
            // few asks for each read of the file, and the asks inside it, at least once in every 128 KiB.
            const std::uint64_t reads =
                (row.bytes + FileExtentsCopier::kMaxReadBytes - 1) / FileExtentsCopier::kMaxReadBytes;
            const std::uint64_t walk = 2 * static_cast<std::uint64_t>(std::bit_width(badSectors));
            EXPECT_LE(served.failing.failedReads() - beforeTheSave,
                      2 * walk + 4 * reads + asksInABadRunOfAFile(badSectors));
            freeVolumes();
        }
    }
}

// A disk that dies behind a cache as a save reads the first file (a read-only loop device over the FUSE tool, reading
// its file through the page cache or in direct I/O, where the loop device's own cache is all there is; or the model of
// one), after a scan's sweep read the files before the death, or with nothing read before but the volume's first
// sectors, as any scan reads, or with the file being read held whole in the cache by another reader as its sectors go
// bad. The save finds the disk gone within a few dozen failed reads, as the places read before no longer answer past
// every cache, and says so, then goes on through the files left asking the disk for nothing: each one the cache holds
// whole is saved byte-exact, the file being read written again from its start, and each other one is not saved, nor
// made; the end counts both.
TEST_F(Saving, ASaveThatFindsItsDiskGoneSavesTheFilesLeftThatTheCacheHoldsWholeAndAsksTheDiskNothingMore) {
    constexpr std::uint64_t kSectors = 131072, kDeath = 98304, kFileSectors = 128;
    enum class Held { SweptBefore, Nothing, TheFileBeingRead };
    enum class Disk { Model, LoopThroughThePageCache, LoopInDirectIO };
    const struct {
        const char* name;
        Held held;
        std::vector<Disk> disks;
    } cases[] = {
        {"the files before the death swept before the save",
         Held::SweptBefore,
         {Disk::Model, Disk::LoopThroughThePageCache, Disk::LoopInDirectIO}},
        {"nothing read before the save but the volume's first sectors",
         Held::Nothing,
         {Disk::Model, Disk::LoopThroughThePageCache, Disk::LoopInDirectIO}},
        {"the file being read held in the cache as it goes bad", Held::TheFileBeingRead, {Disk::Model}},
    };
    // The file the disk dies under first, then eight before the death, then four after it.
    std::vector<std::pair<std::string, std::uint64_t>> placed{{"dying", kDeath}};
    for (std::uint64_t k = 0; k < 8; ++k)
        placed.emplace_back("early" + std::to_string(k), 4097 + k * 8192);
    for (std::uint64_t k = 0; k < 4; ++k)
        placed.emplace_back("late" + std::to_string(k), kDeath + (k + 1) * 4096);
    for (const auto& row : cases) {
        for (const Disk disk : row.disks) {
            SCOPED_TRACE(std::string(row.name) + (disk == Disk::Model ? ", the model"
                                                  : disk == Disk::LoopThroughThePageCache
                                                      ? ", a loop device"
                                                      : ", a loop device in direct I/O"));
            if (disk != Disk::Model && !ServedCard::fuseServes())
                GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse and losetup";
            TreeBuilder files;
            for (const auto& [name, first] : placed)
                files.file(files.root, newdir::utf16(name), kFileSectors * 512,
                           {{static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(kFileSectors)}}, 1);
            fs::remove_all(destination / "Root");
            controller.clear();
            auto v = medium(kSectors);
            testsupport::FailingReads failing;
            std::optional<testsupport::ServedByTheFuseTool> served;
            // The failed reads when the save said the disk is gone, and the cache it then asks alone.
            std::optional<std::uint64_t> whenGone;
            DMedia::RawRead cache = failing.cachedReader();
            if (disk == Disk::Model) {
                if (row.held == Held::TheFileBeingRead) {
                    failing.failSectors(kDeath, kFileSectors);
                    failing.holdInTheCache(kDeath, kFileSectors);
                }
                failing.dieUnderThePageCacheAt(row.held == Held::TheFileBeingRead ? kDeath + kFileSectors : kDeath);
            } else {
                testsupport::writeText(image.parent_path() / "map", "");
                served.emplace(image, image.parent_path() / "map",
                               disk == Disk::LoopInDirectIO
                                   ? testsupport::ServedByTheFuseTool::Loop::DirectIo
                                   : testsupport::ServedByTheFuseTool::Loop::ThroughTheFilesCache,
                               kDeath);
                ASSERT_FALSE(served->device.empty()) << "the FUSE tool did not serve the disk";
                controller.setDriveDictArray(Array{Dict{{"Path", served->device}}});
                v = volumeOver(served->device, 0, kSectors);
                cache = platform::readCachedBytes;
            }
            v->setRawRead(
                failing.reader(),
                [&](int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) {
                    // The cache also answers a read past it for what it holds: the save asks it
                    // alone once it has said the disk is gone.
                    if (!whenGone && !controller.alerts().empty()) whenGone = failing.failedReads();
                    return cache(fd, buffer, length, offset);
                },
                failing.pastEveryCacheReader());
            std::vector<std::uint8_t> batch(2048 * 512);
            for (std::uint64_t s = 0; s + 2048 <= (row.held == Held::Nothing ? 2048 : kDeath - 16384); s += 2048)
                ASSERT_EQ(v->readSweepSectors(s, 2048, batch.data()), 0u);
            // A loop device's cache keeps the swept files through the save, whatever another process's load makes
            // the kernel let go of: their pages are pinned there. The model's cache keeps what it holds.
            std::vector<std::unique_ptr<testsupport::PinnedPages>> pinned;
            for (const auto& [name, first] : placed)
                if (served && row.held == Held::SweptBefore && name.rfind("early", 0) == 0) {
                    pinned.push_back(
                        std::make_unique<testsupport::PinnedPages>(served->device, first * 512, kFileSectors * 512));
                    ASSERT_TRUE(pinned.back()->pinned()) << name;
                }
            auto s = saver(v, files.root);
            save(*s);
            EXPECT_TRUE(toldTheMediumGone());
            ASSERT_TRUE(whenGone.has_value());
            EXPECT_EQ(failing.failedReads(), *whenGone);
            EXPECT_LE(*whenGone, 64u);
            std::uint64_t whole = 0;
            for (const auto& [name, first] : placed) {
                const bool held = (row.held == Held::SweptBefore && name.rfind("early", 0) == 0) ||
                                  (row.held == Held::TheFileBeingRead && name.rfind("late", 0) != 0);
                const fs::path path = destination / "Root" / name;
                if (held) {
                    EXPECT_TRUE(fs::exists(path) && readText(path) == patternBytes(first * 512, kFileSectors * 512))
                        << name;
                    ++whole;
                } else if (!logged("Could not read Root/" + name + " from the medium")) {
                    EXPECT_FALSE(fs::exists(path)) << name;
                    EXPECT_TRUE(logged("Root/" + name + " is not saved")) << name;
                } else if (fs::exists(path)) {
                    // The file being read as the save said the disk is gone keeps what was written, and is told so.
                    const std::uint64_t size = fs::file_size(path);
                    EXPECT_TRUE(size != 0 &&
                                logged("Could not read Root/" + name + " from the medium; " + std::to_string(size) +
                                       " of its " + std::to_string(kFileSectors * 512) + " bytes are saved"))
                        << name;
                } else {
                    EXPECT_TRUE(logged("Could not read Root/" + name + " from the medium; it is not saved")) << name;
                }
            }
            EXPECT_EQ(std::tuple(s->savedFiles(), s->savingErrors()), std::tuple(whole, placed.size() - whole));
            EXPECT_EQ(lastAlertTitle(),
                      whole == 0 ? std::string("Saving Failed")
                                 : "Saving completed with " + std::to_string(placed.size() - whole) + " errors");
            v.reset();
            freeVolumes();
        }
    }
}

// A disk that has stopped behind a cache (a loop device's file in the page cache) after a whole-disk scan, half its
// pages still cached by another reader, every other one or the first half: every place has been read, so no read
// answers where none had been, and the cache answers a whole page or nothing of it. The save ends with the designed
// alert after a few stretches, as few with eighty files left as with twenty.
TEST_F(Saving, ADiskStoppedBehindACacheEndsTheSaveAtACostThatDoesNotGrowWithTheFilesLeft) {
    constexpr std::uint64_t kSectors = 131072, kFileBytes = 64 * 1024, kPages = kSectors / 8;
    for (const bool everyOther : {true, false}) {
        std::map<std::uint64_t, std::uint64_t> failedReads; // by files left
        for (const std::uint64_t left : {20, 80}) {
            SCOPED_TRACE((everyOther ? "every other page cached, " : "the first half cached, ") + std::to_string(left) +
                         " files");
            TreeBuilder files;
            for (std::uint64_t n = 0; n < left; ++n)
                files.file(files.root, newdir::utf16("f" + std::to_string(n)), kFileBytes,
                           {{static_cast<std::uint32_t>(n * (kSectors / left) / 8), 16}});
            fs::remove_all(destination / "Root");
            controller.clear();
            auto v = medium(kSectors);
            std::vector<std::uint8_t> batch(2048 * 512);
            for (std::uint64_t s = 0; s < kSectors; s += 2048)
                ASSERT_EQ(v->readSweepSectors(s, 2048, batch.data()), 0u);
            testsupport::FailingReads dying;
            const auto cached = [&](std::uint64_t page) { return everyOther ? page % 2 == 0 : page < kPages / 2; };
            dying.dieUnderThePageCacheAfter(kPages / 2);
            const auto other = dying.reader();
            const int fd = ::open(image.c_str(), O_RDONLY);
            for (std::uint64_t page = 0; page < kPages; ++page)
                if (cached(page)) {
                    ASSERT_EQ(other(fd, batch.data(), 4096, page * 4096), 4096);
                }
            ::close(fd);
            v->setRawRead(dying.reader(), {}, dying.pastEveryCacheReader());
            auto s = saver(v, files.root);
            save(*s);
            EXPECT_TRUE(toldTheMediumGone());
            EXPECT_EQ(s->savingErrors(), left - s->savedFiles());
            EXPECT_LE(dying.failedReads(), 2000u);
            failedReads[left] = dying.failedReads();
        }
        EXPECT_LE(failedReads[80], failedReads[20] + 8);
    }
}

// A live disk read through a page cache (a loop device over a file) that fails a quarter of its pages, whole, all over
// its surface: no page is split between answers and failures, and the save's reads, close to each other, could all
// have come from a cache. Asking elsewhere now and then keeps finding it alive, however many stretches the save walks
// and places it asks at: it runs to its end, every sector it writes the medium's or zeros, and nearly every readable
// page kept (the walk of a run of bad pages asks into what it stepped over once, not page by page). The same disk
// dying two thirds of the way, under a cache, ends the save within a few hundred failed reads of its death, though it
// had been found alive so often that it is asked less often.
TEST_F(Saving, ALiveDiskFailingAQuarterOfItsPagesWholeIsSavedToTheEndAndEndsSoonAfterItDies) {
    constexpr std::uint64_t kSectors = 131072, kFiles = 120, kEvery = 1024, kFileBytes = 256 * 1024;
    std::uint64_t liveFailedReads = 0;
    for (const bool dies : {false, true}) {
        SCOPED_TRACE(dies ? "dies at the 80th file" : "live");
        fs::remove_all(destination / "Root");
        controller.clear();
        auto v = medium(kSectors);
        testsupport::FailingReads failing;
        std::set<std::uint64_t> bad; // pages
        std::uint64_t random = 12345;
        for (std::uint64_t page = 0; page < kSectors / 8; ++page) {
            random = random * 6364136223846793005ull + 1442695040888963407ull;
            if ((random >> 33) % 4 != 0) continue;
            bad.insert(page);
            failing.failSectors(page * 8, 8);
        }
        if (dies) failing.dieUnderThePageCacheAt(80 * kEvery);
        v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
        TreeBuilder files;
        for (std::uint64_t n = 0; n < kFiles; ++n)
            files.file(files.root, newdir::utf16("f" + std::to_string(n)), kFileBytes,
                       {{static_cast<std::uint32_t>(n * kEvery / 8), static_cast<std::uint32_t>(kFileBytes / 4096)}});
        auto s = saver(v, files.root);
        save(*s);
        const std::string bytes = readText(image);
        std::uint64_t readable = 0, kept = 0;
        for (std::uint64_t n = 0; n < (dies ? 80 : kFiles); ++n) {
            const std::string got = saved("f" + std::to_string(n));
            ASSERT_EQ(got.size(), kFileBytes);
            for (std::uint64_t i = 0; i < kFileBytes / 4096; ++i) {
                const std::string page = got.substr(i * 4096, 4096),
                                  medium = bytes.substr(n * kEvery * 512 + i * 4096, 4096);
                EXPECT_TRUE(page == medium || page == std::string(4096, '\0'));
                if (bad.count(n * kEvery / 8 + i)) continue;
                ++readable;
                kept += page == medium ? 1 : 0;
            }
        }
        // A disk that dies in the first pass leaves what its walks stepped over unasked.
        EXPECT_GE(kept * 100, readable * (dies ? 94 : 97));
        if (!dies) {
            liveFailedReads = failing.failedReads();
            EXPECT_EQ(std::tuple(s->savedFiles(), lastAlertTitle()),
                      std::tuple(kFiles, std::string("Saving completed with unreadable sectors")));
            continue;
        }
        EXPECT_TRUE(toldTheMediumGone());
        EXPECT_EQ(s->savingErrors(), kFiles - s->savedFiles());
        // The files before the death cost what they cost the live disk; past it, a few hundred more at most.
        EXPECT_LE(failing.failedReads(), liveFailedReads * 80 / kFiles + 400);
    }
}

// A disk with 4 KiB physical sectors fails eight sectors at a time, so no page is split between answers and failures,
// and once a scan has read its whole surface no place is left unread either: only that its answers come past every
// cache (read with O_DIRECT from a disk, here a loop device with direct I/O) tells it from a disk that has stopped
// behind a cache. Saved after a whole-disk scan, with more sectors failing since, it runs to its end, every readable
// sector kept.
TEST_F(Saving, ADiskFailingWholePhysicalSectorsIsSavedToTheEndAfterAWholeDiskScan) {
    if (::geteuid() != 0 || !testsupport::haveTool("losetup")) GTEST_SKIP() << "loop devices need root and losetup";
    constexpr std::uint64_t kSectors = 131072, kFiles = 80, kEvery = 1536, kFileBytes = 64 * 1024;
    medium(kSectors);
    const testsupport::LoopDevice attached(image, "-r --direct-io=on");
    const std::string& loop = attached.path();
    ASSERT_FALSE(loop.empty());
    const std::string dio = "/sys/block/" + fs::path(loop).filename().string() + "/loop/dio";
    ASSERT_EQ(readText(dio).substr(0, 1), "1") << "the loop device reads its file through the page cache";
    controller.setDriveDictArray(Array{Dict{{"Path", loop}}});
    auto v = volumeOver(loop, 0, kSectors);
    testsupport::FailingReads failing;
    TreeBuilder files;
    std::set<std::uint64_t> bad; // physical sectors, of eight
    for (std::uint64_t n = 0; n < kFiles; ++n) {
        const std::uint64_t first = n * kEvery;
        files.file(files.root, newdir::utf16("f" + std::to_string(n)), kFileBytes,
                   {{static_cast<std::uint32_t>(first / 8), 16}});
        if (bad.insert((first + 400) / 8).second) failing.failSectors(first + 400, 8);
    }
    v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
    std::vector<std::uint8_t> batch(2048 * 512);
    for (std::uint64_t s = 0; s < kSectors; s += 2048)
        v->readSweepSectors(s, 2048, batch.data());
    for (std::uint64_t n = 0; n < kFiles; ++n)
        for (const std::uint64_t at : {n * kEvery + 8 * (n % 5), n * kEvery + 64 + 8 * (n % 7)})
            if (bad.insert(at / 8).second) failing.failSectors(at, 8);
    auto s = saver(v, files.root);
    save(*s);
    const std::string bytes = readText(image);
    std::uint64_t exact = 0;
    for (std::uint64_t n = 0; n < kFiles; ++n) {
        std::string expected = bytes.substr(n * kEvery * 512, kFileBytes);
        for (std::uint64_t i = 0; i < kFileBytes / 512; ++i)
            if (bad.count((n * kEvery + i) / 8))
                std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(i * 512), 512, '\0');
        exact += saved("f" + std::to_string(n)) == expected ? 1 : 0;
    }
    EXPECT_EQ(exact, kFiles);
    EXPECT_EQ(std::tuple(s->savedFiles(), s->savedWithUnreadableSectors(), lastAlertTitle()),
              std::tuple(kFiles, kFiles, std::string("Saving completed with unreadable sectors")));
}

// The partition a copy of a failing disk cuts short inside its second photo, scanned and saved whole: what lies past
// the cut is never saved as data and the save never says it completed; the photo before the cut is saved whole. A
// preview of a photo past the cut fails rather than show zeros.
TEST_F(Saving, APartitionCutShortIsNeverSavedAsCompleteFromPastTheCut) {
    for (const char* tool : {"xorriso", "sgdisk", "convert"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    constexpr std::uint64_t kCut = 10286;
    const auto dir = testsupport::cutShortHfsDisk(kCut * 512);
    ASSERT_TRUE(dir);
    const std::string image = (*dir / "disk.img").string();
    controller.setDriveDictArray(Array{Dict{{"Path", image}}});
    Array rows;
    DMedia::initWithDictionary(Dict{{"Path", image}, {"Preferred Block Size", 512}, {"Size", fs::file_size(image)}})
        ->initialize(rows);
    ASSERT_EQ(rows.size(), 2u);
    Dict row = rows[1].dictValue();
    row.set("Preferred Block Size", 512);
    auto v = keep(Volume::initWithDictionary(row));
    ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
    std::size_t photos = 0, pastTheCut = 0;
    for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot)) {
        node->selected = 1;
        if (node->isFolder()) continue;
        ++photos;
        const std::uint64_t last = v->HPlusVolStart() + node->dataStartSector +
                                   (std::uint64_t{node->extents[node->extents.size() - 1].startBlock} +
                                    node->extents[node->extents.size() - 1].blockCount) *
                                       node->sectorsPerBlock;
        pastTheCut += last > kCut ? 1 : 0;
        if (last <= kCut) continue;
        PreviewData::Source source = PreviewData::Source::of(*node);
        std::atomic<bool> abort{false};
        EXPECT_EQ(PreviewData::getPreviewData(*v, source, abort).outcome, PreviewData::Outcome::ReadFailed) << path;
    }
    ASSERT_EQ(photos, 3u);
    ASSERT_EQ(pastTheCut, 2u);
    v->dirRoot->selected = 1;
    auto s = saver(v, v->dirRoot);
    save(*s);
    std::size_t whole = 0;
    for (int i = 1; i <= 3; ++i) {
        const fs::path saved = destination / "Root" / "Photos" / ("photo" + std::to_string(i) + ".jpg");
        whole += fs::exists(saved) && readText(saved) == readText(*dir / "2" / "Photos" / saved.filename());
    }
    EXPECT_EQ(whole, photos - pastTheCut);
    EXPECT_EQ(s->savedFiles() - s->savedWithUnreadableSectors(), whole);
    EXPECT_NE(lastAlertTitle(), "Saving Completed");
}

TEST_F(Saving, ASaveOfNothingButFoldersIsNoCompletedSave) {
    tree.file(tree.folder(tree.folder(tree.root, u"a"), u"b"), u"empty", 0, {});
    tree.file(tree.root, u"unmarked", 100, {{1, 1}})->selected = 0;
    saveTree();
    EXPECT_TRUE(fs::exists(destination / "Root" / "a" / "b"));
    EXPECT_EQ(lastAlertTitle(), "Nothing Saved");
    EXPECT_EQ(lastAlertMessage(),
              "No marked file holds any data; only the marked folders were made at: " + destination.string());
}

// ================================================= a failing medium ====

// Every file below `root` by its path from there, with its bytes.
std::map<std::string, std::string> filesBelow(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const std::string& entry : entriesBelow(root))
        if (fs::is_regular_file(root / entry)) out[entry] = readText(root / entry);
    return out;
}

// A FAT32 card that mkfs.vfat made and mtools filled: its first file (8 MiB) lies wholly on bad sectors but a readable
// island of 256 KiB in its middle, the next (2 MiB) wholly on bad sectors, and twenty readable files follow. The save
// reads what answers first: when its second pass begins, every readable file is on the destination as a dd
// conv=noerror,sync copy gives it, whatever happens next, at a few dozen failed reads for the bad areas. Run to its
// end, the second pass finds the island and writes it at its place in the first file, the 2 MiB file is not written
// and the end says so, at about one failed read in every 128 KiB of the bad files; stopped as it begins, or once its
// asks are past the island, the save ends "Saving Aborted" with all that was written kept; a disk that dies in it, or
// in the first pass, is told gone. No file of zeros is ever left.
TEST_F(Saving, EveryReadableFileIsSavedBeforeTheBadAreasAreAskedAgainAndNoFileOfZerosIsLeft) {
    for (const char* tool : {"mkfs.vfat", "mcopy"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    constexpr std::uint64_t kSectors = 131072, kBigSectors = 16384, kIsland = 512;
    const fs::path dir = testsupport::makeTempDir("two-passes"), image = testsupport::mkfsVfat(dir, "-F 32", "65536");
    // A readable file first keeps the folder's page away from the bad area.
    std::vector<std::pair<std::string, std::size_t>> sizes{
        {"R09", 50000}, {"BIG", kBigSectors * 512}, {"MID", 2u << 20}};
    for (int k = 10; k < 30; ++k)
        sizes.emplace_back("R" + std::to_string(k), static_cast<std::size_t>(20000 + k * 7919 % 150000));
    const std::map<std::string, std::string> files = randomFilesOnCard(dir, image, sizes, ".BIN");
    const std::string card = readText(image);
    std::map<std::string, std::uint64_t> first;
    for (const auto& [name, bytes] : files) {
        first[name] = card.find(bytes) / 512;
        ASSERT_EQ(card.compare(first[name] * 512, bytes.size(), bytes), 0) << name << " is not in one piece";
    }
    const std::uint64_t big = first["BIG"], mid = first["MID"], island = (big + kBigSectors / 2) / 8 * 8;
    const ServedCard::Runs bad{
        {big, island - big}, {island + kIsland, big + kBigSectors - island - kIsland}, {mid, 4096}};
    enum class Then { RunsToItsEnd, StopsAsItBegins, StopsPastTheIsland, DiesInIt, DiesInTheFirstPass };
    const struct {
        const char* what;
        Then then;
        bool wholePages;
    } rows[] = {
        {"run to its end", Then::RunsToItsEnd, false},
        {"run to its end, pages failing whole", Then::RunsToItsEnd, true},
        {"stopped as the second pass begins", Then::StopsAsItBegins, false},
        {"stopped once the second pass is past the island", Then::StopsPastTheIsland, true},
        {"the disk dying as the second pass begins", Then::DiesInIt, false},
        {"the disk dying in the first pass, at the tenth readable file", Then::DiesInTheFirstPass, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        testsupport::FailingReads failing;
        for (const auto& [at, count] : bad)
            failing.failSectors(at, count);
        std::vector<bool> badSector(kSectors);
        for (const auto& [at, count] : bad)
            std::fill_n(badSector.begin() + static_cast<std::ptrdiff_t>(at), count, true);
        if (row.wholePages) failing.failWholePages();
        std::shared_ptr<DataSaving> s;
        std::atomic<bool> second{false};
        // The reads that had failed as the second pass began, or the disk died.
        std::uint64_t failedBefore = 0;
        // The stop button, pressed once the second pass asks past the island; the disk dying as the first pass
        // reaches the tenth readable file.
        const DMedia::RawRead raw = [&, read = failing.reader()](int fd, std::uint8_t* buffer, std::size_t length,
                                                                 std::uint64_t offset) {
            if (row.then == Then::StopsPastTheIsland && second && offset >= (island + 2 * kIsland) * 512)
                s->abortDataSaving();
            if (row.then == Then::DiesInTheFirstPass && s && offset == first["R19"] * 512) {
                failedBefore = failing.failedReads();
                failing.dieUnderThePageCacheAfter(0);
            }
            return read(fd, buffer, length, offset);
        };
        auto v = scannedCard(image.string(), kSectors, raw, "FAT32", 0, failing.pastEveryCacheReader());
        s = saver(v, v->dirRoot);
        // The card's files on the destination by their names, without the blanks of a short name.
        const auto onTheDestination = [&] {
            std::map<std::string, std::string> there;
            for (const auto& [shown, bytes] : filesBelow(destination / "Root")) {
                std::string name = shown.substr(0, shown.find_first_of(" ."));
                there[name] = bytes;
            }
            return there;
        };
        std::map<std::string, std::string> atTheSecondPass;
        controller.setCallObserver([&](const platform::RecordingController::Call& call) {
            if (call.name != "updateProgressIndicator:" || !s->inSecondPass() || second.exchange(true)) return;
            atTheSecondPass = onTheDestination();
            failedBefore = failing.failedReads();
            if (row.then == Then::StopsAsItBegins) s->abortDataSaving();
            if (row.then == Then::DiesInIt) failing.dieUnderThePageCacheAfter(0);
        });
        save(*s);
        controller.setCallObserver(nullptr);
        const std::map<std::string, std::string> there = onTheDestination();
        EXPECT_EQ(second.load(), row.then != Then::DiesInTheFirstPass);
        for (const auto& [name, bytes] : files) {
            if (name[0] != 'R' || (row.then == Then::DiesInTheFirstPass && name >= "R19")) continue;
            const std::string copy = asDdCopiesIt(bytes, first[name], badSector, row.wholePages).first;
            EXPECT_TRUE(there.count(name) && there.at(name) == copy) << name;
            if (row.then != Then::DiesInTheFirstPass) {
                EXPECT_TRUE(atTheSecondPass.count(name) && atTheSecondPass.at(name) == copy) << name;
            }
        }
        for (const auto& [name, bytes] : there)
            EXPECT_NE(bytes.find_first_not_of('\0'), std::string::npos) << name << " is zeros";
        EXPECT_FALSE(there.count("MID"));
        // The first file, where it is saved, is the island at its place and zeros around it.
        const std::uint64_t at = (island - big) * 512;
        const std::string& whole = files.at("BIG");
        const std::string expected = std::string(at, '\0') + whole.substr(at, kIsland * 512) +
                                     std::string(whole.size() - at - kIsland * 512, '\0');
        EXPECT_TRUE(!there.count("BIG") || there.at("BIG") == expected);
        if (row.then == Then::RunsToItsEnd || row.then == Then::StopsPastTheIsland) {
            EXPECT_TRUE(there.count("BIG"));
        }
        switch (row.then) {
        case Then::RunsToItsEnd:
            EXPECT_EQ(std::tuple(s->savedFiles(), s->notOneSectorRead(), lastAlertTitle()),
                      std::tuple(22ull, 1ull, endOfASaveWithUnreadableSectors(1)));
            EXPECT_NE(lastAlertMessage().find("Marked files not saved as not one of their sectors that were asked for "
                                              "could be read from the medium: 1."),
                      std::string::npos)
                << lastAlertMessage();
            EXPECT_TRUE(loggedNotOneSectorRead("Root/MID     .BIN"));
            // A few dozen for the bad areas before the second pass; then an ask at least once in every 128 KiB of
            // them, denser where each begins (around the island too), and at the runs the walks split them into.
            EXPECT_LE(failedBefore, 60u);
            EXPECT_LE(failing.failedReads() - failedBefore,
                      asksInABadRunOfAFile(island - big) + asksInABadRunOfAFile(big + kBigSectors - island - kIsland) +
                          asksInABadRunOfAFile(4096) + 16)
                << failedBefore;
            break;
        case Then::StopsAsItBegins:
        case Then::StopsPastTheIsland:
            EXPECT_EQ(s->ending(), DataSaving::Ending::Aborted);
            EXPECT_EQ(lastAlertTitle(), "Saving Aborted");
            break;
        case Then::DiesInIt:
        case Then::DiesInTheFirstPass:
            EXPECT_TRUE(toldTheMediumGone());
            EXPECT_NE(lastAlertMessage().find("no longer answers"), std::string::npos) << lastAlertMessage();
            EXPECT_LE(failing.failedReads() - failedBefore, 40u);
            break;
        }
        freeVolumes();
    }
}

// The passes over a failing medium measured by what the medium's one map lets them ask.
class SavingFromAFailingMedium : public Saving {
protected:
    // A file of `bytes` zeros copied onto the card as `name`, which mtools writes whole.
    static void zerosOnCard(const fs::path& dir, const fs::path& image, const std::string& name, std::uint64_t bytes) {
        const fs::path file = dir / name;
        std::ofstream(file).close();
        fs::resize_file(file, bytes);
        testsupport::mtools(image, "mcopy", testsupport::shellQuote(file.string()) + " ::/" + name);
        fs::remove(file);
    }
    // Where each found file of a card's normal scan lies, in one piece, by its name without the blanks the scan shows
    // it with: the name it is saved under, its first sector and its sectors.
    struct Place {
        std::string shown;
        std::uint64_t first = 0, sectors = 0;
    };
    std::map<std::string, Place> placesOnCard(const fs::path& image) {
        auto v = keep(volumeOver(image, 0, 0, 512, "FAT32"));
        ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
        std::map<std::string, Place> out;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot)) {
            if (node->isFolder() || node->extents.size() != 1) continue;
            std::string name = path.substr(path.find('/') + 1);
            const std::string shown = name;
            name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
            out[name] = {shown, testsupport::firstSector(*node), (node->fileSize + 511) / 512};
        }
        freeVolumes();
        return out;
    }

    // scannedCard, but an exFAT volume is searched for its deleted files, as its normal scan reads none.
    std::shared_ptr<Volume> scanned(const std::string& medium, std::uint64_t sectors, const std::string& content,
                                    std::uint64_t start) {
        if (content != kExFATContent) return scannedCard(medium, sectors, {}, content, start);
        fs::remove_all(destination / "Root");
        controller.clear();
        controller.setDriveDictArray(Array{Dict{{"Path", medium}}});
        auto v = keep(volumeOver(medium, 0, sectors, 512, content));
        v->resetSigArraysAndBtreesAndOthers();
        v->createRoot();
        ExFATFileSystem(*v).startExFATFileSystemRecovery();
        newdir::preOrder(v->dirRoot, newdir::childList, newdir::anyChild, [](NewDir* n) { n->selected = 1; });
        return v;
    }
    static constexpr const char* kExFATContent = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

    // A 512 MiB card of ten files, four of them read before the save by a reader that keeps the device open, dying
    // halfway through the 200 MB file under a loop device in direct I/O, its own page cache the only cache.
    void diesWhileTheCacheHoldsSomeFiles() {
        const fs::path dir = testsupport::makeTempDir("dies-cached"),
                       image = testsupport::mkfsVfat(dir, "-F 32", "524288");
        std::map<std::string, std::string> files = randomFilesOnCard(
            dir, image, {{"A1", 1500000}, {"A2", 1700000}, {"A3", 1300000}, {"A4", 1600000}, {"PNG", 900000}}, ".BIN");
        zerosOnCard(dir, image, "BIG.BIN", 200000000);
        files.merge(randomFilesOnCard(
            dir, image, {{"MP3", 3000000}, {"TIFF", 2500000}, {"PDF", 1200000}, {"MP4", 6000000}}, ".BIN"));
        const auto places = placesOnCard(image);
        ASSERT_EQ(places.size(), 10u);
        const std::uint64_t big = places.at("BIG.BIN").first, bigSectors = places.at("BIG.BIN").sectors;
        testsupport::writeText(dir / "map", "");
        testsupport::ServedByTheFuseTool served(image, dir / "map", testsupport::ServedByTheFuseTool::Loop::DirectIo,
                                                big + bigSectors / 2);
        ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the card";
        const int holder = ::open(served.device.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(holder, 0);
        const std::vector<std::string> cached{"MP3", "TIFF", "PDF", "MP4"};
        const auto wholeInTheCache = [&](const std::string& name) {
            std::vector<std::uint8_t> bytes(files.at(name).size());
            return platform::readCachedBytes(holder, bytes.data(), bytes.size(),
                                             places.at(name + ".BIN").first * 512) ==
                   static_cast<std::int64_t>(bytes.size());
        };
        std::vector<std::uint8_t> buffer;
        for (const std::string& name : cached) {
            buffer.resize(files.at(name).size());
            ASSERT_EQ(
                ::pread(holder, buffer.data(), buffer.size(), static_cast<off_t>(places.at(name + ".BIN").first * 512)),
                static_cast<ssize_t>(buffer.size()));
        }
        auto v = scannedCard(served.device, fs::file_size(image) / 512);
        save(*saver(v, v->dirRoot));
        EXPECT_TRUE(toldTheMediumGone());
        EXPECT_LE(served.failedReads(), 64u);
        for (const std::string& name : cached) {
            const fs::path path = destination / "Root" / places.at(name + ".BIN").shown;
            // The kernel may let go of a page under another process's load: what it still holds was held through
            // the save, and a file is never saved wrong.
            if (wholeInTheCache(name)) {
                EXPECT_TRUE(fs::exists(path) && readText(path) == files.at(name)) << name;
            }
            EXPECT_TRUE(!fs::exists(path) || fs::file_size(path) == 0 || readText(path) == files.at(name)) << name;
        }
        ::close(holder);
        v.reset();
        freeVolumes();
    }

    // A file of `bytes` zeros lying wholly in a bad area between readable files, read directly.
    void savesAFileWhollyInABadArea(std::uint64_t bytes) {
        const fs::path dir = testsupport::makeTempDir("wholly-bad");
        const fs::path image = testsupport::mkfsVfat(dir, "-F 32", std::to_string(bytes / 1024 + 100 * 1024));
        std::map<std::string, std::string> files =
            randomFilesOnCard(dir, image, {{"A", 1300000}, {"B", 2600000}}, ".BIN");
        zerosOnCard(dir, image, "BAD.BIN", bytes);
        files.merge(randomFilesOnCard(dir, image, {{"C", 700000}, {"D", 1400000}}, ".BIN"));
        const auto places = placesOnCard(image);
        ASSERT_EQ(places.size(), 5u);
        const std::uint64_t bad = places.at("BAD.BIN").first, badSectors = places.at("BAD.BIN").sectors;
        ServedCard served(Serving::LoopInDirectIO, image, {{bad, badSectors}});
        ASSERT_FALSE(served.medium.empty()) << "the FUSE tool did not serve the card";
        auto v = scannedCard(served.medium, fs::file_size(image) / 512);
        const std::uint64_t before = served.served->failedReads();
        auto s = saver(v, v->dirRoot);
        save(*s);
        // About what the walks of the area cost, an ask at the start of each read of it, and the asks inside it, at
        // least once in every 128 KiB.
        const std::uint64_t reads = (bytes + FileExtentsCopier::kMaxReadBytes - 1) / FileExtentsCopier::kMaxReadBytes;
        EXPECT_LE(served.served->failedReads() - before, 100 + reads + asksInABadRunOfAFile(badSectors));
        for (const auto& [name, content] : files)
            EXPECT_TRUE(saved(places.at(name + ".BIN").shown) == content) << name;
        const std::string shown = places.at("BAD.BIN").shown;
        EXPECT_FALSE(fs::exists(destination / "Root" / shown));
        EXPECT_TRUE(loggedNotOneSectorRead("Root/" + shown));
        EXPECT_EQ(std::tuple(s->savedFiles(), s->savedWithUnreadableSectors(), s->notOneSectorRead(), lastAlertTitle()),
                  std::tuple(4ull, 0ull, 1ull, endOfASaveWithUnreadableSectors(1)));
        v.reset();
        freeVolumes();
    }

    // Twelve files of random bytes on a volume of `content` (FAT32, exFAT or HFS+), with one sector in `every` of
    // them bad, served by a loop device that reads through its own page cache: the cache fails a bad sector's page
    // whole, and a read past it gets each sector alone, as from a disk.
    void savesScatteredBadSectors(const std::string& content, std::uint64_t every) {
        const fs::path dir = testsupport::makeTempDir("scattered"), tree = dir / "tree";
        std::mt19937_64 random(std::random_device{}());
        std::map<std::string, std::string> files;
        for (int i = 0; i < 12; ++i) {
            std::string& bytes = files["F" + std::to_string(10 + i) + ".BIN"];
            bytes.resize(static_cast<std::size_t>(20000 + i * i * 5000 + i * 333));
            std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
            testsupport::writeText(tree / ("F" + std::to_string(10 + i) + ".BIN"), bytes);
        }
        fs::path image;
        std::uint64_t start = 0;
        std::string kind = "FAT32";
        if (content == "FAT32") {
            image = testsupport::mkfsVfat(dir, "-F 32", "65536");
            testsupport::mtools(image, "mcopy", testsupport::shellQuote(tree.string()) + "/* ::/");
        } else if (content == "exFAT") {
            // Its files deleted: the exFAT scan finds the deleted ones.
            image = dir / "exfat.img";
            kind = kExFATContent;
            ASSERT_TRUE(testsupport::exfatFilledThroughFuse(image, "64M", dir / "m", "cp tree/* m/ && sync && rm m/*"));
        } else {
            image = dir / "hfs.iso";
            kind = "Apple_HFS";
            ASSERT_TRUE(testsupport::runCommand("xorriso -as mkisofs -quiet -hfsplus -apm-block-size 512 -o " +
                                                testsupport::shellQuote(image.string()) + " " +
                                                testsupport::shellQuote(tree.string()) + " 2>/dev/null"));
            // The Apple partition map, in 512-byte blocks, names the HFS+ volume.
            for (std::uint64_t entry = 1; entry <= 8 && start == 0; ++entry) {
                const std::vector<std::uint8_t> e = testsupport::readBytesAt(image, entry * 512, 512);
                if (std::string(e.begin() + 48, e.begin() + 57) == "Apple_HFS") start = platform::ByteView(e).be32(8);
            }
            ASSERT_NE(start, 0u);
        }
        // The bad sectors: one in `every` of the files', each file found in one piece by its bytes.
        const std::string card = readText(image);
        const std::uint64_t sectors = card.size() / 512;
        ServedCard::Runs bad;
        std::string zeroed = card;
        for (const auto& [name, bytes] : files) {
            const std::size_t at = card.find(bytes);
            ASSERT_TRUE(at != std::string::npos && at % 512 == 0) << name << " is not in one piece";
            for (std::uint64_t s = at / 512; s < (at + bytes.size() + 511) / 512; ++s) {
                if (s % every != 5) continue;
                bad.emplace_back(s, 1);
                std::fill_n(zeroed.begin() + static_cast<std::ptrdiff_t>(s * 512), 512, '\0');
            }
        }
        // What the save of a dd conv=noerror,sync copy of the device gives.
        testsupport::writeText(dir / "zeroed.img", zeroed);
        auto copy = scanned((dir / "zeroed.img").string(), sectors, kind, start);
        save(*saver(copy, copy->dirRoot));
        const std::map<std::string, std::string> fromTheCopy = filesBelow(destination / "Root");
        ASSERT_EQ(fromTheCopy.size(), files.size());
        copy.reset();
        freeVolumes();
        ServedCard served(Serving::LoopOverAnUncachedFile, image, bad);
        ASSERT_FALSE(served.medium.empty()) << "the FUSE tool did not serve the volume";
        auto v = scanned(served.medium, sectors, kind, start);
        const std::uint64_t before = v->failedReads(), beforeAtTheDevice = served.served->failedReads();
        save(*saver(v, v->dirRoot));
        const std::uint64_t failed = v->failedReads() - before;
        EXPECT_TRUE(filesBelow(destination / "Root") == fromTheCopy);
        // The page through the cache once, then the bad sector past it once, as the program asks them: the device
        // below the loop device's cache counts as many, or more where the kernel retried a read-ahead that failed.
        EXPECT_LE(failed, 3 * bad.size()) << failed << " failed reads for " << bad.size() << " bad sectors, "
                                          << served.served->failedReads() - beforeAtTheDevice << " at the device";
        v.reset();
        freeVolumes();
    }

    // A carving of a 1 GiB disk with a photo every 8 MiB, dying `percent` of the way into it under a loop device in
    // direct I/O that a second reader holds open too.
    void carvesADiskThatDies(std::uint64_t percent) {
        const fs::path dir = testsupport::makeTempDir("carving-dies"), photo = dir / "photo.jpg";
        ASSERT_TRUE(testsupport::runCommand("convert -seed " + testsupport::sampleSeed(5) +
                                            " -size 320x240 plasma: -quality 90 " +
                                            testsupport::shellQuote(photo.string())));
        const std::string bytes = readText(photo);
        const std::uint64_t mib = 2048, sectors = 1024 * mib, diesAt = sectors * percent / 100;
        const fs::path image = dir / "disk.img";
        const std::vector<std::uint64_t> photos = testsupport::imageWithFileEvery(image, sectors, bytes, mib, 8 * mib);
        testsupport::writeText(dir / "map", "");
        testsupport::ServedByTheFuseTool served(image, dir / "map", testsupport::ServedByTheFuseTool::Loop::DirectIo,
                                                diesAt);
        ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the disk";
        const int secondOpener = ::open(served.device.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(secondOpener, 0);
        controller.clear();
        controller.setDriveDictArray(Array{Dict{{"Path", served.device}}});
        auto v = keep(volumeOver(served.device, 0, sectors, 512, ""));
        ScanThread(v).scanForDeletedFilesDisk(Array{testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, {"jpg"}), 1});
        EXPECT_LE(served.failedReads(), 48u);
        EXPECT_FALSE(v->mediumGone());
        std::set<std::uint64_t> found;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
            if (!node->isFolder() && !node->extents.empty()) found.insert(testsupport::firstSector(*node));
        // The windows read ahead of the carving reach the death first.
        for (const std::uint64_t at : photos)
            if (at + 16 * mib <= diesAt) {
                EXPECT_TRUE(found.count(at)) << at;
            }
        ::close(secondOpener);
        v.reset();
        freeVolumes();
    }
};

// A disk that stops answering, met by a scan or a save, and a live disk with bad areas, served by the FUSE tool under a
// read-only loop device in direct I/O or through the page cache of the file it serves.
class ADiskThatStopsAnswering : public SavingFromAFailingMedium {
protected:
    using Loop = testsupport::ServedByTheFuseTool::Loop;
    struct Card {
        fs::path dir, image;
        // Every file's bytes by its path below the folder Root of a save.
        std::map<std::string, std::string> files;
        // The sector where the disk is to die, and the files held in the page cache before it does.
        std::uint64_t death = 0;
        std::vector<std::string> held;
    };

    // A FAT32 card of 96 MiB that mtools filled with three folders of six files of random bytes, one folder after
    // the other, or an exFAT card that exfat-fuse filled so and whose files were then deleted; the disk dies as a
    // scan reads the third folder's entries, and two files of the first folder are in the page cache.
    Card cardOfThreeFolders(const std::string& content) {
        Card card;
        card.dir = testsupport::makeTempDir("three-folders");
        std::mt19937_64 random(std::random_device{}());
        const fs::path tree = card.dir / "tree";
        for (int folder = 0; folder < 3; ++folder) {
            fs::create_directories(tree / ("F" + std::to_string(folder)));
            for (int k = 0; k < 6; ++k) {
                const std::string name =
                    "F" + std::to_string(folder) + "/F" + std::to_string(folder) + "A" + std::to_string(k) + ".BIN";
                std::string& bytes = card.files[name];
                bytes.resize(static_cast<std::size_t>(400000 + (random() % 1600000)));
                std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
                testsupport::writeText(tree / name, bytes);
            }
        }
        if (content == "FAT32") {
            card.image = testsupport::mkfsVfat(card.dir, "-F 32", "98304");
            for (int folder = 0; folder < 3; ++folder) {
                const std::string f = "F" + std::to_string(folder);
                testsupport::mtools(card.image, "mmd", "::/" + f);
                testsupport::mtools(card.image, "mcopy", testsupport::shellQuote((tree / f).string()) + "/* ::/" + f);
            }
        } else {
            card.image = card.dir / "exfat.img";
            EXPECT_TRUE(testsupport::exfatFilledThroughFuse(
                card.image, "96M", card.dir / "m",
                "for f in F0 F1 F2; do mkdir m/$f && cp tree/$f/* m/$f/ && sync; done && rm -r m/F0/* m/F1/* m/F2/*"));
        }
        // The third folder's entries: its first file's name, as the folder's entries hold it.
        const std::string bytes = readText(card.image);
        std::string entry = content == "FAT32" ? std::string("F2A0    BIN") : std::string();
        if (content != "FAT32")
            for (const char c : std::string("F2A0.BIN")) {
                entry += c;
                entry += '\0';
            }
        const std::size_t at = bytes.find(entry);
        EXPECT_NE(at, std::string::npos);
        card.death = at / 512;
        card.held = {"F0/F0A1.BIN", "F0/F0A4.BIN"};
        return card;
    }

    // The reads that failed: the program's own, as its device layer counts them, and those the served device failed.
    // In direct I/O the device fails what the program asks; through the page cache of the file it serves, the kernel
    // retries a read-ahead that failed page by page, as often as the machine's load makes it let go of the pages, so
    // one read of the program's may cost the device hundreds.
    struct FailedReads {
        std::uint64_t own = 0, atTheDevice = 0;
    };
    static FailedReads failedReads(const testsupport::ServedByTheFuseTool& served, const Volume& v) {
        return {v.failedReads(), served.failedReads()};
    }
    // What failed since `since` is at most `limit`, by the program's count, and by the device's in direct I/O;
    // `beforeTheSave`: what had failed as the save began.
    static void expectFailedReadsAtMost(std::uint64_t limit, const FailedReads& since, const FailedReads& now,
                                        const FailedReads& beforeTheSave, Loop loop) {
        EXPECT_LE(now.own - since.own, limit) << beforeTheSave.own << " before the save; at the device "
                                              << now.atTheDevice << ", " << beforeTheSave.atTheDevice << " before it";
        if (loop == Loop::DirectIo) {
            EXPECT_LE(now.atTheDevice - since.atTheDevice, limit)
                << beforeTheSave.atTheDevice << " before the save; the program's own " << now.own - since.own;
        }
    }

    // The card's files saved into Root, by their paths without the blanks a FAT scan shows short names with.
    std::map<std::string, std::string> savedFiles() const {
        std::map<std::string, std::string> saved;
        for (const auto& [shown, bytes] : filesBelow(destination / "Root")) {
            std::string path = shown;
            path.erase(std::remove(path.begin(), path.end(), ' '), path.end());
            saved[path] = bytes;
        }
        return saved;
    }
    // Each file saved is its bytes, or, the one being read as the disk went, their first part; none holds zeros
    // in place of its bytes; those the cache held are saved whole.
    void expectNoFileOfZerosAndTheHeldSaved(const Card& card) {
        const std::map<std::string, std::string> saved = savedFiles();
        for (const auto& [path, bytes] : saved) {
            const auto file = card.files.find(path);
            EXPECT_TRUE(file != card.files.end() && !bytes.empty() && bytes.size() <= file->second.size() &&
                        file->second.compare(0, bytes.size(), bytes) == 0)
                << path << " is not the file's bytes";
        }
        for (const std::string& path : card.held)
            EXPECT_TRUE(saved.count(path) && saved.at(path) == card.files.at(path))
                << path << " was held in the cache and is not saved whole; the log of it: " << logOf(path);
    }
    // The log but its lines of single failed reads: what a wrong verdict is read from.
    std::string logButFailedReads() {
        std::lock_guard lock(logMutex);
        std::string lines;
        for (const std::string& line : logs)
            if (line.rfind("Unable to read", 0) != 0 && line.rfind("Further info", 0) != 0) lines += line + " | ";
        return lines;
    }
    // The log's lines that name a file, by its name.
    std::string logOf(const std::string& path) {
        const std::string name = fs::path(path).filename().string().substr(0, 4);
        std::lock_guard lock(logMutex);
        std::string lines;
        for (const std::string& line : logs)
            if (line.find(name) != std::string::npos) lines += line + " | ";
        return lines;
    }

    // The page-cache copies of files of the card read through the served device, pinned while the object lives.
    struct Held {
        std::vector<std::unique_ptr<testsupport::PinnedPages>> pages;
    };
    static Held hold(const std::string& device, const std::string& image, const std::vector<std::string>& bytes) {
        Held held;
        for (const std::string& one : bytes) {
            const std::size_t at = image.find(one);
            if (at == std::string::npos || at % 512 != 0) {
                ADD_FAILURE() << "a held file is not in one piece";
                continue;
            }
            held.pages.push_back(std::make_unique<testsupport::PinnedPages>(device, at, one.size()));
            EXPECT_TRUE(held.pages.back()->pinned());
        }
        return held;
    }

    // A 4 GiB APFS container that mkapfs made, a photo every 32 MiB from 64 MiB on, served through the page cache of
    // the file the tool serves and dying as the carving reaches 70 % of it, while another process has the kernel let
    // go of 64 KiB of every 4 MiB of its pages, at both caches, ten times a second: the walk that meets the death
    // judges the disk stopped, and from then on the carving and its second sweep of the container (its space manager
    // lies past the death) read only what the cache holds. The program's own failed reads stay about a hundred
    // however many pages are let go of, the photos the cache holds are listed, and the end says the disk stopped.
    void carvesAnApfsContainerThatDiesWhileItsPagesAreLetGo() {
        const fs::path dir = testsupport::makeTempDir("apfs-dies"), photo = dir / "photo.jpg";
        const std::uint64_t mib = 2048, sectors = 4096 * mib, death = sectors * 7 / 10;
        const fs::path image = testsupport::ApfsNodeBuilder::makeContainer(dir / "apfs.img", sectors * 512);
        ASSERT_FALSE(image.empty()) << "mkapfs failed";
        ASSERT_TRUE(testsupport::runCommand("convert -seed " + testsupport::sampleSeed(9) +
                                            " -size 480x360 plasma: -quality 90 " +
                                            testsupport::shellQuote(photo.string())));
        const std::string jpeg = readText(photo);
        std::vector<std::uint64_t> photos;
        for (std::uint64_t at = 64 * mib; at + 32 * mib <= sectors; at += 32 * mib) {
            testsupport::writeAt(image, at * 512, {jpeg.begin(), jpeg.end()});
            photos.push_back(at);
        }
        testsupport::writeText(dir / "map", "");
        testsupport::ServedByTheFuseTool served(image, dir / "map", Loop::ThroughTheFilesCache, death);
        ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the container";
        // Some photos before the death and two after it held in the cache whatever is let go of.
        std::vector<std::unique_ptr<testsupport::PinnedPages>> pinned;
        std::set<std::uint64_t> held;
        for (std::size_t k = 0; k < photos.size(); ++k) {
            if (k % 16 != 3 && k + 3 != photos.size() && k + 9 != photos.size()) continue;
            pinned.push_back(
                std::make_unique<testsupport::PinnedPages>(served.device, photos[k] * 512, jpeg.size() + 4096));
            ASSERT_TRUE(pinned.back()->pinned());
            held.insert(photos[k]);
        }
        std::atomic<bool> letting{true};
        std::thread letGo([&] {
            const int loop = ::open(served.device.c_str(), O_RDONLY | O_CLOEXEC);
            const std::string file = (dir / "mnt" / "disk.img").string();
            const int below = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            while (letting.load()) {
                for (std::uint64_t at = 0; at < sectors * 512; at += 4 << 20)
                    for (const int fd : {loop, below})
                        if (fd >= 0) ::posix_fadvise(fd, static_cast<off_t>(at), 64 << 10, POSIX_FADV_DONTNEED);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            for (const int fd : {loop, below})
                if (fd >= 0) ::close(fd);
        });
        controller.clear();
        controller.setDriveDictArray(Array{Dict{{"Path", served.device}}});
        auto v = keep(volumeOver(served.device, 0, sectors, 512, "APFS"));
        v->setRawSearchStart(0, 100);
        // The program's own reads counted as they pass, and the page cache asked as it is.
        testsupport::FailingReads counted;
        v->setRawRead(counted.reader(), platform::readCachedBytes);
        ScanThread(v).scanForDeletedFiles(Array{1, 1, testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, {"jpg"}), 1});
        letting = false;
        letGo.join();
        EXPECT_TRUE(v->stoppedAnswering());
        // How far the scan had come as it died, whatever the display took of its progress.
        const std::uint32_t at = v->stoppedAnsweringAtPercent().value_or(0);
        EXPECT_TRUE(at >= 50 && at <= 75) << at << " %";
        EXPECT_FALSE(v->mediumGone());
        EXPECT_LE(counted.failedReads(), 110u);
        std::set<std::uint64_t> found;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
            if (!node->isFolder() && !node->extents.empty())
                found.insert(v->HPlusVolStart() + testsupport::firstSector(*node));
        for (const std::uint64_t at : held)
            EXPECT_TRUE(found.count(at)) << "the photo the cache holds at sector " << at;
        for (const std::uint64_t at : found)
            EXPECT_TRUE(std::find(photos.begin(), photos.end(), at) != photos.end()) << "a file at sector " << at;
        v.reset();
        freeVolumes();
    }

    // What a save of the same volume from a dd conv=noerror,sync copy of the served card, its bad sectors zeros,
    // writes below Root, but the files of zeros: the card's files are random bytes, so one that the copy gives as
    // zeros lies wholly on bad sectors, and a save of the card itself does not write it.
    std::map<std::string, std::string> savedFromADdCopy(const fs::path& image, const ServedCard::Runs& bad,
                                                        const std::string& content) {
        std::string zeroed = readText(image);
        for (const auto& [first, count] : bad)
            std::fill_n(zeroed.begin() + static_cast<std::ptrdiff_t>(first * 512),
                        std::min<std::uint64_t>(count * 512, zeroed.size() - first * 512), '\0');
        const fs::path copy = image.parent_path() / "copy.img";
        testsupport::writeText(copy, zeroed);
        auto v = scanned(copy.string(), zeroed.size() / 512, content, 0);
        save(*saver(v, v->dirRoot));
        std::map<std::string, std::string> out = filesBelow(destination / "Root");
        std::erase_if(out, [](const auto& file) { return file.second.find_first_not_of('\0') == std::string::npos; });
        v.reset();
        freeVolumes();
        fs::remove(copy);
        return out;
    }
};

// The one verdict on whether the disk still answers, asked by every pass. A card that dies as the save's own scan
// reads its third folder (FAT32 and exFAT, in direct I/O and through the cache), a disk of photos that dies half-way
// through the carving of a save, and a card that dies in a save, answers again and dies in the next: the save is told
// the disk has gone within a few dozen failed reads, writes no file of zeros, saves the files the page cache holds,
// and ends saying the disk no longer answers. A card whose last two fifths are bad, and one with half its data area
// bad in runs of 128 sectors, are live disks with bad areas: the save runs to its end and gives every file as a save
// of a dd conv=noerror,sync copy of the card gives it.
TEST_F(ADiskThatStopsAnswering, IsToldGoneByEveryPassAndNoFileOfZerosIsSaved) {
    if (!ServedCard::fuseServes()) GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse and losetup";
    for (const char* tool : {"mkfs.vfat", "mcopy", "mmd", "mkfs.exfat", "mount.exfat-fuse", "convert"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    enum class Flow { DiesInTheScan, DiesInTheCarving, DiesAgainAfterASave, BadEnd, HalfBad, ApfsCarving };
    const struct {
        const char* what;
        Flow flow;
        const char* content;
        Loop loop;
    } rows[] = {
        {"FAT32 dying in the save's scan, direct I/O", Flow::DiesInTheScan, "FAT32", Loop::DirectIo},
        {"FAT32 dying in the save's scan, through the cache", Flow::DiesInTheScan, "FAT32", Loop::ThroughTheFilesCache},
        {"exFAT dying in the save's scan, direct I/O", Flow::DiesInTheScan, "exFAT", Loop::DirectIo},
        {"exFAT dying in the save's scan, through the cache", Flow::DiesInTheScan, "exFAT", Loop::ThroughTheFilesCache},
        {"photos dying half-way through the carving, direct I/O", Flow::DiesInTheCarving, "", Loop::DirectIo},
        {"photos dying half-way through the carving, through the cache", Flow::DiesInTheCarving, "",
         Loop::ThroughTheFilesCache},
        {"FAT32 dying in a save, answering again, dying in the next", Flow::DiesAgainAfterASave, "FAT32",
         Loop::DirectIo},
        {"FAT32 with its last two fifths bad, direct I/O", Flow::BadEnd, "FAT32", Loop::DirectIo},
        {"FAT32 with its last two fifths bad, through the cache", Flow::BadEnd, "FAT32", Loop::OverAnUncachedFile},
        {"FAT32 half bad in runs of 128 sectors, direct I/O", Flow::HalfBad, "FAT32", Loop::DirectIo},
        {"FAT32 half bad in runs of 128 sectors, through the cache", Flow::HalfBad, "FAT32", Loop::OverAnUncachedFile},
        {"a 4 GiB APFS container dying at 70 % of a carving, its pages let go of", Flow::ApfsCarving, "APFS",
         Loop::ThroughTheFilesCache},
    };
    const std::string exFAT = kExFATContent;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string content = std::string(row.content) == "exFAT" ? exFAT : std::string(row.content);
        if (row.flow == Flow::DiesInTheScan || row.flow == Flow::DiesAgainAfterASave) {
            Card card = cardOfThreeFolders(row.content);
            const std::string bytes = readText(card.image);
            if (row.flow == Flow::DiesAgainAfterASave) {
                // Inside the second folder's fourth file: the scan reads none of it.
                card.death = bytes.find(card.files.at("F1/F1A3.BIN")) / 512 + 100;
                card.held.clear();
            }
            testsupport::writeText(card.dir / "map", "");
            testsupport::ServedByTheFuseTool served(card.image, card.dir / "map", row.loop, card.death);
            ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the card";
            std::vector<std::string> heldBytes;
            for (const std::string& path : card.held)
                heldBytes.push_back(card.files.at(path));
            const Held held = hold(served.device, bytes, heldBytes);
            auto v = scanned(served.device, bytes.size() / 512, content, 0);
            EXPECT_EQ(v->stoppedAnswering(), row.flow == Flow::DiesInTheScan) << logButFailedReads();
            const FailedReads byTheScan = failedReads(served, *v);
            save(*saver(v, v->dirRoot));
            EXPECT_TRUE(toldTheMediumGone());
            EXPECT_NE(lastAlertMessage().find("no longer answers"), std::string::npos) << lastAlertMessage();
            expectFailedReadsAtMost(80, {}, failedReads(served, *v), byTheScan, row.loop);
            expectNoFileOfZerosAndTheHeldSaved(card);
            if (row.flow == Flow::DiesAgainAfterASave) {
                // The first folder and the second's first three files were read before the death.
                const auto savedBefore = [&] {
                    const std::map<std::string, std::string> saved = savedFiles();
                    for (const auto& [path, file] : card.files) {
                        if (path < "F1/F1A3.BIN") {
                            EXPECT_TRUE(saved.count(path) && saved.at(path) == file) << path;
                        }
                    }
                };
                savedBefore();
                served.answerAgain();
                fs::remove_all(destination / "Root");
                controller.clear();
                const FailedReads beforeTheSecond = failedReads(served, *v);
                save(*saver(v, v->dirRoot));
                EXPECT_TRUE(toldTheMediumGone());
                expectFailedReadsAtMost(80, beforeTheSecond, failedReads(served, *v), beforeTheSecond, row.loop);
                expectNoFileOfZerosAndTheHeldSaved(card);
                savedBefore();
            }
            v.reset();
            freeVolumes();
            continue;
        }
        if (row.flow == Flow::ApfsCarving) {
            carvesAnApfsContainerThatDiesWhileItsPagesAreLetGo();
            continue;
        }
        if (row.flow == Flow::DiesInTheCarving) {
            const fs::path dir = testsupport::makeTempDir("carving-dies"), photo = dir / "photo.jpg";
            ASSERT_TRUE(testsupport::runCommand("convert -seed " + testsupport::sampleSeed(7) +
                                                " -size 640x480 plasma: -quality 90 " +
                                                testsupport::shellQuote(photo.string())));
            const std::string jpeg = readText(photo);
            const std::uint64_t mib = 2048, sectors = 256 * mib, death = sectors / 2;
            const fs::path image = dir / "disk.img";
            const std::vector<std::uint64_t> photos =
                testsupport::imageWithFileEvery(image, sectors, jpeg, mib, 8 * mib);
            testsupport::writeText(dir / "map", "");
            testsupport::ServedByTheFuseTool served(image, dir / "map", row.loop, death);
            ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the disk";
            // Every photo before the death, and two after it that a probe read, held in the cache.
            std::vector<std::unique_ptr<testsupport::PinnedPages>> pinned;
            std::set<std::uint64_t> cached;
            for (std::size_t k = 0; k < photos.size(); ++k) {
                if (photos[k] + 16 * mib > death && k + 2 != photos.size() && k + 4 != photos.size()) continue;
                pinned.push_back(
                    std::make_unique<testsupport::PinnedPages>(served.device, photos[k] * 512, jpeg.size() + 4096));
                ASSERT_TRUE(pinned.back()->pinned());
                cached.insert(photos[k]);
            }
            controller.clear();
            controller.setDriveDictArray(Array{Dict{{"Path", served.device}}});
            fs::remove_all(destination / "Root");
            auto v = keep(volumeOver(served.device, 0, sectors, 512, ""));
            ScanThread(v).scanForDeletedFilesDisk(Array{testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, {"jpg"}), 1});
            EXPECT_TRUE(v->stoppedAnswering());
            const FailedReads byTheScan = failedReads(served, *v);
            std::set<std::uint64_t> found;
            for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
                if (!node->isFolder() && !node->extents.empty()) found.insert(testsupport::firstSector(*node));
            for (const std::uint64_t at : cached)
                EXPECT_TRUE(found.count(at)) << "the photo the cache holds at sector " << at;
            newdir::preOrder(v->dirRoot, newdir::childList, newdir::anyChild, [](NewDir* n) { n->selected = 1; });
            save(*saver(v, v->dirRoot));
            EXPECT_TRUE(toldTheMediumGone());
            // The program's own from the carving on; the device's from the save on: the carving reads ahead 4 MiB
            // at a time, which the tool serves, and fails, as requests of 128 KiB, as many as the machine's load
            // lets a window in flight reach past the death.
            expectFailedReadsAtMost(80, {0, byTheScan.atTheDevice}, failedReads(served, *v), byTheScan, row.loop);
            // Each photo saved is the photo, and the margin after it zeros, never zeros in place of the photo.
            std::size_t whole = 0;
            for (const auto& [path, bytes] : filesBelow(destination / "Root")) {
                EXPECT_TRUE(bytes.compare(0, jpeg.size(), jpeg) == 0 &&
                            bytes.find_first_not_of('\0', jpeg.size()) == std::string::npos)
                    << path;
                ++whole;
            }
            EXPECT_GE(whole, cached.size());
            v.reset();
            freeVolumes();
            continue;
        }
        // Live disks with bad areas: a card of files of random bytes, 41 of them in turns of sizes.
        const fs::path dir = testsupport::makeTempDir("live-bad");
        const fs::path image = testsupport::mkfsVfat(dir, "-F 32", "98304");
        std::vector<std::pair<std::string, std::size_t>> sizes;
        for (int k = 0; k < 41; ++k)
            sizes.emplace_back("F" + std::to_string(10 + k), static_cast<std::size_t>(300000 + (k % 7) * 410000 + k));
        randomFilesOnCard(dir, image, sizes, ".BIN");
        const std::uint64_t sectors = fs::file_size(image) / 512;
        ServedCard::Runs bad;
        if (row.flow == Flow::BadEnd) {
            bad.emplace_back(sectors * 3 / 5, sectors - sectors * 3 / 5);
        } else {
            // Half of the data area's runs of 128 sectors, as a seeded coin falls.
            const std::uint64_t dataFrom = 16384;
            std::mt19937_64 coin(20260 + static_cast<int>(row.loop));
            for (std::uint64_t at = dataFrom; at + 128 <= sectors; at += 128)
                if (coin() % 2 == 0) bad.emplace_back(at, 128);
        }
        const std::map<std::string, std::string> fromTheCopy = savedFromADdCopy(image, bad, "FAT32");
        ASSERT_FALSE(fromTheCopy.empty());
        ServedCard served(row.loop == Loop::DirectIo ? Serving::LoopInDirectIO : Serving::LoopOverAnUncachedFile, image,
                          bad);
        ASSERT_FALSE(served.medium.empty()) << "the FUSE tool did not serve the card";
        auto v = scanned(served.medium, sectors, "FAT32", 0);
        EXPECT_FALSE(v->stoppedAnswering());
        auto s = saver(v, v->dirRoot);
        save(*s);
        EXPECT_FALSE(toldTheMediumGone());
        const std::map<std::string, std::string> saved = filesBelow(destination / "Root");
        for (const auto& [name, bytes] : fromTheCopy) {
            const auto got = saved.find(name);
            EXPECT_TRUE(got != saved.end() && got->second == bytes) << name << " is not as the dd copy gives it";
        }
        EXPECT_EQ(std::tuple(saved.size(), s->savedFiles(), s->notOneSectorRead()),
                  std::tuple(fromTheCopy.size(), fromTheCopy.size(), sizes.size() - fromTheCopy.size()));
        v.reset();
        freeVolumes();
    }
}

// A FAT32 card of 96 MiB that mtools filled with four folders of small files of random bytes (notes of a few KiB,
// pictures of tens, recordings of hundreds, and one of 3 MiB), or one of 48 MiB with `folders` folders of twelve
// files of 4 to 20 KB, the folders made first so that their entries lie before every file; each file's first sector
// and sectors, by its path as a save of the card writes it.
struct SmallFilesCard {
    fs::path dir, image;
    std::map<std::string, std::string> files;
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> places;
    std::uint64_t dataFrom = UINT64_MAX, sectors = 0;

    explicit SmallFilesCard(std::size_t folders = 0) {
        dir = testsupport::makeTempDir("small-files");
        std::mt19937_64 random(std::random_device{}());
        const fs::path tree = dir / "tree";
        std::vector<std::pair<std::string, std::size_t>> kinds{
            {"DOCS", 2000}, {"PICS", 30000}, {"SOUND", 200000}, {"MISC", 9000}};
        if (folders != 0) kinds.clear();
        for (std::size_t f = 0; f < folders; ++f)
            kinds.emplace_back("D" + std::to_string(10 + f), 0);
        for (std::size_t f = 0; f < kinds.size(); ++f) {
            fs::create_directories(tree / kinds[f].first);
            for (std::size_t k = 0; k < (folders != 0 ? 12 : f == 2 ? 6 : 11); ++k) {
                const std::string name = kinds[f].first + "/F" + std::to_string(10 + k) + ".BIN";
                std::string& bytes = files[name];
                bytes.resize(folders != 0        ? 4000 + random() % 16000
                             : f == 3 && k == 10 ? (3u << 20) + 777
                                                 : kinds[f].second * (1 + k % 4) + random() % 5000);
                std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
                testsupport::writeText(tree / name, bytes);
            }
        }
        image = testsupport::mkfsVfat(dir, "-F 32", folders != 0 ? "49152" : "98304");
        for (const auto& [folder, size] : kinds)
            testsupport::mtools(image, "mmd", "::/" + folder);
        for (const auto& [folder, size] : kinds)
            testsupport::mtools(image, "mcopy", testsupport::shellQuote((tree / folder).string()) + "/* ::/" + folder);
        const std::string bytes = readText(image);
        sectors = bytes.size() / 512;
        for (const auto& [name, content] : files) {
            const std::size_t at = bytes.find(content);
            EXPECT_TRUE(at != std::string::npos && at % 512 == 0) << name << " is not in one piece";
            places[name] = {at / 512, (content.size() + 511) / 512};
            dataFrom = std::min<std::uint64_t>(dataFrom, at / 512);
        }
    }
    // The map of bad runs for the FUSE tool.
    void writeMap(const ServedCard::Runs& bad) const {
        std::ofstream out(dir / "map");
        for (const auto& [first, count] : bad)
            out << first << ' ' << count << '\n';
    }
};

// The verdict rests on evidence alone, through an image file read directly, a read-only loop device reading its file
// through the page cache and one in direct I/O. A live card whose data area is damaged all over in a pattern that
// repeats (in units of 32 KiB two bad, one readable, five bad; or eight readable sectors in every 64 KiB) is never
// told gone, and every file is saved as from a dd conv=noerror,sync copy: those lying wholly on readable sectors
// byte-exact, and every readable sector of the others. A card whose last half is unreadable, scanned and then saved
// once the page cache has let go of it, is never told gone. A file lying wholly on readable sectors inside a stretch
// another file's walk stepped over is saved exact, and so is an island of 256 KiB inside a 2 MiB bad run of a file.
// A card read through the page cache that dies at 95 % of a save is told gone with no file of zeros, ten times out of
// ten; and one that dies between a scan and its save and then answers again is saved exact by the next save.
TEST_F(ADiskThatStopsAnswering, IsJudgedOnlyByPlacesThatReadBeforeAskedPastEveryCache) {
    if (!ServedCard::fuseServes()) GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse and losetup";
    for (const char* tool : {"mkfs.vfat", "mcopy", "mmd"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    const SmallFilesCard card;
    enum class Damage { TwoBadOneReadableFiveBad, EightReadableIn64KiB, LastHalfBad, FileInAnotherFilesWalk, Island };
    const Loop media[] = {Loop::TheFileItself, Loop::ThroughTheFilesCache, Loop::DirectIo};
    const auto mediumName = [](Loop loop) {
        return loop == Loop::TheFileItself          ? "the image file"
               : loop == Loop::ThroughTheFilesCache ? "a loop device through the page cache"
                                                    : "a loop device in direct I/O";
    };
    // The files by their first sector.
    std::vector<std::pair<std::uint64_t, std::string>> inOrder;
    for (const auto& [name, place] : card.places)
        inOrder.emplace_back(place.first, name);
    std::sort(inOrder.begin(), inOrder.end());
    const std::string big = "MISC/F20.BIN";
    const std::uint64_t bigFirst = card.places.at(big).first, islandFrom = (bigFirst + 256 + 7) / 8 * 8 + 1200;
    for (const Damage damage : {Damage::TwoBadOneReadableFiveBad, Damage::EightReadableIn64KiB, Damage::LastHalfBad,
                                Damage::FileInAnotherFilesWalk, Damage::Island}) {
        ServedCard::Runs bad;
        const auto periodic = [&](std::uint64_t period, std::vector<std::pair<std::uint64_t, std::uint64_t>> runs) {
            for (std::uint64_t at = (card.dataFrom + 7) / 8 * 8; at < card.sectors; at += period)
                for (const auto& [offset, count] : runs)
                    if (at + offset < card.sectors)
                        bad.emplace_back(at + offset, std::min(count, card.sectors - at - offset));
        };
        // A small file with a large one before it, which the walk from the large one's bad middle steps over.
        std::string small;
        switch (damage) {
        case Damage::TwoBadOneReadableFiveBad:
            periodic(512, {{0, 128}, {192, 320}});
            break;
        case Damage::EightReadableIn64KiB:
            periodic(128, {{0, 120}});
            break;
        case Damage::LastHalfBad:
            bad.emplace_back(card.sectors / 2, card.sectors - card.sectors / 2);
            break;
        case Damage::FileInAnotherFilesWalk:
            for (std::size_t k = 0; k + 2 < inOrder.size() && small.empty(); ++k) {
                const auto& [first, name] = inOrder[k];
                const auto& [after, smallName] = inOrder[k + 2];
                if (card.places.at(name).second < 300 || card.places.at(smallName).second > 40) continue;
                small = smallName;
                // Whole pages, which the page cache fails whole.
                const std::uint64_t from = (first + 100) / 8 * 8, to = after / 8 * 8;
                const std::uint64_t smallEnd = (after + card.places.at(small).second + 7) / 8 * 8;
                bad.emplace_back(from, to - from);
                bad.emplace_back(smallEnd, 4096);
            }
            ASSERT_FALSE(small.empty());
            break;
        case Damage::Island:
            // 2 MiB bad from 128 KiB into the large file, in whole pages, but 256 KiB readable 600 KiB into the run.
            bad.emplace_back(islandFrom - 1200, 1200);
            bad.emplace_back(islandFrom + 512, 4096 - 1200 - 512);
            break;
        }
        const std::map<std::string, std::string> fromTheCopy = savedFromADdCopy(card.image, bad, "FAT32");
        for (const Loop loop : media) {
            SCOPED_TRACE(std::to_string(static_cast<int>(damage)) + ", " + mediumName(loop));
            card.writeMap(bad);
            testsupport::ServedByTheFuseTool served(card.image, card.dir / "map", loop);
            ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the card";
            auto v = scanned(served.device, card.sectors, "FAT32", 0);
            if (damage == Damage::LastHalfBad) {
                // The page cache lets go of what the scan read, of the device and of the file below it.
                for (const std::string& path : {served.device, (card.dir / "mnt" / "disk.img").string()})
                    if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
                        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
                        ::close(fd);
                    }
            }
            save(*saver(v, v->dirRoot));
            EXPECT_FALSE(v->stoppedAnswering());
            EXPECT_FALSE(toldTheMediumGone()) << lastAlertMessage();
            const std::map<std::string, std::string> saved = savedFiles();
            for (const auto& [shown, bytes] : fromTheCopy) {
                std::string path = shown;
                path.erase(std::remove(path.begin(), path.end(), ' '), path.end());
                const auto got = saved.find(path);
                EXPECT_TRUE(got != saved.end() && got->second == bytes) << path << " is not as the dd copy gives it";
            }
            EXPECT_EQ(saved.size(), fromTheCopy.size());
            if (!small.empty()) {
                EXPECT_TRUE(saved.count(small) && saved.at(small) == card.files.at(small)) << small;
            }
            if (damage == Damage::Island) {
                const std::string& got = saved.count(big) ? saved.at(big) : std::string();
                const std::uint64_t island = (islandFrom - bigFirst) * 512;
                EXPECT_TRUE(got.size() == card.files.at(big).size() &&
                            got.compare(island, 512 * 512, card.files.at(big), island, 512 * 512) == 0)
                    << "the island of " << big;
            }
            v.reset();
            freeVolumes();
        }
    }
    // Dying at 95 % of a save, through the page cache: the file that lies there, in the order they are saved.
    const std::uint64_t death = inOrder[inOrder.size() * 95 / 100].first + 2;
    for (int run = 0; run < 10; ++run) {
        SCOPED_TRACE("dying at 95 %, run " + std::to_string(run + 1));
        card.writeMap({});
        testsupport::ServedByTheFuseTool served(card.image, card.dir / "map", Loop::ThroughTheFilesCache, death);
        ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the card";
        auto v = scanned(served.device, card.sectors, "FAT32", 0);
        save(*saver(v, v->dirRoot));
        EXPECT_TRUE(toldTheMediumGone());
        for (const auto& [path, bytes] : savedFiles()) {
            const auto file = card.files.find(path);
            EXPECT_TRUE(file != card.files.end() && !bytes.empty() && bytes.size() <= file->second.size() &&
                        file->second.compare(0, bytes.size(), bytes) == 0)
                << path << " is not the file's bytes";
        }
        v.reset();
        freeVolumes();
    }
    // Dying between the scan and its save, then answering again for good.
    for (const Loop loop : {Loop::ThroughTheFilesCache, Loop::DirectIo}) {
        SCOPED_TRACE(std::string("dying between the scan and the save, ") + mediumName(loop));
        card.writeMap({});
        testsupport::ServedByTheFuseTool served(card.image, card.dir / "map", loop, inOrder[inOrder.size() / 2].first,
                                                true);
        ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the card";
        auto v = scanned(served.device, card.sectors, "FAT32", 0);
        save(*saver(v, v->dirRoot));
        EXPECT_TRUE(toldTheMediumGone());
        served.answerAgain();
        fs::remove_all(destination / "Root");
        controller.clear();
        save(*saver(v, v->dirRoot));
        EXPECT_FALSE(toldTheMediumGone());
        EXPECT_EQ(savedFiles(), card.files);
        v.reset();
        freeVolumes();
    }
}

// Each pass over a failing medium costs what its one map lets it ask, counted as the device below the loop device
// counts failed reads: a save whose disk dies while the page cache holds some of its files finds it gone within a
// few dozen, saves every file the cache holds whole byte-exact and says the disk went; a file lying wholly in a bad
// area costs what the walks of the area cost and an ask in every 128 KiB of it; a page that fails through the cache is
// asked there once and its sectors past it once each, no more than three failed reads a bad sector, every file as
// the save of a dd conv=noerror,sync copy gives it; a carving at a death costs a few dozen, also where a second
// reader holds the device open.
TEST_F(SavingFromAFailingMedium, EachPassCostsWhatTheMapLetsItAsk) {
    if (!ServedCard::fuseServes()) GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse and losetup";
    for (const char* tool : {"mkfs.vfat", "mcopy", "mkfs.exfat", "mount.exfat-fuse", "xorriso", "convert"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    enum class Pass { DiesWithFilesCached, FileWhollyBad, ScatteredBadSectors, CarvingDies };
    const struct {
        const char* what;
        Pass pass;
        const char* content;
        std::uint64_t number; // bytes, one in how many sectors, or percent
    } cases[] = {
        {"a save whose disk dies while the cache holds some of its files", Pass::DiesWithFilesCached, "FAT32", 0},
        {"a 200 MB file wholly in a bad area", Pass::FileWhollyBad, "FAT32", 200000000},
        {"a 1 GB file wholly in a bad area", Pass::FileWhollyBad, "FAT32", 1000000000},
        {"one sector in 16 bad on FAT32", Pass::ScatteredBadSectors, "FAT32", 16},
        {"one sector in 32 bad on FAT32", Pass::ScatteredBadSectors, "FAT32", 32},
        {"one sector in 16 bad on exFAT", Pass::ScatteredBadSectors, "exFAT", 16},
        {"one sector in 32 bad on HFS+", Pass::ScatteredBadSectors, "HFS+", 32},
        {"a carving dying at 30 %", Pass::CarvingDies, "", 30},
        {"a carving dying at 70 %", Pass::CarvingDies, "", 70},
        {"a carving dying at 95 %", Pass::CarvingDies, "", 95},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        switch (row.pass) {
        case Pass::DiesWithFilesCached:
            diesWhileTheCacheHoldsSomeFiles();
            break;
        case Pass::FileWhollyBad:
            savesAFileWhollyInABadArea(row.number);
            break;
        case Pass::ScatteredBadSectors:
            savesScatteredBadSectors(row.content, row.number);
            break;
        case Pass::CarvingDies:
            carvesADiskThatDies(row.number);
            break;
        }
    }
}

// ===================================================== stacks of devices ====

// A card under a stack of devices, each stack built over the FUSE tool: a loop device through its own page cache over
// one in direct I/O, one over another, one in direct I/O over one through the page cache, the image on an ext4 file
// system mounted from a loop device through the page cache (read as the file, and through a loop device over it), the
// same two file systems deep (the ext4 file system's own image on a second one, mounted so: no way reaches past every
// cache there), and a device-mapper linear device over a loop device through the page cache, where the kernel has
// device-mapper. Each card is made once and served anew for every stack and every death.
class ADiskUnderAStackOfDevices : public ADiskThatStopsAnswering {
protected:
    struct Stack {
        Loop loop;
        const char* name;
        // No way reaches past every cache: the verdict rests on places that read before, asked once the caches
        // below have let go of them, and where it cannot tell, the save goes on.
        bool cacheOnly;
    };
    static std::vector<Stack> stacks() {
        std::vector<Stack> out{
            {Loop::CachedOverDirectIo, "a cached loop device over one in direct I/O", false},
            {Loop::CachedOverCached, "a cached loop device over a cached one", false},
            {Loop::DirectIoOverCached, "a loop device in direct I/O over a cached one", false},
            {Loop::FileOnExt4OverCached, "the image on ext4 over a cached loop device", false},
            {Loop::CachedOverFileOnExt4OverCached,
             "a cached loop device over the image on ext4 over a cached loop device", false},
            {Loop::FileOnExt4OnExt4OverCached, "the image on ext4 on ext4 over cached loop devices", true},
            {Loop::CachedOverFileOnExt4OnExt4OverCached,
             "a cached loop device over the image on ext4 on ext4 over cached loop devices", true}};
        if (testsupport::ServedByTheFuseTool::deviceMapperPossible())
            out.push_back({Loop::LinearOverCached, "a device-mapper linear device over a cached loop device", false});
        else
            std::cout << "This kernel has no device-mapper: the row of a linear device over a cached loop device is "
                         "left out\n";
        return out;
    }
    static Stack singleLoop() { return {Loop::ThroughTheFilesCache, "a single cached loop device", false}; }

    // A card of 24 files of random bytes, of a few KiB to over a MiB, on a volume of `content` (FAT32; exFAT, whose
    // files are then deleted; HFS+ made by xorriso, from sector `start` of its image).
    struct StackCard {
        fs::path dir, image;
        std::string kind;
        std::uint64_t start = 0, sectors = 0;
        // Each file's bytes, by its first 64 bytes, the files' first sectors in the order they lie, and each file's
        // sectors by its first.
        std::map<std::string, std::string> byStart;
        std::vector<std::uint64_t> firsts;
        std::map<std::uint64_t, std::uint64_t> sectorsAt;
    };
    StackCard stackCard(const std::string& content) {
        StackCard card;
        card.dir = testsupport::makeTempDir("stack-card");
        const fs::path tree = card.dir / "tree";
        fs::create_directories(tree);
        std::mt19937_64 random(std::random_device{}());
        std::vector<std::string> all;
        for (int i = 0; i < 24; ++i) {
            std::string bytes(static_cast<std::size_t>(3000 + (i % 6) * 230000 + random() % 4000), '\0');
            std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
            testsupport::writeText(tree / ("F" + std::to_string(10 + i) + ".BIN"), bytes);
            all.push_back(bytes);
        }
        card.kind = content;
        if (content == "FAT32") {
            card.image = testsupport::mkfsVfat(card.dir, "-F 32", "49152");
            testsupport::mtools(card.image, "mcopy", testsupport::shellQuote(tree.string()) + "/* ::/");
        } else if (content == "exFAT") {
            card.image = card.dir / "exfat.img";
            card.kind = kExFATContent;
            EXPECT_TRUE(testsupport::exfatFilledThroughFuse(card.image, "48M", card.dir / "m",
                                                            "cp tree/* m/ && sync && rm m/*"));
        } else {
            card.image = card.dir / "hfs.iso";
            card.kind = "Apple_HFS";
            EXPECT_TRUE(testsupport::runCommand("xorriso -as mkisofs -quiet -hfsplus -apm-block-size 512 -o " +
                                                testsupport::shellQuote(card.image.string()) + " " +
                                                testsupport::shellQuote(tree.string()) + " 2>/dev/null"));
            for (std::uint64_t entry = 1; entry <= 8 && card.start == 0; ++entry) {
                const std::vector<std::uint8_t> e = testsupport::readBytesAt(card.image, entry * 512, 512);
                if (std::string(e.begin() + 48, e.begin() + 57) == "Apple_HFS")
                    card.start = platform::ByteView(e).be32(8);
            }
            EXPECT_NE(card.start, 0u);
        }
        fs::remove_all(tree);
        const std::string bytes = readText(card.image);
        card.sectors = bytes.size() / 512;
        for (const std::string& file : all) {
            const std::size_t at = bytes.find(file);
            EXPECT_TRUE(at != std::string::npos && at % 512 == 0) << "a file is not in one piece";
            card.byStart[file.substr(0, 64)] = file;
            card.firsts.push_back(at / 512);
            card.sectorsAt[at / 512] = (file.size() + 511) / 512;
        }
        std::sort(card.firsts.begin(), card.firsts.end());
        return card;
    }

    // Every file saved below Root is the first part of a file of the card, none of its sectors zeros where the file
    // has bytes: a file that is not, by its path.
    std::vector<std::string> notTheFilesBytes(const StackCard& card) {
        std::vector<std::string> wrong;
        for (const auto& [path, bytes] : filesBelow(destination / "Root")) {
            const auto file = bytes.size() < 64 ? card.byStart.end() : card.byStart.find(bytes.substr(0, 64));
            if (file == card.byStart.end() || bytes.size() > file->second.size() ||
                file->second.compare(0, bytes.size(), bytes) != 0)
                wrong.push_back(path);
        }
        return wrong;
    }

    // Saves of the card dying at 10, 50 and 95 % of them (in the file that lies there, in the order the files are
    // saved), through a single cached loop device and each stack: every save is told the disk has gone, no file of
    // zeros is written, and the failed reads stay about as many as through the single loop device. Where no way
    // reaches past every cache (two file systems deep, a FAT32 card dying at 50 %), no file of zeros is written
    // either, and the save costs no more than through the single loop device and the second pass's asks of the
    // files' bad runs, whether the evidence told it the disk had gone or not. A whole-disk search of the card (the
    // plain search, or the carving with `carving`) dying in its middle file says the disk stopped, and about how far
    // it had come, through every stack but those; an HFS+ card read as the file that dies inside its catalog says
    // the disk no longer answers.
    void diesUnderEveryStack(const std::string& content, bool carving) {
        if (!ServedCard::fuseServes())
            GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse and losetup";
        for (const char* tool :
             {"mkfs.vfat", "mcopy", "mkfs.exfat", "mount.exfat-fuse", "xorriso", "mkfs.ext4", "debugfs"})
            if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
        const StackCard card = stackCard(content);
        std::vector<Stack> rows = stacks();
        rows.insert(rows.begin(), singleLoop());
        for (const std::uint64_t percent : {10, 50, 95}) {
            const std::uint64_t death = card.firsts[card.firsts.size() * percent / 100] + 2;
            // What the second pass asks of the files' runs from the death on, each wholly bad at the most.
            std::uint64_t secondPass = 0;
            for (const auto& [first, sectors] : card.sectorsAt)
                if (first + sectors > death) secondPass += asksInABadRunOfAFile(sectors);
            std::uint64_t single = 0;
            for (const Stack& stack : rows) {
                if (stack.cacheOnly && (percent != 50 || content != "FAT32")) continue;
                SCOPED_TRACE(std::string(stack.name) + ", dying at " + std::to_string(percent) + " %");
                testsupport::writeText(card.dir / "map", "");
                testsupport::ServedByTheFuseTool served(card.image, card.dir / "map", stack.loop, death);
                ASSERT_FALSE(served.device.empty()) << "the stack was not built";
                auto v = scanned(served.device, card.sectors, card.kind, card.start);
                save(*saver(v, v->dirRoot));
                const bool told = toldTheMediumGone();
                EXPECT_EQ(notTheFilesBytes(card), std::vector<std::string>());
                const std::uint64_t failed = v->failedReads();
                if (stack.loop == Loop::ThroughTheFilesCache) single = failed;
                std::cout << content << ", " << stack.name << ", dying at " << percent << " %: " << failed
                          << " failed reads (a single cached loop device: " << single << "), "
                          << (told ? "told gone" : "not told gone") << "\n";
                if (stack.cacheOnly) {
                    EXPECT_LE(failed, single + secondPass) << logButFailedReads();
                } else {
                    EXPECT_TRUE(told) << lastAlertMessage();
                    EXPECT_LE(failed, std::max<std::uint64_t>(2 * single, 40) + 24);
                }
                v.reset();
                freeVolumes();
            }
        }
        if (content == "HFS+") {
            // Read as the file, dying inside the catalog as the scan reads it: the scan says the disk no longer
            // answers, not that the volume holds no file system it rebuilds.
            const std::vector<std::uint8_t> header = testsupport::readBytesAt(card.image, (card.start + 2) * 512, 512);
            const platform::ByteView h(header);
            const std::uint64_t catalog = card.start + std::uint64_t{h.be32(0x110 + 16)} * h.be32(40) / 512;
            // Its first leaf node, as the catalog's header node names it.
            const std::vector<std::uint8_t> node = testsupport::readBytesAt(card.image, catalog * 512, 512);
            const platform::ByteView n(node);
            const std::uint64_t leaf = catalog + std::uint64_t{n.be32(14 + 10)} * n.be16(14 + 18) / 512;
            testsupport::writeText(card.dir / "map", "");
            testsupport::ServedByTheFuseTool served(card.image, card.dir / "map", Loop::TheFileItself, leaf + 1);
            ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the card";
            auto v = scanned(served.device, card.sectors, card.kind, card.start);
            EXPECT_TRUE(v->stoppedAnswering());
            const auto alerts = controller.alerts();
            EXPECT_TRUE(std::any_of(alerts.begin(), alerts.end(), [](const platform::AlertText& a) {
                return a.message.rfind("The drive or volume being read no longer answers", 0) == 0;
            })) << lastAlertMessage();
            v.reset();
            freeVolumes();
        }
        for (const Stack& stack : rows) {
            if (stack.cacheOnly) continue;
            SCOPED_TRACE(std::string(stack.name) + ", a search dying half-way");
            testsupport::writeText(card.dir / "map", "");
            // In the middle file, whose sectors the file system on ext4 holds.
            const std::uint64_t death = card.firsts[card.firsts.size() / 2] + 2, percent = death * 100 / card.sectors;
            testsupport::ServedByTheFuseTool served(card.image, card.dir / "map", stack.loop, death);
            ASSERT_FALSE(served.device.empty()) << "the stack was not built";
            controller.clear();
            controller.setDriveDictArray(Array{Dict{{"Path", served.device}}});
            auto v = keep(volumeOver(served.device, 0, card.sectors, 512, ""));
            ScanThread(v).scanForDeletedFilesDisk(
                Array{testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, {"jpg", "pdf"}), carving ? 1 : 0});
            EXPECT_TRUE(v->stoppedAnswering());
            EXPECT_FALSE(v->mediumGone());
            const std::uint32_t at = v->stoppedAnsweringAtPercent().value_or(0);
            // Never past where it died, nor 0 % when it came as far as that: the sweep tells its progress a read-ahead
            // window behind its reads.
            EXPECT_TRUE(at > 0 && at <= percent + 5) << at << " %, dying at " << percent << " %";
            v.reset();
            freeVolumes();
        }
    }
};

TEST_F(ADiskUnderAStackOfDevices, OnFAT32IsToldGoneAndNoFileOfZerosIsSaved) {
    diesUnderEveryStack("FAT32", false);
}

TEST_F(ADiskUnderAStackOfDevices, OnExFATIsToldGoneAndNoFileOfZerosIsSaved) {
    diesUnderEveryStack("exFAT", true);
}

TEST_F(ADiskUnderAStackOfDevices, OnHFSPlusIsToldGoneAndNoFileOfZerosIsSaved) {
    diesUnderEveryStack("HFS+", true);
}

// A live card damaged all over, under a single cached loop device and each stack: the last half of its files and all
// after them unreadable, or one 32 KiB unit in eight readable, also on a card of sixteen folders of twelve small
// files. It is never told gone, every file is saved as from a dd conv=noerror,sync copy of the card (its bad sectors
// zeros where a way reaches past every cache; where none does, their whole pages, which every cache fails whole), the
// map holds no sector readable so as failed, and where a way reaches past every cache the save costs about the failed
// reads it costs through the single loop device. A card whose 3 MiB file is bad but for one page that the second
// pass's places step over (they lie in the first eighth of steps of 56, 112 or 224 sectors of the medium), read
// through the single loop device and where no way reaches past every cache: that file is not saved, no line says
// "could not be read" of a sector no read asked for, the page among them, and the end counts the file among those
// not one of whose sectors asked for could be read.
TEST_F(ADiskUnderAStackOfDevices, ALiveCardDamagedAllOverIsNeverToldGone) {
    if (!ServedCard::fuseServes()) GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse and losetup";
    for (const char* tool : {"mkfs.vfat", "mcopy", "mmd", "mkfs.ext4", "debugfs"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " not installed";
    const SmallFilesCard fourFolders, sixteenFolders(16);
    std::vector<Stack> all = stacks();
    all.insert(all.begin(), singleLoop());
    enum class Damage { LastHalf, OneUnitInEight, AFileButAPageNotAsked };
    const std::string big = "MISC/F20.BIN";
    const auto [bigFirst, bigSectors] = fourFolders.places.at(big);
    std::uint64_t page = bigFirst + bigSectors / 2;
    while (page % 224 != 40)
        ++page;
    const struct {
        const SmallFilesCard& card;
        Damage damage;
    } rows[] = {{fourFolders, Damage::LastHalf},
                {fourFolders, Damage::OneUnitInEight},
                {fourFolders, Damage::AFileButAPageNotAsked},
                {sixteenFolders, Damage::OneUnitInEight}};
    for (const auto& [card, damage] : rows) {
        ServedCard::Runs bad;
        std::string what = &card == &sixteenFolders ? ", sixteen folders of small files" : "";
        switch (damage) {
        case Damage::LastHalf: {
            // The last half of where the files lie, and all after it.
            what += ", its last half bad";
            std::uint64_t filesEnd = 0;
            for (const auto& [path, place] : card.places)
                filesEnd = std::max(filesEnd, place.first + place.second);
            const std::uint64_t from = (card.dataFrom + filesEnd) / 2;
            bad.emplace_back(from, card.sectors - from);
            break;
        }
        case Damage::OneUnitInEight:
            what += ", one unit in eight readable";
            for (std::uint64_t at = (card.dataFrom + 7) / 8 * 8; at + 64 < card.sectors; at += 512)
                bad.emplace_back(at + 64, std::min<std::uint64_t>(448, card.sectors - at - 64));
            break;
        case Damage::AFileButAPageNotAsked:
            what += ", a file bad but for a page not asked for";
            bad.emplace_back(bigFirst, page - bigFirst);
            bad.emplace_back(page + 8, bigFirst + bigSectors - page - 8);
            break;
        }
        // What is unreadable through a way past every cache, and through caches alone, which fail the whole page of a
        // bad sector; and the files a dd copy of the card so gives, by their paths as saved.
        ServedCard::Runs badPages;
        std::vector<bool> unreadable[2] = {std::vector<bool>(card.sectors), std::vector<bool>(card.sectors)};
        for (const auto& [first, count] : bad) {
            const std::uint64_t from = first / 8 * 8, to = std::min(card.sectors, (first + count + 7) / 8 * 8);
            badPages.emplace_back(from, to - from);
            std::fill_n(unreadable[0].begin() + static_cast<std::ptrdiff_t>(first), count, true);
            std::fill(unreadable[1].begin() + static_cast<std::ptrdiff_t>(from),
                      unreadable[1].begin() + static_cast<std::ptrdiff_t>(to), true);
        }
        std::map<std::string, std::string> fromTheCopy[2];
        for (const int pages : {0, 1})
            for (auto& [shown, bytes] : savedFromADdCopy(card.image, pages != 0 ? badPages : bad, "FAT32")) {
                std::string path = shown;
                path.erase(std::remove(path.begin(), path.end(), ' '), path.end());
                fromTheCopy[pages][path] = std::move(bytes);
            }
        std::uint64_t throughTheSingleLoop = 0;
        for (const Stack& stack : all) {
            const bool single = stack.loop == Loop::ThroughTheFilesCache;
            if (damage == Damage::AFileButAPageNotAsked && !single && !stack.cacheOnly) continue;
            SCOPED_TRACE(stack.name + what);
            card.writeMap(bad);
            testsupport::ServedByTheFuseTool served(card.image, card.dir / "map", stack.loop);
            ASSERT_FALSE(served.device.empty()) << "the stack was not built";
            std::size_t logsBefore = 0;
            {
                std::lock_guard lock(logMutex);
                logsBefore = logs.size();
            }
            auto v = scanned(served.device, card.sectors, "FAT32", 0);
            auto s = saver(v, v->dirRoot);
            save(*s);
            EXPECT_FALSE(v->stoppedAnswering());
            EXPECT_FALSE(toldTheMediumGone()) << lastAlertMessage();
            std::map<std::string, std::string> saved = savedFiles(), expected = fromTheCopy[stack.cacheOnly ? 1 : 0];
            if (damage == Damage::AFileButAPageNotAsked) expected.erase(big);
            for (const auto& [path, bytes] : expected) {
                const auto got = saved.find(path);
                EXPECT_TRUE(got != saved.end() && got->second == bytes) << path << " is not as the dd copy gives it";
            }
            EXPECT_EQ(saved.size(), expected.size());
            // Readable sectors held as failed, as runs of them.
            std::uint64_t heldFailed = 0;
            const std::vector<bool>& lost = unreadable[stack.cacheOnly ? 1 : 0];
            for (std::uint64_t at = 0; at < card.sectors;) {
                const auto next = std::find(lost.begin() + static_cast<std::ptrdiff_t>(at), lost.end(), !lost[at]);
                const std::uint64_t end = static_cast<std::uint64_t>(next - lost.begin());
                if (!lost[at]) heldFailed += v->failedSectorsIn(at, end - at);
                at = end;
            }
            EXPECT_EQ(heldFailed, 0u);
            // Where a way reaches past every cache, what the single loop device costs.
            if (single) throughTheSingleLoop = v->failedReads();
            if (!stack.cacheOnly) {
                EXPECT_LE(v->failedReads(), throughTheSingleLoop + throughTheSingleLoop / 8 + 2);
            }
            std::cout << stack.name << what << ": " << v->failedReads() << " failed reads, " << heldFailed
                      << " readable sectors held as failed\n";
            if (damage == Damage::AFileButAPageNotAsked) {
                EXPECT_FALSE(saved.count(big));
                // Stepped over, never asked for.
                EXPECT_EQ(std::pair(v->unreadableSectorsIn(page, 8), v->failedSectorsIn(page, 8)),
                          std::pair(std::uint64_t{8}, std::uint64_t{0}));
                std::lock_guard lock(logMutex);
                bool toldNotAsked = false;
                for (std::size_t k = logsBefore; k < logs.size(); ++k) {
                    const std::string& line = logs[k];
                    unsigned long long from = 0, to = 0;
                    if (std::sscanf(line.c_str(), "Sectors %llu to %llu of", &from, &to) == 2 &&
                        line.find("could not be read: they are unreadable") != std::string::npos) {
                        EXPECT_TRUE(to < page || from >= page + 8) << line;
                    }
                    if (line.find("MISC") == std::string::npos || line.find("/F20") == std::string::npos) continue;
                    EXPECT_EQ(line.find("could not be read"), std::string::npos) << line;
                    toldNotAsked = toldNotAsked || line.find("that were asked for could be read from the medium, and "
                                                             "no read asked for its other") != std::string::npos;
                }
                EXPECT_TRUE(toldNotAsked);
                EXPECT_EQ(s->notOneSectorRead(), 1u);
                EXPECT_NE(lastAlertMessage().find("Marked files not saved as not one of their sectors that were asked "
                                                  "for could be read from the medium: 1."),
                          std::string::npos)
                    << lastAlertMessage();
            }
            v.reset();
            freeVolumes();
        }
    }
}

// ======================================================= loop devices ====

// What a desktop offers after `losetup` of an image it has also mounted: the
// image and a second loop device over it are one medium with the mounted
// volume, and nothing is written there; an unrelated loop device's volume
// takes the save.
TEST_F(Saving, AVolumeOnALoopDeviceOverTheScannedImageOrItsFileIsRefusedAndAnotherIsNot) {
    const fs::path scanned = testsupport::patternImage(32768), unrelated = testsupport::patternImage(32768);
    for (const fs::path& image : {scanned, unrelated})
        ASSERT_TRUE(testsupport::runCommand("mkfs.ext4 -q " + testsupport::shellQuote(image.string())));
    MountedLoopDevice mounted(scanned, outer / "mounted"), twin(scanned), elsewhere(unrelated, outer / "elsewhere");
    if (twin.loop.path().empty()) GTEST_SKIP() << "cannot attach a loop device here";
    ASSERT_FALSE(mounted.mounted.empty() || elsewhere.mounted.empty()) << "cannot mount ext4 on a loop device";
    tree.file(tree.root, u"a.bin", 5000, {{300, 2}});
    const auto before = entriesBelow(mounted.mounted);
    for (auto [medium, to, title] : {std::tuple{scanned.string(), mounted.mounted, "! Can not save"},
                                     {twin.loop.path(), mounted.mounted, "! Can not save"},
                                     {scanned.string(), elsewhere.mounted, "Saving Completed"}}) {
        auto s = DataSaving::create(volumeOver(medium, 0, 32768), tree.root, {});
        s->setPanelSettleDelay(std::chrono::milliseconds(0));
        if (s->destinationPanelDidEnd(1, to.string())) s->waitUntilFinished(std::chrono::seconds(60));
        EXPECT_EQ(lastAlertTitle(), title) << medium;
    }
    EXPECT_NE(controller.alerts()[0].message.find("drive or volume being recovered"), std::string::npos);
    EXPECT_EQ(entriesBelow(mounted.mounted), before);
    EXPECT_EQ(testsupport::readBytes(elsewhere.mounted / "Root" / "a.bin"),
              testsupport::readBytesAt(scanned, 2400 * 512, 5000));
}

// A destination that fills up: the file that did not fit is not left under
// its name, short, looking saved; the log says it is not saved, and the save
// stops there without a word of completion.
TEST_F(Saving, ADestinationThatFillsUpLeavesNoShortFileUnderAFoundFilesNameAndStops) {
    const std::string small = testsupport::shellQuote(destination.string());
    if (!testsupport::runCommand("mount -t tmpfs -o size=64k tmpfs " + small)) GTEST_SKIP() << "cannot mount a tmpfs";
    tree.file(tree.root, u"fits", 20000, {{8, 5}});
    tree.file(tree.root, u"too-big", 100000, {{40, 25}});
    tree.file(tree.root, u"never", 3000, {{100, 1}});
    auto s = saveTree();
    const std::string fits = saved("fits");
    const bool tooBigLeft = fs::exists(destination / "Root" / "too-big"),
               neverMade = !fs::exists(destination / "Root" / "never");
    testsupport::runCommand("umount " + small);
    EXPECT_EQ(fits, patternBytes(64 * 512, 20000));
    EXPECT_TRUE(!tooBigLeft && neverMade);
    EXPECT_TRUE(logged("Could not write Root/too-big on the destination: No space left on device; it is not saved"));
    EXPECT_EQ(std::tuple(s->ending(), lastAlertTitle()),
              std::tuple(DataSaving::Ending::DestinationFull, std::string("! Not enough free disk space")));
    EXPECT_NE(lastAlertMessage().find("2 of the marked files and folders could not be saved"), std::string::npos);
}
