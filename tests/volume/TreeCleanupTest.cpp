#include "volume/TreeCleanup.h"

#include "support/TestSupport.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/NodePool.h"
#include "volume/Volume.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using platform::Dict;
using platform::Value;

namespace {

using testsupport::LogCapture;

// Records the controller calls; the clean-up's log lines are dropped.
struct ControllerScope : testsupport::ControllerScope {
    LogCapture quiet;
};

std::shared_ptr<Volume> makeVolume() {
    Dict d{{"WhetherVolume", Value(true)},       {"Path", Value("/dev/sdz2")},
           {"Volume Name", Value("Card")},       {"Size", Value(static_cast<unsigned long long>(1 << 30))},
           {"Preferred Block Size", Value(512)}, {"Content", Value("Apple_HFS")}};
    auto v = Volume::initWithDictionary(d);
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    return v;
}

// Attaches entries the way the readers do: the parent link is set and a
// file's size and count are added to every folder above it.
NewDir* attach(Volume& v, NewDir* parent, std::u16string_view name, std::uint16_t type) {
    NewDir* d = newdir::allocate();
    d->fileType = type;
    d->fileID = v.maxFileID++;
    d->parentID = parent->fileID;
    d->pndirPointer = parent;
    newdir::setFileName(d, name);
    v.addChildUpdateBTree(d, parent);
    return d;
}

NewDir* addFolder(Volume& v, NewDir* parent, std::u16string_view name) {
    return attach(v, parent, name, NewDir::Folder);
}

NewDir* addFile(Volume& v, NewDir* parent, std::u16string_view name, std::uint64_t size, bool deleted = false) {
    NewDir* d = attach(v, parent, name, NewDir::File);
    d->fileSize = size;
    d->deleted = deleted ? 1 : 0;
    for (NewDir* a = parent; a; a = a->pndirPointer) {
        a->fileSize += size;
        a->fileCount += 1;
        a->childrenCount += 1;
    }
    return d;
}

std::vector<std::u16string> childNames(Volume& v, NewDir* folder) {
    std::vector<std::u16string> names;
    for (std::uint32_t i = 0; i < folder->childrenArrayCount(); ++i)
        names.push_back(newdir::fileName(newdir::childAtIndex(folder, i)));
    return names;
}

std::vector<std::string> progressTexts(const platform::RecordingController& c) {
    std::vector<std::string> texts;
    for (const Value& p : c.callsNamed("updateProgress:"))
        texts.push_back(p.dictValue().get("Progress Status").stringValue());
    return texts;
}

struct Counts {
    std::uint32_t files = 0;
    std::uint32_t nodes = 0;
};
Counts countBelow(const NewDir* folder) {
    Counts c;
    for (const NewDir* child : folder->childList) {
        const Counts below = countBelow(child);
        c.files += below.files + (child->fileType == NewDir::File ? 1 : 0);
        c.nodes += below.nodes + 1;
    }
    return c;
}

// A node's running totals: size, files, entries below.
std::tuple<std::uint64_t, std::uint32_t, std::uint32_t> totals(const NewDir* d) {
    return {d->fileSize, d->fileCount, d->childrenCount};
}

// A volume with a root folder; calls to the controller are recorded.
class CleanUp : public ::testing::Test {
protected:
    void TearDown() override { v->freeTree(); }
    ControllerScope scope;
    std::shared_ptr<Volume> v = makeVolume();
};

} // namespace

