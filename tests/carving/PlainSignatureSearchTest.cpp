#include "carving/PlainSignatureSearch.h"

#include "platform/ByteView.h"
#include "scan/ScanThread.h"
#include "session/AutoRecoverySnapshot.h"
#include "session/HFSPlusDir.h"
#include "session/TreeRecordWriter.h"
#include "signatures/FileTypeTable.h"
#include "support/ApfsNodeBuilder.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <tuple>

namespace fs = std::filesystem;
using platform::Array;

namespace {

// The built-in file types of the file scans with these extensions, marked.
Array marked(const std::set<std::string>& extensions) {
    const auto rows = FileTypeTable::parse(testsupport::readText(DRENTIC_FILE_TYPE_TABLE));
    Array out;
    for (const auto& category : FileTypeTable::buildList(rows.value(), FileTypeTable::FR))
        for (const auto& node : category->children())
            if (extensions.count(node->sig()->extension)) out.emplace_back(node);
    return out;
}

const std::set<std::string> kTypes{"jpg", "png", "pdf", "zip", "mp3"};

class PlainSignatureSearchTest : public testsupport::ScanFixture {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"mkfs.vfat", "mcopy", "convert", "gs", "zip", "sox", "lame"})
            if (!testsupport::haveTool(tool)) missing_ = tool;
        if (!missing_.empty()) return;
        media_ = testsupport::makeTempDir("search-media");
        made_ = testsupport::runCommand(std::string(DRENTIC_SEARCH_IMAGES_SCRIPT) + " " +
                                        testsupport::shellQuote(media_.string()))
                    .has_value();
    }
    void SetUp() override {
        ScanFixture::SetUp();
        if (!missing_.empty()) GTEST_SKIP() << missing_ << " is missing (./dev.sh installs it)";
        ASSERT_TRUE(made_);
    }
    std::shared_ptr<Volume> searchable(const std::string& image, const std::string& content) {
        auto v = keep(testsupport::volumeOver(media_ / image, 0, 0, 512, content));
        v->setRawSearchStart(0, 100);
        return v;
    }
    // Each sample's carved file: the first of its type, where the sample's
    // bytes lie on the medium, byte for byte (a PDF to the line break after
    // its last end-of-file marker).
    void expectSamplesFound(Volume& v, const std::string& image) {
        const std::string medium = testsupport::readText(media_ / image);
        for (const char* sample : {"photo.jpg", "pic.png", "doc.pdf", "arc.zip", "song.mp3"}) {
            SCOPED_TRACE(sample);
            const std::string bytes = testsupport::readText(media_ / sample);
            const std::string extension = fs::path(sample).extension().string().substr(1);
            NewDir* file = testsupport::nodeAt(v.dirRoot, extension + " files/File1." + extension);
            ASSERT_NE(file, nullptr);
            EXPECT_EQ(v.HPlusVolStart() + file->dataStartSector + file->extents[0].startBlock,
                      medium.find(bytes) / 512);
            EXPECT_EQ(file->fileSize, bytes.size());
            EXPECT_EQ(testsupport::readThroughExtents(v, *file), bytes);
        }
    }

    static inline std::string missing_;
    static inline fs::path media_;
    static inline bool made_ = false;
};

TEST_F(PlainSignatureSearchTest, FatSearchCarvesDeletedFilesAndLeavesUsedClustersAndKnownFiles) {
    for (const auto& [image, content] : {std::pair{"fat16.img", "FAT16"}, {"fat32.img", "FAT32"}}) {
        SCOPED_TRACE(image);
        auto v = searchable(image, content);
        ScanThread(v).scanForDeletedFiles(Array{1, 1, marked(kTypes), 0});
        expectTreeCompleteLast();
        expectSamplesFound(*v, image);
        // live.jpg is in use and known.jpg is the FAT recovery's.
        EXPECT_EQ(testsupport::nodeAt(v->dirRoot, "jpg files")->childrenArrayCount(), 1u);
        EXPECT_EQ(v->fileCount, 7u + 5u);
        freeVolumes();
        controller.clear();
    }
}

