#include "carving/PhotoCarving.h"

#include "carving/AutoRecoveryFiles.h"
#include "carving/BlockSearchEngine.h"
#include "carving/CarvingSelection.h"
#include "carving/UsedBlockMaps.h"
#include "formats/CarvingFormat.h"
#include "platform/ByteView.h"
#include "scan/ScanThread.h"
#include "session/AutoRecoverySnapshot.h"
#include "signatures/FileTypeTable.h"
#include "signatures/Sig.h"
#include "signatures/SigNode.h"
#include "signatures/SignatureSearchState.h"
#include "sizecalc/CarvingContext.h"
#include "sizecalc/JpegStreamWalk.h"
#include "sizecalc/SizeCalculatorChain.h"
#include "support/ApfsNodeBuilder.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::Array;

namespace {

// The photo scans' types with these extensions, and the file scans' types
// of the extensions the photo scans lack, marked (as scan-image marks them).
Array marked(const std::set<std::string>& extensions) {
    return testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, extensions);
}

// The types of the photo scans' list (method 1, the carving) or of the file
// scans' list (0, the plain search), every one or those of an extension.
Array listTypes(int method, const std::string& extension = "") {
    const auto rows = FileTypeTable::parse(testsupport::readText(DRENTIC_FILE_TYPE_TABLE)).value();
    Array types;
    for (const auto& category : FileTypeTable::buildList(rows, method == 1 ? FileTypeTable::PR : FileTypeTable::FR))
        for (const auto& node : category->children())
            if (extension.empty() || node->sig()->extension == extension) types.emplace_back(node);
    return types;
}

// (sample, sector) lines of a manifest the fixture script wrote.
std::vector<std::pair<std::string, std::uint64_t>> manifest(const fs::path& path) {
    std::vector<std::pair<std::string, std::uint64_t>> out;
    std::ifstream in(path);
    for (std::string name; in >> name;)
        in >> out.emplace_back(name, 0).second;
    return out;
}

std::string extensionOf(const std::string& name) {
    return fs::path(name).extension().string().substr(1);
}

// The carving table's row a sample's extension selects; null for the types
// the signature groups carve.
const CarvingFormat* rowFor(const std::string& extension) {
    for (const CarvingFormat& row : CarvingFormat::table())
        if (row.selectingExtension == extension) return &row;
    return nullptr;
}

// The device sector where a carved file's extent begins.
std::uint64_t deviceSector(const Volume& v, const NewDir& file) {
    return v.HPlusVolStart() + testsupport::firstSector(file);
}

// Keeps the checkpoints of a run and the nodes it appends; stops the run
// once it has written a number of nodes when asked.
struct CapturingAppend : AutoRecoveryAppend {
    Volume* stopVolume = nullptr;
    std::size_t stopAfterNodes = 0;
    // Stopped too at the first checkpoint at or past this unit.
    std::uint64_t stopAtCheckpoint = UINT64_MAX;
    std::vector<std::uint64_t> checkpoints;
    std::vector<std::optional<std::uint64_t>> heldFiles;
    std::vector<const NewDir*> written;
    // Each node's size and whether it was marked damaged, as written.
    std::vector<std::pair<std::uint64_t, bool>> writtenAs;
    // Handed on every record and checkpoint until the run is stopped, and none after: the pair as a program killed
    // at the stop leaves it.
    AutoRecoveryAppend* pair = nullptr;
    bool handsOn() const { return pair && !(stopVolume && stopVolume->stopTreeThread()); }
    void writeDir(const NewDir* node) override {
        if (handsOn()) pair->writeDir(node);
        written.push_back(node);
        writtenAs.emplace_back(node->fileSize, node->complete == NewDir::kDamaged);
        if (stopVolume && written.size() == stopAfterNodes) stopVolume->setStopTreeThread(true);
    }
    void recordsWritten() override {
        if (pair) pair->recordsWritten();
    }
    void checkpoint(std::uint64_t unit, std::uint64_t sector, std::uint64_t lost,
                    std::optional<std::uint64_t> held) override {
        if (handsOn()) pair->checkpoint(unit, sector, lost, held);
        checkpoints.push_back(unit);
        heldFiles.push_back(held);
        if (stopVolume && unit >= stopAtCheckpoint) stopVolume->setStopTreeThread(true);
    }
};

class PhotoCarvingTest : public testsupport::ScanFixture {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"convert", "ffmpeg", "sox", "lame", "gs", "zip", "mkfs.vfat", "mcopy", "mdel",
                                 "xorriso", "mkfs.exfat", "tune.exfat"})
            if (!testsupport::haveTool(tool)) missing_ = tool;
        if (missing_.empty() && !testsupport::runCommand("/usr/bin/python3 -c 'import mido'"))
            missing_ = "python3-mido";
        if (!missing_.empty()) return;
        // One folder of the build for every test program: CTest's fixture makes the media once, and the script
        // leaves them as they are for each program after it. The tests write their own images elsewhere.
        media_ = DRENTIC_CARVE_MEDIA_DEFAULT;
        if (testsupport::sampleVariant() != 0) media_ += "-variant-" + std::to_string(testsupport::sampleVariant());
        const auto run = testsupport::runCommandWithStatus(std::string(DRENTIC_CARVE_IMAGES_SCRIPT) + " " +
                                                           testsupport::shellQuote(media_.string()) + " 2>&1");
        made_ = run.status == 0;
        if (!made_) madeOutput_ = run.out;
    }
    void SetUp() override {
        ScanFixture::SetUp();
        if (!missing_.empty()) GTEST_SKIP() << missing_ << " is missing (./dev.sh installs it)";
        ASSERT_TRUE(made_) << "the carving media were not made:\n" << madeOutput_;
    }
    // A volume over a whole disk image, with its root, for a carving run of its own.
    std::shared_ptr<Volume> carvable(const fs::path& image) {
        auto v = keep(testsupport::volumeOver(image, 0, 0, 512, ""));
        v->setRawSearchStart(0, 100);
        v->createRoot();
        return v;
    }
    // An image of the media folder by its name, or any image by its whole path.
    std::shared_ptr<Volume> searchable(const std::string& image, const std::string& content, std::uint64_t start = 0,
                                       std::uint64_t sectors = 0) {
        auto v = keep(testsupport::volumeOver(media_ / image, start, sectors, 512, content));
        v->setRawSearchStart(0, 100);
        return v;
    }
    // A carved file at the sample's device sector whose bytes begin with the
    // sample, all of it where the carved file is as long.
    NewDir* expectCarved(Volume& v, const std::string& path, const std::string& sample, std::uint64_t sector) {
        SCOPED_TRACE(path);
        NewDir* file = testsupport::nodeAt(v.dirRoot, path);
        if (!file) {
            ADD_FAILURE() << path << " was not carved";
            return nullptr;
        }
        EXPECT_EQ(deviceSector(v, *file), sector);
        const std::string carved = testsupport::readThroughExtents(v, *file);
        const std::string original = testsupport::readText(media_ / sample);
        const std::size_t compared = std::min(original.size(), carved.size());
        EXPECT_GE(compared, std::min<std::size_t>(original.size(), 512));
        const auto differ = std::mismatch(original.begin(), original.begin() + compared, carved.begin());
        EXPECT_EQ(differ.first - original.begin(), static_cast<std::ptrdiff_t>(compared))
            << "first differing byte; " << original.size() << " bytes, " << carved.size() << " carved";
        return file;
    }
    // Where the files found begin, with every type of a list marked as "Mark
    // All" marks them: the photo list for the carving (method 1), the file
    // list for the plain search (0), of a whole disk or of a volume of that
    // content. Each found file lies wholly on the disk.
    // `medium` stands between the scan and the image when given; `inspect` sees the volume after the scan.
    std::set<std::uint64_t> foundWithEveryType(const std::string& image, const std::string& content, int method,
                                               const testsupport::FailingReads* medium = nullptr,
                                               const std::function<void(Volume&)>& inspect = {}) {
        const Array types = listTypes(method);
        auto v = searchable(image, content);
        if (medium) v->setRawRead(medium->reader(), {}, medium->pastEveryCacheReader());
        if (content.empty())
            ScanThread(v).scanForDeletedFilesDisk(Array{types, method});
        else
            ScanThread(v).scanForDeletedFiles(Array{1, 1, types, method});
        std::set<std::uint64_t> starts;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot)) {
            if (node->isFolder() || node->foundBySignature != 1) continue;
            starts.insert(deviceSector(*v, *node));
            EXPECT_LE(deviceSector(*v, *node) + std::uint64_t{node->extents[0].blockCount} * node->sectorsPerBlock,
                      v->sizeInSect())
                << path;
        }
        if (inspect) inspect(*v);
        freeVolumes();
        controller.clear();
        return starts;
    }
    std::uint64_t sectorOf(const std::string& image, const std::string& sample) {
        const auto at = testsupport::readText(media_ / image).find(testsupport::readText(media_ / sample));
        EXPECT_NE(at, std::string::npos) << sample << " is not in " << image;
        return at / 512;
    }

    static inline std::string missing_;
    static inline fs::path media_;
    static inline bool made_ = false;
    static inline std::string madeOutput_;
};

