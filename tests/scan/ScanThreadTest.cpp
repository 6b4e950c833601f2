#include "scan/ScanThread.h"

#include "carving/BlockSearchEngine.h"
#include "media/ContentKind.h"
#include "platform/ByteView.h"
#include "session/AutoRecoverySnapshot.h"
#include "signatures/SignatureSearchState.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace platform;
using testsupport::zeroImage;
namespace fs = std::filesystem;

namespace {

class ScanThreads : public testsupport::ScanFixture {
protected:
    std::shared_ptr<Volume> volumeFor(const fs::path& image, const std::string& content, std::uint64_t start = 0) {
        return keep(testsupport::volumeOver(image, start, 0, 512, content));
    }
    bool called(const std::string& name) const {
        auto n = controller.callNames();
        return std::find(n.begin(), n.end(), name) != n.end();
    }
};

} // namespace

TEST(ScanContent, ContentStringsChooseTheFileSystem) {
    using FS = ScanThread::FileSystem;
    const std::string exFAT = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", apfs = "41504653-0000-11AA-AA11-00306543ECAC";
    const std::tuple<std::string, bool, FS> cases[] = {
        {"Apple_HFS", true, FS::HFSPlus}, {"Apple_HFSX", false, FS::HFSPlus},
        {"FAT32", false, FS::FAT},        {exFAT, false, FS::ExFAT},
        {exFAT, true, FS::None},          {"APFS", false, FS::APFS},
        {apfs, true, FS::APFS},           {apfs, false, FS::None},
        {"Linux", true, FS::None}};
    for (const auto& [content, second, expected] : cases)
        EXPECT_EQ(ScanThread::fileSystemForContent(contentKindOf(content), second), expected)
            << content << " " << second;
}

TEST_F(ScanThreads, NormalScanWithoutHFSPlusHeaderAlertsAndStillCompletes) {
    auto v = volumeFor(zeroImage(4 << 20), "Apple_HFS");
    ScanThread scan(v);
    scan.startMakingTree(Array{"Normal Scan", 1, Array{}});
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "!Can not process");
    EXPECT_EQ(controller.alerts()[0].message,
              "Key data structures not found. Please try Advance Scan for tree on the desired volume.");
    EXPECT_TRUE(called("destroyVolumeAndBackToPartList"));
    EXPECT_TRUE(scan.aborting());
    // No search and no clean-up after the alert, but the final post follows.
    EXPECT_FALSE(called("rawScanStarted:") || called("rawScanCompleted"));
    expectTreeCompleteLast();
}

// Finding nothing there either, it says so instead of showing an empty tree, unless a search is still to come.
TEST_F(ScanThreads, AdvancedScanWithoutHeaderAssumesEightSectorBlocksAndSaysWhenItFindsNothing) {
    auto v = volumeFor(zeroImage(4 << 20), "Apple_HFS");
    ScanThread scan(v);
    scan.startMakingTree(Array{"Advanced Scan", 0});
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].message, "Key data structures not found on the volume.");
    EXPECT_TRUE(scan.aborting() && called("destroyVolumeAndBackToPartList"));
    EXPECT_EQ(std::pair(v->blockSize(), v->treeScanMode), std::pair(8u, 1));
    ASSERT_NE(v->dirRoot, nullptr);
    expectTreeCompleteLast();
    controller.clear();
    ScanThread(volumeFor(zeroImage(4 << 20), "Apple_HFS")).startMakingTree(Array{"Advanced Scan", 1, Array{}});
    EXPECT_TRUE(controller.alerts().empty());
    EXPECT_TRUE(called("rawScanCompleted"));
}