// Cards of FAT12, FAT16 and FAT32 that mkfs.vfat made with one-sector clusters and mtools filled with twenty photos,
// every other one deleted and its entry taken by an empty file, so that only the search finds it, and mkfs.exfat's
// volume, searched dead past their boot sectors (the first 16 KiB read), dying half-way under the page cache, or with
// their first FAT unreadable: the search reads the FAT as every walk reads a stretch, so a dead or dying card costs a
// few dozen failed reads and not one for each sector of its FAT, and a cluster whose entry could not be read is
// searched as a free one is, so every deleted photo is found.
TEST_F(PlainSignatureSearchTest, AFailingCardCostsAFewDozenReadsAndAClusterWhoseEntryIsLostIsSearched) {
    const std::string photo = testsupport::readText(media_ / "photo.jpg");
    for (const auto& [content, options, kib] : {std::tuple{"FAT12", "-F 12 -s 1", "2000"},
                                                {"FAT16", "-F 16 -s 1", "32000"},
                                                {"FAT32", "-F 32 -s 1", "40000"},
                                                {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "", ""}}) {
        SCOPED_TRACE(content);
        const bool exFat = std::string(options).empty();
        const fs::path dir = testsupport::makeTempDir("failing-card");
        const fs::path image =
            exFat ? testsupport::exFATVolumeWithDeletedFiles() : testsupport::mkfsVfat(dir, options, kib);
        std::string photos, deleted, empties;
        for (int i = 10; i < 30 && !exFat; ++i) {
            const std::string name = std::to_string(i);
            testsupport::writeText(dir / ("P" + name + ".JPG"), photo);
            photos += " " + testsupport::shellQuoted(dir / ("P" + name + ".JPG"));
            if (i % 2 != 0) continue;
            deleted += " ::/P" + name + ".JPG";
            testsupport::writeText(dir / ("E" + name + ".TXT"), "");
            empties += " " + testsupport::shellQuoted(dir / ("E" + name + ".TXT"));
        }
        for (const auto& [tool, arguments] :
             {std::pair{"mcopy", photos + " ::/"}, {"mdel", deleted}, {"mcopy", empties + " ::/"}})
            if (!exFat) testsupport::mtools(image, tool, arguments);
        const std::vector<std::uint8_t> bootSector = testsupport::readBytesAt(image, 0, 512);
        const platform::ByteView boot(bootSector);
        // FAT32 keeps its FAT's length in a field of its own.
        const std::uint64_t sectors = fs::file_size(image) / 512, fatStart = boot.le16(14),
                            fatSectors = boot.le16(22) != 0 ? boot.le16(22) : boot.le32(36);
        // The first sector of each photo the search finds.
        const auto search = [&](const testsupport::FailingReads& failing) {
            auto v = keep(testsupport::volumeOver(image, 0, 0, 512, content));
            v->setRawSearchStart(0, 100);
            v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
            ScanThread(v).scanForDeletedFiles(Array{1, 1, marked({"jpg"}), 0});
            expectTreeCompleteLast();
            EXPECT_FALSE(v->mediumGone());
            std::set<std::uint64_t> found;
            if (const NewDir* jpegs = testsupport::nodeAt(v->dirRoot, "jpg files"))
                for (const NewDir* file : jpegs->childList)
                    found.insert(v->HPlusVolStart() + file->dataStartSector + file->extents[0].startBlock);
            freeVolumes();
            controller.clear();
            return found;
        };
        const std::set<std::uint64_t> clean = search(testsupport::FailingReads());
        ASSERT_EQ(clean.size(), exFat ? 0u : 10u);
        testsupport::FailingReads dead, dying, lostFat;
        dead.failSectors(32, sectors);
        dying.dieUnderThePageCacheAt(sectors / 2);
        lostFat.failSectors(fatStart, fatSectors);
        for (const auto& [name, failing] :
             {std::pair{"dead", &dead}, {"dying", &dying}, {"first FAT lost", &lostFat}}) {
            SCOPED_TRACE(name);
            if (exFat && failing == &lostFat) continue;
            const std::set<std::uint64_t> found = search(*failing);
            EXPECT_LE(failing->failedReads(), 64u);
            if (failing == &lostFat) {
                EXPECT_TRUE(std::includes(found.begin(), found.end(), clean.begin(), clean.end()));
            }
        }
    }
}

