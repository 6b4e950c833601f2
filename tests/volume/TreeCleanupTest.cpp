#include "support/TestSupport.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/BTreeTableClassUInt32.h"
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
NewDir* addFolder(Volume& v, NewDir* parent, std::u16string_view name) {
    NewDir* d = newdir::allocate();
    d->fileType = NewDir::Folder;
    d->fileID = v.maxFileID++;
    d->parentID = parent->fileID;
    d->pndirPointer = parent;
    v.setFileName(name, d);
    v.addChildUpdateBTree(d, parent);
    return d;
}

NewDir* addFile(Volume& v, NewDir* parent, std::u16string_view name, std::uint64_t size, bool deleted = false) {
    NewDir* d = newdir::allocate();
    d->fileType = NewDir::File;
    d->fileID = v.maxFileID++;
    d->parentID = parent->fileID;
    d->pndirPointer = parent;
    d->fileSize = size;
    d->deleted = deleted ? 1 : 0;
    v.setFileName(name, d);
    v.addChildUpdateBTree(d, parent);
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
        names.push_back(v.fileNameOfDir(v.childAtIndex_(i, folder)));
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
    std::vector<const NewDir*> pending{folder};
    while (!pending.empty()) {
        const NewDir* f = pending.back();
        pending.pop_back();
        for (const NewDir* child : f->childList) {
            ++c.nodes;
            if (child->fileType == NewDir::File) ++c.files;
            pending.push_back(child);
        }
    }
    return c;
}

bool inDeletedList(const NewDir* folder, const NewDir* child) {
    return std::find(folder->deletedList.begin(), folder->deletedList.end(), child) != folder->deletedList.end();
}

} // namespace

// --- the media filter ---

TEST(TreeCleanup, MediaFilterKeepsOnlyTheMediaFileAndTheFolderTakesItsSize) {
    ControllerScope scope;
    auto v = makeVolume();
    v->filterTreeForMedia = true;
    NewDir* folder = addFolder(*v, v->dirRoot, u"Stuff");
    addFile(*v, folder, u"notes.txt", 1000);
    NewDir* jpg = addFile(*v, folder, u"a.jpg", 300);
    v->processDuplicateEntries();
    ASSERT_EQ(folder->childrenArrayCount(), 1u);
    EXPECT_EQ(v->childAtIndex_(0, folder), jpg);
    EXPECT_EQ(folder->fileSize, 300u);
    EXPECT_EQ(v->dirRoot->fileSize, 300u);
    v->freeTree();
}

TEST(TreeCleanup, MediaFilterJudgesTheLastExtensionIgnoringCase) {
    ControllerScope scope;
    auto v = makeVolume();
    v->filterTreeForMedia = true;
    NewDir* folder = addFolder(*v, v->dirRoot, u"Mixed");
    addFile(*v, folder, u"clip.MPEG", 10);
    addFile(*v, folder, u"archive.tar.gz", 10);
    addFile(*v, folder, u"README", 10);
    addFile(*v, folder, u"photo.Jpeg", 10);
    addFile(*v, folder, u"video.mpeg4", 10);
    addFile(*v, folder, u".jpg", 10);
    addFile(*v, folder, u"x.MTS", 10);
    addFile(*v, folder, u"song.ra", 10);
    v->processDuplicateEntries();
    EXPECT_EQ(childNames(*v, folder), (std::vector<std::u16string>{u"clip.MPEG", u"photo.Jpeg", u"x.MTS", u"song.ra"}));
    v->freeTree();
}

TEST(TreeCleanup, MediaExtensionsAreTheDesignedOnes) {
    for (auto ext : {u"ra", u"RM", u"mts", u"jpg", u"3gp", u"3G2", u"x3f", u"k25", u"avi", u"indd", u"indt", u"indb",
                     u"tiff", u"aiff", u"mpeg", u"JPEG", u"cr2", u"raw"})
        EXPECT_TRUE(Volume::isMediaFile(ext)) << newdir::utf8(ext);
    for (auto ext : {u"", u"j", u"gz", u"txt", u"mpeg4", u"jpe", u"heic", u"webp", u"jpg ", u"j\u00e9g"})
        EXPECT_FALSE(Volume::isMediaFile(ext)) << newdir::utf8(ext);
}

