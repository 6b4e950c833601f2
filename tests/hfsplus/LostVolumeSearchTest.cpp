// The search of a drive for lost HFS+ volumes, on drive images holding the macOS-made volume (placed, damaged,
// copied at will) or a built one, and on the xorriso-made hybrid image.

#include "hfsplus/LostVolumeSearch.h"

#include "media/DMedia.h"
#include "support/FailingReads.h"
#include "support/HFSPlusImageBuilder.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <map>

using namespace platform;
using testsupport::putBE;
namespace fs = std::filesystem;

namespace {

// The macOS volume: 1014 blocks of 4096 bytes, extents file at block 2, catalog (4096-byte nodes, header node 0,
// leaf node 1 of 26 records) at blocks 186 to 193, named "hfsplus_test"; its alternate header, written when the
// volume was made, counts no files or folders.
constexpr std::uint64_t kVolumeBytes = 4153344;
constexpr std::uint64_t kCatalogFirstBlock = 186;
constexpr std::uint64_t kBlockBytes = 4096;
constexpr std::uint64_t kHeaderAt = 1024;
constexpr std::uint64_t kAlternateAt = kVolumeBytes - 1024;
constexpr std::size_t kCatalog = kCatalogFirstBlock * kBlockBytes;
constexpr std::size_t kCatalogHeader = kCatalog + 14; // the catalog's header record

// The primary header copied over the alternate one, as on a volume that was in use.
void refreshAlternate(std::vector<std::uint8_t>& v) {
    std::memcpy(v.data() + kAlternateAt, v.data() + kHeaderAt, 512);
}
void zeroPrimary(std::vector<std::uint8_t>& v) {
    std::fill(v.begin() + kHeaderAt, v.begin() + kHeaderAt + 512, 0);
}

// A drive image: `sectors` sectors of `bytesPerSector`, zeros but for what is placed in it.
struct DriveImage {
    std::uint64_t sectors;
    std::uint32_t bytesPerSector = 512;
    fs::path path = testsupport::zeroImage(sectors * bytesPerSector);
    void place(std::uint64_t sector, const std::vector<std::uint8_t>& bytes) const {
        testsupport::writeAt(path, sector * bytesPerSector, bytes);
    }
};

struct Outcome {
    Array handedOver; // element 0: the volume dictionaries
    Array rows;       // element 1: the rows shown
    std::shared_ptr<DMedia> media;
};

// One row and one dictionary, the row rated so and the volume named so.
void expectOneVolume(const Outcome& o, const Value& validity, const std::string& name = "") {
    ASSERT_EQ(o.rows.size(), 1u);
    ASSERT_EQ(o.handedOver.size(), 1u);
    EXPECT_EQ(o.rows[0].dictValue().get("Validity Column"), validity);
    if (!name.empty()) {
        EXPECT_EQ(o.handedOver[0].dictValue().get("Volume Name").stringValue(), name);
    }
}

class LostVolumeSearchTest : public testsupport::ScanFixture {
protected:
    static std::uint64_t u64(const Value& d, std::string_view key) { return d.dictValue().get(key).uint64Value(); }
    void SetUp() override {
        ScanFixture::SetUp();
        volume = testsupport::readBytes(testsupport::copyOfReadyImage("hfsplus.raw"));
        ASSERT_EQ(volume.size(), kVolumeBytes);
    }

    std::shared_ptr<DMedia> mediaFor(const DriveImage& d) {
        controller.setDriveDictArray(Array{Dict{{"Path", d.path.string()}}});
        return DMedia::initWithDictionary(Dict{{"Path", d.path.string()},
                                               {"Preferred Block Size", d.bytesPerSector},
                                               {"Size", d.sectors * d.bytesPerSector},
                                               {"device model", "Model"},
                                               {"device serial", "S1"},
                                               {"device revision", "1.0"}});
    }