// Formats whose measured length is the file's own; the others measure a
// margin past the end (JPEG, PNG, GIF, TIFF, PSD, the QuickTime family,
// MPEG, AIFF, MP3), which holds the whole file and the bytes after it.
const std::set<std::string> kExactLength{"bmp", "avi", "wav", "mid"};

// Random bytes with a dozen tool-made files: with every type of a list
// marked, each planted file of the list is found at its sector (the photo
// list has no PDF), and hardly anything else is.
TEST_F(PhotoCarvingTest, EveryTypeMarkedFindsThePlantedFilesAndInventsAtMostOneOnRandomBytes) {
    for (const int method : {1, 0}) {
        std::set<std::uint64_t> starts = foundWithEveryType("random.img", "", method);
        for (const auto& [name, sector] : manifest(media_ / "random.manifest"))
            EXPECT_EQ(starts.erase(sector), method == 0 || name != "doc.pdf" ? 1u : 0u) << name << " " << method;
        EXPECT_LE(starts.size(), 1u) << method;
    }
}

// One unreadable sector inside a JPEG: with every type marked, the carving and the plain search find every file
// they find on the intact image, the JPEG marked damaged, for the three failed reads that found the sector out.
TEST_F(PhotoCarvingTest, AnUnreadableSectorLosesNoFile) {
    const std::uint64_t jpeg = manifest(media_ / "random.manifest").front().second;
    for (const int method : {1, 0}) {
        testsupport::FailingReads bad;
        bad.failSectors(jpeg + 3);
        EXPECT_EQ(foundWithEveryType("random.img", "", method, &bad,
                                     [&](Volume& v) {
                                         for (const auto& [path, node] : testsupport::nodesByPath(v.dirRoot))
                                             if (!node->isFolder() && deviceSector(v, *node) == jpeg) {
                                                 EXPECT_EQ(node->complete, NewDir::kDamaged) << path;
                                             }
                                         EXPECT_TRUE(logged("Sectors " + std::to_string(jpeg + 3) + " to " +
                                                            std::to_string(jpeg + 3) + " of"));
                                     }),
                  foundWithEveryType("random.img", "", method));
        EXPECT_EQ(bad.failedReads(), 3u);
    }
}

// A disk still attached whose bad areas are wide, many or at its very end, or which dies part-way with the page
// cache of a loop device's file still answering for what was read: the carving and the plain search run to the end,
// find every photo clear of the bad areas (before the death), never take the disk for gone, and pay for each bad
// stretch with the logarithm of its length in failed reads, not with a read per sector.
TEST_F(PhotoCarvingTest, BadAreasOfALiveDiskCostTheirOwnFilesAndAFewReadsEach) {
    const std::string photo = testsupport::readText(media_ / "photo.jpg");
    const std::uint64_t mib = 2048, photoSectors = (photo.size() + 511) / 512;
    ASSERT_LT(photoSectors, mib / 4);
    // A photo at the start of every MiB but the first two.
    const fs::path image = testsupport::makeTempDir("carve") / "spread.img";
    fs::copy_file(media_ / "random.img", image, fs::copy_options::overwrite_existing);
    const std::uint64_t sectors = fs::file_size(image) / 512;
    std::vector<std::uint64_t> photos;
    for (std::uint64_t at = 2 * mib; at + photoSectors < sectors; at += mib) {
        testsupport::writeAt(image, at * 512, {photo.begin(), photo.end()});
        photos.push_back(at);
    }
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> bad; // first sector, count
        std::uint64_t diesAt = UINT64_MAX;
        std::uint64_t maxFailedReads = 0;
    };
    std::vector<Case> cases{
        {"a quarter of the disk in the middle", {{sectors * 3 / 8, sectors / 4}}, UINT64_MAX, 40},
        {"the last 64 sectors", {{sectors - 64, 64}}, UINT64_MAX, 20},
        {"dies under the page cache 70% in", {}, sectors * 7 / 10, 40},
    };
    // 64 KiB every 4 MiB, between photos, and one across a photo.
    Case scattered{"64 KiB every 4 MiB", {}, UINT64_MAX, 0};
    for (std::uint64_t at = mib + mib / 2; at < sectors; at += 4 * mib)
        scattered.bad.emplace_back(at, 128);
    scattered.bad.emplace_back(photos[5] + 4, 128);
    scattered.maxFailedReads = 20 * scattered.bad.size();
    cases.push_back(scattered);
    for (const int method : {1, 0}) {
        // On random bytes with every type marked the plain search takes a few stretches for files of other types;
        // what it finds on the whole disk is what it must find clear of the bad areas.
        const std::set<std::uint64_t> clean = foundWithEveryType(image.string(), "", method);
        EXPECT_GE(std::count_if(photos.begin(), photos.end(), [&](std::uint64_t at) { return clean.count(at); }),
                  static_cast<std::ptrdiff_t>(photos.size() * 3 / 4));
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", method " + std::to_string(method));
            testsupport::FailingReads failing;
            std::uint64_t badSectors = 0;
            for (const auto& [first, count] : c.bad) {
                failing.failSectors(first, count);
                badSectors += count;
            }
            if (c.diesAt != UINT64_MAX) failing.dieUnderThePageCacheAt(c.diesAt);
            const std::set<std::uint64_t> found =
                foundWithEveryType(image.string(), "", method, &failing, [&](Volume& v) {
                    EXPECT_FALSE(v.mediumGone());
                    EXPECT_FALSE(controller.terminateRequested());
                    if (c.diesAt == UINT64_MAX) {
                        EXPECT_EQ(v.unreadableSectorCount(), badSectors);
                    }
                    if (c.diesAt != UINT64_MAX) {
                        EXPECT_GE(v.unreadableSectorCount(), (sectors - c.diesAt) / 2);
                    }
                    expectTreeCompleteLast();
                });
            for (const std::uint64_t at : photos) {
                if (!clean.count(at)) continue;
                // The windows read ahead of the search reach the death first.
                bool clear =
                    c.diesAt == UINT64_MAX || at + photoSectors + 3 * BlockSearchEngine::kWindowBytes / 512 <= c.diesAt;
                for (const auto& [first, count] : c.bad)
                    clear = clear && (at + photoSectors <= first || first + count <= at);
                if (clear) {
                    EXPECT_TRUE(found.count(at)) << "the photo at sector " << at;
                }
            }
            EXPECT_LE(failing.failedReads(), c.maxFailedReads);
        }
    }
}