TEST(TreeCleanup, RemovingNonMediaFilesLowersEveryFolderAbove) {
    auto v = makeVolume();
    NewDir* a = addFolder(*v, v->dirRoot, u"A");
    NewDir* b = addFolder(*v, a, u"B");
    addFile(*v, b, u"keep.png", 5);
    addFile(*v, b, u"drop.doc", 70);
    addFile(*v, a, u"drop2.pdf", 100);
    v->removeNonMediaFilesAndFolders(v->dirRoot);
    EXPECT_EQ(b->fileSize, 5u);
    EXPECT_EQ(b->fileCount, 1u);
    EXPECT_EQ(b->childrenCount, 1u);
    EXPECT_EQ(a->fileSize, 5u);
    EXPECT_EQ(a->fileCount, 1u);
    EXPECT_EQ(v->dirRoot->fileSize, 5u);
    EXPECT_EQ(v->dirRoot->fileCount, 1u);
    EXPECT_EQ(a->childrenArrayCount(), 1u);
    v->freeTree();
}

TEST(TreeCleanup, RemovalLowersTheTotalsAlongTheParentLinks) {
    // The running totals follow the parent links the readers set, even where
    // one disagrees with the list the entry sits in.
    auto v = makeVolume();
    NewDir* a = addFolder(*v, v->dirRoot, u"A");
    NewDir* other = addFolder(*v, v->dirRoot, u"Other");
    addFile(*v, other, u"o.jpg", 50);
    NewDir* b = addFolder(*v, a, u"B");
    addFile(*v, b, u"x.txt", 10);
    b->pndirPointer = other;
    const std::uint64_t aBefore = a->fileSize;
    v->removeNonMediaFilesAndFolders(v->dirRoot);
    EXPECT_EQ(b->fileSize, 0u);
    EXPECT_EQ(other->fileSize, 40u);
    EXPECT_EQ(other->fileCount, 0u);
    EXPECT_EQ(a->fileSize, aBefore);
    v->freeTree();
}

// --- empty and hidden folders ---

TEST(TreeCleanup, EmptyAndHiddenFoldersGoButTheTrashStays) {
    ControllerScope scope;
    auto v = makeVolume();
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
    v->processDuplicateEntries();
    EXPECT_EQ(childNames(*v, v->dirRoot), (std::vector<std::u16string>{u".Trashes", u"Docs", u"empty.txt"}));
    EXPECT_EQ(v->dirRoot->fileCount, 3u);
    EXPECT_EQ(v->dirRoot->childrenCount, 5u);
    EXPECT_EQ(v->dirRoot->fileSize, 412u);
    v->freeTree();
}

TEST(TreeCleanup, EmptyFolderRemovalUsesTheRunningSizesOfTheReaders) {
    // A folder the readers left at size 0 goes even when files below have a
    // size; the counts above it drop by what it held.
    auto v = makeVolume();
    NewDir* a = addFolder(*v, v->dirRoot, u"A");
    NewDir* b = addFolder(*v, a, u"B");
    addFile(*v, b, u"f.jpg", 10);
    addFile(*v, a, u"g.jpg", 10);
    b->fileSize = 0;
    v->removeZeroSizeFolders(v->dirRoot);
    EXPECT_EQ(a->childrenArrayCount(), 1u);
    // The readers count files only; the removed folder takes its file and
    // itself off every count above it.
    EXPECT_EQ(a->fileCount, 1u);
    EXPECT_EQ(a->childrenCount, 0u);
    EXPECT_EQ(v->dirRoot->fileCount, 1u);
    EXPECT_EQ(v->dirRoot->childrenCount, 0u);
    // Sizes are left for the totals pass.
    EXPECT_EQ(a->fileSize, 20u);
    v->freeTree();
}

