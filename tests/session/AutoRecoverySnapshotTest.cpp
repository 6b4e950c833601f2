#include "session/AutoRecoverySnapshot.h"

#include "carving/AutoRecoveryFiles.h"
#include "session/PrivilegedHelper.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClassUInt32.h"

#include <csignal>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::Array;
using platform::Dict;

namespace {

// Puts the checks' own reader back however a test that changed it ends.
struct RawReadsReset {
    ~RawReadsReset() { SessionMediumCheck::setRawReadFor({}); }
};

class AutoRecoverySnapshotTest : public testsupport::ScanFixture {
protected:
    fs::path dir = testsupport::makeTempDir("snapshot");
    std::shared_ptr<Volume> volume;
    std::string error;

    NewDir* add(NewDir* parent, const char16_t* name, std::uint16_t kind, std::uint64_t size, std::uint32_t at) {
        NewDir* n = newdir::allocate();
        n->fileType = kind, n->fileSize = size, n->pndirPointer = parent, n->sectorsPerBlock = 1;
        newdir::setFileName(n, name);
        if (kind == NewDir::Folder) newdir::setPathBelow(n, parent);
        if (size) newdir::appendDataExtent(n, at, 2), newdir::appendDataExtent(n, at + 5, 1);
        newdir::appendChild(parent, n);
        return n;
    }
    // Root { Docs { a.txt }, b.bin } with two marked types, a first-block
    // index over several nodes and both sector lists, from the partition
    // search's list.
    AutoRecoveryState state() {
        volume = keep(testsupport::volumeOver(testsupport::patternImage(64)));
        NewDir* root = volume->createRoot();
        add(add(root, u"Docs", NewDir::Folder, 0, 0), u"a.txt", NewDir::File, 700, 3);
        add(root, u"b.bin", NewDir::File, 9, 20);
        volume->fileCount = 2, volume->folderCount = 1, volume->entryCount = 3, volume->dataSize = 709;
        volume->btreeFirstFileBlock = std::make_unique<BTreeTableClassUInt32>();
        for (std::uint64_t key : {50, 10, 90, 30, 70, 20, 80, 40, 60})
            volume->btreeFirstFileBlock->insert(std::make_unique<ItemTypeUInt32>(key));
        volume->btreeFirstFileBlock->insert(std::make_unique<ItemTypeUInt32>(UINT64_MAX));
        AutoRecoveryState s{
            volume,         "Searching", 1,  3,  4, 1, Array{Dict{{"Path", "/dev/a"}}}, Array{Dict{{"Path", "/dev/b"}}},
            {"jpg", "png"}, {},          {}, {}, {}};
        for (std::uint64_t sector : {7, 9, 8})
            s.mp3DoneArray.add(sector);
        s.mpgDoneArray.add(100);
        return s;
    }
    AutoRecoverySnapshot::Saved save(const AutoRecoveryState& s, const std::vector<std::string>& media = {}) {
        return AutoRecoverySnapshot::saveScanInfoAutoRecovery(dir.string(), s, media, &error);
    }
    // What a search appends: its folder under the root, then files in it,
    // then its position.
    void appendAsTheSearchDoes(int files = 3) {
        AutoRecoveryFiles pair(dir.string(), {volume->path()});
        NewDir* jpgFolder = add(volume->dirRoot, u"JPG Files", NewDir::Folder, 0, 0);
        pair.writeDir(jpgFolder);
        for (int i = 1; i <= files; ++i) {
            const std::u16string name = u"File" + std::u16string(1, char16_t(u'0' + i)) + u".jpg";
            pair.writeDir(add(jpgFolder, name.c_str(), NewDir::File, 1000u * i, 30u + 10u * i));
            pair.recordsWritten();
        }
        pair.checkpoint(1234, 1234, 0, std::nullopt);
    }
    std::optional<AutoRecoveryState> read() {
        auto s = AutoRecoverySnapshot::openScanInfoAutoRecovery(dir.string(), &error);
        if (s) keep(s->volume);
        return s;
    }
    // Every node's kind, a file's size and extents, by path.
    static std::map<std::string, std::string> shape(const NewDir* root) {
        std::map<std::string, std::string> out;
        for (const auto& [path, n] : testsupport::nodesByPath(root)) {
            std::string& s = out[path] =
                std::to_string(n->fileType) + " " + std::to_string(n->isFolder() ? 0 : n->fileSize);
            for (const ExtP& e : n->extents)
                s += " " + std::to_string(e.startBlock) + "+" + std::to_string(e.blockCount);
        }
        return out;
    }
};

} // namespace