    Outcome search(std::shared_ptr<DMedia> media) {
        EXPECT_TRUE(media);
        if (!media) return {};
        Array argument{Array{}, Array{}};
        LostVolumeSearch(*media).initializeForVolumeThoroughScan(argument);
        return {argument[0].arrayValue(), argument[1].arrayValue(), media};
    }
    Outcome search(const DriveImage& d) { return search(mediaFor(d)); }
    // The volume (as the test changed it) at sector 40, the drive going on `after` sectors behind it.
    DriveImage volumeAt40(std::uint64_t after = 200, std::uint32_t bytesPerSector = 512) {
        DriveImage drive{40 + kVolumeBytes / bytesPerSector + after, bytesPerSector};
        drive.place(40, volume);
        return drive;
    }
    // The volume at 40 and another (of a different creation date) further on.
    DriveImage twoVolumes(std::uint64_t second) {
        std::vector<std::uint8_t> other = volume;
        putBE(other, kHeaderAt + 16, 0x22222222, 4);
        DriveImage drive{second + kVolumeBytes / 512 + 10};
        drive.place(40, volume);
        drive.place(second, other);
        return drive;
    }
    // Sets the abort flag at the first progress post holding `key`.
    void abortAt(const std::shared_ptr<DMedia>& media, const std::string& key) {
        controller.setCallObserver([media, key](const RecordingController::Call& c) {
            if (c.name == "updateVolumeScanProgress:" && c.argument.dictValue().contains(key))
                media->setAbortVolumeScan(true);
        });
    }

    std::vector<Dict> progressPosts() const {
        std::vector<Dict> out;
        for (const Value& v : controller.callsNamed("updateVolumeScanProgress:"))
            out.push_back(v.dictValue());
        return out;
    }
    std::size_t postsWith(std::string_view key) const {
        const auto posts = progressPosts();
        return std::count_if(posts.begin(), posts.end(), [&](const Dict& d) { return d.contains(key); });
    }

    std::vector<std::uint8_t> volume;
};

} // namespace

TEST_F(LostVolumeSearchTest, VolumeAtSector40IsFoundOnceRatedValidAndReportedAsTheSearchGoes) {
    Outcome o = search(volumeAt40());
    ASSERT_NO_FATAL_FAILURE(expectOneVolume(o, Value(Array{100, "Valid"})));
    EXPECT_EQ(o.handedOver[0], Value(Dict{{"Content", "Apple_HFS"},
                                          {"Model", "Model"},
                                          {"Path", o.media->cPath()},
                                          {"Revision", "1.0"},
                                          {"Serial", "S1"},
                                          {"Volume Name", "hfsplus_test"},
                                          {"Volume Scan Type", 1},
                                          {"Volume Size In Sectors", kVolumeBytes / 512},
                                          {"Volume Start", 40},
                                          {"Volume Validity", 100},
                                          {"WhetherAlternateSector", 0}}));
    EXPECT_EQ(o.rows[0], Value(Dict{{"Found Column", "Volume Found @ Sector: 40"},
                                    {"Validity Column", Array{100, "Valid"}},
                                    {"Volume Start", 40}}));
    EXPECT_EQ(o.media->volumeScanArray.size(), 1u);
    const std::vector<Dict> posts = progressPosts();
    ASSERT_GE(posts.size(), 7u);
    const std::uint64_t chunks = (40 + kVolumeBytes / 512 + 200 + 62) / 63;
    EXPECT_EQ(
        std::vector<Dict>(posts.begin(), posts.begin() + 6),
        (std::vector<Dict>{Dict{{"BarMaxValue", chunks}}, Dict{{"BarDoubleValue", 0}}, Dict{{"TimeRemaining", ""}},
                           Dict{{"Start Animation", true}, {"Progress Status", true}}, Dict{{"Stop Animation", true}},
                           Dict{{"Volumes Found", true}}}));
    EXPECT_EQ(posts.back(), (Dict{{"Scan Complete", true}}));
    // The tick is started before the drive is read and stopped after the last post.
    const std::vector<std::string> names = controller.callNames();
    auto at = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_LT(at("setUpTimerForDMedia"), at("invalidateTimer"));
    EXPECT_EQ(names.back(), "invalidateTimer");
    // The first chunk's bar value waits in dataUpdate for the tick, which hands it over once.
    EXPECT_TRUE(o.media->timerFireMethodCanRun());
    EXPECT_EQ(o.media->dataUpdate.get("BarDoubleValue").intValue(), 1);
    EXPECT_TRUE(o.media->dataUpdate.contains("TimeRemaining"));
    controller.clear();
    o.media->myTimerFireMethod();
    o.media->myTimerFireMethod();
    ASSERT_EQ(postsWith("BarDoubleValue"), 1u);
    EXPECT_FALSE(o.media->timerFireMethodCanRun());
}