TEST_F(CleanUp, MediaFilterJudgesTheLastExtensionOfTheDesignedOnesIgnoringCaseAndFoldersTakeTheSizeLeft) {
    NewDir* folder = addFolder(*v, v->dirRoot, u"Mixed");
    for (auto name : {u"clip.MPEG", u"archive.tar.gz", u"README", u"photo.Jpeg", u"video.mpeg4", u".jpg", u"x.MTS",
                      u"song.ra", u"notes.txt"})
        addFile(*v, folder, name, 100);
    TreeCleanup(*v).processDuplicateEntries(true);
    EXPECT_EQ(childNames(*v, folder), (std::vector<std::u16string>{u"clip.MPEG", u"photo.Jpeg", u"x.MTS", u"song.ra"}));
    EXPECT_EQ(folder->fileSize, 400u);
    EXPECT_EQ(v->dirRoot->fileSize, 400u);
    for (auto ext : {u"ra", u"RM", u"mts", u"jpg", u"3gp", u"3G2", u"x3f", u"k25", u"avi", u"indd", u"indt", u"indb",
                     u"tiff", u"aiff", u"mpeg", u"JPEG", u"cr2", u"raw"})
        EXPECT_TRUE(TreeCleanup::isMediaFile(ext)) << newdir::utf8(ext);
    // And every other type the photo search offers.
    for (auto ext : {u"heic", u"WebP", u"cr3", u"jxl", u"psb", u"ico"})
        EXPECT_TRUE(TreeCleanup::isMediaFile(ext)) << newdir::utf8(ext);
    for (auto ext : {u"", u"j", u"gz", u"txt", u"mpeg4", u"jpe", u"pdf", u"zip", u"jpg ", u"j\u00e9g"})
        EXPECT_FALSE(TreeCleanup::isMediaFile(ext)) << newdir::utf8(ext);
}

TEST_F(CleanUp, RemovingNonMediaFilesLowersEveryFolderAbove) {
    NewDir* a = addFolder(*v, v->dirRoot, u"A");
    NewDir* b = addFolder(*v, a, u"B");
    addFile(*v, b, u"keep.png", 5);
    addFile(*v, b, u"drop.doc", 70);
    addFile(*v, a, u"drop2.pdf", 100);
    TreeCleanup::removeNonMediaFilesAndFolders(v->dirRoot);
    EXPECT_EQ(totals(b), std::tuple(5u, 1u, 1u));
    EXPECT_EQ(std::tuple(a->fileSize, a->fileCount), std::tuple(5ull, 1u));
    EXPECT_EQ(std::tuple(v->dirRoot->fileSize, v->dirRoot->fileCount), std::tuple(5ull, 1u));
    EXPECT_EQ(a->childrenArrayCount(), 1u);
}

TEST_F(CleanUp, RemovalLowersTheTotalsAlongTheParentLinks) {
    // The running totals follow the parent links the readers set, even where
    // one disagrees with the list the entry sits in.
    NewDir* a = addFolder(*v, v->dirRoot, u"A");
    NewDir* other = addFolder(*v, v->dirRoot, u"Other");
    addFile(*v, other, u"o.jpg", 50);
    NewDir* b = addFolder(*v, a, u"B");
    addFile(*v, b, u"x.txt", 10);
    b->pndirPointer = other;
    const std::uint64_t aBefore = a->fileSize;
    TreeCleanup::removeNonMediaFilesAndFolders(v->dirRoot);
    EXPECT_EQ(std::tuple(b->fileSize, other->fileSize, other->fileCount, a->fileSize),
              std::tuple(0u, 40u, 0u, aBefore));
}

TEST_F(CleanUp, EmptyAndHiddenFoldersGoButTheTrashStays) {
    // The readers count files only, so a tree of empty folders has a root
    // whose count is 0, and the empty-folder pass does not look into it.
    addFolder(*v, v->dirRoot, u"Empty");
    TreeCleanup::removeZeroSizeFolders(v->dirRoot);
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 1u);
    NewDir* photos = addFolder(*v, v->dirRoot, u"Photos");
    addFile(*v, photos, u"a.jpg", 0);
    addFile(*v, photos, u"b.jpg", 0);
    NewDir* trash = addFolder(*v, v->dirRoot, u".Trashes");
    addFile(*v, trash, u"gone.jpg", 400);
    NewDir* spotlight = addFolder(*v, v->dirRoot, u".Spotlight-V100");
    addFile(*v, spotlight, u"store.db", 900);
    NewDir* docs = addFolder(*v, v->dirRoot, u"Docs");
    addFile(*v, docs, u"a.txt", 12);
    addFile(*v, v->dirRoot, u"empty.txt", 0);
    TreeCleanup(*v).processDuplicateEntries();
    EXPECT_EQ(childNames(*v, v->dirRoot), (std::vector<std::u16string>{u".Trashes", u"Docs", u"empty.txt"}));
    EXPECT_EQ(totals(v->dirRoot), std::tuple(412u, 3u, 5u));
}