// A 1 GiB FAT32 card that mkfs.vfat made and mtools wrote photos to, unreadable from 256 to 768 MiB, with deleted
// photos in its free clusters before, after and running from its last readable sectors into the bad area; a 4 GiB APFS
// container that mkapfs made, dead past its first 16 KiB (its space manager unreadable, so the whole container is
// searched) or dying under the page cache at 30 %. Once a walk of the pass has found a stretch unreadable, no reader of
// the pass asks inside it again: the next batch of the sweep, the next window of the container's scan of its blocks
// and the next block of the maps of used blocks read it as zeros, and the walk comes back over it a few asks at the
// most. The search and the carving so each cost a few dozen failed reads, whatever the bad area's length, and find
// every photo that lies on readable sectors.
TEST_F(PlainSignatureSearchTest, ABadAreaCostsEachSearchAFewDozenFailedReadsWhateverItsLength) {
    const std::string photo = testsupport::readText(media_ / "photo.jpg");
    const std::uint64_t mib = 2048, photoSectors = (photo.size() + 511) / 512;
    const fs::path dir = testsupport::makeTempDir("bad-area");
    const fs::path card = testsupport::mkfsVfat(dir, "-F 32", "1048576");
    for (int i = 0; i < 4; ++i)
        testsupport::writeText(dir / ("P" + std::to_string(i) + ".JPG"), photo);
    testsupport::mtools(card, "mcopy", testsupport::shellQuoted(dir) + "/P*.JPG ::/");
    const fs::path container = testsupport::ApfsNodeBuilder::makeContainer(dir / "apfs.img", 4096 * mib * 512);
    if (container.empty()) GTEST_SKIP() << "mkapfs is not installed or failed";
    const struct {
        const char* name;
        fs::path image;
        const char* content;
        std::function<void(testsupport::FailingReads&)> fail;
        // Deleted photos, and which lie on sectors that answer.
        std::vector<std::pair<std::uint64_t, bool>> photos;
    } cases[] = {
        {"FAT32, 256 to 768 MiB unreadable",
         card,
         "FAT32",
         [&](testsupport::FailingReads& f) { f.failSectors(256 * mib, 512 * mib); },
         {{100 * mib, true}, {256 * mib - photoSectors / 2, false}, {800 * mib + 7, true}, {1000 * mib, true}}},
        {"APFS, dead past 16 KiB",
         container,
         "APFS",
         [&](testsupport::FailingReads& f) { f.failSectors(32, 4096 * mib - 32); },
         {{500 * mib, false}, {3000 * mib, false}}},
        {"APFS, dying at 30 %",
         container,
         "APFS",
         [&](testsupport::FailingReads& f) { f.dieUnderThePageCacheAt(4096 * mib * 3 / 10); },
         {{300 * mib, true}, {3000 * mib, false}}},
    };
    for (const auto& row : cases) {
        for (const auto& [at, readable] : row.photos)
            testsupport::writeAt(row.image, at * 512, {photo.begin(), photo.end()});
        for (const int method : {0, 1}) {
            SCOPED_TRACE(std::string(row.name) + (method == 0 ? ", searched" : ", carved"));
            testsupport::FailingReads failing;
            row.fail(failing);
            auto v = keep(testsupport::volumeOver(row.image, 0, 0, 512, row.content));
            v->setRawSearchStart(0, 100);
            // What the page cache above the disk holds is read from there once the disk has stopped answering.
            v->setRawRead(failing.reader(), failing.cachedReader(), failing.pastEveryCacheReader());
            ScanThread(v).scanForDeletedFiles(Array{1, 1, marked({"jpg"}), method});
            expectTreeCompleteLast();
            EXPECT_FALSE(v->mediumGone());
            std::set<std::uint64_t> found;
            for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
                if (!node->isFolder() && !node->extents.empty())
                    found.insert(v->HPlusVolStart() + testsupport::firstSector(*node));
            for (const auto& [at, readable] : row.photos)
                if (readable) {
                    EXPECT_TRUE(found.count(at)) << "the photo at sector " << at;
                }
            EXPECT_LE(failing.failedReads(), 64u);
            freeVolumes();
            controller.clear();
        }
    }
}

TEST_F(PlainSignatureSearchTest, WholeDiskSearchFindsFilesAtTheirSectorsAcrossBatchEndsToTheLastSector) {
    auto v = searchable("raw.img", "");
    ScanThread(v).scanForDeletedFilesDisk(Array{marked(kTypes), 0});
    expectTreeCompleteLast();
    expectSamplesFound(*v, "raw.img");
    EXPECT_EQ(v->fileCount, 5u);
}