// Known only by its alternate header, the volume starts before it: with 512-byte sectors and just room for it (as
// a primary header the alternate would make it run past the drive's end); with 4096-byte sectors, where the header
// lies 3072 bytes into the volume's last sector.
TEST_F(LostVolumeSearchTest, VolumeKnownOnlyByItsAlternateHeaderStartsBeforeIt) {
    refreshAlternate(volume);
    zeroPrimary(volume);
    for (auto [bytesPerSector, after, alternate] :
         {std::tuple{512u, 10u, 40 + kAlternateAt / 512}, std::tuple{4096u, 3u, 40 + kVolumeBytes / 4096 - 1}}) {
        SCOPED_TRACE(bytesPerSector);
        Outcome o = search(volumeAt40(after, bytesPerSector));
        ASSERT_NO_FATAL_FAILURE(expectOneVolume(o, Value(Array{100, "Valid"}), "hfsplus_test"));
        EXPECT_EQ(o.rows[0].dictValue().get("Found Column").stringValue(), "Volume Found @ Sector: 40");
        EXPECT_EQ(u64(o.handedOver[0], "Volume Start"), 40u);
        EXPECT_EQ(u64(o.handedOver[0], "WhetherAlternateSector"), alternate);
        EXPECT_EQ(u64(o.handedOver[0], "Volume Validity"), 100u);
    }
}

// A copy of a drive that stopped one sector short of the volume's end still holds its alternate header, in its last
// sector: the volume is read as far as the drive reaches.
TEST_F(LostVolumeSearchTest, VolumeOfADriveCutInsideItsLastSectorEndsWithTheDrive) {
    refreshAlternate(volume);
    zeroPrimary(volume);
    volume.resize(kVolumeBytes - 512);
    DriveImage drive{40 + kVolumeBytes / 512 - 1};
    drive.place(40, volume);
    Outcome o = search(drive);
    ASSERT_NO_FATAL_FAILURE(expectOneVolume(o, Value(Array{100, "Valid"}), "hfsplus_test"));
    EXPECT_EQ(u64(o.handedOver[0], "Volume Size In Sectors"), kVolumeBytes / 512 - 1);
}

TEST_F(LostVolumeSearchTest, AlternateHeaderThatCountsNoFilesIsNoVolume) {
    // The fixture's alternate header counts no files or folders: implausible, so nothing is found.
    zeroPrimary(volume);
    Outcome o = search(volumeAt40(10));
    EXPECT_EQ(o.rows.size() + o.handedOver.size(), 0u);
    EXPECT_EQ(postsWith("Start Animation"), 0u);
    EXPECT_EQ(postsWith("Scan Complete"), 1u);
}

// A second volume far enough in (its start beyond its own length) could also be read as ending at its header, as
// if that were an alternate one; a header whose volume checked out is its volume's own, so that reading, which could
// only sweep what lies there into an "Untitled" ghost, is not made.
TEST_F(LostVolumeSearchTest, HeaderOfASoundVolumeIsNotAlsoTriedAsAnAlternateOne) {
    const std::uint64_t second = 40 + kVolumeBytes / 512 + 100;
    Outcome o = search(twoVolumes(second));
    ASSERT_EQ(o.rows.size(), 2u);
    ASSERT_EQ(o.handedOver.size(), 2u);
    EXPECT_EQ(u64(o.handedOver[0], "Volume Start"), 40u);
    EXPECT_EQ(u64(o.handedOver[1], "Volume Start"), second);
    EXPECT_EQ(o.handedOver[1].dictValue().get("Volume Name").stringValue(), "hfsplus_test");
    EXPECT_EQ(postsWith("Start Animation"), 2u);
}