// --- totals, deleted marks and deleted-child lists ---

TEST(TreeCleanup, TotalsEqualTheNodesBelowWhateverTheReadersLeft) {
    ControllerScope scope;
    auto v = makeVolume();
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
    v->addDataExtStartBlock(1, 1, a);
    v->processDuplicateEntries();
    const Counts all = countBelow(v->dirRoot);
    EXPECT_EQ(v->dirRoot->fileCount, all.files);
    EXPECT_EQ(v->dirRoot->childrenCount, all.nodes);
    EXPECT_EQ(all.files, 6u);
    EXPECT_EQ(all.nodes, 10u);
    EXPECT_EQ(v->dirRoot->fileSize, 63u);
    EXPECT_EQ(a->fileSize, 15u);
    EXPECT_EQ(a->fileCount, 4u);
    EXPECT_EQ(a->childrenCount, 6u);
    EXPECT_EQ(b->childrenCount, 4u);
    EXPECT_EQ(c->fileSize, 3u);
    EXPECT_EQ(c->pndirPointer, b);
    EXPECT_EQ(a->extentCount(), 0u);
    NewDir* file = v->childAtIndex_(0, c);
    EXPECT_EQ(file->fileCount, 1u);
    EXPECT_EQ(file->childrenCount, 0u);
    v->freeTree();
}

TEST(TreeCleanup, TotalsOfASubfolderAreAddedToTheFoldersAboveIt) {
    auto v = makeVolume();
    NewDir* a = addFolder(*v, v->dirRoot, u"A");
    NewDir* b = addFolder(*v, a, u"B");
    addFile(*v, b, u"1.jpg", 7, true);
    v->dirRoot->fileSize = 100;
    v->dirRoot->fileCount = 10;
    v->dirRoot->childrenCount = 20;
    v->rearrangeTreeFromDir(a);
    EXPECT_EQ(a->fileSize, 7u);
    EXPECT_EQ(a->childrenCount, 2u);
    EXPECT_EQ(v->dirRoot->fileSize, 107u);
    EXPECT_EQ(v->dirRoot->fileCount, 11u);
    EXPECT_EQ(v->dirRoot->childrenCount, 22u);
    EXPECT_EQ(v->dirRoot->deleted, 1u);
    v->freeTree();
}

TEST(TreeCleanup, DeletedFileMarksItsChainAndFillsTheDeletedLists) {
    ControllerScope scope;
    auto v = makeVolume();
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
    v->processDuplicateEntries();

    EXPECT_EQ(gone->deleted, 1u);
    EXPECT_EQ(inner->deleted, 1u);
    EXPECT_EQ(outer->deleted, 1u);
    EXPECT_EQ(v->dirRoot->deleted, 1u);
    EXPECT_EQ(sibling->deleted, 0u);
    EXPECT_EQ(kept->deleted, 0u);
    EXPECT_EQ(markedFolder->deleted, 1u);
    EXPECT_EQ(markedAbove->deleted, 0u);

    EXPECT_EQ(inner->deletedList, std::vector<NewDir*>{gone});
    EXPECT_EQ(outer->deletedList, std::vector<NewDir*>{inner});
    EXPECT_EQ(v->dirRoot->deletedList, std::vector<NewDir*>{outer});
    EXPECT_TRUE(markedAbove->deletedList == std::vector<NewDir*>{markedFolder});
    EXPECT_FALSE(inDeletedList(v->dirRoot, sibling));
    EXPECT_FALSE(inDeletedList(v->dirRoot, markedAbove));
    EXPECT_TRUE(sibling->deletedList.empty());
    // The direct arrays mirror both lists.
    ASSERT_NE(inner->deletedChildrenDirect, nullptr);
    EXPECT_EQ(*inner->deletedChildrenDirect, std::vector<NewDir*>{gone});
    ASSERT_NE(inner->childrenDirect, nullptr);
    EXPECT_EQ(inner->childrenDirect->size(), 2u);
    v->freeTree();
}

