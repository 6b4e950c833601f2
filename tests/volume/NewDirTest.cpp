#include "volume/NewDir.h"

#include "support/TestSupport.h"
#include "volume/NodePool.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace newdir;

namespace {
NewDir* node(std::uint16_t type, std::uint32_t id) {
    NewDir* d = allocate();
    d->fileType = type;
    d->fileID = id;
    return d;
}
NewDir* folder(std::uint32_t id) {
    return node(NewDir::Folder, id);
}
NewDir* file(std::uint32_t id) {
    return node(NewDir::File, id);
}
// A folder with its name, and its path when one is given.
NewDir* namedFolder(std::uint32_t id, std::u16string_view name, std::u16string_view path = {}) {
    NewDir* d = folder(id);
    setFileName(d, name);
    if (!path.empty()) setPathName(d, path);
    return d;
}
// A folder's children in list order.
std::vector<NewDir*> children(NewDir* f) {
    std::vector<NewDir*> out;
    for (std::uint32_t i = 0; i < f->childrenArrayCount(); ++i)
        out.push_back(childAtIndex(f, i));
    return out;
}
} // namespace

TEST(NewDirRecord, AppendsKeepOrderRemovalFreesWholeSubtreesAndTheDeletedListSwapsWithTheChildList) {
    NewDir* root = folder(2);
    EXPECT_EQ(childAtIndex(root, 0), nullptr);
    NewDir* a = file(10);
    NewDir* sub = folder(20);
    appendChild(sub, file(21));
    appendChild(root, a);
    appendChild(root, sub);
    EXPECT_EQ(children(root), (std::vector<NewDir*>{a, sub}));
    EXPECT_EQ(childAtIndex(root, 2), nullptr);
    // Appending sets no parent link: the builder does.
    EXPECT_EQ(a->pndirPointer, nullptr);
    appendChild(root, file(12));
    removeChildAtIndex(root, 3); // not below the count: nothing
    EXPECT_EQ(root->childrenArrayCount(), 3u);
    removeChildAtIndex(root, 2); // the last
    EXPECT_EQ(children(root), (std::vector<NewDir*>{a, sub}));
    removeChildAtIndex(root, 1); // a folder with a child; ASan catches leaks and double frees
    removeChildAtIndex(root, 0);
    EXPECT_EQ(root->childrenArrayCount(), 0u);
    appendChild(root, file(13));
    EXPECT_EQ(childAtIndex(root, 0)->fileID, 13u);
    freeNDir(root);
    root = folder(2);
    NewDir* live = file(10);
    NewDir* gone = file(11);
    gone->deleted = 1;
    appendChild(root, live);
    appendChild(root, gone);
    appendDeletedChild(root, gone);
    EXPECT_EQ(std::tuple(root->deletedCount(), deletedChildAtIndex(root, 0), deletedChildAtIndex(root, 1)),
              std::tuple(1u, gone, nullptr));
    swapChildLists(root);
    EXPECT_EQ(children(root), std::vector<NewDir*>{gone});
    EXPECT_EQ(root->deletedCount(), 2u);
    swapChildLists(root);
    EXPECT_EQ(children(root), (std::vector<NewDir*>{live, gone}));
    // Freeing frees each node once even though two lists name "gone".
    freeNDir(root);
}

TEST(NewDirRecord, DirectArraysMirrorTheListsOfEveryFolderAndADeepTreeFreesEveryNodeOnce) {
    NewDir* root = folder(2);
    NewDir* sub = folder(3);
    NewDir* empty = folder(4);
    appendChild(root, sub);
    appendChild(root, empty);
    appendChild(sub, file(5));
    appendDeletedChild(sub, childAtIndex(sub, 0));
    fillChildrenDirectArrays(root);
    ASSERT_EQ(root->childrenDirect.size(), 2u);
    EXPECT_EQ(root->childrenDirect[1], empty);
    EXPECT_TRUE(root->deletedChildrenDirect.empty());
    ASSERT_EQ(sub->deletedChildrenDirect.size(), 1u);
    EXPECT_EQ(sub->deletedChildrenDirect[0]->fileID, 5u);
    EXPECT_TRUE(empty->childrenDirect.empty());
    // A direct array is a copy: the list changing later leaves it alone.
    appendChild(root, file(6));
    EXPECT_EQ(root->childrenDirect, (std::vector<NewDir*>{sub, empty}));
    EXPECT_EQ(root->childrenArrayCount(), 3u);
    freeNDir(root);
    // A hostile medium can describe a folder chain far deeper than any real
    // one; freeing must not recurse once per level.
    root = folder(2);
    NewDir* cur = root;
    for (std::uint32_t i = 0; i < 200000; ++i) {
        NewDir* next = folder(100 + i);
        appendChild(cur, next);
        NewDir* f = file(1000000 + i);
        appendChild(cur, f);
        appendDeletedChild(cur, f);
        appendDeletedChild(cur, next);
        cur = next;
    }
    fillChildrenDirectArrays(root);
    EXPECT_EQ(root->childrenDirect.size(), 2u);
    EXPECT_EQ(root->deletedChildrenDirect.size(), 2u);
    freeNDir(root);
}