// Damaged B-trees lower the rating: a catalog of zeroed nodes is swept and named "Untitled"; with the header node
// gone and the leaf moved to the second 8 KiB, the sweep of the first sector of each 16-sector node meets one leaf
// in four; a zeroed extents header makes it partly valid; a leaf chain looping back ends at the node seen twice.
TEST_F(LostVolumeSearchTest, DamagedTreesAreRatedByWhatTheSweepFinds) {
    const struct {
        std::function<void(std::vector<std::uint8_t>&)> damage;
        Value validity;
        const char* name;
        int rating;
    } cases[] = {
        {[](auto& v) { std::fill(v.begin() + kCatalog, v.begin() + kCatalog + 8 * kBlockBytes, 0); },
         Value(Array{0, "Valid"}), "Untitled", 0},
        {[](auto& v) {
             std::memcpy(v.data() + kCatalog + 8192, v.data() + kCatalog + 4096, 4096);
             std::fill(v.begin() + kCatalog, v.begin() + kCatalog + 8192, 0);
         },
         Value(Array{25, "Valid"}), "Untitled", 25},
        {[](auto& v) { std::fill(v.begin() + 2 * kBlockBytes, v.begin() + 3 * kBlockBytes, 0); },
         Value(Array{10, "Partial Valid", 100, "Valid"}), "hfsplus_test", 10},
        {[](auto& v) { putBE(v, kCatalog + 4096, 1, 4); }, Value(Array{100, "Valid"}), "hfsplus_test", 100},
    };
    const std::vector<std::uint8_t> intact = volume;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rating);
        volume = intact;
        c.damage(volume);
        Outcome o = search(volumeAt40());
        ASSERT_NO_FATAL_FAILURE(expectOneVolume(o, c.validity, c.name));
        const int validity = o.handedOver[0].dictValue().get("Volume Validity").intValue();
        EXPECT_TRUE(c.rating == 10 || validity == c.rating) << validity; // partly valid: no single rating
    }
}

TEST_F(LostVolumeSearchTest, SameStartReachedTwiceGivesOneRowAndOneDictionary) {
    // The alternate header, of another creation date, is verified too and points back at sector 40.
    refreshAlternate(volume);
    putBE(volume, kAlternateAt + 16, 0x12345678, 4);
    Outcome o = search(volumeAt40(10));
    EXPECT_EQ(postsWith("Start Animation"), 2u); // both were verified
    ASSERT_NO_FATAL_FAILURE(expectOneVolume(o, Value(Array{100, "Valid"}), "hfsplus_test"));
    EXPECT_EQ(u64(o.handedOver[0], "Volume Start"), 40u);
    EXPECT_EQ(u64(o.handedOver[0], "WhetherAlternateSector"), 0u);
}