// A readable stretch an eighth as wide as the 256 MiB that cannot be read around it: the walk of the bad area steps
// over it, and comes back over what it stepped over a few asks in the widest gaps it left, so the carving and the
// plain search find the photos on it, and those on either side, for a few dozen failed reads.
TEST_F(PhotoCarvingTest, PhotosOnAReadableStretchInsideAWideBadAreaAreFound) {
    const std::string photo = testsupport::readText(media_ / "photo.jpg");
    const std::uint64_t mib = 2048, photoSectors = (photo.size() + 511) / 512;
    ASSERT_LT(photoSectors, mib / 4);
    const std::uint64_t badFirst = 16 * mib, badEnd = badFirst + 256 * mib, island = badFirst + 84 * mib - 333,
                        width = 32 * mib;
    const fs::path image = testsupport::makeTempDir("carve") / "island.img";
    std::ofstream(image).close();
    fs::resize_file(image, (badEnd + 16 * mib) * 512);
    const std::vector<std::uint64_t> photos{2 * mib, island, island + mib / 2, badEnd + 2 * mib};
    for (const std::uint64_t at : photos)
        testsupport::writeAt(image, at * 512, {photo.begin(), photo.end()});
    for (const int method : {1, 0}) {
        SCOPED_TRACE(method);
        testsupport::FailingReads failing;
        failing.failSectors(badFirst, island - badFirst);
        failing.failSectors(island + width, badEnd - island - width);
        const std::set<std::uint64_t> found = foundWithEveryType(image.string(), "", method, &failing, [&](Volume& v) {
            EXPECT_FALSE(v.mediumGone());
            EXPECT_EQ(v.unreadableSectorCount(), badEnd - badFirst - width);
        });
        for (const std::uint64_t at : photos)
            EXPECT_TRUE(found.count(at)) << "the photo at sector " << at;
        EXPECT_LE(failing.failedReads(), 100u);
    }
    fs::remove(image);
}

// A 256 MiB disk that dies behind a cache 70 % of the way into the carving (a loop device reading what the bad-sector
// FUSE tool serves through the page cache), before that probed by libblkid as the drive list probes it, or not:
// libblkid reads labels' places near the disk's end, which then answer from the cache. No answer from where anything
// may have read before vouches that the disk still answers, so the carving reaches the end a few dozen failed reads
// after the death, probed or not, and finds every photo its windows read before it.
TEST_F(PhotoCarvingTest, ADiskDyingBehindACacheAfterLibblkidProbedItCostsAFewDozenReads) {
    if (!testsupport::ServedByTheFuseTool::possible() || !testsupport::haveTool("blkid"))
        GTEST_SKIP() << "the FUSE tool and loop devices need root, /dev/fuse, losetup and blkid";
    const std::string photo = testsupport::readText(media_ / "photo.jpg");
    const std::uint64_t mib = 2048, sectors = 256 * mib, diesAt = sectors * 7 / 10;
    const fs::path dir = testsupport::makeTempDir("dying-behind-a-cache"), image = dir / "disk.img";
    const std::vector<std::uint64_t> photos = testsupport::imageWithFileEvery(image, sectors, photo, mib, 16 * mib);
    testsupport::writeText(dir / "map", "");
    for (const bool probed : {false, true}) {
        SCOPED_TRACE(probed ? "probed by libblkid" : "not probed");
        testsupport::ServedByTheFuseTool served(image, dir / "map",
                                                testsupport::ServedByTheFuseTool::Loop::ThroughTheFilesCache, diesAt);
        ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the disk";
        if (probed) testsupport::runCommand("blkid -p " + served.device);
        controller.setDriveDictArray(Array{platform::Dict{{"Path", served.device}}});
        testsupport::FailingReads counted;
        auto v = keep(testsupport::volumeOver(served.device, 0, sectors, 512, ""));
        v->setRawSearchStart(0, 100);
        v->setRawRead(counted.reader(), {}, counted.pastEveryCacheReader());
        ScanThread(v).scanForDeletedFilesDisk(Array{marked({"jpg"}), 1});
        expectTreeCompleteLast();
        EXPECT_FALSE(v->mediumGone());
        std::set<std::uint64_t> found;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
            if (!node->isFolder()) found.insert(deviceSector(*v, *node));
        // The windows read ahead of the carving reach the death first.
        for (const std::uint64_t at : photos)
            if (at + 3 * BlockSearchEngine::kWindowBytes / 512 <= diesAt) {
                EXPECT_TRUE(found.count(at)) << at;
            }
        EXPECT_EQ(std::tuple(counted.failedReads() <= 64, counted.mostFailedReadsOfOnePlace()), std::tuple(true, 1u))
            << counted.failedReads() << " failed reads";
        freeVolumes();
        controller.clear();
    }
}

// Two copies of a song, a bad area from the middle of the first up to the second: the walk of the first song goes on
// past the bad area at the next frame of its stream, the second song's, but the carving and the plain search jump no
// further than the bad area, and find the second song at its sector.
TEST_F(PhotoCarvingTest, AStreamWalkedOnPastABadAreaIsJumpedOverOnlyUpToIt) {
    const std::string song = testsupport::readText(media_ / "song.mp3");
    const std::uint64_t first = 2048, sectors = (song.size() + 511) / 512;
    const std::uint64_t badFirst = first + sectors / 2, second = first + sectors + 40;
    const fs::path image = testsupport::makeTempDir("carve") / "songs.img";
    std::ofstream(image).close();
    fs::resize_file(image, (second + sectors + 2048) * 512);
    for (const std::uint64_t at : {first, second})
        testsupport::writeAt(image, at * 512, {song.begin(), song.end()});
    for (const int method : {1, 0}) {
        testsupport::FailingReads failing;
        failing.failSectors(badFirst, second - badFirst);
        const std::set<std::uint64_t> found = foundWithEveryType(image.string(), "", method, &failing);
        EXPECT_TRUE(found.count(first) && found.count(second)) << method;
    }
    fs::remove(image);
}

// The thirty-one media files of the test set on random bytes, each with one unreadable sector well inside it: every
// file the search finds on the intact image (every file of a type its list holds) it finds again at its sector, as
// long as there, and marked damaged. The carving (1) and the plain search (0) walk each format past the sector's
// zeros. A block device's page cache fails the whole 4096-byte page of a bad sector, as a drive of 4096-byte
// physical sectors does: the same holds with the page of each bad sector unreadable, but for a file whose first
// sector lies in that page, and the length of a file whose last sector does (or a compound document whose
// directory does).
class MediaPastAnUnreadableSectorTest : public PhotoCarvingTest,
                                        public testing::WithParamInterface<std::pair<int, bool>> {};

TEST_P(MediaPastAnUnreadableSectorTest, NoFileIsLostOrCutShort) {
    const auto [method, wholePages] = GetParam();
    struct Planted {
        std::string name;
        std::uint64_t sector = 0, bad = 0;
    };
    constexpr std::uint64_t kPageSectors = 8;
    std::vector<Planted> planted;
    std::ifstream in(media_ / "media.manifest");
    for (Planted p; in >> p.name >> p.sector >> p.bad;)
        planted.push_back(p);
    ASSERT_GE(planted.size(), 29u);
    std::set<std::string> listed;
    for (const auto& node : listTypes(method))
        if (const auto type = node.objectAs<SigNode>()) listed.insert(type->sig()->extension);
    // Where each found file starts: its length, and whether it is marked damaged.
    using Found = std::map<std::uint64_t, std::pair<std::uint64_t, bool>>;
    const auto found = [&](const testsupport::FailingReads* medium) {
        Found out;
        foundWithEveryType("media.img", "", method, medium, [&](Volume& v) {
            for (const auto& [path, node] : testsupport::nodesByPath(v.dirRoot))
                if (!node->isFolder() && node->foundBySignature == 1)
                    out[deviceSector(v, *node)] = {node->fileSize, node->complete == NewDir::kDamaged};
        });
        return out;
    };
    const Found clean = found(nullptr);
    testsupport::FailingReads failing;
    for (const Planted& p : planted)
        failing.failSectors(wholePages ? p.bad - p.bad % kPageSectors : p.bad, wholePages ? kPageSectors : 1);
    const Found damaged = found(&failing);
    for (const Planted& p : planted) {
        SCOPED_TRACE(p.name);
        const auto whole = clean.find(p.sector);
        EXPECT_EQ(whole != clean.end(), listed.count(extensionOf(p.name)) != 0);
        if (whole == clean.end() || (wholePages && p.sector >= p.bad - p.bad % kPageSectors)) continue;
        const fs::path sample = media_ / "media" / p.name;
        const auto lost = [&](std::uint64_t sector) {
            return wholePages ? sector / kPageSectors == p.bad / kPageSectors : sector == p.bad;
        };
        const auto cut = damaged.find(p.sector);
        if (cut == damaged.end()) {
            // A compound document is told by the names in its directory: with the directory's first sector lost,
            // nothing tells its kind.
            const std::vector<std::uint8_t> header = testsupport::readBytesAt(sample, 0, 512);
            const platform::ByteView ole(header);
            if (extensionOf(p.name) != "doc" ||
                !lost(p.sector + (std::uint64_t{ole.le32(48)} + 1) * (1u << ole.le16(30)) / 512))
                ADD_FAILURE() << "lost";
            continue;
        }
        EXPECT_TRUE(cut->second.second);
        // A file whose last sector is lost lost its end marker too, if its format has one: its length is not known.
        if (lost(p.sector + (fs::file_size(sample) + 511) / 512 - 1)) continue;
        EXPECT_EQ(cut->second.first, whole->second.first);
    }
}

