#include "carving/CarvedFileRecorder.h"

#include "signatures/Sig.h"
#include "signatures/SignatureSearchState.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using testsupport::nodeAt;

// The records a recorder appends, in order.
struct Appended : AutoRecoveryAppend {
    std::vector<const NewDir*> nodes;
    void writeDir(const NewDir* node) override { nodes.push_back(node); }
    // Every record's folder is the root or was written before it.
    bool foldersFirst(const NewDir* root) const {
        for (std::size_t i = 0; i < nodes.size(); ++i)
            if (nodes[i]->pndirPointer != root &&
                std::find(nodes.begin(), nodes.begin() + i, nodes[i]->pndirPointer) == nodes.begin() + i)
                return false;
        return true;
    }
};

class CarvedFileRecorderTest : public testsupport::ScanFixture {
protected:
    void SetUp() override {
        ScanFixture::SetUp();
        v = keep(testsupport::volumeOver(testsupport::patternImage(2048)));
        v->totalBlocks = 2048;
        v->setBlockSize(1);
        v->createRoot();
    }
    static Sig sig(const std::string& extension, std::uint64_t foundSize, std::uint32_t defaultMB = 5) {
        Sig s;
        s.extension = extension;
        s.foundSize = foundSize;
        s.defaultSize = defaultMB;
        return s;
    }
    std::shared_ptr<Volume> v;
    SignatureSearchState search;
    Appended appended;
};

TEST_F(CarvedFileRecorderTest, FilesOfATypeGoIntoItsFolderNumberedInTurn) {
    CarvedFileRecorder recorder(*v, search);
    Sig jpg = sig("jpg", 1000);
    recorder.addFileToListAtBlock(100, jpg, appended);
    NewDir* folder = nodeAt(v->dirRoot, "jpg files");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(newdir::utf8(newdir::pathName(folder)), "/Root");
    EXPECT_EQ(v->folderCount, 1u);
    EXPECT_EQ(v->entryCount, 1u); // the search counts the file itself
    EXPECT_EQ(v->dirRoot->childrenCount, 2u);
    recorder.addFileToListAtBlock(200, jpg, appended);
    recorder.addFileToListAtBlock(300, jpg, appended);
    NewDir* third = nodeAt(v->dirRoot, "jpg files/File3.jpg");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->fileSize, 1000u);
    ASSERT_EQ(third->extentCount(), 1u);
    EXPECT_EQ(third->extents[0].startBlock, 300u);
    EXPECT_EQ(third->extents[0].blockCount, 2u);
    EXPECT_EQ(v->dirRoot->fileSize, 3000u);
    EXPECT_EQ(v->dataSize, 3000u);
    // Carved nodes are read a sector a block, from the search's numbering.
    EXPECT_EQ(testsupport::readThroughExtents(*v, *third), testsupport::patternBytes(300 * 512, 1000));
    EXPECT_EQ(appended.nodes.size(), 4u);
    EXPECT_TRUE(appended.foldersFirst(v->dirRoot));
}

// The scanned volume's own folder named like a type folder keeps only its
// own files; a resumed run takes over the carved folder of the name.
TEST_F(CarvedFileRecorderTest, CarvedFilesGoOnlyIntoTheFolderTheSearchMadeForTheirType) {
    for (const std::uint8_t deleted : {0, 1}) {
        NewDir* live = newdir::allocate();
        live->fileType = NewDir::Folder;
        live->deleted = deleted;
        newdir::setFileName(live, u"jpg files");
        newdir::appendChild(v->dirRoot, live);
    }
    CarvedFileRecorder recorder(*v, search);
    Sig jpg = sig("jpg", 1000);
    recorder.addFileToListAtBlock(100, jpg, appended);
    recorder.addFileToListAtBlock(200, jpg, appended);
    ASSERT_EQ(v->dirRoot->childrenArrayCount(), 3u);
    NewDir* made = newdir::childAtIndex(v->dirRoot, 2);
    EXPECT_EQ(made->childrenArrayCount(), 2u);
    for (std::uint32_t i = 0; i < 2; ++i)
        EXPECT_EQ(newdir::childAtIndex(v->dirRoot, i)->childrenArrayCount(), 0u);
}

TEST_F(CarvedFileRecorderTest, UnmeasuredOrOversizedFilesTakeTheTypeSizeUpToTheVolumesEnd) {
    v = keep(testsupport::volumeOver(testsupport::patternImage(20480)));
    v->totalBlocks = 20480;
    v->setBlockSize(1);
    v->createRoot();
    CarvedFileRecorder recorder(*v, search);
    Sig unmeasured = sig("dat", 0);
    Sig oversized = sig("dat", 20480ull * 512);
    recorder.addFileToListAtBlock(1, unmeasured, appended);
    recorder.addFileToListAtBlock(2, oversized, appended);
    recorder.addFileToListAtBlock(20000, unmeasured, appended);
    const std::pair<const char*, std::uint64_t> expected[] = {
        {"dat files/File1.dat", 5242880}, {"dat files/File2.dat", 5242880}, {"dat files/File3.dat", 480 * 512}};
    for (const auto& [name, size] : expected) {
        NewDir* file = nodeAt(v->dirRoot, name);
        ASSERT_NE(file, nullptr) << name;
        EXPECT_EQ(file->fileSize, size);
        EXPECT_EQ(file->extents[0].blockCount, size / 512);
    }
}