// The catalog is read under the progress timer, then the clean-up reports each pass and the scan's completion, then
// comes the final post; the clean-up leaves direct arrays and frees the helper indexes.
TEST_F(ScanThreads, NormalScanOfARealVolumeBuildsTheTreeAndCleansUp) {
    auto v = volumeFor(testsupport::copyOfReadyImage("hfsplus.raw"), "Apple_HFS");
    ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
    EXPECT_TRUE(controller.alerts().empty());
    ASSERT_NE(v->dirRoot, nullptr);
    EXPECT_GT(v->dirRoot->childrenArrayCount(), 0u);
    EXPECT_FALSE(v->dirRoot->childrenDirect.empty());
    EXPECT_EQ(v->btree, nullptr);
    std::vector<std::string> seen;
    for (const auto& c : controller.calls()) {
        std::string status = c.argument.dictValue().get("Progress Status").stringValue();
        seen.push_back(status.empty() ? c.name : c.name + " " + status);
    }
    const std::vector<std::string> tail{
        "updateProgress: Rearranging tree...",        "rawScanCompleted",
        "updateProgress: Removing empty tree...",     "updateProgress: Rearranging tree (step 2)...",
        "updateProgress: Removing deleted tree...",   "updateProgress: Fixing names...",
        "updateProgress: Optimizing Tree...",         "updateProgress: Removing helper trees...",
        "updateProgress: Rearranging tree (done)...", "updateProgress: default"};
    ASSERT_GE(seen.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(seen.end() - tail.size(), seen.end()), tail);
    auto timerOn = std::find(seen.begin(), seen.end(), "setUpTimer");
    auto timerOff = std::find(seen.begin(), seen.end(), "invalidateTimer");
    EXPECT_LT(timerOn, timerOff);
    EXPECT_LE(timerOff, seen.end() - tail.size());
    expectTreeCompleteLast();
}