// A progressive JPEG at sector 2048 and forty baseline photos three sectors apart after it, on zeros or on random
// bytes, with or without a bad area from the third sector of one photo to the next: the search finds every photo that
// lies wholly on readable sectors at its sector, and the progressive one ends at the end marker it holds. The walk
// of the photo in the bad area looks through its zeros for the end marker and finds the next photo's, so it is not
// jumped over past them.
class ProgressiveJpegSearchTest : public PlainSignatureSearchTest,
                                  public testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(ProgressiveJpegSearchTest, EveryReadablePhotoIsFoundAndTheProgressiveOneEndsAtItsEndMarker) {
    const auto [random, bad] = GetParam();
    const std::string progressive = testsupport::toolSample(
        "convert -seed " + testsupport::sampleSeed(7) + " -size 320x240 plasma: -interlace JPEG \"$OUT\"", "jpg");
    const std::string photo = testsupport::toolSample(
        "convert -seed " + testsupport::sampleSeed(8) + " -size 160x120 plasma: \"$OUT\"", "jpg");
    const fs::path image = testsupport::filledImage(random, "photo-after-photo");
    testsupport::writeAt(image, 2048 * 512, {progressive.begin(), progressive.end()});
    const std::uint64_t photoSectors = (photo.size() + 511) / 512;
    std::vector<std::uint64_t> photos{2048 + (progressive.size() + 511) / 512 + 3};
    while (photos.size() < 40)
        photos.push_back(photos.back() + photoSectors + 3);
    for (const std::uint64_t at : photos)
        testsupport::writeAt(image, at * 512, {photo.begin(), photo.end()});
    const std::uint64_t badFirst = photos[9] + 2, badEnd = photos[10];
    testsupport::FailingReads failing;
    if (bad) failing.failSectors(badFirst, badEnd - badFirst);
    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, ""));
    v->setRawSearchStart(0, 100);
    v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
    ScanThread(v).scanForDeletedFilesDisk(Array{marked({"jpg"}), 0});
    expectTreeCompleteLast();
    std::map<std::uint64_t, std::uint64_t> found; // first sector, size
    for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
        if (!node->isFolder()) found[node->dataStartSector + node->extents[0].startBlock] = node->fileSize;
    EXPECT_EQ(found[2048], progressive.rfind("\xFF\xD9") + 2);
    for (const std::uint64_t at : photos)
        if (!bad || at + photoSectors <= badFirst || at >= badEnd) {
            EXPECT_TRUE(found.count(at)) << at;
        }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, ProgressiveJpegSearchTest,
                         testing::Combine(testing::Bool(), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "RandomBytes" : "Zeros") +
                                    (std::get<1>(info.param) ? "AndABadArea" : "");
                         });

// An MPEG stream on zeros or on random bytes, a photo three sectors after it, the stream again three sectors after
// the photo and the photo again: the search finds each at its sector. A program stream is measured by its packs and
// packets. A video stream, which its encoder ends with no end code, is measured to the zeros behind it (two of which
// may be its last bytes), or, on random bytes, to an estimate that holds it and not the photo after it, and is not
// jumped over.
namespace {
struct MpegSample {
    const char* name;
    std::string options;
    bool program;
};
const std::string kVideoSource = "-f lavfi -i " + testsupport::sampleVideo("size=160x120:rate=25:duration=3");
const std::string kToneSource = " -f lavfi -i sine=frequency=" + testsupport::sampleTone(440) + ":duration=3";
const std::vector<MpegSample> kMpegSamples = {
    {"Mpeg1Video", kVideoSource + " -c:v mpeg1video -f mpeg1video", false},
    {"Mpeg2Video", kVideoSource + " -c:v mpeg2video -f mpeg2video", false},
    {"Mpeg1Program", kVideoSource + kToneSource + " -c:v mpeg1video -c:a mp2 -f mpeg", true},
    {"Mpeg2Program", kVideoSource + kToneSource + " -c:v mpeg2video -c:a mp2 -f vob", true},
};
} // namespace

class MpegStreamSearchTest : public PlainSignatureSearchTest,
                             public testing::WithParamInterface<std::tuple<std::size_t, bool>> {};

