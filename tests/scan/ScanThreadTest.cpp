#include "scan/ScanThread.h"

#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

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
    EXPECT_EQ(ScanThread::fileSystemForContent("Apple_HFS", true), FS::HFSPlus);
    EXPECT_EQ(ScanThread::fileSystemForContent("Apple_HFSX", false), FS::HFSPlus);
    EXPECT_EQ(ScanThread::fileSystemForContent("FAT32", false), FS::FAT);
    EXPECT_EQ(ScanThread::fileSystemForContent("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", false), FS::ExFAT);
    EXPECT_EQ(ScanThread::fileSystemForContent("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", true), FS::None);
    EXPECT_EQ(ScanThread::fileSystemForContent("APFS", false), FS::APFS);
    EXPECT_EQ(ScanThread::fileSystemForContent("41504653-0000-11AA-AA11-00306543ECAC", true), FS::APFS);
    EXPECT_EQ(ScanThread::fileSystemForContent("41504653-0000-11AA-AA11-00306543ECAC", false), FS::None);
    EXPECT_EQ(ScanThread::fileSystemForContent("Linux", true), FS::None);
}

TEST_F(ScanThreads, NormalScanWithoutHFSPlusHeaderAlertsAndStillCompletes) {
    auto v = volumeFor(zeroImage(4 << 20), "Apple_HFS");
    ScanThread(v).startMakingTree(Array{"Normal Scan", 1, Array{}});
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "!Can not process");
    EXPECT_EQ(controller.alerts()[0].message,
              "Key data structures not found. Please try Advance Scan for tree on the desired volume.");
    EXPECT_TRUE(called("destroyVolumeAndBackToPartList"));
    EXPECT_TRUE(v->aborting);
    // No search and no clean-up after the alert, but the final post follows.
    EXPECT_FALSE(called("rawScanStarted:"));
    EXPECT_FALSE(called("rawScanCompleted"));
    expectTreeCompleteLast();
}

TEST_F(ScanThreads, AdvancedScanWithoutHeaderAssumesEightSectorBlocks) {
    auto v = volumeFor(zeroImage(4 << 20), "Apple_HFS");
    ScanThread(v).startMakingTree(Array{"Advanced Scan", 0});
    EXPECT_TRUE(controller.alerts().empty());
    EXPECT_EQ(v->blockSize(), 8u);
    EXPECT_EQ(v->treeScanMode, 1);
    ASSERT_NE(v->dirRoot, nullptr);
    EXPECT_TRUE(called("rawScanCompleted"));
    expectTreeCompleteLast();
}

TEST_F(ScanThreads, NormalScanOfARealVolumeBuildsTheTreeAndCleansUp) {
    fs::path img = testsupport::copyOfReadyImage("hfsplus.raw");
    auto v = volumeFor(img, "Apple_HFS");
    ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
    EXPECT_TRUE(controller.alerts().empty());
    ASSERT_NE(v->dirRoot, nullptr);
    EXPECT_GT(v->dirRoot->childrenArrayCount(), 0u);
    // Clean-up ran: direct arrays exist and the helper indexes are gone.
    EXPECT_TRUE(v->dirRoot->childrenDirect);
    EXPECT_EQ(v->btree, nullptr);
    // The catalog reading runs under the progress timer, then the clean-up
    // reports each pass and the scan's completion, then the final post.
    std::vector<std::string> seen;
    for (const auto& c : controller.calls()) {
        std::string status = c.argument.dictValue().get("Progress Status").stringValue();
        seen.push_back(status.empty() ? c.name : c.name + " " + status);
    }
    auto timerOn = std::find(seen.begin(), seen.end(), "setUpTimer");
    auto timerOff = std::find(seen.begin(), seen.end(), "invalidateTimer");
    ASSERT_NE(timerOn, seen.end());
    ASSERT_NE(timerOff, seen.end());
    EXPECT_LT(timerOn, timerOff);
    std::vector<std::string> tail{
        "updateProgress: Rearranging tree...",        "rawScanCompleted",
        "updateProgress: Removing empty tree...",     "updateProgress: Rearranging tree (step 2)...",
        "updateProgress: Removing deleted tree...",   "updateProgress: Fixing names...",
        "updateProgress: Optimizing Tree...",         "updateProgress: Removing helper trees...",
        "updateProgress: Rearranging tree (done)...", "updateProgress: default"};
    ASSERT_GE(seen.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(seen.end() - tail.size(), seen.end()), tail);
    EXPECT_GT(timerOff, seen.begin());
    EXPECT_LT(timerOff - seen.begin(), static_cast<long>(seen.size() - tail.size()) + 1);
    expectTreeCompleteLast();
}