// Copies of one volume share its creation date, and so do each copy's alternate header and the copies of its header
// a journal keeps inside it. Every copy is found; those other headers are passed over unverified, though as primary
// headers the volumes they would start fit on the drive. Only a volume whose catalog checked out hides what lies in
// it: the first copy's alternate header, read as a primary one while its own is gone, starts a volume (swept,
// "Untitled") that would take in the second copy. A header whose volume checked out is not read as an alternate one
// as well, which would start a swept ghost just past the first copy's start.
TEST_F(LostVolumeSearchTest, CopiesOfOneVolumeAreEachFoundOnceAndTheHeadersTheyKeepPassedOver) {
    refreshAlternate(volume);
    std::vector<std::uint8_t> second = volume;
    std::copy_n(volume.begin() + kHeaderAt, 512, second.begin() + 600 * kBlockBytes); // a copy in the journal
    const std::uint64_t sectors = kVolumeBytes / 512;
    for (const bool firstHeaderGone : {false, true}) {
        SCOPED_TRACE(firstHeaderGone);
        controller.clear();
        if (firstHeaderGone) zeroPrimary(volume);
        const DriveImage drive{40 + 3 * sectors};
        drive.place(40, volume);
        drive.place(40 + sectors, second);
        Outcome o = search(drive);
        std::map<std::uint64_t, std::string> found;
        for (const Value& v : o.handedOver)
            found[u64(v, "Volume Start")] = v.dictValue().get("Volume Name").stringValue();
        std::map<std::uint64_t, std::string> expected{{40, "hfsplus_test"}, {40 + sectors, "hfsplus_test"}};
        if (firstHeaderGone) expected[36 + sectors] = "Untitled";
        EXPECT_EQ(found, expected);
        EXPECT_EQ(postsWith("Start Animation"), expected.size());
    }
}

TEST_F(LostVolumeSearchTest, VolumeFillingTheWholeDriveIsFound) {
    DriveImage drive{kVolumeBytes / 512};
    drive.place(0, volume);
    Outcome o = search(drive);
    ASSERT_EQ(o.rows.size(), 1u);
    EXPECT_EQ(o.rows[0].dictValue().get("Found Column").stringValue(), "Volume Found @ Sector: 0");
}

TEST_F(LostVolumeSearchTest, SectorsAfterTheLastWholeChunkAreSearched) {
    // The drive ends with the volume, whose only good header is its alternate one, behind the last whole chunk.
    refreshAlternate(volume);
    zeroPrimary(volume);
    const std::uint64_t sectors = 40 + kVolumeBytes / 512;
    ASSERT_NE(sectors % 63, 0u);
    ASSERT_GE(40 + kAlternateAt / 512, sectors / 63 * 63);
    Outcome o = search(volumeAt40(0));
    ASSERT_EQ(o.rows.size(), 1u);
    EXPECT_EQ(u64(o.handedOver[0], "Volume Start"), 40u);
}

TEST_F(LostVolumeSearchTest, FourKibSectorsFindTheHeaderWhereItLies) {
    Outcome o = search(volumeAt40(20, 4096));
    ASSERT_NO_FATAL_FAILURE(expectOneVolume(o, Value(Array{100, "Valid"}), "hfsplus_test"));
    EXPECT_EQ(o.rows[0].dictValue().get("Found Column").stringValue(), "Volume Found @ Sector: 40");
    EXPECT_EQ(u64(o.handedOver[0], "Volume Size In Sectors"), kVolumeBytes / 4096);
    EXPECT_EQ(u64(o.handedOver[0], "WhetherAlternateSector"), 0u);
}

TEST_F(LostVolumeSearchTest, AbortDuringTheFirstReportEndsTheSearchWithinItsChunk) {
    // A second header later in the same chunk and a second volume further on: neither is looked at after the stop.
    std::vector<std::uint8_t> sameChunk(volume.begin() + kHeaderAt, volume.begin() + kHeaderAt + 512);
    putBE(sameChunk, 16, 0x11111111, 4);
    const DriveImage drive = twoVolumes(40 + kVolumeBytes / 512 + 100);
    drive.place(50, sameChunk);
    auto media = mediaFor(drive);
    abortAt(media, "Volumes Found");
    Outcome o = search(media);
    EXPECT_EQ(postsWith("Start Animation"), 1u);
    // What was found before the stop is still handed over.
    ASSERT_NO_FATAL_FAILURE(expectOneVolume(o, Value(Array{100, "Valid"}), "hfsplus_test"));
    EXPECT_EQ(u64(o.handedOver[0], "Volume Start"), 40u);
    EXPECT_EQ(progressPosts().back(), (Dict{{"Scan Complete", true}}));
    EXPECT_EQ(controller.callNames().back(), "invalidateTimer");
}

