#include "session/TreeRecordReader.h"
#include "session/TreeRecordWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::putBE;

namespace {

std::unique_ptr<SessionFileOutput> fileAt(const std::filesystem::path& path) {
    std::string error;
    auto out = SessionFileOutput::create(path.string(), {}, &error);
    EXPECT_TRUE(out) << error;
    return out;
}

std::vector<std::uint8_t> utf16be(std::u16string_view s) {
    std::vector<std::uint8_t> b;
    for (char16_t u : s) {
        b.push_back(std::uint8_t(u >> 8));
        b.push_back(std::uint8_t(u));
    }
    return b;
}

} // namespace

TEST(TreeRecord, FieldsAreBigEndianButTheIdentitiesTheTrailerIsNamePathExtentsAndAFilesPathIsNeverWritten) {
    NewDir* folder = newdir::allocate();
    folder->fileType = NewDir::Folder;
    folder->fileSize = 0x0102030405060708;
    folder->dataStartSector = 0x11121314;
    folder->firstSectorOffset = 0x91929394;
    folder->createDate = 0x21222324;
    folder->modDate = 0x31323334;
    folder->parentID = 0x41424344;
    folder->fileID = 0x51525354;
    folder->fileCount = 0x61626364;
    folder->sectorsPerBlock = 0x71;
    folder->childrenCount = 0x81828384;
    folder->selected = 1;
    folder->isFATEntry = 2;
    folder->complete = 3;
    folder->deleted = 4;
    newdir::setFileName(folder, u"Dé");
    newdir::setPathName(folder, u"1/Root");
    newdir::appendDataExtent(folder, 0xA1A2A3A4, 0xB1B2B3B4);
    NewDir* file = newdir::allocate();
    file->fileType = NewDir::File;
    file->fileSize = 9;
    file->pndirPointer = folder;
    newdir::setFileName(file, u"a");
    newdir::setPathName(file, u"never");
    newdir::appendChild(folder, file);

    const auto path = testsupport::makeTempDir("record") / "records";
    auto out = fileAt(path);
    ASSERT_TRUE(TreeRecordWriter::writeDir(folder, *out) && TreeRecordWriter::writeDir(file, *out) && out->close());

    std::vector<std::uint8_t> want(96, 0);
    putBE(want, 0, 0x0102030405060708, 8);
    for (auto [at, v] : {std::pair{24, 0x11121314u},
                         {28, 0x21222324u},
                         {32, 0x31323334u},
                         {36, 0x41424344u},
                         {40, 0x51525354u},
                         {44, 0x61626364u},
                         {48, 0x71u},
                         {52, 0x81828384u},
                         {56, 1u},
                         {60, 1u},
                         {64, 0x91929394u}})
        putBE(want, at, v, 4);
    putBE(want, 68, 2, 2);
    putBE(want, 70, 6, 2);
    putBE(want, 72, 1, 2);
    want[74] = 1, want[75] = 2, want[76] = 3, want[77] = 4;
    testsupport::putLE(want, 80, reinterpret_cast<std::uintptr_t>(folder), 8);
    for (auto part : {utf16be(u"Dé"), utf16be(u"1/Root"),
                      std::vector<std::uint8_t>{0xA1, 0xA2, 0xA3, 0xA4, 0xB1, 0xB2, 0xB3, 0xB4}})
        want.insert(want.end(), part.begin(), part.end());
    std::vector<std::uint8_t> fileRecord(96, 0);
    putBE(fileRecord, 0, 9, 8);
    putBE(fileRecord, 68, 1, 2);
    putBE(fileRecord, 70, 5, 2);
    putBE(fileRecord, 72, 2, 2);
    testsupport::putLE(fileRecord, 80, reinterpret_cast<std::uintptr_t>(file), 8);
    testsupport::putLE(fileRecord, 88, reinterpret_cast<std::uintptr_t>(folder), 8);
    want.insert(want.end(), fileRecord.begin(), fileRecord.end());
    want.push_back(0), want.push_back('a');
    EXPECT_EQ(testsupport::readBytes(path), want);
    newdir::freeNDir(folder);

    // A file's path length counts nothing that is written: one over any
    // folder's limit still reads.
    putBE(want, 120 + 70, 3000, 2);
    const auto patched = path.parent_path() / "patched";
    testsupport::writeBytesAt(testsupport::zeroFile(patched, want.size()), 0, want);
    std::string error;
    auto in = SessionFileInput::open(patched.string(), &error);
    TreeRecordReader reader;
    std::uint32_t children = 0;
    for (const char16_t* name : {u"Dé", u"a"}) {
        NewDir* read = reader.readDir(*in, children);
        ASSERT_TRUE(read);
        EXPECT_EQ(newdir::fileName(read), name);
        newdir::freeNDir(read);
    }
}

TEST(TreeRecord, OverlongTextsBecomeUntitledEmptyFilesKeepNoExtentsAndTheRunAfterThemStillReads) {
    // Root { "x"*300 (folder, no path) { empty file with two extents }, "b" }
    NewDir* root = newdir::allocate();
    root->fileType = NewDir::Folder;
    NewDir* longName = newdir::allocate();
    longName->fileType = NewDir::Folder;
    newdir::setFileName(longName, std::u16string(300, u'x'));
    newdir::appendChild(root, longName);
    NewDir* empty = newdir::allocate();
    empty->fileType = NewDir::File;
    newdir::appendDataExtent(empty, 5, 6);
    newdir::appendDataExtent(empty, 7, 8);
    newdir::appendChild(longName, empty);
    NewDir* b = newdir::allocate();
    b->fileType = NewDir::File;
    b->fileSize = 1;
    b->firstSectorOffset = 200;
    newdir::setFileName(b, u"b");
    newdir::appendChild(root, b);

    const auto path = testsupport::makeTempDir("record") / "run";
    auto out = fileAt(path);
    TreeRecordWriter writer;
    ASSERT_TRUE(writer.writeDir(root, *out, false) && out->close());
    newdir::freeNDir(root);

    std::string error;
    auto in = SessionFileInput::open(path.string(), &error);
    TreeRecordReader reader;
    std::uint32_t children = 0;
    NewDir* read = reader.readDir(*in, children);
    ASSERT_TRUE(read && reader.readToDir(read, children, *in, nullptr));
    EXPECT_EQ(in->left(), 0u);
    ASSERT_EQ(read->childrenArrayCount(), 2u);
    const NewDir* folder = read->childList[0];
    EXPECT_EQ(newdir::fileName(folder), u"Untitled");
    EXPECT_EQ(newdir::pathName(folder), u"1");
    ASSERT_EQ(folder->childrenArrayCount(), 1u);
    EXPECT_EQ(newdir::fileName(folder->childList[0]), u"Untitled");
    EXPECT_EQ(folder->childList[0]->extentCount(), 0u);
    EXPECT_EQ(newdir::fileName(read->childList[1]), u"b");
    EXPECT_EQ(read->childList[1]->firstSectorOffset, 200u);
    newdir::freeNDir(read);
}