INSTANTIATE_TEST_SUITE_P(PhotoCarvingAndPlainSearch, MediaPastAnUnreadableSectorTest,
                         testing::Values(std::pair{1, false}, std::pair{0, false}, std::pair{1, true},
                                         std::pair{0, true}),
                         [](const testing::TestParamInfo<std::pair<int, bool>>& info) {
                             return std::string(info.param.first == 1 ? "PhotoCarving" : "PlainSearch") +
                                    (info.param.second ? "WithTheWholePageUnreadable" : "");
                         });

// The alert about unreadable sectors says the search goes on, and it does while nobody answers it: an alert that
// waits for an answer would hold the scan at the first bad sector of a disk left scanning overnight.
TEST_F(PhotoCarvingTest, TheScanGoesOnWhileTheUnreadableSectorAlertIsUnanswered) {
    const std::set<std::uint64_t> clean = foundWithEveryType("random.img", "", 1);
    std::mutex m;
    std::condition_variable answered;
    bool scanEnded = false;
    std::atomic<int> waitingAlerts{0}, shown{0};
    // An alert about unreadable sectors that waits for its answer gets none until the scan has ended.
    controller.setCallObserver([&](const platform::RecordingController::Call& call) {
        if (call.argument.description().find("could not be read") == std::string::npos) return;
        if (call.name == "postAlertPanel:") ++shown;
        if (call.name != "runAlertPanel:" && call.name != "showAlertPanelWithData:") return;
        ++waitingAlerts;
        std::unique_lock lock(m);
        answered.wait(lock, [&] { return scanEnded; });
    });
    testsupport::FailingReads bad;
    bad.failSectors(manifest(media_ / "random.manifest").front().second + 3);
    auto scan = std::async(std::launch::async, [&] { return foundWithEveryType("random.img", "", 1, &bad); });
    const bool ended = scan.wait_for(std::chrono::minutes(5)) == std::future_status::ready;
    {
        std::lock_guard lock(m);
        scanEnded = true;
    }
    answered.notify_all();
    ASSERT_TRUE(ended) << "the scan stood still at an alert";
    EXPECT_EQ(scan.get(), clean);
    EXPECT_EQ(waitingAlerts.load(), 0);
    EXPECT_EQ(shown.load(), 1);
}

// A FAT32 card of photos, three deleted: everything found by its bytes, with
// every type marked, starts where a photo does, the deleted ones included.
TEST_F(PhotoCarvingTest, ACameraCardWithEveryTypeMarkedGivesNoInventedFile) {
    std::set<std::uint64_t> photos, deleted;
    for (const char* s : {"photo.jpg", "pic.png", "lzw.tif", "tiled.tif", "kept.jpg"})
        photos.insert(sectorOf("card.img", s));
    for (const char* s : {"prog.jpg", "zip.tif", "anim.gif"})
        deleted.insert(sectorOf("card.img", s));
    photos.insert(deleted.begin(), deleted.end());
    for (const int method : {1, 0}) {
        const std::set<std::uint64_t> starts = foundWithEveryType("card.img", "FAT32", method);
        EXPECT_TRUE(std::includes(photos.begin(), photos.end(), starts.begin(), starts.end())) << method;
        EXPECT_TRUE(std::includes(starts.begin(), starts.end(), deleted.begin(), deleted.end())) << method;
    }
}

// Stray sync bytes are no transport stream, whatever else is marked.
TEST_F(PhotoCarvingTest, ZerosWithStraySyncBytesHoldNoFile) {
    const fs::path image = testsupport::zeroImage(2048 * 512);
    for (std::uint64_t sector : {10, 11, 12, 13, 500})
        testsupport::writeAt(image, sector * 512 + 4, {0x47});
    for (const int method : {1, 0})
        EXPECT_TRUE(foundWithEveryType(image.string(), "", method).empty()) << method;
}

TEST_F(PhotoCarvingTest, WholeDiskCarvesEverySampleAtItsSectorWithItsCalculatorsLength) {
    const auto samples = manifest(media_ / "disk.manifest");
    std::set<std::string> types;
    for (const auto& [name, sector] : samples)
        types.insert(extensionOf(name));
    auto v = searchable("disk.img", "");
    ScanThread(v).scanForDeletedFilesDisk(Array{marked(types), 1});
    expectTreeCompleteLast();

    CarvingContext context(*v);
    for (const auto& [name, sector] : samples) {
        SCOPED_TRACE(name);
        const std::string extension = extensionOf(name);
        const CarvingFormat* row = rowFor(extension);
        if (!row) {
            // A type of the file scans, recorded as their search records it;
            // the compound-file recogniser names a document by what it holds.
            std::string path = extension + " files/File1." + extension;
            if (extension == "doc")
                for (const auto& [at, node] : testsupport::nodesByPath(v->dirRoot))
                    if (!node->isFolder() && !node->extents.empty() && deviceSector(*v, *node) == sector) path = at;
            expectCarved(*v, path, name, sector);
            continue;
        }
        NewDir* file = expectCarved(*v, std::string(row->resultFolder) + "/file1." + std::string(row->folderExtension),
                                    name, sector);
        if (!file) continue;
        const std::string_view key[] = {row->key};
        SizeCalculatorChain chain(context, key);
        const auto leading = testsupport::readBytesAt(media_ / "disk.img", sector * 512, 512);
        EXPECT_EQ(file->fileSize, chain.measure(platform::ByteView(leading), sector).size);
        const auto size = fs::file_size(media_ / name);
        if (kExactLength.count(extension))
            EXPECT_EQ(file->fileSize, size);
        else
            EXPECT_GT(file->fileSize, size);
    }
    // One file for each sample: nothing carved from inside another, or twice.
    EXPECT_EQ(v->fileCount, samples.size());
    // Folder and file names of a few formats whose extensions differ.
    for (const char* path : {"JPG Files/file1.jpg", "TIFF Files/file1.tiff", "AIFF Files/file1.aiff",
                             "MID Files/file1.mid", "3GP Files/file1.3gp", "MPG Files/file1.mpg"})
        EXPECT_NE(testsupport::nodeAt(v->dirRoot, path), nullptr) << path;
}

TEST_F(PhotoCarvingTest, FatFreeSpaceCarvesDeletedPhotosAndSkipsClustersInUse) {
    auto v = searchable("fat.img", "FAT16");
    ScanThread(v).scanForDeletedFiles(Array{1, 1, marked({"jpg", "png"}), 1});
    expectTreeCompleteLast();
    expectCarved(*v, "JPG Files/file1.jpg", "gone.jpg", sectorOf("fat.img", "gone.jpg"));
    expectCarved(*v, "PNG Files/file1.png", "gone.png", sectorOf("fat.img", "gone.png"));
    // live.jpg's clusters are in use.
    const NewDir* jpegs = testsupport::nodeAt(v->dirRoot, "JPG Files");
    ASSERT_NE(jpegs, nullptr);
    EXPECT_EQ(jpegs->childrenArrayCount(), 1u);
}