TEST_F(LostVolumeSearchTest, AbortDuringAVerificationLeavesNoRow) {
    auto media = mediaFor(volumeAt40());
    abortAt(media, "Start Animation");
    Outcome o = search(media);
    EXPECT_EQ(o.rows.size() + o.handedOver.size(), 0u);
    EXPECT_TRUE(media->volumeScanArray.empty());
    EXPECT_EQ(postsWith("Volumes Found"), 0u);
    EXPECT_EQ(progressPosts().back(), (Dict{{"Scan Complete", true}}));
}

TEST_F(LostVolumeSearchTest, AbortFromAnotherThreadStopsTheSearch) {
    // Stop pressed on the main thread while the search, held at its first report until then, runs on its own: the
    // volume further on is not reached.
    std::shared_ptr<DMedia> media = mediaFor(twoVolumes(40 + kVolumeBytes / 512 + 100));
    std::promise<void> reported, stopped;
    std::future<void> stoppedFuture = stopped.get_future();
    controller.setCallObserver([&](const RecordingController::Call& c) {
        if (c.name == "updateVolumeScanProgress:" && c.argument.dictValue().contains("Volumes Found")) {
            reported.set_value();
            stoppedFuture.wait();
        }
    });
    auto searching = std::async(std::launch::async, [&] { return search(media); });
    reported.get_future().wait();
    media->setAbortVolumeScan(true);
    stopped.set_value();
    const Outcome o = searching.get();
    controller.setCallObserver(nullptr);
    EXPECT_EQ(o.rows.size(), 1u);
    EXPECT_EQ(o.handedOver.size(), 1u);
    EXPECT_EQ(postsWith("Scan Complete"), 1u);
}

TEST_F(LostVolumeSearchTest, AbortBeforeTheFirstChunkSearchesNothing) {
    std::shared_ptr<DMedia> media = mediaFor(volumeAt40());
    media->setAbortVolumeScan(true);
    EXPECT_TRUE(search(media).rows.empty());
    EXPECT_FALSE(media->timerFireMethodCanRun()); // not one chunk counted
    EXPECT_EQ(postsWith("Scan Complete"), 1u);
}

TEST_F(LostVolumeSearchTest, CatalogBeyondTheDriveReadsAsNothingAndRatesZero) {
    putBE(volume, kHeaderAt + 272 + 16, 0xFFFFFF00, 4);     // catalog's first extent starts far away
    putBE(volume, kHeaderAt + 272 + 16 + 4, 0xFFFFFFFF, 4); // and is huge: only the drive is swept
    Outcome o = search(volumeAt40());
    EXPECT_EQ(postsWith("Start Animation"), 1u);
    expectOneVolume(o, Value(Array{0, "Valid"}), "Untitled");
}

// A block size of zero is no candidate; huge counts fit nowhere; a catalog node size below a sector rates invalid.
TEST_F(LostVolumeSearchTest, HostileHeadersAndCatalogsGiveNoRow) {
    const struct {
        std::function<void(std::vector<std::uint8_t>&)> damage;
        int verified; // -1: not counted
    } cases[] = {
        {[](auto& v) { putBE(v, kHeaderAt + 40, 0, 4); }, 0},
        {[](auto& v) {
             putBE(v, kHeaderAt + 44, 0xFFFFFFFF, 4);           // total blocks
             putBE(v, kHeaderAt + 272 + 12, 0xFFFFFFFF, 4);     // catalog total blocks
             putBE(v, kHeaderAt + 272 + 16 + 4, 0xFFFFFFFF, 4); // catalog first extent's count
         },
         -1},
        {[](auto& v) { v[kCatalogHeader + 18] = v[kCatalogHeader + 19] = 0; }, -1},
    };
    const std::vector<std::uint8_t> intact = volume;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        volume = intact;
        cases[i].damage(volume);
        controller.clear();
        Outcome o = search(volumeAt40());
        EXPECT_EQ(o.rows.size() + o.handedOver.size(), 0u);
        EXPECT_TRUE(o.media->volumeScanArray.empty());
        if (cases[i].verified >= 0) {
            EXPECT_EQ(postsWith("Start Animation"), static_cast<std::size_t>(cases[i].verified));
        }
    }
}