TEST(TreeCleanup, DeletedListsKeepTheOrderOfTheChildList) {
    auto v = makeVolume();
    NewDir* f = addFolder(*v, v->dirRoot, u"F");
    NewDir* d1 = addFile(*v, f, u"1.jpg", 1, true);
    addFile(*v, f, u"2.jpg", 1);
    NewDir* d3 = addFile(*v, f, u"3.jpg", 1, true);
    NewDir* d4 = addFile(*v, f, u"4.jpg", 1, true);
    v->rearrangeDeletedTree(v->dirRoot);
    EXPECT_EQ(f->deletedList, (std::vector<NewDir*>{d1, d3, d4}));
    v->freeTree();
}

// --- names ---

TEST(TreeCleanup, NamelessEntriesAreCalledUntitledAndTheRootKeepsItsName) {
    ControllerScope scope;
    auto v = makeVolume();
    NewDir* f = addFolder(*v, v->dirRoot, u"");
    NewDir* nameless = addFile(*v, f, u"", 10);
    v->processDuplicateEntries();
    EXPECT_EQ(v->fileNameOfDir(f), u"Untitled");
    EXPECT_EQ(v->fileNameOfDir(nameless), u"Untitled");
    EXPECT_EQ(v->fileNameOfDir(v->dirRoot), u"Root");
    v->freeTree();
}

TEST(TreeCleanup, RepeatedNamesGetOneMoreUnderscoreEachTime) {
    auto v = makeVolume();
    NewDir* f = addFolder(*v, v->dirRoot, u"F");
    EXPECT_EQ(v->suggestedRepeatFileName(u"IMG_0001.JPG", f), u"IMG_0001.JPG");
    NewDir* img = addFile(*v, f, u"IMG_0001.JPG", 1);
    NewDir* notes = addFile(*v, f, u"notes", 1);
    NewDir* profile = addFile(*v, f, u".profile", 1);
    EXPECT_EQ(v->suggestedRepeatFileName(u"IMG_0001.JPG", f), u"IMG_0001_.JPG");
    EXPECT_EQ(v->suggestedRepeatFileName(u"IMG_0001.JPG", f), u"IMG_0001__.JPG");
    EXPECT_EQ(img->repeatCount, 2u);
    EXPECT_EQ(v->suggestedRepeatFileName(u"notes", f), u"notes_");
    EXPECT_EQ(v->suggestedRepeatFileName(u"notes", f), u"notes__");
    EXPECT_EQ(notes->repeatCount, 2u);
    EXPECT_EQ(v->suggestedRepeatFileName(u".profile", f), u"_.profile");
    EXPECT_EQ(profile->repeatCount, 1u);
    EXPECT_EQ(v->suggestedRepeatFileName(u"a.b.c", f), u"a.b.c");
    // Names compare exactly.
    EXPECT_EQ(v->suggestedRepeatFileName(u"img_0001.jpg", f), u"img_0001.jpg");
    EXPECT_EQ(img->repeatCount, 2u);
    v->freeTree();
}

// --- the whole clean-up ---