TEST_F(CleanUp, EmptyFolderRemovalUsesTheRunningSizesOfTheReaders) {
    // A folder the readers left at size 0 goes even when files below have a
    // size; the counts above it drop by what it held.
    NewDir* a = addFolder(*v, v->dirRoot, u"A");
    NewDir* b = addFolder(*v, a, u"B");
    addFile(*v, b, u"f.jpg", 10);
    addFile(*v, a, u"g.jpg", 10);
    b->fileSize = 0;
    TreeCleanup::removeZeroSizeFolders(v->dirRoot);
    EXPECT_EQ(a->childrenArrayCount(), 1u);
    // The readers count files only; the removed folder takes its file and
    // itself off every count above it. Sizes are left for the totals pass.
    EXPECT_EQ(totals(a), std::tuple(20u, 1u, 0u));
    EXPECT_EQ(std::tuple(v->dirRoot->fileCount, v->dirRoot->childrenCount), std::tuple(1u, 0u));
}

TEST_F(CleanUp, TotalsEqualTheNodesBelowWhateverTheReadersLeft) {
    NewDir* a = addFolder(*v, v->dirRoot, u"A");
    NewDir* b = addFolder(*v, a, u"B");
    NewDir* c = addFolder(*v, b, u"C");
    addFile(*v, c, u"1.jpg", 1);
    addFile(*v, c, u"2.jpg", 2);
    addFile(*v, b, u"3.jpg", 4);
    addFile(*v, a, u"4.jpg", 8);
    addFile(*v, v->dirRoot, u"5.jpg", 16);
    NewDir* d = addFolder(*v, v->dirRoot, u"D");
    addFile(*v, d, u"6.jpg", 32);
    // Damaged running values and stale parent links.
    a->fileCount = 999;
    b->childrenCount = 3;
    c->fileSize += 5;
    c->pndirPointer = nullptr;
    newdir::appendDataExtent(a, 1, 1);
    TreeCleanup(*v).processDuplicateEntries();
    const Counts all = countBelow(v->dirRoot);
    EXPECT_EQ(std::tuple(all.files, all.nodes), std::tuple(6u, 10u));
    EXPECT_EQ(totals(v->dirRoot), std::tuple(63u, all.files, all.nodes));
    EXPECT_EQ(totals(a), std::tuple(15u, 4u, 6u));
    EXPECT_EQ(std::tuple(b->childrenCount, c->fileSize, c->pndirPointer, a->extentCount()), std::tuple(4u, 3u, b, 0u));
    NewDir* file = newdir::childAtIndex(c, 0);
    EXPECT_EQ(std::tuple(file->fileCount, file->childrenCount), std::tuple(1u, 0u));
}

TEST_F(CleanUp, TotalsOfASubfolderAreAddedToTheFoldersAboveIt) {
    NewDir* a = addFolder(*v, v->dirRoot, u"A");
    NewDir* b = addFolder(*v, a, u"B");
    addFile(*v, b, u"1.jpg", 7, true);
    v->dirRoot->fileSize = 100;
    v->dirRoot->fileCount = 10;
    v->dirRoot->childrenCount = 20;
    TreeCleanup::rearrangeTreeFromDir(a);
    EXPECT_EQ(std::tuple(a->fileSize, a->childrenCount), std::tuple(7ull, 2u));
    EXPECT_EQ(totals(v->dirRoot), std::tuple(107u, 11u, 22u));
    EXPECT_EQ(v->dirRoot->deleted, 1u);
}