TEST_P(MpegStreamSearchTest, EveryFileIsFoundAtItsSectorAndTheStreamHoldsItsBytesAndNotThePhotoAfterIt) {
    const auto [which, random] = GetParam();
    if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing (./dev.sh installs it)";
    const MpegSample& sample = kMpegSamples[which];
    const std::string stream =
        testsupport::toolSample("ffmpeg -v error " + sample.options + " -threads 1 \"$OUT\"", "mpg");
    const std::string photo = testsupport::toolSample(
        "convert -seed " + testsupport::sampleSeed(8) + " -size 160x120 plasma: \"$OUT\"", "jpg");
    const fs::path image = testsupport::filledImage(random, "stream-then-photo");
    const auto sectorsOf = [](const std::string& bytes) { return (bytes.size() + 511) / 512; };
    std::vector<std::uint64_t> at{2048};
    for (const std::string* file : {&stream, &photo, &stream})
        at.push_back(at.back() + sectorsOf(*file) + 3);
    for (std::size_t i = 0; i < at.size(); ++i) {
        const std::string& file = i % 2 == 0 ? stream : photo;
        testsupport::writeAt(image, at[i] * 512, {file.begin(), file.end()});
    }
    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, ""));
    v->setRawSearchStart(0, 100);
    ScanThread(v).scanForDeletedFilesDisk(Array{marked({"mpg", "jpg"}), 0});
    expectTreeCompleteLast();
    std::map<std::uint64_t, std::uint64_t> found; // first sector, size
    for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
        if (!node->isFolder()) found[node->dataStartSector + node->extents[0].startBlock] = node->fileSize;
    EXPECT_EQ(found.size(), at.size());
    for (const std::uint64_t sector : at)
        EXPECT_TRUE(found.count(sector)) << sector;
    for (const std::uint64_t sector : {at[0], at[2]}) {
        const std::uint64_t size = found[sector];
        if (sample.program) {
            EXPECT_EQ(size, stream.size());
        } else {
            EXPECT_GE(size, stream.size());
            EXPECT_LE(size, random ? (sectorsOf(stream) + 3 + sectorsOf(photo)) * 512 : stream.size() + 2);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, MpegStreamSearchTest,
                         testing::Combine(testing::Range<std::size_t>(0, kMpegSamples.size()), testing::Bool()),
                         [](const auto& info) {
                             return std::string(kMpegSamples[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// A video stream with no end code, a pixmap (text: neither zeros nor a start code in it) in the sector after it and
// zeros behind that: the stream's walk runs through the pixmap to the zeros, but nothing checked those bytes as the
// stream's, and neither the plain search nor the carving jumps over them: the pixmap is found at its own sector.
TEST_F(PlainSignatureSearchTest, AFileBetweenAVideoStreamWithNoEndCodeAndTheZerosBehindItIsFound) {
    if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing (./dev.sh installs it)";
    const std::string stream = testsupport::toolSample(
        "ffmpeg -v error " + kVideoSource + " -c:v mpeg1video -threads 1 -f mpeg1video \"$OUT\"", "mpg");
    const std::string pixmap =
        testsupport::toolSample("convert -seed " + testsupport::sampleSeed(9) + " -size 16x16 plasma: \"$OUT\"", "xpm");
    ASSERT_EQ(pixmap.find('\0'), std::string::npos);
    const std::uint64_t pixmapAt = 2048 + (stream.size() + 511) / 512;
    for (const int method : {0, 1}) {
        SCOPED_TRACE(method == 0 ? "the plain search" : "the carving");
        const fs::path image = testsupport::filledImage(true, "stream-then-pixmap");
        testsupport::writeAt(image, 2048 * 512, {stream.begin(), stream.end()});
        std::vector<std::uint8_t> pixmapThenZeros(pixmap.begin(), pixmap.end());
        pixmapThenZeros.resize(pixmap.size() + 4096);
        testsupport::writeAt(image, pixmapAt * 512, pixmapThenZeros);
        // The file scans' rows for the plain search (the stream's own recogniser), the photo scans' for the carving.
        const auto found = searchedDisk(image,
                                        method == 0 ? marked({"mpg", "xpm"})
                                                    : testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, {"mpg", "xpm"}),
                                        method);
        EXPECT_EQ(found.count(2048), 1u);
        const auto [from, to] = found.equal_range(pixmapAt);
        EXPECT_TRUE(std::any_of(from, to, [&](const auto& f) { return f.second.bytes.starts_with(pixmap); }));
    }
}

// A program stream whose second pack lies in a page the medium cannot give, or in a bad area that runs on past every
// pack its first 64 sectors hold: the packets of its first pack lead there, and it is found at its first sector and
// measured to its end, the photo after it at its own.
class ProgramStreamPastALostPackTest : public PlainSignatureSearchTest,
                                       public testing::WithParamInterface<std::tuple<std::size_t, bool>> {};

TEST_P(ProgramStreamPastALostPackTest, IsFoundAtItsFirstSector) {
    const auto [which, page] = GetParam();
    if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing (./dev.sh installs it)";
    const std::string stream =
        testsupport::toolSample("ffmpeg -v error " + kMpegSamples[which].options + " -threads 1 \"$OUT\"", "mpg");
    const std::string photo = testsupport::toolSample(
        "convert -seed " + testsupport::sampleSeed(8) + " -size 160x120 plasma: \"$OUT\"", "jpg");
    const std::size_t secondPack = stream.find(std::string("\0\0\1\xBA", 4), 4);
    ASSERT_NE(secondPack, std::string::npos);
    ASSERT_GE(secondPack, 512u) << "the second pack lies in the stream's first sector";
    const fs::path image = testsupport::filledImage(false, "lost-pack");
    const std::uint64_t photoAt = 2048 + (stream.size() + 511) / 512 + 3;
    testsupport::writeAt(image, 2048 * 512, {stream.begin(), stream.end()});
    testsupport::writeAt(image, photoAt * 512, {photo.begin(), photo.end()});
    testsupport::FailingReads failing;
    const std::uint64_t lost = 2048 + secondPack / 512;
    // A page of the image's file: eight sectors from a multiple of eight, never the stream's first.
    const std::uint64_t first = page ? std::max<std::uint64_t>(lost / 8 * 8, 2049) : lost;
    failing.failSectors(first, page ? lost / 8 * 8 + 8 - first : std::max<std::uint64_t>(2048 + 64, lost + 1) - lost);
    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, ""));
    v->setRawSearchStart(0, 100);
    v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
    ScanThread(v).scanForDeletedFilesDisk(Array{marked({"mpg", "jpg"}), 0});
    std::map<std::uint64_t, std::uint64_t> found; // first sector, size
    for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
        if (!node->isFolder()) found[node->dataStartSector + node->extents[0].startBlock] = node->fileSize;
    ASSERT_TRUE(found.count(2048));
    EXPECT_EQ(found[2048], stream.size());
    EXPECT_TRUE(found.count(photoAt));
}

INSTANTIATE_TEST_SUITE_P(PageOrHead, ProgramStreamPastALostPackTest,
                         testing::Combine(testing::Values<std::size_t>(2, 3), testing::Bool()), [](const auto& info) {
                             return std::string(kMpegSamples[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "PageLost" : "HeadLostFromIt");
                         });

// The same stream whose sectors are lost from its second pack to past its end, no pack readable behind them: the
// walk cannot follow it to where it stops, and it is listed as far as it reads, marked, never as a whole short file.
TEST_F(PlainSignatureSearchTest, AProgramStreamLostToItsEndIsListedMarked) {
    if (!testsupport::haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing (./dev.sh installs it)";
    const std::string stream =
        testsupport::toolSample("ffmpeg -v error " + kMpegSamples[2].options + " -threads 1 \"$OUT\"", "mpg");
    const std::size_t secondPack = stream.find(std::string("\0\0\1\xBA", 4), 4);
    ASSERT_GE(secondPack, 512u);
    const fs::path image = testsupport::filledImage(true, "lost-stream-end");
    testsupport::writeAt(image, 2048 * 512, {stream.begin(), stream.end()});
    testsupport::FailingReads failing;
    const std::uint64_t lost = 2048 + secondPack / 512;
    failing.failSectors(lost, 2048 + (stream.size() + 511) / 512 + 256 - lost);
    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, ""));
    v->setRawSearchStart(0, 100);
    v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
    ScanThread(v).scanForDeletedFilesDisk(Array{marked({"mpg"}), 0});
    const auto nodes = testsupport::nodesByPath(v->dirRoot);
    const auto file = std::find_if(nodes.begin(), nodes.end(), [](const auto& n) {
        return !n.second->isFolder() && n.second->dataStartSector + n.second->extents[0].startBlock == 2048;
    });
    ASSERT_NE(file, nodes.end());
    EXPECT_EQ(file->second->complete, NewDir::kDamaged);
    EXPECT_LT(file->second->fileSize, stream.size());
}

// The document gives its picture in twips; a 60 x 40 picture at 144 dots per
// inch shows at 30 x 20 points. Another PNG of other proportions is no
// picture of the document.
TEST_F(PlainSignatureSearchTest, PictureAnRtfDocumentNamesGoesIntoItsPackage) {
    const std::string picture =
        testsupport::toolSample("convert -size 60x40 xc:red -units PixelsPerInch -density 144 \"$OUT\"", "png");
    const std::string other = testsupport::toolSample("convert -size 30x30 xc:blue \"$OUT\"", "png");
    const std::string rtf = "{\\rtf1 {{\\NeXTGraphic shot.png \\width600 \\height400\n}\xAC}}";
    const auto image = testsupport::zeroImage(64 * 512);
    testsupport::writeAt(image, 10 * 512, std::vector<std::uint8_t>(rtf.begin(), rtf.end()));
    testsupport::writeAt(image, 20 * 512, std::vector<std::uint8_t>(other.begin(), other.end()));
    testsupport::writeAt(image, 30 * 512, std::vector<std::uint8_t>(picture.begin(), picture.end()));
    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, ""));
    v->setRawSearchStart(0, 100);
    ScanThread(v).scanForDeletedFilesDisk(Array{marked({"rtf", "png"}), 0});
    NewDir* shot = testsupport::nodeAt(v->dirRoot, "rtf files/File1.rtfd/shot.png");
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(shot->extents[0].startBlock, 30u);
    EXPECT_NE(testsupport::nodeAt(v->dirRoot, "rtf files/File1.rtfd/TXT.rtf"), nullptr);
    NewDir* plain = testsupport::nodeAt(v->dirRoot, "png files/File1.png");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->extents[0].startBlock, 20u);
    EXPECT_EQ(testsupport::nodeAt(v->dirRoot, "png files")->childrenArrayCount(), 1u);
}