TEST(TreeCleanup, ProgressTextsComeInTheDesignedOrderAroundTheCompletedScan) {
    ControllerScope scope;
    LogCapture log;
    auto v = makeVolume();
    v->filterTreeForMedia = true;
    addFile(*v, v->dirRoot, u"a.jpg", 3);
    v->processDuplicateEntries();

    const auto names = scope.controller.callNames();
    const std::vector<std::string> expectedNames{
        "updateProgress:", "rawScanCompleted", "updateProgress:", "updateProgress:", "updateProgress:",
        "updateProgress:", "updateProgress:",  "updateProgress:", "updateProgress:", "updateProgress:"};
    EXPECT_EQ(names, expectedNames);
    const std::vector<std::string> texts{
        "Rearranging tree...",          "Removing non-media tree...", "Removing empty tree...",
        "Rearranging tree (step 2)...", "Removing deleted tree...",   "Fixing names...",
        "Optimizing Tree...",           "Removing helper trees...",   "Rearranging tree (done)..."};
    EXPECT_EQ(progressTexts(scope.controller), texts);

    const auto shown = scope.controller.callsNamed("updateProgress:");
    const Dict& first = shown.front().dictValue();
    EXPECT_EQ(first.get("Progress Type").intValue(), 0);
    EXPECT_TRUE(first.get("Start Animation").boolValue());
    EXPECT_FALSE(first.contains("Stop Animation"));
    // The keys of the first step stay until the last one.
    EXPECT_TRUE(shown[7].dictValue().get("Start Animation").boolValue());
    const Dict& last = shown.back().dictValue();
    EXPECT_EQ(last.size(), 2u);
    EXPECT_TRUE(last.get("Stop Animation").boolValue());

    std::vector<std::string> expectedLog = texts;
    expectedLog[7] = "Removing helper trees..";
    EXPECT_EQ(log.lines, expectedLog);
    v->freeTree();
}

TEST(TreeCleanup, WithoutTheMediaFilterNonMediaFilesStayAndNoFilterStepIsShown) {
    ControllerScope scope;
    auto v = makeVolume();
    NewDir* f = addFolder(*v, v->dirRoot, u"F");
    addFile(*v, f, u"notes.txt", 5);
    addFile(*v, f, u"README", 5);
    v->processDuplicateEntries();
    EXPECT_EQ(f->childrenArrayCount(), 2u);
    const auto texts = progressTexts(scope.controller);
    EXPECT_EQ(texts.size(), 8u);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Removing non-media tree..."), 0);
    v->freeTree();
}

TEST(TreeCleanup, HelperIndexesAreReleasedAndNodesNoLongerNameThem) {
    ControllerScope scope;
    auto v = makeVolume();
    v->btreeAdvScan = v->btree.get();
    v->sigArray.push_back(Value("jpg"));
    NewDir* f = addFolder(*v, v->dirRoot, u"F");
    f->childIndex = v->btree.get();
    f->advScanIndex = v->btree.get();
    addFile(*v, f, u"a.jpg", 1);
    v->processDuplicateEntries();
    EXPECT_TRUE(v->sigArray.empty());
    EXPECT_EQ(v->btree, nullptr);
    EXPECT_EQ(v->btreeAdvScan, nullptr);
    EXPECT_EQ(v->btreeNormalScan, nullptr);
    EXPECT_EQ(v->btreeFirstFileBlock, nullptr);
    EXPECT_EQ(v->btreeForUsedCatNodeSector, nullptr);
    EXPECT_EQ(v->btreeOrph, nullptr);
    EXPECT_EQ(v->btreeOrphAdvScanEntries, nullptr);
    EXPECT_EQ(v->dirRoot->childIndex, nullptr);
    EXPECT_EQ(f->childIndex, nullptr);
    EXPECT_EQ(f->advScanIndex, nullptr);
    v->freeTree();
}

TEST(TreeCleanup, WithoutATreeOnlyTheMessagesAreSent) {
    ControllerScope scope;
    auto v = makeVolume();
    v->freeTree();
    v->processDuplicateEntries();
    EXPECT_EQ(progressTexts(scope.controller).size(), 8u);
    EXPECT_EQ(scope.controller.callsNamed("rawScanCompleted").size(), 1u);
}

TEST(TreeCleanup, WithoutAControllerThePassesStillRun) {
    platform::setAppController(nullptr);
    LogCapture quiet;
    auto v = makeVolume();
    addFolder(*v, v->dirRoot, u"Empty");
    addFile(*v, v->dirRoot, u"a.jpg", 1);
    v->processDuplicateEntries();
    EXPECT_EQ(childNames(*v, v->dirRoot), std::vector<std::u16string>{u"a.jpg"});
    v->freeTree();
}