TEST_F(LostVolumeSearchTest, HeaderInTheDrivesFirstSectorsIsNoPrimaryHeader) {
    // A header in sector 0 would put its volume 1024 bytes before the drive.
    DriveImage drive{20000};
    drive.place(0, std::vector<std::uint8_t>(volume.begin() + kHeaderAt, volume.begin() + kHeaderAt + 512));
    EXPECT_TRUE(search(drive).rows.empty());
    EXPECT_EQ(postsWith("Start Animation"), 0u);
}

TEST_F(LostVolumeSearchTest, RandomHeadersNeverCrashTheSearch) {
    const std::vector<std::uint8_t> header(volume.begin() + kHeaderAt, volume.begin() + kHeaderAt + 512);
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    const DriveImage drive = volumeAt40();
    for (int round = 0; round < 40; ++round) {
        std::vector<std::uint8_t> h = header;
        for (int k = 0; k < 12; ++k)
            h[2 + next() % 510] = static_cast<std::uint8_t>(next() >> 16);
        drive.place(1000 + round * 17, h);
    }
    Outcome o = search(drive);
    EXPECT_EQ(postsWith("Scan Complete"), 1u);
    EXPECT_EQ(o.rows.size(), o.handedOver.size());
}

TEST_F(LostVolumeSearchTest, UnusableSectorSizeSearchesNothing) {
    search(DriveImage{512, 100});
    EXPECT_EQ(postsWith("Scan Complete"), 1u);
    EXPECT_EQ(progressPosts()[0], (Dict{{"BarMaxValue", 0}}));
}

TEST_F(LostVolumeSearchTest, XorrisoHybridImageShowsItsHFSPlusVolume) {
    const auto iso = testsupport::xorrisoImage();
    if (!iso) GTEST_SKIP() << "fixture images not made";
    const fs::path copy = testsupport::copyToTemp(iso.path);
    Outcome o = search(DriveImage{fs::file_size(copy) / 512, 512, copy});
    // The volume's alternate header, at its end, is the same volume again.
    ASSERT_NO_FATAL_FAILURE(expectOneVolume(o, Value(Array{100, "Valid"})));
    const Dict& v = o.handedOver[0].dictValue();
    EXPECT_EQ(u64(o.handedOver[0], "Volume Start"), iso.start);
    EXPECT_EQ(u64(o.handedOver[0], "WhetherAlternateSector"), 0u);
    EXPECT_EQ(v.get("Volume Validity").intValue(), 100);
    EXPECT_FALSE(v.get("Volume Name").stringValue().empty());
    EXPECT_NE(v.get("Volume Name").stringValue(), "Untitled");
}

TEST_F(LostVolumeSearchTest, CatalogRunningPastTheVolumesEndIsWalkedAndRated) {
    // One leaf per node, one node per extent (two in overflow records); the last three extents past the volume's end.
    testsupport::HFSPlusImageBuilder b(
        {.volumeName = "Cut", .catalogNodeCount = 10, .catalogExtentCount = 10, .maxRecordsPerLeaf = 1});
    b.addFolder(b.kRoot, "a");
    b.addFolder(b.kRoot, "b");
    b.addFile(b.kRoot, "c", {1});
    std::vector<std::uint8_t> image = b.build();
    putBE(image, kHeaderAt + 44, b.layout().catalogFile[7].startBlock, 4);
    DriveImage drive{40 + image.size() / 512};
    drive.place(40, image);
    expectOneVolume(search(drive), Value(Array{100, "Valid"}), "Cut");
}