TEST_F(AutoRecoverySnapshotTest, ASnapshotWithTheRecordsASearchAppendedReadsBackAsTheScanStoodWhenItWasCutOff) {
    const AutoRecoveryState saved = state();
    ASSERT_EQ(save(saved, {volume->path()}), AutoRecoverySnapshot::Saved::Written) << error;
    // No checkpoint yet and nothing lost, then the medium's identity.
    const std::vector<std::uint8_t> info = testsupport::readBytes(dir / AutoRecoverySnapshot::kInfoFile);
    ASSERT_GT(info.size(), 24u);
    EXPECT_EQ(std::vector<std::uint8_t>(info.begin(), info.begin() + 24), std::vector<std::uint8_t>(24, 0));
    appendAsTheSearchDoes();

    auto s = read();
    ASSERT_TRUE(s);
    const Volume& r = *s->volume;
    EXPECT_EQ(shape(r.dirRoot), shape(volume->dirRoot));
    EXPECT_EQ(std::tuple(r.fileCount, r.folderCount, r.entryCount, r.dataSize), std::tuple(5u, 2u, 7u, 6709ull));
    EXPECT_EQ(std::tuple(r.dirRoot->fileCount, r.dirRoot->childrenCount, r.openedScanInfo), std::tuple(5u, 7u, false));
    EXPECT_EQ(r.btreeFirstFileBlock->numItems(), 9);
    for (std::uint64_t key = 10; key <= 90; key += 10)
        EXPECT_TRUE(r.btreeFirstFileBlock->retrieveKeyField(key)) << key;
    EXPECT_EQ(std::tuple(s->mp3DoneArray.inOrder(), s->mpgDoneArray.inOrder()),
              std::tuple(std::vector<std::uint64_t>{7, 9, 8}, std::vector<std::uint64_t>{100}));
    EXPECT_EQ(s->autoRecSigExtArray, (std::vector<std::string>{"jpg", "png"}));
    EXPECT_EQ(std::tuple(s->mainScanStatus, s->treeScanMode, s->scanMode, s->rawSearchMode,
                         s->isPTListOrPTScanListChosen, s->autoRecBeginSize),
              std::tuple(std::string("Searching"), 1, 3, 4, 1, std::optional<std::uint64_t>(1234)));
    EXPECT_EQ(s->partitionScanListDictArray[0].dictValue().get("Path").stringValue(), "/dev/b");
    EXPECT_EQ(r.path(), volume->path());
}