TEST(NewDirRecord, ExtentsAppendInOrderAndValuesWiderThanTheRecordAreRefusedNotTruncated) {
    NewDir* f = file(30);
    EXPECT_TRUE(appendDataExtent(f, 100, 8) && appendDataExtent(f, 0xFFFFFFFFull, 1));
    EXPECT_EQ(std::tuple(f->extentCount(), f->extents[1].startBlock), std::tuple(2u, 0xFFFFFFFFu));
    // An item appended again from the list itself, as the list leaves its place in the record.
    NodeInlineArray<ExtP> one;
    one.push_back({7, 9});
    one.push_back(one[0]);
    EXPECT_EQ(std::tuple(one[1].startBlock, one[1].blockCount), std::tuple(7u, 9u));
    ExtCompP g1;
    g1.groupStartBlock = 16;
    for (std::uint64_t start : {500, 600, 700})
        EXPECT_TRUE(appendExtentToGroup(g1, start, 2)) << start;
    EXPECT_EQ(g1.cellCount(), 3u);
    appendExtentGroup(f, g1);
    appendExtentGroup(f, ExtCompP{});
    EXPECT_EQ(f->extentGroupCount(), 2u);
    EXPECT_EQ(f->extentGroups[0].extents[2].startBlock, 700u);
    freeNDir(f);
    testsupport::LogCapture log;
    f = file(31);
    EXPECT_FALSE(appendDataExtent(f, 0x100000000ull, 1));
    EXPECT_FALSE(appendDataExtent(f, 1, 0x100000000ull));
    EXPECT_EQ(f->extentCount(), 0u);
    ExtCompP g;
    EXPECT_FALSE(appendExtentToGroup(g, 0x1FFFFFFFFull, 1));
    EXPECT_EQ(g.cellCount(), 0u);
    EXPECT_TRUE(setSectorsPerBlock(f, 255));
    EXPECT_FALSE(setSectorsPerBlock(f, 256));
    EXPECT_EQ(f->sectorsPerBlock, 255u);
    EXPECT_FALSE(setDataStartSector(f, 0x100000000ull));
    EXPECT_EQ(f->dataStartSector, 0u);
    EXPECT_FALSE(setExtension(f, std::u16string(256, u'x')));
    EXPECT_EQ(log.lines.size(), 6u);
    freeNDir(f);
}