// A layout document's page database: pages of 4096 bytes, the first two its
// master pages (database GUID, file type, object byte order, sequence number
// and page count), the objects of a document after the pages.
std::vector<std::uint8_t> layoutDatabase(const std::string& type, std::uint8_t byteOrder, std::uint32_t pages0,
                                         std::uint32_t sequence0, std::uint32_t pages1, std::uint32_t sequence1,
                                         std::uint32_t pagesWritten) {
    std::vector<std::uint8_t> bytes(std::size_t{pagesWritten} * 4096);
    for (const std::size_t page : {0, 4096}) {
        testsupport::putBE(bytes, page, 0x0606EDF5D81D46E5, 8);
        testsupport::putBE(bytes, page + 8, 0xBD31EFE7FE74B71D, 8);
        std::copy(type.begin(), type.end(), bytes.begin() + static_cast<std::ptrdiff_t>(page) + 16);
        bytes[page + 24] = byteOrder;
        testsupport::putLE(bytes, page + 264, page ? sequence1 : sequence0, 4);
        testsupport::putLE(bytes, page + 280, page ? pages1 : pages0, 4);
    }
    return bytes;
}

// An object of the stream after the pages: two GUID halves, the length at
// byte 32 in the database's byte order (2: big-endian), its bytes.
void appendObject(std::vector<std::uint8_t>& bytes, std::uint64_t head, std::uint64_t tail, std::uint32_t length,
                  std::uint8_t byteOrder) {
    std::vector<std::uint8_t> object(36 + length, 0x5A);
    testsupport::putBE(object, 0, head, 8);
    testsupport::putBE(object, 8, tail, 8);
    (byteOrder == 2 ? testsupport::putBE : testsupport::putLE)(object, 32, length, 4);
    bytes.insert(bytes.end(), object.begin(), object.end());
}