TEST_F(CleanUp, DeletedFileMarksItsChainAndFillsTheDeletedLists) {
    NewDir* outer = addFolder(*v, v->dirRoot, u"Outer");
    NewDir* inner = addFolder(*v, outer, u"Inner");
    NewDir* gone = addFile(*v, inner, u"gone.jpg", 10, true);
    NewDir* kept = addFile(*v, inner, u"kept.jpg", 10);
    NewDir* sibling = addFolder(*v, v->dirRoot, u"Sibling");
    addFile(*v, sibling, u"s.jpg", 10);
    // A folder its reader marked deleted keeps its mark but marks nothing above.
    NewDir* markedAbove = addFolder(*v, v->dirRoot, u"MarkedAbove");
    NewDir* markedFolder = addFolder(*v, markedAbove, u"Marked");
    addFile(*v, markedFolder, u"m.jpg", 10);
    markedFolder->deleted = 1;
    TreeCleanup(*v).processDuplicateEntries();

    std::vector<int> marks;
    for (const NewDir* d : {gone, inner, outer, v->dirRoot, sibling, kept, markedFolder, markedAbove})
        marks.push_back(d->deleted);
    EXPECT_EQ(marks, (std::vector<int>{1, 1, 1, 1, 0, 0, 1, 0}));

    EXPECT_EQ(inner->deletedList, std::vector<NewDir*>{gone});
    EXPECT_EQ(outer->deletedList, std::vector<NewDir*>{inner});
    EXPECT_EQ(v->dirRoot->deletedList, std::vector<NewDir*>{outer}); // not the sibling, not MarkedAbove
    EXPECT_EQ(markedAbove->deletedList, std::vector<NewDir*>{markedFolder});
    EXPECT_TRUE(sibling->deletedList.empty());
    // The direct arrays mirror both lists.
    EXPECT_EQ(inner->deletedChildrenDirect, std::vector<NewDir*>{gone});
    EXPECT_EQ(inner->childrenDirect.size(), 2u);
}

TEST_F(CleanUp, DeletedListsKeepTheOrderOfTheChildList) {
    NewDir* f = addFolder(*v, v->dirRoot, u"F");
    NewDir* d1 = addFile(*v, f, u"1.jpg", 1, true);
    addFile(*v, f, u"2.jpg", 1);
    NewDir* d3 = addFile(*v, f, u"3.jpg", 1, true);
    NewDir* d4 = addFile(*v, f, u"4.jpg", 1, true);
    TreeCleanup::rearrangeDeletedTree(v->dirRoot);
    EXPECT_EQ(f->deletedList, (std::vector<NewDir*>{d1, d3, d4}));
}

TEST_F(CleanUp, NamelessEntriesAreCalledUntitledTheRootKeepsItsNameAndRepeatedNamesGetUnderscores) {
    NewDir* f = addFolder(*v, v->dirRoot, u"");
    NewDir* nameless = addFile(*v, f, u"", 10);
    TreeCleanup(*v).processDuplicateEntries();
    EXPECT_EQ(std::tuple(newdir::fileName(f), newdir::fileName(nameless), newdir::fileName(v->dirRoot)),
              std::tuple(u"Untitled", u"Untitled", u"Root"));
    // A repeated name gets one more underscore each time.
    f = addFolder(*v, v->dirRoot, u"F");
    EXPECT_EQ(newdir::suggestedRepeatFileName(u"IMG_0001.JPG", f), u"IMG_0001.JPG");
    NewDir* img = addFile(*v, f, u"IMG_0001.JPG", 1);
    NewDir* notes = addFile(*v, f, u"notes", 1);
    NewDir* profile = addFile(*v, f, u".profile", 1);
    // Names compare exactly.
    const std::pair<const char16_t*, const char16_t*> suggestions[] = {
        {u"IMG_0001.JPG", u"IMG_0001_.JPG"},
        {u"IMG_0001.JPG", u"IMG_0001__.JPG"},
        {u"notes", u"notes_"},
        {u"notes", u"notes__"},
        {u".profile", u"_.profile"},
        {u"a.b.c", u"a.b.c"},
        {u"img_0001.jpg", u"img_0001.jpg"},
    };
    for (auto [name, suggested] : suggestions)
        EXPECT_EQ(newdir::suggestedRepeatFileName(name, f), suggested) << newdir::utf8(name);
    EXPECT_EQ(std::tuple(img->repeatCount, notes->repeatCount, profile->repeatCount), std::tuple(2u, 2u, 1u));
}