TEST_F(AutoRecoverySnapshotTest, ASnapshotCutAnywhereRestoresNothingOrAWholeTreeWithAPrefixOfTheAppendedRecords) {
    ASSERT_EQ(save(state()), AutoRecoverySnapshot::Saved::Written);
    const std::size_t snapshotEnd = testsupport::readBytes(dir / AutoRecoverySnapshot::kDataFile).size();
    appendAsTheSearchDoes();
    const std::vector<std::uint8_t> whole = testsupport::readBytes(dir / AutoRecoverySnapshot::kDataFile);
    const fs::path cut = testsupport::makeTempDir("cut");
    std::size_t lastFiles = 0, lastRecords = 0;
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        testsupport::writeText(cut / AutoRecoverySnapshot::kDataFile,
                               std::string(whole.begin(), whole.begin() + length));
        auto s = AutoRecoverySnapshot::openScanInfoAutoRecovery(cut.string(), &error);
        ASSERT_EQ(s.has_value(), length >= snapshotEnd) << length;
        if (!s) continue;
        const NewDir* folder = testsupport::nodeAt(s->volume->dirRoot, "JPG Files");
        const std::size_t files = folder ? folder->childrenArrayCount() : 0;
        EXPECT_GE(files, lastFiles) << length;
        for (std::size_t i = 0; i < files; ++i)
            EXPECT_EQ(folder->childList[i]->texts.name(), u"File" + std::u16string(1, char16_t(u'1' + i)) + u".jpg");
        EXPECT_EQ(s->volume->fileCount, 2 + files) << length;
        // Without an Info file there is no checkpoint, unless a cut record
        // sends the search back to where the whole ones end.
        const std::size_t records = files + (folder != nullptr);
        const bool cutInRecord = records == lastRecords && length != snapshotEnd;
        const std::optional<std::uint64_t> expected =
            cutInRecord ? std::optional<std::uint64_t>(AutoRecoveryState::kRecordsCut) : std::nullopt;
        EXPECT_EQ(s->autoRecBeginSize, expected) << length;
        // Cut inside the last file's second extent: the file goes, to be found again.
        if (length == whole.size() - 4) {
            EXPECT_EQ(files, 2u);
        }
        lastFiles = files;
        lastRecords = records;
        s->volume->freeTree();
    }
    EXPECT_EQ(lastFiles, 3u);
}

// The file a carving held open across its checkpoint reads back as the resumed volume's, none when it held none; an
// Info file of an earlier time, which goes on with the medium's identity, and one cut inside the held file's part read
// back with none, the earlier one with its identity.
TEST_F(AutoRecoverySnapshotTest, TheFileACarvingHeldOpenAcrossItsCheckpointReadsBackAndAnInfoFileWithoutOneHoldsNone) {
    const fs::path disk = testsupport::patternImage(3300);
    struct Row {
        const char* name;
        std::optional<std::uint64_t> held;
        // The Info file's bytes from 24 on to drop, and to what length it is cut then (0: not cut).
        std::size_t dropped;
        std::size_t cutTo;
        std::optional<std::uint64_t> read;
        bool identity;
    };
    for (const Row& row : {Row{"held", 19950, 0, 0, 19950, true}, Row{"none held", std::nullopt, 0, 0, {}, true},
                           Row{"of an earlier time", 19950, 16, 0, {}, true},
                           Row{"cut inside the held file's part", 19950, 0, 36, {}, false}}) {
        SCOPED_TRACE(row.name);
        AutoRecoveryState saved;
        saved.volume = volume = keep(testsupport::volumeOver(disk));
        volume->createRoot();
        ASSERT_EQ(save(saved), AutoRecoverySnapshot::Saved::Written) << error;
        AutoRecoveryFiles(dir.string(), {}).checkpoint(20000, 20000, 0, row.held);
        const fs::path info = dir / AutoRecoverySnapshot::kInfoFile;
        std::vector<std::uint8_t> bytes = testsupport::readBytes(info);
        ASSERT_GT(bytes.size(), 40u);
        bytes.erase(bytes.begin() + 24, bytes.begin() + 24 + static_cast<std::ptrdiff_t>(row.dropped));
        if (row.cutTo != 0) bytes.resize(row.cutTo);
        testsupport::writeText(info, std::string(bytes.begin(), bytes.end()));
        auto s = read();
        ASSERT_TRUE(s) << error;
        EXPECT_EQ(s->autoRecBeginSize, std::optional<std::uint64_t>(20000));
        EXPECT_EQ(s->volume->heldFileBeforeResume, row.read);
        ASSERT_TRUE(s->medium);
        EXPECT_EQ(s->medium->samples.size(), row.identity ? 38u : 0u);
    }
}

TEST_F(AutoRecoverySnapshotTest, ModesOutOfRangeComeBackAsMinusOneAndNoPartitionListIsRead) {
    AutoRecoveryState s = state();
    s.treeScanMode = 7, s.isPTListOrPTScanListChosen = 2;
    ASSERT_EQ(save(s), AutoRecoverySnapshot::Saved::Written);
    auto r = read();
    ASSERT_TRUE(r);
    EXPECT_EQ(std::tuple(r->treeScanMode, r->rawSearchMode, r->isPTListOrPTScanListChosen,
                         r->partitionListDictArray.size(), r->autoRecSigExtArray.size()),
              std::tuple(-1, 4, -1, 0u, 2u));
}