TEST(NewDirRecord, NamesStopAtTheFirstNulEmptyReadsBackEmptyAndUtfConversionsSurviveDamage) {
    NewDir* f = file(40);
    std::u16string withNul = u"abc";
    withNul += u'\0';
    withNul += u"def";
    EXPECT_TRUE(setFileName(f, withNul));
    EXPECT_EQ(std::tuple(f->nameLength, fileName(f)), std::tuple(3u, u"abc"));
    EXPECT_TRUE(setFileName(f, u""));
    EXPECT_EQ(std::tuple(f->nameLength, fileName(f)), std::tuple(0u, u""));
    // Paths are kept whole, whatever their length.
    std::u16string longPath(5000, u'p');
    EXPECT_TRUE(setPathName(f, longPath));
    EXPECT_EQ(pathName(f), longPath);
    EXPECT_TRUE(setExtension(f, u"jpg"));
    EXPECT_EQ(std::tuple(f->extensionLength, extension(f)), std::tuple(3u, u"jpg"));
    freeNDir(f);
    std::string s = "Résumé 📷 file.txt";
    EXPECT_EQ(utf8(utf16(s)), s);
    EXPECT_EQ(utf16("a\xC3"), u"a\uFFFD");                                // truncated sequence
    EXPECT_EQ(utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD"); // lone surrogate
    EXPECT_EQ(utf16("\xFF"), u"\uFFFD");
}

TEST(NewDirRecord, APathTakenFromAFolderKeepsWhatItWasAndEachTextIsReplacedAlone) {
    NewDir* root = namedFolder(2, u"Root", u"1");
    NewDir* a = namedFolder(3, u"A");
    setExtension(a, u"ext");
    NewDir* b = folder(4);
    EXPECT_TRUE(setPathBelow(a, root) && setPathBelow(b, a));
    EXPECT_EQ(std::tuple(pathName(b), b->pathLength), std::tuple(u"1/Root/A", 8u));
    setFileName(a, u"Renamed");
    setPathName(a, u"/x");
    EXPECT_EQ(pathName(b), u"1/Root/A");
    EXPECT_EQ(std::tuple(fileName(a), extension(a), pathName(a)), std::tuple(u"Renamed", u"ext", u"/x"));
    EXPECT_TRUE(setPathBelow(a, a));
    EXPECT_EQ(pathName(a), u"/x/Renamed");
    setPathName(a, u"");
    EXPECT_EQ(std::tuple(fileName(a), extension(a), pathName(a), a->pathLength),
              std::tuple(u"Renamed", u"ext", u"", 0u));
    // 65,535 units fit the record; one more is refused and changes nothing.
    setFileName(a, std::u16string(0xFFFF - 3, u'n'));
    setPathName(a, u"12");
    EXPECT_TRUE(setPathBelow(b, a));
    EXPECT_EQ(pathName(b).size(), 0xFFFFu);
    setFileName(a, std::u16string(0xFFFF - 2, u'n'));
    testsupport::LogCapture log;
    EXPECT_FALSE(setPathBelow(b, a));
    EXPECT_EQ(std::tuple(pathName(b).size(), log.lines.size()), std::tuple(0xFFFFu, 1u));
    for (NewDir* n : {root, a, b})
        freeNDir(n);
}

TEST(NewDirRecord, ChildrenOfAFolderShareItsPathWhicheverOrderTheyAreAttachedInAndARenameStartsANewOne) {
    NewDir* root = namedFolder(2, u"Root", u"1");
    NewDir* f = namedFolder(3, u"Folder");
    appendChild(root, f);
    EXPECT_TRUE(setPathBelow(f, root));
    // Some children get their path before they are attached, some after.
    const auto addChild = [&](std::uint32_t id, bool attachFirst) {
        NewDir* c = file(id);
        setFileName(c, u"file" + utf16(std::to_string(id)));
        if (attachFirst) appendChild(f, c);
        const std::size_t before = NodePool::shared().bytesInUse();
        EXPECT_TRUE(setPathBelow(c, f));
        if (!attachFirst) appendChild(f, c);
        return NodePool::shared().bytesInUse() - before;
    };
    const std::size_t first = addChild(10, true);
    std::size_t later = 0;
    for (std::uint32_t id = 11; id < 41; ++id)
        later = std::max(later, addChild(id, id % 2 == 0));
    // The first child made the path; the others only took it.
    EXPECT_LT(later, first);
    setFileName(f, u"Renamed");
    addChild(41, true);
    const std::vector<NewDir*> all = children(f);
    ASSERT_EQ(all.size(), 32u);
    EXPECT_EQ(pathName(all.front()), u"1/Root/Folder");
    EXPECT_EQ(pathName(all[30]), u"1/Root/Folder");
    EXPECT_EQ(std::tuple(pathName(all.back()), all.back()->pathLength), std::tuple(u"1/Root/Renamed", 14u));
    // The path outlives the child that made it.
    removeChildAtIndex(f, 0);
    EXPECT_EQ(pathName(all[1]), u"1/Root/Folder");
    freeNDir(root);
}

TEST(NodePool, BlocksOfEverySizeStayApartAreReusedAndEmptyChunksGoBack) {
    NodePool pool; // carves chunks in every build
    const std::vector<std::size_t> sizes{1, 8, 24, 152, 1000, 1024, 1025, 5000};
    std::vector<std::pair<unsigned char*, std::size_t>> blocks;
    std::size_t expected = 0;
    for (int i = 0; i < 2000; ++i)
        for (std::size_t size : sizes) {
            auto* p = static_cast<unsigned char*>(pool.allocate(size));
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % NodePool::kAlignment, 0u);
            std::memset(p, static_cast<int>(blocks.size() & 0xFF), size);
            blocks.emplace_back(p, size);
            expected += NodePool::roundedSize(size);
        }
    EXPECT_EQ(pool.bytesInUse(), expected);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto [p, size] = blocks[i];
        EXPECT_TRUE(std::all_of(p, p + size, [&](unsigned char c) { return c == (i & 0xFF); })) << i;
        pool.release(p, size);
    }
    EXPECT_EQ(pool.bytesInUse(), 0u);
    // One chunk of each pooled size stays for the next tree.
    const std::size_t held = pool.bytesHeld();
    EXPECT_LE(held, 6u * (256u << 10));
    pool.release(pool.allocate(152), 152);
    EXPECT_EQ(pool.bytesHeld(), held);
}

TEST(NewDirWalk, VisitsInListOrderSkipsBelowASkipStopsAtAStopAndLeavesAfterTheSubtree) {
    NewDir* root = folder(1);
    NewDir* a = folder(2);
    NewDir* b = folder(3);
    appendChild(root, a);
    appendChild(root, nullptr);
    appendChild(root, b);
    appendChild(root, file(4));
    appendChild(a, file(5));
    appendChild(b, file(6));
    std::vector<std::uint32_t> seen;
    auto skipBelowA = [&](NewDir* n) {
        seen.push_back(n->fileID);
        return n == a ? Walk::Skip : Walk::Into;
    };
    EXPECT_TRUE(preOrder(root, childList, anyChild, skipBelowA));
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 2, 3, 6, 4}));
    seen.clear();
    auto stopAtB = [&](NewDir* n) {
        seen.push_back(n->fileID);
        return n == b ? Walk::Stop : Walk::Into;
    };
    EXPECT_FALSE(preOrder(root, childList, folderChild, stopAtB));
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 2, 3}));
    std::vector<std::uint32_t> left;
    auto leave = [&](NewDir* n) { left.push_back(n->fileID); };
    EXPECT_TRUE(postOrder(
        root, childList, anyChild, [&](NewDir* n) { return n == a ? Walk::Skip : Walk::Into; }, leave));
    EXPECT_EQ(left, (std::vector<std::uint32_t>{2, 6, 3, 4, 1}));
    freeNDir(root);
}