TEST_F(CleanUp, ProgressTextsComeInTheDesignedOrderAroundTheCompletedScan) {
    LogCapture log;
    addFile(*v, v->dirRoot, u"a.jpg", 3);
    TreeCleanup(*v).processDuplicateEntries(true);

    std::vector<std::string> expectedNames(10, "updateProgress:");
    expectedNames[1] = "rawScanCompleted";
    EXPECT_EQ(scope.controller.callNames(), expectedNames);
    const std::vector<std::string> texts{
        "Rearranging tree...",          "Removing non-media tree...", "Removing empty tree...",
        "Rearranging tree (step 2)...", "Removing deleted tree...",   "Fixing names...",
        "Optimizing Tree...",           "Removing helper trees...",   "Rearranging tree (done)..."};
    EXPECT_EQ(progressTexts(scope.controller), texts);

    const auto shown = scope.controller.callsNamed("updateProgress:");
    const Dict& first = shown.front().dictValue();
    EXPECT_EQ(std::tuple(first.get("Progress Type").intValue(), first.get("Start Animation").boolValue(),
                         first.contains("Stop Animation")),
              std::tuple(0, true, false));
    // The keys of the first step stay until the last one.
    EXPECT_TRUE(shown[7].dictValue().get("Start Animation").boolValue());
    const Dict& last = shown.back().dictValue();
    EXPECT_EQ(last.size(), 2u);
    EXPECT_TRUE(last.get("Stop Animation").boolValue());

    std::vector<std::string> expectedLog = texts;
    expectedLog[7] = "Removing helper trees..";
    EXPECT_EQ(log.lines, expectedLog);
}

TEST_F(CleanUp, WithoutTheMediaFilterNonMediaFilesStayAndWithoutATreeOnlyTheMessagesAreSent) {
    NewDir* f = addFolder(*v, v->dirRoot, u"F");
    addFile(*v, f, u"notes.txt", 5);
    addFile(*v, f, u"README", 5);
    TreeCleanup(*v).processDuplicateEntries();
    EXPECT_EQ(f->childrenArrayCount(), 2u);
    const auto texts = progressTexts(scope.controller);
    EXPECT_EQ(texts.size(), 8u);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Removing non-media tree..."), 0);
    // Without a tree only the messages are sent.
    scope.controller.clear();
    v->freeTree();
    TreeCleanup(*v).processDuplicateEntries();
    EXPECT_EQ(progressTexts(scope.controller).size(), 8u);
    EXPECT_EQ(scope.controller.callsNamed("rawScanCompleted").size(), 1u);
}

TEST_F(CleanUp, HelperIndexesAreReleasedAndNodesNoLongerNameThem) {
    v->btreeAdvScan = v->btree.get();
    NewDir* f = addFolder(*v, v->dirRoot, u"F");
    f->childIndex = v->btree.get();
    f->advScanIndex = v->btree.get();
    addFile(*v, f, u"a.jpg", 1);
    TreeCleanup(*v).processDuplicateEntries();
    const std::vector<const void*> helpers{
        v->btree.get(),         v->btreeAdvScan, v->btreeNormalScan.get(), v->btreeFirstFileBlock.get(),
        v->dirRoot->childIndex, f->childIndex,   f->advScanIndex};
    EXPECT_EQ(helpers, std::vector<const void*>(helpers.size(), nullptr));
}