// The search finds each database at its sector, sized by its newer master
// page and the objects that follow its pages; a book goes to "indb files",
// and a database whose object stream holds a header of no known kind is
// not taken.
TEST_F(PlainSignatureSearchTest, LayoutDocumentsAndBooksAreFoundSizedByTheirPagesAndObjects) {
    constexpr std::uint64_t headHalf = 0xDE39397951884B6C, otherHead = 0xFDCEDB70F7864B4F;
    constexpr std::uint64_t tailHalf = 0x8E63EEF8AEE0DD38, otherTail = 0xA4D3C728B3417106;
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> placed;
    for (const std::uint8_t order : {1, 2}) { // 3 pages, then objects of 5036 and 136 bytes
        auto document = layoutDatabase("DOCUMENT", order, 3, 7, 3, 7, 3);
        appendObject(document, headHalf, otherTail, 5000, order);
        appendObject(document, otherHead, tailHalf, 100, order);
        placed.emplace_back(order == 1 ? 16 : 100, document);
    }
    placed.emplace_back(200, layoutDatabase("BOOKBOOK", 1, 5, 2, 5, 2, 5));
    placed.emplace_back(300, layoutDatabase("DOCUMENT", 1, 10, 5, 12, 4, 12)); // the newer copy counts 10
    placed.emplace_back(500, layoutDatabase("DOCUMENT", 1, 10, 4, 12, 4, 12)); // equally new: the longer
    auto unknown = layoutDatabase("DOCUMENT", 1, 2, 1, 2, 1, 2);
    appendObject(unknown, headHalf, headHalf, 100, 1);
    placed.emplace_back(700, unknown);

    const auto image = testsupport::zeroImage(800 * 512);
    for (const auto& [sector, bytes] : placed) {
        testsupport::writeAt(image, sector * 512, bytes);
        // What Debian's file(1) takes for a layout document begins so.
        if (!testsupport::haveTool("file")) continue;
        const fs::path alone = testsupport::makeTempDir("layout") / "database";
        testsupport::writeText(alone, std::string(bytes.begin(), bytes.end()));
        const std::string kind = testsupport::runCommand("file -b " + testsupport::shellQuoted(alone)).value_or("");
        EXPECT_TRUE(kind.starts_with("Adobe InDesign")) << sector << ": " << kind;
    }
    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, ""));
    v->setRawSearchStart(0, 100);
    ScanThread(v).scanForDeletedFilesDisk(Array{marked({"indd"}), 0});
    expectTreeCompleteLast();

    const auto expectFile = [&](const std::string& path, std::uint64_t sector, std::uint64_t size) {
        SCOPED_TRACE(path);
        const NewDir* file = testsupport::nodeAt(v->dirRoot, path);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->extents[0].startBlock, sector);
        EXPECT_EQ(file->fileSize, size);
    };
    expectFile("indd files/File1.indd", 16, 20480); // 3 pages + 5172 bytes of objects
    expectFile("indd files/File2.indd", 100, 20480);
    expectFile("indb files/File1.indb", 200, 20480);
    expectFile("indd files/File3.indd", 300, 10 * 4096);
    expectFile("indd files/File4.indd", 500, 12 * 4096);
    EXPECT_EQ(v->fileCount, 5u); // the database with an unknown object header is not among them
    if (!testsupport::haveTool("file")) GTEST_SKIP() << "file is missing (./dev.sh installs it)";
}