TEST(TreeCleanup, EmptyFolderPassLeavesARootWithNoCountedEntriesAlone) {
    // The readers count files only, so a tree of empty folders has a root
    // whose count is 0, and the pass does not look into it.
    auto v = makeVolume();
    addFolder(*v, v->dirRoot, u"Empty");
    v->removeZeroSizeFolders(v->dirRoot);
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 1u);
    v->freeTree();
}

TEST(TreeCleanup, ChainOfTwoHundredThousandFoldersIsCleanedWithoutRecursion) {
    ControllerScope scope;
    auto v = makeVolume();
    constexpr std::uint32_t kDepth = 200000;
    std::vector<NewDir*> chain;
    chain.reserve(kDepth);
    NewDir* parent = v->dirRoot;
    for (std::uint32_t i = 0; i < kDepth; ++i) {
        parent = addFolder(*v, parent, i % 2 ? u"" : u"level");
        chain.push_back(parent);
    }
    addFile(*v, parent, u"bottom.jpg", 42, true);

    v->filterTreeForMedia = true;
    v->processDuplicateEntries();

    EXPECT_EQ(v->dirRoot->fileCount, 1u);
    EXPECT_EQ(v->dirRoot->childrenCount, kDepth + 1);
    EXPECT_EQ(v->dirRoot->fileSize, 42u);
    EXPECT_EQ(chain[kDepth / 2]->childrenCount, kDepth - kDepth / 2);
    EXPECT_EQ(chain.back()->deletedList.size(), 1u);
    EXPECT_EQ(chain.front()->deleted, 1u);
    EXPECT_EQ(v->fileNameOfDir(chain[1]), u"Untitled");
    ASSERT_NE(chain.back()->childrenDirect, nullptr);
    v->freeTree();
}

TEST(TreeCleanup, DeepChainWithAFileToDropAtEveryLevelIsFilteredInOnePass) {
    // Built with the readers' running totals set directly: attaching each
    // file through every folder above it would itself take minutes.
    ControllerScope scope;
    auto v = makeVolume();
    constexpr std::uint32_t kDepth = 200000;
    std::vector<NewDir*> chain;
    chain.reserve(kDepth);
    NewDir* parent = v->dirRoot;
    for (std::uint32_t i = 0; i < kDepth; ++i) {
        parent = addFolder(*v, parent, u"d");
        chain.push_back(parent);
        NewDir* txt = newdir::allocate();
        txt->fileType = NewDir::File;
        txt->fileSize = 1;
        txt->pndirPointer = parent;
        v->setFileName(u"x.txt", txt);
        v->addChild(txt, parent);
    }
    addFile(*v, parent, u"keep.png", 1);
    // Each folder holds one text file per level from its own down, and the
    // picture at the bottom.
    for (std::uint32_t i = 0; i < kDepth; ++i) {
        const std::uint32_t files = kDepth - i + 1;
        chain[i]->fileSize = files;
        chain[i]->fileCount = files;
        chain[i]->childrenCount = files;
    }
    v->dirRoot->fileSize = v->dirRoot->fileCount = v->dirRoot->childrenCount = kDepth + 1;

    v->filterTreeForMedia = true;
    v->removeNonMediaFilesAndFolders(v->dirRoot);
    for (NewDir* d : {chain.front(), chain[kDepth / 2], chain.back()}) {
        EXPECT_EQ(d->fileSize, 1u);
        EXPECT_EQ(d->fileCount, 1u);
        EXPECT_EQ(d->childrenCount, 1u);
    }
    EXPECT_EQ(v->dirRoot->fileSize, 1u);
    EXPECT_EQ(v->dirRoot->fileCount, 1u);
    EXPECT_EQ(chain.back()->childrenArrayCount(), 1u);
    v->freeTree();
}