// A partition longer than its FAT file system: what follows the FAT's last
// cluster is no free space of it, for the carving (1) and the plain search (0).
TEST_F(PhotoCarvingTest, FatFreeSpaceEndsAtTheLastClusterOfTheFat) {
    const fs::path image = testsupport::copyToTemp(media_ / "fat.img");
    std::ofstream(image, std::ios::app | std::ios::binary)
        << testsupport::readText(media_ / "gone.jpg") << std::string(64 * 512, '\0');
    for (const int method : {1, 0}) {
        auto v = keep(testsupport::volumeOver(image, 0, 0, 512, "FAT16"));
        v->setRawSearchStart(0, 100);
        ScanThread(v).scanForDeletedFiles(Array{1, 1, marked({"jpg"}), method});
        std::set<std::uint64_t> starts;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
            if (!node->isFolder() && node->foundBySignature == 1) starts.insert(deviceSector(*v, *node));
        EXPECT_EQ(starts, (std::set<std::uint64_t>{sectorOf("fat.img", "gone.jpg")})) << method;
    }
}

// A 64 MB stick formatted by mkfs.exfat and filled through exfat-fuse with
// photos, a short MP4 and one icon made by ImageMagick. With the "Images"
// category ticked, the plain search (0) and the carving (1) find that icon,
// measured, and no icon out of the exFAT tables or the video's data.
TEST_F(PhotoCarvingTest, ImagesTickedOnAnExfatStickListOnlyItsRealIcon) {
    if (::geteuid() != 0 || !fs::exists("/dev/fuse")) GTEST_SKIP() << "a loop device and exfat-fuse need root";
    const fs::path dir = testsupport::makeTempDir("stick");
    ASSERT_TRUE(testsupport::exfatFilledThroughFuse(
        dir / "stick.img", "64M", dir / "mnt",
        "for i in 1 2 3; do convert -seed $(($i + " + testsupport::sampleSeed(0) +
            ")) -size 640x480 plasma: mnt/photo$i.jpg; done && ffmpeg -v error -f lavfi -i " +
            testsupport::sampleVideo("size=320x240:duration=4") +
            " -f lavfi -i sine=frequency=" + testsupport::sampleTone(440) +
            ":duration=4 -threads 1 -c:v mpeg4 -c:a aac mnt/clip.mp4 && convert -size 48x48 plasma: mnt/icon.ico && "
            "cp mnt/icon.ico ."))
        << "the stick could not be made and filled";
    const std::string icon = testsupport::readText(dir / "icon.ico");
    const std::uint64_t iconAt = testsupport::readText(dir / "stick.img").find(icon) / 512;
    const auto rows = FileTypeTable::parse(testsupport::readText(DRENTIC_FILE_TYPE_TABLE)).value();
    for (const int method : {0, 1}) {
        Array images;
        for (const auto& category : FileTypeTable::buildList(rows, method == 1 ? FileTypeTable::PR : FileTypeTable::FR))
            if (category->category == "Images")
                images.insert(images.end(), category->children().begin(), category->children().end());
        auto v = keep(testsupport::volumeOver(dir / "stick.img", 0, 0, 512, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"));
        v->setRawSearchStart(0, 100);
        ScanThread(v).scanForDeletedFiles(Array{1, 1, images, method});
        std::set<std::pair<std::uint64_t, std::uint64_t>> icons;
        for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
            if (path.ends_with(".ico") || path.ends_with(".cur"))
                icons.emplace(deviceSector(*v, *node), node->fileSize);
        EXPECT_EQ(icons, (std::set<std::pair<std::uint64_t, std::uint64_t>>{{iconAt, icon.size()}})) << method;
    }
}

TEST_F(PhotoCarvingTest, HfsFreeSpaceCarvesOnlyFilesWhoseBlocksAreFree) {
    std::uint64_t start = 0;
    std::ifstream(media_ / "hfs.start") >> start;
    auto live = searchable("hfs.iso", "Apple_HFS", start);
    ScanThread(live).scanForDeletedFiles(Array{1, 1, marked({"jpg", "png"}), 1});
    EXPECT_EQ(testsupport::nodeAt(live->dirRoot, "JPG Files"), nullptr);
    EXPECT_EQ(testsupport::nodeAt(live->dirRoot, "PNG Files"), nullptr);
    freeVolumes();
    controller.clear();

    auto v = searchable("hfs-freed.iso", "Apple_HFS", start);
    ScanThread(v).scanForDeletedFiles(Array{1, 1, marked({"jpg", "png"}), 1});
    expectTreeCompleteLast();
    expectCarved(*v, "JPG Files/file1.jpg", "freed.jpg", sectorOf("hfs-freed.iso", "freed.jpg"));
    expectCarved(*v, "PNG Files/file1.png", "freed.png", sectorOf("hfs-freed.iso", "freed.png"));
    // kept.jpg's blocks are still in use.
    const NewDir* jpegs = testsupport::nodeAt(v->dirRoot, "JPG Files");
    ASSERT_NE(jpegs, nullptr);
    EXPECT_EQ(jpegs->childrenArrayCount(), 1u);
}

TEST_F(PhotoCarvingTest, ExfatAndApfsVolumesAreCarvedAtTheirSectors) {
    struct Case {
        const char* image;
        const char* content;
        const char* manifest;
        std::uint64_t start;
    };
    std::vector<Case> cases{{"exfat.img", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "exfat.manifest", 0}};
    if (fs::exists(media_ / "apfs.img")) {
        std::uint64_t start = 0;
        std::ifstream(media_ / "apfs.gptstart") >> start;
        cases.push_back({"apfs.img", "APFS", "apfs.manifest", 0});
        cases.push_back({"gpt-apfs.img", "APFS", "apfs.manifest", start});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        const auto samples = manifest(media_ / c.manifest);
        std::set<std::string> types;
        for (const auto& [name, sector] : samples)
            types.insert(extensionOf(name));
        // The GPT partition is as long as the container.
        auto v = searchable(c.image, c.content, c.start, c.start ? fs::file_size(media_ / "apfs.img") / 512 : 0);
        ScanThread(v).scanForDeletedFiles(Array{1, 1, marked(types), 1});
        expectTreeCompleteLast();
        for (const auto& [name, sector] : samples) {
            const CarvingFormat* row = rowFor(extensionOf(name));
            ASSERT_NE(row, nullptr);
            expectCarved(*v, std::string(row->resultFolder) + "/file1." + std::string(row->folderExtension), name,
                         c.start + sector);
        }
        EXPECT_EQ(v->fileCount, samples.size());
        freeVolumes();
        controller.clear();
    }
    if (cases.size() == 1) GTEST_SKIP() << "mkapfs is missing or failed: APFS not carved";
}

// A disk with JPEGs before the first checkpoint (sector 20000), in the
// sectors after it and far past it, and a PNG only there. The run is stopped
// at its checkpoint, after it recorded the JPEG at 20001 too (as a kill may
// land after a record and before the next checkpoint); the resumed run goes
// over that stretch again and records every file once.
TEST_F(PhotoCarvingTest, StopEndsTheRunAtTheNextSectorAndAResumedRunGoesOnAfterTheCheckpoint) {
    const std::string photo = testsupport::readText(media_ / "photo.jpg");
    const std::string pic = testsupport::readText(media_ / "pic.png");
    const fs::path image = testsupport::zeroImage(50000 * 512);
    for (const auto& [bytes, sector] :
         {std::pair{photo, 100}, {photo, 20001}, {photo, 20100}, {photo, 45000}, {pic, 46001}})
        testsupport::writeAt(image, sector * 512ull, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    auto v = carvable(image);
    SignatureSearchState search;
    search.sigArray = marked({"jpg", "png"});

    CapturingAppend first;
    first.stopVolume = v.get();
    first.stopAfterNodes = 3;
    PhotoCarving(*v, search, first).signatureSearchDiskPhotoMethodStartAt(0);
    ASSERT_EQ(first.checkpoints, std::vector<std::uint64_t>{20000});
    NewDir* jpegs = testsupport::nodeAt(v->dirRoot, "JPG Files");
    ASSERT_NE(jpegs, nullptr);
    EXPECT_EQ(jpegs->childrenArrayCount(), 2u);

    v->setStopTreeThread(false);
    v->autoCrashRecovery = true;
    CapturingAppend resumed;
    PhotoCarving(*v, search, resumed).signatureSearchDiskPhotoMethodStartAt(first.checkpoints.back());
    std::size_t jpegFolders = 0;
    for (const NewDir* child : v->dirRoot->childList)
        jpegFolders += newdir::fileName(child) == u"JPG Files";
    EXPECT_EQ(jpegFolders, 1u);
    EXPECT_EQ(jpegs->childrenArrayCount(), 4u);
    for (const auto& [path, sector] : {std::pair{"JPG Files/file1.jpg", 100},
                                       {"JPG Files/file2.jpg", 20001},
                                       {"JPG Files/file3.jpg", 20100},
                                       {"JPG Files/file4.jpg", 45000},
                                       {"PNG Files/file1.png", 46001}}) {
        NewDir* file = testsupport::nodeAt(v->dirRoot, path);
        ASSERT_NE(file, nullptr) << path;
        EXPECT_EQ(deviceSector(*v, *file), static_cast<std::uint64_t>(sector)) << path;
    }
    // file3.jpg and file4.jpg, then the PNG folder and its file: the JPEG
    // folder and the file at 20001 are the stopped run's.
    EXPECT_EQ(resumed.written.size(), 4u);
}

// A disk with a wide unreadable area that a carving walks and then goes on through, reading it as zeros: none of its
// checkpoints lies inside the area, where nothing can be found, so a run stopped there and resumed on a reader that
// knows nothing of the area (a program started anew) goes on past it and asks none of it again.
TEST_F(PhotoCarvingTest, NoCheckpointLiesInsideAnAreaTheCarvingFoundUnreadableSoAResumedRunAsksNoneOfIt) {
    constexpr std::uint64_t kSectors = 256000, kBad = 40000, kBadEnd = 220000;
    const fs::path image = testsupport::zeroImage(kSectors * 512);
    const std::string photo = testsupport::readText(media_ / "photo.jpg");
    testsupport::writeAt(image, (kBadEnd + 5000) * 512, std::vector<std::uint8_t>(photo.begin(), photo.end()));
    SignatureSearchState search;
    search.sigArray = marked({"jpg"});
    testsupport::FailingReads bad;
    bad.failSectors(kBad, kBadEnd - kBad);

    auto v = carvable(image);
    v->setRawRead(bad.reader());
    CapturingAppend first;
    first.stopVolume = v.get();
    first.stopAtCheckpoint = kBad;
    PhotoCarving(*v, search, first).signatureSearchDiskPhotoMethodStartAt(0);
    ASSERT_FALSE(first.checkpoints.empty());
    for (const std::uint64_t unit : first.checkpoints)
        EXPECT_TRUE(unit < kBad || unit >= kBadEnd) << unit;
    EXPECT_EQ(first.checkpoints.back(), kBadEnd);
    EXPECT_GT(v->failedReads(), 0u);

    auto resumed = carvable(image);
    resumed->setRawRead(bad.reader());
    resumed->autoCrashRecovery = true;
    CapturingAppend goingOn;
    PhotoCarving(*resumed, search, goingOn).signatureSearchDiskPhotoMethodStartAt(first.checkpoints.back());
    EXPECT_EQ(resumed->failedReads(), 0u);
    EXPECT_NE(testsupport::nodeAt(resumed->dirRoot, "JPG Files/file1.jpg"), nullptr);
}

// Every carved file by its path: its first sector, its size and whether it is marked.
std::map<std::string, std::tuple<std::uint64_t, std::uint64_t, bool>> carvedFiles(const Volume& v) {
    std::map<std::string, std::tuple<std::uint64_t, std::uint64_t, bool>> files;
    for (const auto& [path, node] : testsupport::nodesByPath(v.dirRoot))
        if (!node->isFolder() && node->foundBySignature == 1)
            files[path] = {deviceSector(v, *node), node->fileSize, node->complete == NewDir::kDamaged};
    return files;
}

// A 6 MB movie from sector 19,950, over the carving's first checkpoint (20,000), with or without a photo written 100
// sectors into it, carved with its pair and killed at the checkpoint, or after the photo cut the movie; the run
// resumed from the pair the kill left lists every file once, as a run never interrupted lists it: the movie cut and
// marked where the photo lies, or whole.
TEST_F(PhotoCarvingTest, ACarvingResumedFromACheckpointInsideAMovieListsItOnceAsAnUninterruptedOneDoes) {
    static const std::string movie = testsupport::toolSample(
        "ffmpeg -v error -f lavfi -i " + testsupport::sampleVideo("size=320x240:rate=25:duration=2") +
            ",noise=alls=60:allf=t -threads 1 -c:v libx264 -preset ultrafast -b:v 24M -f ipod \"$OUT\"",
        "m4v");
    ASSERT_FALSE(movie.empty());
    const std::string photo = testsupport::readText(media_ / "photo.jpg");
    struct Kill {
        const char* name;
        bool photoInside;
        std::size_t afterNodes;
        std::uint64_t atCheckpoint;
    };
    // The nodes: the movies' folder, then the movie cut, the photos' folder and the photo.
    for (const Kill& kill : {Kill{"at the checkpoint, the photo past it", true, 0, 20000},
                             Kill{"after the photo cut the movie", true, 4, UINT64_MAX},
                             Kill{"at the checkpoint, nothing inside", false, 0, 20000}}) {
        SCOPED_TRACE(kill.name);
        const fs::path image = testsupport::zeroImage(40000 * 512);
        testsupport::writeAt(image, 19950 * 512, std::vector<std::uint8_t>(movie.begin(), movie.end()));
        if (kill.photoInside)
            testsupport::writeAt(image, 20050 * 512, std::vector<std::uint8_t>(photo.begin(), photo.end()));
        SignatureSearchState search;
        search.sigArray = marked({"m4v", "jpg"});
        auto whole = carvable(image);
        AutoRecoveryAppend none;
        PhotoCarving(*whole, search, none).signatureSearchDiskPhotoMethodStartAt(0);
        const auto uninterrupted = carvedFiles(*whole);
        ASSERT_EQ(uninterrupted.size(), kill.photoInside ? 2u : 1u);

        const fs::path state = testsupport::makeTempDir("held-state");
        auto v = carvable(image);
        AutoRecoveryState snapshot;
        snapshot.volume = v;
        std::string error;
        ASSERT_EQ(AutoRecoverySnapshot::saveScanInfoAutoRecovery(state.string(), snapshot, {}, &error),
                  AutoRecoverySnapshot::Saved::Written)
            << error;
        {
            AutoRecoveryFiles pair(state.string(), {});
            CapturingAppend killed;
            killed.stopVolume = v.get(), killed.pair = &pair;
            killed.stopAfterNodes = kill.afterNodes, killed.stopAtCheckpoint = kill.atCheckpoint;
            PhotoCarving(*v, search, killed).signatureSearchDiskPhotoMethodStartAt(0);
            ASSERT_EQ(killed.heldFiles, std::vector<std::optional<std::uint64_t>>{19950});
        }
        auto read = AutoRecoverySnapshot::openScanInfoAutoRecovery(state.string(), &error);
        ASSERT_TRUE(read && read->autoRecBeginSize) << error;
        EXPECT_EQ(*read->autoRecBeginSize, 20000u);
        auto resumed = keep(read->volume);
        // Its records go on into the pair it resumed from, as the program's do into the pair its start wrote anew.
        ::setenv("DRENTIC_STATE_DIR", state.c_str(), 1);
        ScanThread(resumed).scanForDeletedFilesDisk(Array{search.sigArray, 1, *read->autoRecBeginSize, "auto"});
        ::unsetenv("DRENTIC_STATE_DIR");
        EXPECT_EQ(carvedFiles(*resumed), uninterrupted);
        EXPECT_EQ(resumed->fileCount, uninterrupted.size());
        freeVolumes();
        controller.clear();
    }
}

std::shared_ptr<SigNode> typeNode(std::uint32_t typeOfFile, const std::string& extension,
                                  const std::string& software = "") {
    Sig sig;
    sig.typeOfFile = typeOfFile;
    sig.extension = extension;
    sig.software = software;
    auto node = std::make_shared<SigNode>();
    node->setSig(sig);
    return node;
}

TEST(CarvingSelectionTest, SelectingExtensionsAreExactAndRawNeedsItsMaker) {
    CarvingSelection selection;
    struct Case {
        std::shared_ptr<SigNode> type;
        std::vector<std::string_view> keys;
        std::size_t userSignatures;
        bool rawJpgFolder;
    };
    const Case cases[] = {
        {typeNode(1, "tiff"), {}, 0, false},
        {typeNode(1, "aiff"), {}, 0, false},
        {typeNode(1, "jpeg"), {}, 0, false},
        {typeNode(1, "JPG"), {}, 0, false},
        {typeNode(1, "tif"), {"tiff"}, 0, false},
        {typeNode(1, "raw", "Leica raw"), {"lei"}, 0, true},
        {typeNode(1, "raw", "Panasonic raw"), {"raw"}, 0, true},
        {typeNode(1, "raw", "LEICA raw"), {}, 0, false},
        {typeNode(3, "jpg"), {}, 1, false},
        {typeNode(1, "kdc"), {"kdc"}, 0, false},
        {typeNode(1, "nef"), {"nef"}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type->sig()->extension + " " + c.type->sig()->software);
        selection.select(Array{c.type});
        EXPECT_EQ(selection.selectedKeys(), c.keys);
        EXPECT_EQ(selection.userSignatures().size(), c.userSignatures);
        EXPECT_EQ(selection.needsRawJpgFolder(), c.rawJpgFolder);
    }
    // A second type of the same extension selects the row once.
    selection.select(
        Array{typeNode(1, "jpg"), typeNode(1, "jpg"), typeNode(1, "k25"), typeNode(1, "dcr"), typeNode(1, "3fr")});
    EXPECT_EQ(selection.selectedKeys(), (std::vector<std::string_view>{"k25", "dcr", "3fr", "jpg"}));
    EXPECT_FALSE(selection.needsRawJpgFolder());
}

} // namespace

// A photo's first 100 sectors, a document of plain text written at the next
// sector and the photo's rest after it, then a whole photo: the photo's walk
// reads the document as its scan data, yet the carving cuts it at the
// document's sector with its margin past it, marked damaged, and writes its
// record once, after the document's, as it stands then; the whole photo's
// record once as it was measured. The folders and the volume count the bytes
// the files keep.
TEST_F(PhotoCarvingTest, APhotoHoldingAFoundFilesFirstSectorIsRecordedCutThereOnce) {
    const auto plasma = [](unsigned seed, const std::string& size) {
        return testsupport::toolSample(
            "convert -seed " + testsupport::sampleSeed(seed) + " -size " + size + " plasma: \"$OUT\"", "jpg");
    };
    const std::string photo = plasma(6, "1000x750"), whole = plasma(7, "640x480");
    const std::string document = testsupport::textDocument("pdf");
    const std::uint64_t cut = 100 * 512, documentAt = 200, restAt = documentAt + document.size() / 512 + 1;
    ASSERT_GT(photo.size(), cut + 512);
    const std::uint64_t wholeAt = restAt + (photo.size() - cut) / 512 + 3;
    const fs::path image = testsupport::zeroImage((wholeAt + 2048) * 512);
    for (const auto& [bytes, sector] : {std::pair{photo.substr(0, cut), std::uint64_t{100}},
                                        {document, documentAt},
                                        {photo.substr(cut), restAt},
                                        {whole, wholeAt}})
        testsupport::writeAt(image, sector * 512, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    auto v = carvable(image);
    SignatureSearchState search;
    search.sigArray = marked({"jpg", "pdf"});
    CapturingAppend records;
    PhotoCarving(*v, search, records).signatureSearchDiskPhotoMethodStartAt(0);

    std::map<std::uint64_t, const NewDir*> files;
    std::uint64_t bytes = 0;
    for (const auto& [path, node] : testsupport::nodesByPath(v->dirRoot))
        if (!node->isFolder()) {
            files.emplace(deviceSector(*v, *node), node);
            bytes += node->fileSize;
        }
    ASSERT_EQ(files.size(), 3u);
    ASSERT_TRUE(files.count(100) && files.count(documentAt) && files.count(wholeAt));
    const auto writes = [&](const NewDir* node) {
        return std::find(records.written.begin(), records.written.end(), node) - records.written.begin();
    };
    const NewDir* cutPhoto = files[100];
    EXPECT_EQ(cutPhoto->fileSize, cut + JpegStreamWalk::kMargin);
    EXPECT_EQ(cutPhoto->complete, NewDir::kDamaged);
    EXPECT_EQ(std::count(records.written.begin(), records.written.end(), cutPhoto), 1);
    EXPECT_GT(writes(cutPhoto), writes(files[documentAt]));
    ASSERT_LT(writes(cutPhoto), static_cast<std::ptrdiff_t>(records.written.size()));
    EXPECT_EQ(records.writtenAs[writes(cutPhoto)], std::pair(cut + JpegStreamWalk::kMargin, true));
    ASSERT_EQ(std::count(records.written.begin(), records.written.end(), files[wholeAt]), 1);
    EXPECT_EQ(records.writtenAs[writes(files[wholeAt])], std::pair(whole.size() + JpegStreamWalk::kMargin, false));
    EXPECT_EQ(v->dataSize, bytes);
    EXPECT_EQ(v->dirRoot->fileSize, bytes);
    EXPECT_EQ(cutPhoto->pndirPointer->fileSize, cutPhoto->fileSize + files[wholeAt]->fileSize);
}

// A photo cut off by the disk's end is looked through to it for its end
// marker: the carved file keeps what lies on the disk, marked damaged.
TEST_F(PhotoCarvingTest, AFileCutOffByTheDisksEndEndsThere) {
    const std::string photo = testsupport::readText(media_ / "photo.jpg");
    const fs::path image = testsupport::imageWith(photo.substr(0, 2048), 100, 0);
    auto v = carvable(image);
    SignatureSearchState search;
    search.sigArray = marked({"jpg"});
    AutoRecoveryAppend noPair;
    PhotoCarving(*v, search, noPair).signatureSearchDiskPhotoMethodStartAt(0);
    NewDir* file = testsupport::nodeAt(v->dirRoot, "JPG Files/file1.jpg");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->fileSize, 2048u);
    EXPECT_EQ(file->complete, NewDir::kDamaged);
    EXPECT_EQ(file->extents[0].startBlock + file->extents[0].blockCount, v->sizeInSect());
}

// A photo whose last byte lies in the medium's last sector, one that fills
// that sector, and one in the last sectors of a partition that another
// follows are found whole by the plain search (method 0) and listed to their
// end marker; the carving keeps them whole (with what lies to the end). One
// that runs on past its partition's end is cut there by both.
TEST_F(PhotoCarvingTest, APhotoEndingInTheLastSectorIsFoundWholeByBothSearches) {
    const std::string photo = testsupport::readText(media_ / "photo.jpg");
    ASSERT_NE(photo.size() % 512, 0u);
    // A comment segment makes the photo fill its last sector.
    const std::size_t pad = 512 - photo.size() % 512 + (photo.size() % 512 > 508 ? 512 : 0);
    const std::string filling = photo.substr(0, 2) + "\xFF\xFE" + testsupport::asString(testsupport::be16(pad - 2)) +
                                std::string(pad - 4, ' ') + photo.substr(2);
    const std::uint64_t n = (photo.size() + 511) / 512;
    const std::string followed = photo + std::string(n * 512 - photo.size(), 'x') + photo;
    // The bytes at sector 100, the volume's sectors (0: the image's), the photo's length when it lies whole in it.
    const std::tuple<std::string, std::uint64_t, std::size_t> cases[] = {{photo, 0, photo.size()},
                                                                         {filling, 0, filling.size()},
                                                                         {followed, 100 + n, photo.size()},
                                                                         {photo, 100 + n / 2, 0}};
    for (const auto& [bytes, sectors, whole] : cases)
        for (const int method : {0, 1}) {
            SCOPED_TRACE(testing::Message() << bytes.size() << " bytes, " << sectors << " sectors, method " << method);
            const fs::path image = testsupport::imageWith(bytes, 100, 0);
            auto v = keep(testsupport::volumeOver(image, 0, sectors, 512, ""));
            v->setRawSearchStart(0, 100);
            ScanThread(v).scanForDeletedFilesDisk(Array{listTypes(method, "jpg"), method});
            ASSERT_EQ(v->fileCount, 1u);
            const std::size_t size = method == 0 && whole != 0 ? whole : (v->sizeInSect() - 100) * 512;
            for (const auto& [path, file] : testsupport::nodesByPath(v->dirRoot))
                if (!file->isFolder()) {
                    EXPECT_EQ(deviceSector(*v, *file), 100u) << path;
                    EXPECT_EQ(file->fileSize, size) << path;
                    EXPECT_TRUE(testsupport::readThroughExtents(*v, *file) ==
                                testsupport::readText(image).substr(100 * 512, size))
                        << path;
                }
            freeVolumes();
            controller.clear();
        }
}

// A photo whose first 64 KiB run past the window its batch lies in is measured from the window read ahead, one longer
// than both from the medium past them, each to its end marker, and no sector the windows hold is read twice. A bad
// sector in the window read ahead costs three failed reads, marks its photo damaged and brings the read-failure alert
// once.
TEST_F(PhotoCarvingTest, PhotosRunningPastTheWindowsEndAreMeasuredFromTheWindowsAndReadOnce) {
    const std::uint64_t window = BlockSearchEngine::kWindowBytes / 512;
    const fs::path wide = testsupport::makeTempDir("window-ends") / "wide.jpg";
    ASSERT_TRUE(testsupport::runCommand("convert -seed " + testsupport::sampleSeed(4) +
                                        " -size 800x600 plasma: -quality 95 " +
                                        testsupport::shellQuote(wide.string())));
    std::string photos[2] = {testsupport::readText(wide), testsupport::readText(wide)};
    // The second with a window's length of zeros at the start of its scan data.
    const std::size_t sos = photos[1].find("\xFF\xDA");
    photos[1].insert(sos + 2 + (std::uint8_t(photos[1][sos + 2]) << 8 | std::uint8_t(photos[1][sos + 3])), window * 512,
                     '\0');
    const std::uint64_t at[2] = {window - 92, 2 * window - 84}, bad = at[0] + 150;
    const fs::path image = testsupport::zeroImage(4 * window * 512);
    for (const int i : {0, 1})
        testsupport::writeAt(image, at[i] * 512, {photos[i].begin(), photos[i].end()});
    auto v = carvable(image);
    testsupport::FailingReads failing;
    failing.failSectors(bad);
    std::mutex mutex;
    std::vector<int> timesRead(4 * window);
    v->setRawRead([&, read = failing.reader()](int fd, std::uint8_t* into, std::size_t length, std::uint64_t offset) {
        const std::int64_t n = read(fd, into, length, offset);
        std::lock_guard lock(mutex);
        for (std::uint64_t s = offset / 512; n > 0 && s < (offset + length) / 512; ++s)
            ++timesRead[s];
        return n;
    });
    SignatureSearchState search;
    search.sigArray = marked({"jpg"});
    AutoRecoveryAppend noPair;
    PhotoCarving(*v, search, noPair).signatureSearchDiskPhotoMethodStartAt(0);
    EXPECT_EQ(failing.failedReads(), 3u);
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts().front().title, "!Error");
    for (const int i : {0, 1}) {
        const NewDir* file = testsupport::nodeAt(v->dirRoot, "JPG Files/file" + std::to_string(i + 1) + ".jpg");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(deviceSector(*v, *file), at[i]);
        EXPECT_EQ(file->complete == NewDir::kDamaged, i == 0);
        EXPECT_EQ(file->fileSize, photos[i].size() + JpegStreamWalk::kMargin);
    }
    // The longer photo's sectors past the window read ahead are read by its measuring (the last sector of each of its
    // 64 KiB windows twice), then by the search; its last window may reach past it.
    const std::uint64_t past = 3 * window, end = at[1] + photos[1].size() / 512;
    for (std::uint64_t s = 0; s < 4 * window; ++s) {
        if (s >= past && s < end) {
            ASSERT_GE(timesRead[s], 2) << s;
        } else if (s < end || s >= end + 128) {
            ASSERT_EQ(timesRead[s], s == bad ? 0 : 1) << s;
        }
    }
}

// mkapfs allocates the checkpoint data area whole and leaves most of it
// zero, so a photo written there lies in blocks the space manager marks
// used. One in a block the main free queue lists, and one in a free block,
// are found by the plain search and the deleted-file scan's carving; those
// in used blocks (one listed in the internal pool's queue) by neither.
class ApfsFreeSpaceTest : public testsupport::ScanFixture {};

TEST_F(ApfsFreeSpaceTest, BlocksTheSpaceManagerMarksUsedAreSkippedByThePlainSearchAndTheFreeSpaceCarving) {
    using B = testsupport::ApfsNodeBuilder;
    const fs::path image = B::makeContainer(testsupport::makeTempDir("apfs-map") / "c.img");
    if (image.empty()) GTEST_SKIP() << "mkapfs is not installed or failed";
    const std::string photo = testsupport::toolSample("convert -size 96x64 gradient:red-blue \"$OUT\"", "jpg");
    ASSERT_FALSE(photo.empty());
    constexpr std::uint64_t kUsed = 3000, kQueued = 3500, kPool = 4000, kFree = 10000, kSectors = 8;
    for (std::uint64_t block : {kUsed, kQueued, kPool, kFree})
        testsupport::writeAt(image, block * B::kBlockSize, {photo.begin(), photo.end()});
    // The free-queue roots are ephemeral nodes of subtype 9 near the start;
    // the space manager (ephemeral, type 5) names the main one second.
    const auto blockAt = [&](std::uint64_t b) {
        return testsupport::readBytesAt(image, b * B::kBlockSize, B::kBlockSize);
    };
    std::uint64_t mainQueue = 0;
    std::vector<std::uint64_t> queues;
    for (std::uint64_t block = 0; block < 128; ++block) {
        const auto bytes = blockAt(block);
        const platform::ByteView o(bytes);
        if (o.le32(24) == 0x80000005) mainQueue = o.le64(248);
        if (o.le32(24) == 0x80000002 && o.le32(28) == 9) queues.push_back(block);
    }
    ASSERT_EQ(queues.size(), 2u);
    for (std::uint64_t block : queues) {
        const auto bytes = blockAt(block);
        const platform::ByteView n(bytes);
        std::vector<std::uint8_t> key(16), value(8);
        testsupport::putLE(key, 0, 1, 8);
        testsupport::putLE(key, 8, n.le64(8) == mainQueue ? kQueued : kPool, 8);
        testsupport::putLE(value, 0, 1, 8);
        testsupport::writeAt(image, block * B::kBlockSize,
                             B::nodeBlock({.records = {{key, value}},
                                           .flags = B::kRoot | B::kLeaf | B::kFixed,
                                           .objectFlags = 0x8000,
                                           .subtype = 9,
                                           .oid = n.le64(8),
                                           .xid = n.le64(16)}));
    }

    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, "APFS"));
    UsedBlockMaps maps(*v);
    for (auto [sector, free] :
         {std::pair{kUsed * kSectors, 0u}, {kQueued * kSectors, kSectors}, {kFree * kSectors, 40u}}) {
        UsedBlockMaps::Flags flags;
        flags.fill(1);
        maps.get40BlocksUsedStatusFromBlockApfs(sector, flags);
        EXPECT_EQ(std::count(flags.begin(), flags.end(), 0), free) << sector;
    }
    for (int method : {0, 1}) {
        SCOPED_TRACE(method);
        auto searched = keep(testsupport::volumeOver(image, 0, 0, 512, "APFS"));
        ScanThread(searched).scanForDeletedFiles(Array{0, 1, marked({"jpg"}), method});
        std::set<std::uint64_t> found;
        for (const auto& [path, node] : testsupport::nodesByPath(searched->dirRoot))
            if (!node->isFolder()) found.insert(deviceSector(*searched, *node));
        EXPECT_EQ(found, (std::set<std::uint64_t>{kQueued * kSectors, kFree * kSectors}));
    }
}