TEST_F(CarvedFileRecorderTest, RecogniserPathTakesExistingFoldersAndMakesTheRest) {
    CarvedFileRecorder recorder(*v, search);
    Sig first = sig("eml", 700);
    search.foundParentPath = "Inbox";
    recorder.addFileToListAtBlock(5, first, appended);
    search.foundParentPath = "Inbox/Mail";
    search.foundName = "Note";
    Sig note = sig("eml", 300);
    recorder.addFileToListAtBlock(9, note, appended);
    EXPECT_EQ(v->folderCount, 2u);
    NewDir* mail = nodeAt(v->dirRoot, "Inbox/Mail");
    ASSERT_NE(nodeAt(v->dirRoot, "Inbox/Mail/Note.eml"), nullptr);
    EXPECT_EQ(mail->fileSize, 300u);
    EXPECT_EQ(nodeAt(v->dirRoot, "Inbox")->fileSize, 1000u);
    EXPECT_EQ(v->dirRoot->fileSize, 1000u);
    EXPECT_EQ(newdir::utf8(newdir::pathName(mail)), "/Root/Inbox");
    EXPECT_TRUE(appended.foldersFirst(v->dirRoot));
}

TEST_F(CarvedFileRecorderTest, RtfWithPicturesBecomesAPackageThatTakesItsPictures) {
    CarvedFileRecorder recorder(*v, search);
    Sig rtf = sig("rtf", 900);
    rtf.skipSize = 1; // one picture listed
    search.rtfdArray.push_back(platform::Dict{{"RTF Graphics Object Filename", "a.png"}});
    recorder.addFileToListAtBlock(40, rtf, appended);
    ASSERT_NE(nodeAt(v->dirRoot, "rtf files/File1.rtfd/TXT.rtf"), nullptr);
    ASSERT_EQ(search.rtfdArray.size(), 2u);
    EXPECT_EQ(search.rtfdArray.back().dictValue().get("RTF Graphics Wrapper Block Number").uint64Value(), 40u);
    Sig png = sig("png", 600);
    recorder.addRtfGraphicToListAtBlock(50, png, "a.png", appended);
    NewDir* package = nodeAt(v->dirRoot, "rtf files/File1.rtfd");
    ASSERT_NE(nodeAt(package, "a.png"), nullptr);
    EXPECT_EQ(package->fileSize, 1500u);
    EXPECT_EQ(appended.nodes.back(), nodeAt(package, "a.png"));
    EXPECT_TRUE(appended.foldersFirst(v->dirRoot));
}

TEST_F(CarvedFileRecorderTest, HitBeyondThirtyTwoBitSectorsIsRefusedAndDataIsReadInEightSectorPieces) {
    CarvedFileRecorder recorder(*v, search);
    EXPECT_FALSE(recorder.fitsRecord(1ull << 32, sig("jpg", 100)));
    EXPECT_TRUE(logged("not recorded"));
    std::vector<std::uint8_t> data;
    recorder.fillDataFromBlock(3, 5000, data);
    EXPECT_EQ(testsupport::asString(data), testsupport::patternBytes(3 * 512, 5000));
}

} // namespace

// A result folder joins the tree, and the auto-recovery file, with its first
// file, just before it; a preview inside a raw photo keeps the bytes before
// it in its first sector and its extent covers them.
TEST_F(CarvedFileRecorderTest, ResultFoldersJoinWithTheirFirstFileAndPreviewsKeepTheirOffset) {
    CarvedFileRecorder recorder(*v, search);
    NewDir* jpgs = newdir::allocate();
    recorder.createSignatureSearchFolderNode(jpgs, "JPG Files", ".jpg");
    EXPECT_TRUE(v->dirRoot->childList.empty());
    recorder.addDetailsToNdir(jpgs, 513, 40, appended);
    recorder.addDetailsToNdir(jpgs, 512, 50, appended);
    ASSERT_EQ(appended.nodes.size(), 3u);
    EXPECT_EQ(appended.nodes[0], jpgs);
    EXPECT_EQ(v->dirRoot->childrenCount, 3u);
    NewDir* second = nodeAt(v->dirRoot, "JPG Files/file2.jpg");
    ASSERT_NE(nodeAt(v->dirRoot, "JPG Files/file1.jpg"), nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(nodeAt(v->dirRoot, "JPG Files/file1.jpg")->extents[0].blockCount, 2u);
    EXPECT_EQ(second->extents[0].blockCount, 1u);

    NewDir* previews = newdir::allocate();
    recorder.createSignatureSearchFolderNode(previews, "RAW Jpg Files", "");
    recorder.addDetailsOfRawJpgFile(previews, 60, 5000, 200, appended);
    NewDir* preview = nodeAt(v->dirRoot, "RAW Jpg Files/file - Raw Jpg1.jpg");
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->firstSectorOffset, 200u);
    EXPECT_EQ(preview->extents[0].blockCount, 11u);
    // The preview lies inside its photo's bytes: the root's size counts it once.
    EXPECT_EQ(v->dirRoot->fileSize, 1025u);
    EXPECT_TRUE(appended.foldersFirst(v->dirRoot));
}