// Each row of the wizard's table, new and resumed, ends with one final post, and runs its search.
TEST_F(ScanThreads, EveryWizardRowEndsWithOneFinalPost) {
    fs::path img = testsupport::copyOfReadyImage("hfsplus.raw");
    Array types{};
    using E = ScanThread::Entry;
    struct Row {
        const char* name;
        E entry;
        Array args;
        const char* content = "Apple_HFS";
    };
    const std::vector<Row> rows = {
        {"mode 0", E::DeletedFiles, Array{1, 0}},
        {"mode 1", E::DeletedFiles, Array{1, 1, types, 0}},
        {"mode 1 resumed", E::DeletedFiles, Array{1, 1, types, 0, 4096ull, "auto"}},
        {"mode 2", E::DeletedFiles, Array{0, 1, types, 1}},
        {"mode 2 resumed", E::DeletedFiles, Array{0, 1, types, 1, 4096ull, "auto"}},
        {"mode 3", E::DeletedFilesDisk, Array{types, 1}},
        {"mode 3 resumed", E::DeletedFilesDisk, Array{types, 0, 4096ull, "auto"}},
        {"mode 4", E::MakingTree, Array{"Normal Scan", 1, types}},
        {"mode 4 resumed", E::MakingTree, Array{"Normal Scan", 1, types, 4096ull, "auto"}},
        {"mode 5", E::MakingTree, Array{"Normal Scan", 0}},
        {"FAT search only", E::DeletedFiles, Array{0, 1, types, 0}, "FAT32"},
        {"exFAT", E::DeletedFiles, Array{1, 1, types, 1}, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"},
        {"APFS", E::DeletedFiles, Array{1, 0}, "APFS"},
        {"unknown content", E::DeletedFiles, Array{1, 0}, "Linux"},
        {"method -1", E::DeletedFilesDisk, Array{types, -1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        controller.clear();
        logs.clear();
        auto v = volumeFor(img, row.content);
        ScanThread t(v);
        if (row.entry == E::MakingTree)
            t.startMakingTree(row.args);
        else if (row.entry == E::DeletedFiles)
            t.scanForDeletedFiles(row.args);
        else
            t.scanForDeletedFilesDisk(row.args);
        expectTreeCompleteLast();
        EXPECT_NE(v->dirRoot, nullptr);
        EXPECT_EQ(v->autoCrashRecovery.load(), row.args.back().stringValue() == "auto");
        const bool disk = row.entry == E::DeletedFilesDisk;
        const bool asked = disk || (row.entry == E::DeletedFiles && row.args.size() > 3);
        const std::int64_t method = !asked ? -1 : row.args[disk ? 1 : 3].int64Value();
        // Every search, plain or carving, hands over to the snapshot first.
        EXPECT_EQ(called("rawScanStarted:"),
                  method == 0 || method == 1 || (row.entry == E::MakingTree && row.args.size() > 2));
    }
}

TEST_F(ScanThreads, FatScanWithoutDeletedFlagStillRunsTheFileSystemStep) {
    ScanThread(volumeFor(zeroImage(1 << 20), "FAT16")).scanForDeletedFiles(Array{0, 1, Array{}, 0});
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "!Volume corrupted");
    expectTreeCompleteLast();
    EXPECT_TRUE(called("invalidateTimer"));
}

// A resumed search passes over the streams the interrupted one walked; a new scan starts without them.
TEST_F(ScanThreads, ResumedTreeScanRunsNoFileSystemStepAndKeepsItsTreeAndItsSearchsStreams) {
    auto v = volumeFor(testsupport::copyOfReadyImage("hfsplus.raw"), "Apple_HFS");
    NewDir* restored = v->createRoot();
    auto search = std::make_shared<SignatureSearchState>();
    search->mp3DoneArray.add(40), search->mpgDoneArray.add(50);
    ScanThread(v, search).startMakingTree(Array{"Normal Scan", 1, Array{}, 100ull, "auto"});
    EXPECT_EQ(v->dirRoot, restored);
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 0u); // only the restored root: the catalog was not read again
    expectTreeCompleteLast();
    EXPECT_TRUE(search->mp3DoneArray.contains(40) && search->mpgDoneArray.contains(50));
    v->freeTree();
    ScanThread(v, search).startMakingTree(Array{"Normal Scan", 1, Array{}});
    EXPECT_TRUE(search->mp3DoneArray.empty() && search->mpgDoneArray.empty());
}

TEST_F(ScanThreads, StopFlagEndsTheScanEarlyButCleanUpAndFinalPostRun) {
    const auto iso = testsupport::xorrisoImage();
    if (!iso) GTEST_SKIP() << "xorriso image not made";
    auto full = volumeFor(iso.path, "Apple_HFS", iso.start);
    ScanThread(full).startMakingTree(Array{"Normal Scan", 0});
    std::uint32_t fullCount = full->dirRoot ? full->dirRoot->childrenCount : 0;
    controller.clear();
    auto v = volumeFor(iso.path, "Apple_HFS", iso.start);
    // The user presses Stop once the catalog reading has started.
    controller.setCallObserver([v](const RecordingController::Call& c) {
        if (c.name == "setUpTimer") v->setStopTreeThread(true);
    });
    ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
    controller.setCallObserver(nullptr);
    ASSERT_NE(v->dirRoot, nullptr);
    EXPECT_LT(v->dirRoot->childrenCount, fullCount);
    EXPECT_TRUE(called("rawScanCompleted"));
    expectTreeCompleteLast();
}

TEST_F(ScanThreads, TreeScanCarvesAPFSAndExFATSectorBySectorAndSaysWhenNothingCanRun) {
    // The volume driver needs a block size, which nothing gives either.
    for (const char* content : {"41504653-0000-11AA-AA11-00306543ECAC", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"}) {
        auto v = keep(volumeFor(zeroImage(1 << 20), content));
        ScanThread(v).startMakingTree(Array{"Advanced Scan", 1, Array{}});
        EXPECT_EQ(v->totalBlocks, v->sizeInSect()) << content;
    }
    EXPECT_FALSE(logged("block size is not known"));
    EXPECT_TRUE(controller.alerts().empty());
    // No file system to rebuild and nothing to search for: it says why.
    auto exfat = keep(volumeFor(zeroImage(1 << 20), "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"));
    ScanThread exfatScan(exfat);
    exfatScan.startMakingTree(Array{"Advanced Scan", 0});
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "!Can not process");
    EXPECT_TRUE(exfatScan.aborting() && called("destroyVolumeAndBackToPartList"));
}

// A disk that fails one node of the small xorriso volume's catalog, its index root or its first leaf: the normal scan
// counts the node's sectors and notes the node lost. Both scans find the files below the folders the leaf held: the
// normal scan places those folders in "Lost Folders", as the advanced scan does.
TEST_F(ScanThreads, CatalogNodesTheDiskWillNotGiveAreCountedAndNoted) {
    const auto image = testsupport::smallXorrisoImage();
    if (!image) GTEST_SKIP() << "xorriso is missing";
    auto scanned = [&](const char* mode, const testsupport::FailingReads* disk) {
        auto v = volumeFor(image.path, "Apple_HFS", image.start);
        if (disk) v->setRawRead(disk->reader(), {}, disk->pastEveryCacheReader());
        ScanThread(v).startMakingTree(Array{mode, 0});
        return v;
    };
    auto files = [](const Volume& v) {
        std::size_t count = 0;
        newdir::preOrder(v.dirRoot, newdir::childList, newdir::anyChild,
                         [&](const NewDir* n) { count += !n->isFolder(); });
        return count;
    };
    const auto sound = scanned("Normal Scan", nullptr);
    EXPECT_EQ(files(*sound), 33u);
    EXPECT_FALSE(sound->catalogNodesUnread);
    for (const std::uint32_t node : {sound->catRootNode, sound->firstLeafNode}) {
        testsupport::FailingReads disk;
        disk.failSectors(testsupport::catalogNodeSector(*sound, node), 8);
        const auto normal = scanned("Normal Scan", &disk);
        EXPECT_EQ(normal->unreadableSectorCount(), 8u) << node;
        EXPECT_TRUE(normal->catalogNodesUnread) << node;
        if (node == sound->firstLeafNode) {
            EXPECT_GT(files(*normal), 0u);
            EXPECT_EQ(files(*scanned("Advanced Scan", &disk)), files(*normal));
        }
    }
}

// A volume no row takes whose first sectors fail is not called a volume of another kind, in the tree scan and in the
// deleted-file scan alike; with them readable the tree scan says what it always said, and the deleted-file scan ends
// quietly with an empty tree.
TEST_F(ScanThreads, AContentNoRowTakesWithUnreadableFirstSectorsSaysTheySoInBothScans) {
    const fs::path image = zeroImage(4 << 20);
    for (const bool failing : {false, true})
        for (const bool deletedFileScan : {false, true}) {
            SCOPED_TRACE(std::string(failing ? "failing" : "sound") + (deletedFileScan ? " deleted" : " tree"));
            controller.clear();
            testsupport::FailingReads disk;
            if (failing) disk.failSectors(2);
            auto v = volumeFor(image, "-");
            v->setRawRead(disk.reader(), {}, disk.pastEveryCacheReader());
            ScanThread scan(v);
            if (deletedFileScan)
                scan.scanForDeletedFiles(Array{1, 0});
            else
                scan.startMakingTree(Array{"Normal Scan", 0});
            const auto alerts = controller.alerts();
            const std::size_t expected = failing || !deletedFileScan ? 1 : 0;
            ASSERT_EQ(alerts.size(), expected);
            if (expected) {
                EXPECT_EQ(alerts[0].message.starts_with("The first sectors of this volume could not be read"), failing);
            }
            EXPECT_EQ(v->unreadableSectorCount(), failing ? 1u : 0u);
            expectTreeCompleteLast();
        }
}

// A photo carving of a disk with bad sectors, cut off part-way as a killed program leaves it and resumed from its
// pair: its end counts every sector the whole scan lost, once, though the interrupted part had read past its
// checkpoint and lost a sector there that the resumed part loses again. A pair of an earlier time, without the count,
// still resumes and counts what the resumed part lost.
TEST_F(ScanThreads, AResumedCarvingCountsTheSectorsItsInterruptedPartLostOnce) {
    const fs::path state = testsupport::makeTempDir("resume-state");
    ::setenv("DRENTIC_STATE_DIR", state.c_str(), 1);
    constexpr std::uint64_t kCutAt = 70000;
    const fs::path image = zeroImage(64 << 20);
    // Listed: a failed read is a bad sector, not a drive that has gone.
    controller.setDriveDictArray(Array{Dict{{"Path", image.string()}}});
    testsupport::FailingReads bad;
    for (const std::uint64_t sector : {1000, 30000, 69000, 100000})
        bad.failSectors(sector);

    auto interrupted = volumeFor(image, "Apple_HFS");
    interrupted->createRoot();
    std::string error;
    AutoRecoveryState pair;
    pair.volume = interrupted;
    ASSERT_EQ(AutoRecoverySnapshot::saveScanInfoAutoRecovery(state.string(), pair, {}, &error),
              AutoRecoverySnapshot::Saved::Written)
        << error;
    // Cut off once its reading reaches kCutAt, as by a kill: the pair is left as it was then.
    Volume* cut = interrupted.get();
    interrupted->setRawRead(
        [cut, read = bad.reader()](int fd, std::uint8_t* into, std::size_t length, std::uint64_t offset) {
            if (offset + length > kCutAt * 512) cut->setStopTreeThread(true);
            return read(fd, into, length, offset);
        });
    ScanThread(interrupted).scanForDeletedFilesDisk(Array{Array{}, 1});
    ASSERT_EQ(interrupted->unreadableSectorsIn(69000, 1), 1u);

    const fs::path old = testsupport::makeTempDir("resume-old");
    for (const char* name : {AutoRecoverySnapshot::kDataFile, AutoRecoverySnapshot::kInfoFile})
        fs::copy_file(state / name, old / name);
    fs::resize_file(old / AutoRecoverySnapshot::kInfoFile, 8);
    for (const auto& [folder, lost] : {std::pair{state, 4u}, std::pair{old, 2u}}) {
        ::setenv("DRENTIC_STATE_DIR", folder.c_str(), 1);
        auto read = AutoRecoverySnapshot::openScanInfoAutoRecovery(folder.string(), &error);
        ASSERT_TRUE(read && read->autoRecBeginSize) << error;
        // Past the first two bad sectors, short of the third.
        ASSERT_GT(*read->autoRecBeginSize, 30000u);
        ASSERT_LT(*read->autoRecBeginSize, 69000u);
        auto resumed = keep(read->volume);
        resumed->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
        ScanThread(resumed).scanForDeletedFilesDisk(Array{Array{}, 1, *read->autoRecBeginSize, "auto"});
        EXPECT_EQ(resumed->unreadableSectorsIn(0, 30001), 0u);
        EXPECT_EQ(resumed->scanUnreadableSectorCount(), lost) << folder;
    }
    ::unsetenv("DRENTIC_STATE_DIR");
}

// Files found on sectors the scan could not read, whatever measured them: a movie whose walk jumps its media data by
// its length, carved from a disk with a run unreadable far inside those data, where the carving reads only after it
// listed the movie, and the same movie as a file of a FAT volume, which the normal scan lists from its directory
// without reading it and then searches the volume. Each is marked "Bad" once the scan ends, while a photo before it,
// on sectors that read, is not. A run that meets no file, or none at all, marks nothing.
TEST_F(ScanThreads, FilesOnSectorsTheScanCouldNotReadAreMarkedBadWhateverMeasuredThem) {
    for (const char* tool : {"convert", "ffmpeg", "mkfs.vfat", "mcopy"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << tool << " is missing";
    const std::string photo = testsupport::toolSample(
        "convert -seed " + testsupport::sampleSeed(11) + " -size 320x240 plasma: -strip \"$OUT\"", "jpg");
    // Movies of some 20 MB, as noise barely compresses.
    std::map<std::string, std::string> movies;
    for (const char* extension : {"mp4", "mov"})
        movies[extension] = testsupport::toolSample(
            "ffmpeg -v error -f lavfi -i " + testsupport::sampleVideo("size=640x480:rate=25:duration=6") +
                ",noise=alls=80:allf=t+u -threads 1 -c:v mpeg4 -q:v 1 -fflags +bitexact \"$OUT\"",
            extension);
    // Where a movie's media data end.
    const auto mediaDataEnd = [](const std::string& bytes) -> std::uint64_t {
        const std::size_t at = bytes.find("mdat");
        if (at < 4 || at == std::string::npos) return 0;
        const platform::ByteView view(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        return at - 4 + view.be32(at - 4);
    };
    // The run lies well past what the carving reads ahead of the sector where it finds the movie.
    constexpr std::uint64_t kPhotoAt = 2048, kMovieAt = 4096, kBadSectors = 32,
                            kBadInside = 4 * BlockSearchEngine::kWindowBytes;
    enum class Scan { DiskCarving, FATNormalScanSearching };
    enum class Bad { None, InsideTheMovie, BetweenTheFiles };
    struct Case {
        const char* movie;
        Scan scan;
        Bad bad;
    };
    const Case cases[] = {
        {"mp4", Scan::DiskCarving, Bad::InsideTheMovie},
        {"mov", Scan::DiskCarving, Bad::InsideTheMovie},
        {"mp4", Scan::FATNormalScanSearching, Bad::InsideTheMovie},
        {"mp4", Scan::DiskCarving, Bad::BetweenTheFiles},
        {"mp4", Scan::DiskCarving, Bad::None},
        {"mp4", Scan::FATNormalScanSearching, Bad::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.movie) + ", scan " + std::to_string(static_cast<int>(c.scan)) + ", bad " +
                     std::to_string(static_cast<int>(c.bad)));
        const std::string& video = movies[c.movie];
        ASSERT_GT(mediaDataEnd(video), kBadInside + kBadSectors * 512) << "the movie's media data are too small";
        // The photo and the movie on a disk of zeros, or copied onto a FAT volume: where each begins.
        fs::path image;
        std::string content;
        if (c.scan == Scan::FATNormalScanSearching) {
            const fs::path dir = testsupport::makeTempDir("bad-marks");
            testsupport::writeText(dir / "photo.jpg", photo);
            testsupport::writeText(dir / "movie.bin", video);
            image = testsupport::mkfsVfat(dir, "-F 16 -s 4", "65536");
            testsupport::mtools(image, "mcopy",
                                testsupport::shellQuote((dir / "photo.jpg").string()) + " " +
                                    testsupport::shellQuote((dir / "movie.bin").string()) + " ::/");
            content = "FAT16";
        } else {
            image = zeroImage(48 << 20);
            testsupport::writeAt(image, kPhotoAt * 512, {photo.begin(), photo.end()});
            testsupport::writeAt(image, kMovieAt * 512, {video.begin(), video.end()});
        }
        // Each is told by its first sector.
        const std::string disk = testsupport::readText(image);
        const std::uint64_t photoAt = disk.find(photo.substr(0, 512)) / 512,
                            movieAt = disk.find(video.substr(0, 512)) / 512;
        ASSERT_TRUE(photoAt * 512 < disk.size() && movieAt * 512 < disk.size());
        testsupport::FailingReads failing;
        if (c.bad == Bad::InsideTheMovie) failing.failSectors(movieAt + kBadInside / 512, kBadSectors);
        if (c.bad == Bad::BetweenTheFiles) failing.failSectors((photoAt + movieAt) / 2, kBadSectors);
        controller.clear();
        auto v = volumeFor(image, content);
        v->setRawSearchStart(0, 100);
        v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
        const std::set<std::string> found{"jpg", c.movie};
        if (c.scan == Scan::DiskCarving)
            ScanThread(v).scanForDeletedFilesDisk(Array{testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, found), 1});
        else
            ScanThread(v).startMakingTree(
                Array{"Normal Scan", 1, testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, {"jpg"})});
        EXPECT_EQ(v->unreadableSectorCount() != 0, c.bad != Bad::None);
        std::map<std::uint64_t, bool> bad; // first device sector of each file, marked Bad
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
            if (!node->isFolder() && !node->extents.empty())
                bad[v->HPlusVolStart() + testsupport::firstSector(*node)] = node->complete == NewDir::kDamaged;
        ASSERT_TRUE(bad.count(photoAt) && bad.count(movieAt));
        EXPECT_FALSE(bad[photoAt]);
        EXPECT_EQ(bad[movieAt], c.bad == Bad::InsideTheMovie);
        EXPECT_EQ(std::count_if(bad.begin(), bad.end(), [](const auto& b) { return b.second; }),
                  c.bad == Bad::InsideTheMovie ? 1 : 0);
        expectTreeCompleteLast();
        freeVolumes();
    }
}