// The search appends to the snapshot the record of each node it adds, a
// folder's before its file's (the resume reader links them in file order),
// and keeps its position in the Info file.
TEST_F(PlainSignatureSearchTest, AutoRecoveryPairGetsEachFolderBeforeItsFilesAndTheCheckpoint) {
    const fs::path state = testsupport::makeTempDir("state");
    testsupport::writeText(state / AutoRecoverySnapshot::kDataFile, "snapshot");
    testsupport::writeText(state / AutoRecoverySnapshot::kInfoFile, "");
    ::setenv("DRENTIC_STATE_DIR", state.c_str(), 1);
    auto v = searchable("fat16.img", "FAT16");
    ScanThread(v).scanForDeletedFiles(Array{1, 1, marked(kTypes), 0});
    ::unsetenv("DRENTIC_STATE_DIR");

    const std::string data = testsupport::readText(state / AutoRecoverySnapshot::kDataFile);
    ASSERT_EQ(data.substr(0, 8), "snapshot");
    std::vector<std::uint64_t> written{TreeRecordWriter::identityOf(v->dirRoot)};
    for (std::size_t at = 8; at < data.size();) {
        const platform::ByteView bytes(reinterpret_cast<const std::uint8_t*>(data.data()) + at, data.size() - at);
        const HFSPlusDir record = HFSPlusDir::decode(bytes.sub(0, HFSPlusDir::kSize));
        EXPECT_NE(std::find(written.begin(), written.end(), record.parentIdentity), written.end());
        written.push_back(record.identity);
        at += HFSPlusDir::kSize + 2 * record.nameLength +
              (record.fileType == NewDir::Folder ? 2 * record.pathLength : 0) + 8 * record.extentCount;
    }
    EXPECT_EQ(written.size(), 1u + 2 * kTypes.size());
    const std::vector<std::uint8_t> checkpoint = testsupport::readBytes(state / AutoRecoverySnapshot::kInfoFile);
    const platform::ByteView info(checkpoint);
    // The unit, its first sector, the sectors lost below it (none) and the file held open (none: the plain search
    // holds none).
    ASSERT_EQ(info.size(), 40u);
    EXPECT_GT(info.be64(0), 2u);
    EXPECT_LT(info.be64(0), v->totalBlocks);
    EXPECT_EQ(info.be64(16), 0u);
    EXPECT_EQ(std::pair(info.be64(24), info.be64(32)),
              std::pair(AutoRecoverySnapshot::kHeldFileTag, AutoRecoverySnapshot::kNoHeldFile));
}

} // namespace