TEST_F(LostVolumeSearchTest, FourKibSectorsSweepADamagedCatalogSixteenSectorsANode) {
    // 32 one-sector catalog blocks: guessed nodes at 0 and 16, the leaf at 16.
    putBE(volume, kHeaderAt + 272 + 16 + 4, 32, 4);
    std::memcpy(volume.data() + kCatalog + 16 * kBlockBytes, volume.data() + kCatalog + kBlockBytes, kBlockBytes);
    std::fill(volume.begin() + kCatalog, volume.begin() + kCatalog + 2 * kBlockBytes, 0);
    expectOneVolume(search(volumeAt40(20, 4096)), Value(Array{50, "Valid"}));
}

TEST_F(LostVolumeSearchTest, CatalogHeaderCountingNoNodeInUseKeepsTheWalksRating) {
    const std::vector<std::uint8_t> intact = volume;
    for (std::uint32_t freeNodes : {6, 7}) {
        SCOPED_TRACE(freeNodes);
        volume = intact;
        putBE(volume, kCatalogHeader + 10, 3, 4);         // first leaf node, an empty one
        putBE(volume, kCatalogHeader + 22, 6, 4);         // total nodes
        putBE(volume, kCatalogHeader + 26, freeNodes, 4); // free nodes
        expectOneVolume(search(volumeAt40()), Value(Array{0, "Valid"}), "Untitled");
    }
}

TEST_F(LostVolumeSearchTest, NodeSizeOfPartSectorsCountsItsWholeSectors) {
    // 4097-byte nodes in both B-tree headers are taken as 8 sectors.
    volume[kCatalogHeader + 19] = 1;
    volume[2 * kBlockBytes + 14 + 19] = 1;
    expectOneVolume(search(volumeAt40()), Value(Array{100, "Valid"}));
}

TEST_F(LostVolumeSearchTest, DamagedCatalogShorterThanOneGuessedNodeIsStillListed) {
    // The 8-block catalog on 4096-byte sectors is 8 sectors: less than one 16-sector node to sweep.
    std::fill(volume.begin() + kCatalog, volume.begin() + kCatalog + kBlockBytes, 0);
    expectOneVolume(search(volumeAt40(20, 4096)), Value(Array{0, "Valid"}), "Untitled");
}

// Bad areas of a drive still attached (100 sectors behind the volume's catalog in the same batch as its header, a
// wide stretch of its files, many small ones, the drive's last sectors) or a drive dying under the page cache after
// the volume: each hides only itself, the volume is listed, the drive is never taken for gone, and a bad stretch
// costs a few failed reads, not one a sector.
TEST_F(LostVolumeSearchTest, BadAreasOfALiveDriveHideOnlyThemselves) {
    const std::uint64_t end = 40 + kVolumeBytes / 512 + 200, behindCatalog = 40 + (kCatalogFirstBlock + 8) * 8;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> scattered;
    for (std::uint64_t at = 3000; at < 7800; at += 256)
        scattered.emplace_back(at, 16);
    const std::vector<std::vector<std::pair<std::uint64_t, std::uint64_t>>> cases{
        {{behindCatalog, 100}}, {{3000, 4000}}, scattered, {{end - 64, 64}}, {}};
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.empty() ? std::string("dies") : std::to_string(bad.front().first));
        auto media = mediaFor(volumeAt40());
        testsupport::FailingReads disk;
        for (const auto& [first, count] : bad)
            disk.failSectors(first, count);
        if (bad.empty()) disk.dieUnderThePageCacheAt(40 + kVolumeBytes / 512);
        media->setRawRead(disk.reader(), {}, disk.pastEveryCacheReader());
        expectOneVolume(search(media), Value(Array{100, "Valid"}), "hfsplus_test");
        EXPECT_FALSE(media->mediumGone());
        EXPECT_TRUE(controller.alerts().empty());
        EXPECT_GT(disk.failedReads(), 0u);
        EXPECT_LE(disk.failedReads(), 30 * std::max<std::size_t>(bad.size(), 1));
    }
}