// Each row of the wizard's table, new and resumed: the thread ends with one
// final post; a search this build cannot run is skipped with a log line and
// never pretends to run (no snapshot hand-over).
TEST_F(ScanThreads, EveryWizardRowEndsWithOneFinalPost) {
    fs::path img = testsupport::copyOfReadyImage("hfsplus.raw");
    Array types{};
    struct Row {
        const char* name;
        ScanThread::Entry entry;
        Array args;
        const char* content;
    };
    std::vector<Row> rows = {
        {"mode 0", ScanThread::Entry::DeletedFiles, Array{1, 0}, "Apple_HFS"},
        {"mode 1", ScanThread::Entry::DeletedFiles, Array{1, 1, types, 0}, "Apple_HFS"},
        {"mode 1 resumed", ScanThread::Entry::DeletedFiles, Array{1, 1, types, 0, 4096ull, "auto"}, "Apple_HFS"},
        {"mode 2", ScanThread::Entry::DeletedFiles, Array{0, 1, types, 1}, "Apple_HFS"},
        {"mode 2 resumed", ScanThread::Entry::DeletedFiles, Array{0, 1, types, 1, 4096ull, "auto"}, "Apple_HFS"},
        {"mode 3", ScanThread::Entry::DeletedFilesDisk, Array{types, 1}, "Apple_HFS"},
        {"mode 3 resumed", ScanThread::Entry::DeletedFilesDisk, Array{types, 0, 4096ull, "auto"}, "Apple_HFS"},
        {"mode 4", ScanThread::Entry::MakingTree, Array{"Normal Scan", 1, types}, "Apple_HFS"},
        {"mode 4 resumed", ScanThread::Entry::MakingTree, Array{"Normal Scan", 1, types, 4096ull, "auto"}, "Apple_HFS"},
        {"mode 5", ScanThread::Entry::MakingTree, Array{"Normal Scan", 0}, "Apple_HFS"},
        {"FAT search only", ScanThread::Entry::DeletedFiles, Array{0, 1, types, 0}, "FAT32"},
        {"exFAT", ScanThread::Entry::DeletedFiles, Array{1, 1, types, 1}, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"},
        {"APFS", ScanThread::Entry::DeletedFiles, Array{1, 0}, "APFS"},
        {"unknown content", ScanThread::Entry::DeletedFiles, Array{1, 0}, "Linux"},
        {"method -1", ScanThread::Entry::DeletedFilesDisk, Array{types, -1}, "Apple_HFS"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        controller.clear();
        logs.clear();
        auto v = volumeFor(img, row.content);
        ScanThread t(v);
        switch (row.entry) {
        case ScanThread::Entry::MakingTree:
            t.startMakingTree(row.args);
            break;
        case ScanThread::Entry::DeletedFiles:
            t.scanForDeletedFiles(row.args);
            break;
        case ScanThread::Entry::DeletedFilesDisk:
            t.scanForDeletedFilesDisk(row.args);
            break;
        }
        expectTreeCompleteLast();
        EXPECT_FALSE(called("rawScanStarted:"));
        EXPECT_NE(v->dirRoot, nullptr);
        bool resumed = row.args.back().stringValue() == "auto";
        EXPECT_EQ(v->autoCrashRecovery.load(), resumed);
        bool searches =
            (row.entry == ScanThread::Entry::DeletedFilesDisk && row.args[1].intValue() >= 0 &&
             row.args[1].intValue() <= 1) ||
            (row.entry != ScanThread::Entry::DeletedFilesDisk && row.args.size() > 2 && row.args[1].intValue() == 1);
        if (searches) {
            EXPECT_TRUE(logged("not available in this build"));
        }
    }
}

TEST_F(ScanThreads, FatScanWithoutDeletedFlagStillRunsTheFileSystemStep) {
    auto v = volumeFor(zeroImage(1 << 20), "FAT16");
    ScanThread(v).scanForDeletedFiles(Array{0, 1, Array{}, 0});
    EXPECT_TRUE(logged("FAT file-system recovery"));
    expectTreeCompleteLast();
    EXPECT_TRUE(called("invalidateTimer"));
}

TEST_F(ScanThreads, ResumedTreeScanRunsNoFileSystemStepAndKeepsItsTree) {
    fs::path img = testsupport::copyOfReadyImage("hfsplus.raw");
    auto v = volumeFor(img, "Apple_HFS");
    NewDir* restored = v->createRoot();
    ScanThread(v).startMakingTree(Array{"Normal Scan", 1, Array{}, 100ull, "auto"});
    EXPECT_EQ(v->dirRoot, restored);
    // Only the restored root: the catalog was not read again.
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 0u);
    expectTreeCompleteLast();
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

TEST_F(ScanThreads, TreeScanCarvesAnAPFSContainerWithItsDriverAndExFATAsAnyVolume) {
    for (const char* content : {"41504653-0000-11AA-AA11-00306543ECAC", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"})
        ScanThread(keep(volumeFor(zeroImage(1 << 20), content))).startMakingTree(Array{"Normal Scan", 1, Array{}});
    EXPECT_TRUE(logged("photo and file carving of an APFS volume is not available"));
    EXPECT_TRUE(logged("photo and file carving of the volume is not available"));
    EXPECT_FALSE(logged("exFAT"));
}