TEST_F(CleanUp, WithoutAControllerThePassesStillRun) {
    platform::setAppController(nullptr);
    LogCapture quiet;
    addFolder(*v, v->dirRoot, u"Empty");
    addFile(*v, v->dirRoot, u"a.jpg", 1);
    TreeCleanup(*v).processDuplicateEntries();
    EXPECT_EQ(childNames(*v, v->dirRoot), std::vector<std::u16string>{u"a.jpg"});
}

TEST_F(CleanUp, AHundredThousandFilesTakeAtMost256BytesANodeNamesIncluded) {
    // Built as the readers build it (a name and an extent each, running
    // totals, the ID index), then cleaned up, which adds the direct arrays.
    const std::size_t before = NodePool::shared().bytesInUse();
    for (int f = 0; f < 500; ++f) {
        NewDir* folder = addFolder(*v, v->dirRoot, u"Folder " + newdir::utf16(std::to_string(f)));
        for (int i = 0; i < 200; ++i) {
            NewDir* file = addFile(*v, folder, newdir::utf16("IMG_" + std::to_string(10000 + i) + ".JPG"), 4096);
            newdir::appendDataExtent(file, 1000 + i, 1);
        }
    }
    TreeCleanup(*v).processDuplicateEntries();
    const std::size_t nodes = v->dirRoot->childrenCount;
    ASSERT_EQ(nodes, 100500u);
    EXPECT_LE((NodePool::shared().bytesInUse() - before) / nodes, 256u);
}

TEST_F(CleanUp, ChainOfTwoHundredThousandFoldersIsCleanedWithoutRecursion) {
    constexpr std::uint32_t kDepth = 200000;
    std::vector<NewDir*> chain;
    chain.reserve(kDepth);
    NewDir* parent = v->dirRoot;
    for (std::uint32_t i = 0; i < kDepth; ++i) {
        parent = addFolder(*v, parent, i % 2 ? u"" : u"level");
        chain.push_back(parent);
    }
    addFile(*v, parent, u"bottom.jpg", 42, true);

    TreeCleanup(*v).processDuplicateEntries(true);

    EXPECT_EQ(totals(v->dirRoot), std::tuple(42u, 1u, kDepth + 1));
    EXPECT_EQ(chain[kDepth / 2]->childrenCount, kDepth - kDepth / 2);
    EXPECT_EQ(chain.back()->deletedList.size(), 1u);
    EXPECT_EQ(chain.front()->deleted, 1u);
    EXPECT_EQ(newdir::fileName(chain[1]), u"Untitled");
    EXPECT_FALSE(chain.back()->childrenDirect.empty());
}

TEST_F(CleanUp, DeepChainWithAFileToDropAtEveryLevelIsFilteredInOnePass) {
    // Built with the readers' running totals set directly: attaching each
    // file through every folder above it would itself take minutes.
    constexpr std::uint32_t kDepth = 200000;
    std::vector<NewDir*> chain;
    chain.reserve(kDepth);
    NewDir* parent = v->dirRoot;
    for (std::uint32_t i = 0; i < kDepth; ++i) {
        parent = addFolder(*v, parent, u"d");
        chain.push_back(parent);
        attach(*v, parent, u"x.txt", NewDir::File)->fileSize = 1;
    }
    addFile(*v, parent, u"keep.png", 1);
    // Each folder holds one text file per level from its own down, and the
    // picture at the bottom.
    for (std::uint32_t i = 0; i < kDepth; ++i) {
        chain[i]->fileSize = chain[i]->fileCount = chain[i]->childrenCount = kDepth - i + 1;
    }
    v->dirRoot->fileSize = v->dirRoot->fileCount = v->dirRoot->childrenCount = kDepth + 1;

    TreeCleanup::removeNonMediaFilesAndFolders(v->dirRoot);
    for (NewDir* d : {chain.front(), chain[kDepth / 2], chain.back()})
        EXPECT_EQ(totals(d), std::tuple(1u, 1u, 1u));
    EXPECT_EQ(std::tuple(v->dirRoot->fileSize, v->dirRoot->fileCount), std::tuple(1ull, 1u));
    EXPECT_EQ(chain.back()->childrenArrayCount(), 1u);
}