TEST_F(AutoRecoverySnapshotTest, AnAppendedRecordWhoseFolderIsUnknownIsDroppedAndNotCounted) {
    ASSERT_EQ(save(state()), AutoRecoverySnapshot::Saved::Written);
    NewDir* unsaved = newdir::allocate();
    unsaved->fileType = NewDir::Folder;
    NewDir* orphan = add(unsaved, u"orphan.jpg", NewDir::File, 5, 1);
    AutoRecoveryFiles(dir.string(), {}).writeDir(orphan);
    appendAsTheSearchDoes(1);
    auto r = read();
    newdir::freeNDir(unsaved);
    ASSERT_TRUE(r);
    EXPECT_FALSE(testsupport::nodeAt(r->volume->dirRoot, "orphan.jpg"));
    EXPECT_TRUE(testsupport::nodeAt(r->volume->dirRoot, "JPG Files/File1.jpg"));
    EXPECT_EQ(std::tuple(r->volume->fileCount, r->volume->entryCount), std::tuple(3u, 5u));
}

TEST_F(AutoRecoverySnapshotTest, ASnapshotThatCannotBeWrittenWholeLeavesNoPair) {
    // The file-size limit makes the first write past 100 bytes fail.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{}, small{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    small = {100, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto saved = save(state());
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(saved, AutoRecoverySnapshot::Saved::WriteFailed);
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(AutoRecoverySnapshotTest, TheMediumBeingScannedIsNeverTakenForTheSnapshot) {
    const fs::path medium = dir / AutoRecoverySnapshot::kDataFile;
    testsupport::writeText(medium, "the scanned image");
    EXPECT_EQ(save(state(), {medium.string()}), AutoRecoverySnapshot::Saved::CannotCreate);
    EXPECT_EQ(testsupport::readText(medium), "the scanned image");
    EXPECT_FALSE(AutoRecoverySnapshot::pairExists(dir.string()));
}

// A disk whose last sector, one of the spread samples or sector 3 (alone, or its whole page through the page cache)
// cannot be read when the snapshot is written, when the scan resumes, or both, resumes on itself, each unreadable
// sample costing one failed read, as each is asked for alone past the cache; a disk of the
// same size with other content, one with the same first sectors, and a blank one are refused though they fail the
// same sector. A snapshot of an earlier time, with one digest over all the samples and no lost count, still resumes.
TEST_F(AutoRecoverySnapshotTest, AFailingDiskResumesOnItselfAndNoOtherDiskDoes) {
    constexpr std::uint64_t kSectors = 3300; // samples 0-4, every 100th and 3299
    const fs::path disk = testsupport::patternImage(kSectors);
    const auto [other, twin] = testsupport::impostorsOf(disk, kSectors);
    const fs::path blank = testsupport::zeroImage(kSectors * 512);
    Array rows;
    for (const fs::path& candidate : {blank, other, twin, disk})
        rows.push_back(Dict{{"Path", candidate.string()}, {"Preferred Block Size", 512}});
    // Listed: a failed read is a bad sector, not a drive that has gone.
    controller.setDriveDictArray(rows);

    enum When { Kept = 1, Resumed = 2, Both = 3 };
    const RawReadsReset reset;
    for (const auto& [place, wholePages] :
         {std::pair{kSectors - 1, false}, {std::uint64_t{1700}, false}, {std::uint64_t{3}, false}, {3, true}})
        for (const When when : {Kept, Resumed, Both}) {
            SCOPED_TRACE(std::to_string(place) + (wholePages ? " page " : " ") + std::to_string(when));
            testsupport::FailingReads kept, resumed;
            if (when & Kept) kept.failSectors(place);
            if (when & Resumed) resumed.failSectors(place);
            if (wholePages) kept.failWholePagesThroughTheCache(), resumed.failWholePagesThroughTheCache();
            // Every candidate fails the sector at the resume; in a pair of an earlier time only the disk.
            const testsupport::FailingReads* now = &kept;
            bool everyCandidate = true;
            SessionMediumCheck::setRawReadFor([&](const std::string& device) {
                return everyCandidate || device == disk.string() ? now->reader() : DMedia::RawRead();
            });
            AutoRecoveryState saved;
            saved.volume = volume = keep(testsupport::volumeOver(disk));
            volume->createRoot();
            ASSERT_EQ(save(saved), AutoRecoverySnapshot::Saved::Written) << error;
            EXPECT_EQ(kept.failedReads(), when & Kept ? 1u : 0u);

            auto s = read();
            ASSERT_TRUE(s && s->medium);
            EXPECT_EQ(s->medium->samples.size(), 38u);
            for (const MediumIdentity::Sample& sample : s->medium->samples)
                EXPECT_EQ(sample.digest.has_value(), sample.sector != place || !(when & Kept)) << sample.sector;
            now = &resumed;
            const auto found = SessionMediumCheck::findSnapshotMedium(*s->volume, *s->medium, rows, {});
            EXPECT_EQ(std::tuple(found.notConnected, found.path), std::tuple(false, disk.string()));
            // Once on each of the four candidates.
            EXPECT_EQ(resumed.failedReads(), when & Resumed ? 4u : 0u);
            // The resumed search's snapshot keeps the identity its medium was just found by, as read, and asks the
            // disk nothing.
            ASSERT_TRUE(found.identity);
            EXPECT_EQ(found.identityDevice, disk.string());
            AutoRecoveryState goingOn;
            goingOn.volume = volume;
            goingOn.medium = found.identity;
            const fs::path elsewhere = testsupport::makeTempDir("snapshot-resumed");
            ASSERT_EQ(AutoRecoverySnapshot::saveScanInfoAutoRecovery(elsewhere.string(), goingOn, {}, &error),
                      AutoRecoverySnapshot::Saved::Written)
                << error;
            EXPECT_EQ(resumed.failedReads(), when & Resumed ? 4u : 0u);
            const auto written = AutoRecoverySnapshot::openScanInfoAutoRecovery(elsewhere.string(), &error);
            ASSERT_TRUE(written && written->medium) << error;
            EXPECT_EQ(written->medium->samples, found.identity->samples);
            keep(written->volume);
            if (when != Resumed) continue;

            // The same pair as a program of an earlier time leaves it.
            fs::resize_file(dir / AutoRecoverySnapshot::kInfoFile, 8);
            auto old = read();
            ASSERT_TRUE(old && old->medium && old->medium->samples.empty() && old->medium->wholeDigest);
            EXPECT_FALSE(old->volume->lostBeforeResume);
            everyCandidate = false;
            for (const testsupport::FailingReads* failing : {&kept, &resumed}) {
                now = failing;
                const auto again = SessionMediumCheck::findSnapshotMedium(*old->volume, *old->medium, rows, {});
                EXPECT_EQ(std::tuple(again.notConnected, again.path), std::tuple(false, disk.string()));
            }
        }
}

TEST(LaunchPrivilegedHelper, TheHelperRunsWithoutArgumentsAndAMissingOneStartsNothing) {
    const fs::path dir = testsupport::makeTempDir("helper");
    EXPECT_EQ(launchPrivilegedHelperAt((dir / "missing").string()), -1);
    if (::geteuid() != 0) GTEST_SKIP() << "not root: pkexec would ask for a password";
    const fs::path helper = dir / "helper", marker = dir / "ran";
    testsupport::writeText(helper, "#!/bin/sh\necho \"$#\" > '" + marker.string() + "'\n");
    fs::permissions(helper, fs::perms::owner_all);
    ASSERT_EQ(launchPrivilegedHelperAt(helper.string()), 0);
    for (int i = 0; i < 100 && testsupport::readText(marker) != "0\n"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(testsupport::readText(marker), "0\n");
}
