#include "media/DMedia.h"

#include "platform/PageCache.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "support/FailingReads.h"
#include "support/LoopDevice.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/mman.h>
#include <tuple>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {
// Byte i of a test image is a function of i, so any misplaced read shows.
std::uint8_t patternByte(std::uint64_t i) {
    return static_cast<std::uint8_t>((i * 2654435761u) >> 13);
}

fs::path makeImage(std::uint64_t bytes, const fs::path& folder = testsupport::makeTempDir("media")) {
    fs::path p = folder / "disk.img";
    std::ofstream out(p, std::ios::binary);
    std::vector<char> buf(1 << 16);
    for (std::uint64_t off = 0; off < bytes; off += buf.size()) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), bytes - off));
        for (std::size_t i = 0; i < n; ++i)
            buf[i] = static_cast<char>(patternByte(off + i));
        out.write(buf.data(), static_cast<std::streamsize>(n));
    }
    return p;
}

Dict driveDict(const fs::path& p, std::uint64_t size, int sectorSize = 512) {
    return Dict{{"Path", p.string()},    {"Preferred Block Size", sectorSize},
                {"Size", size},          {"device model", "Model"},
                {"device serial", "S1"}, {"device revision", "1.0"}};
}

// A drive over an image of that many pattern bytes.
std::shared_ptr<DMedia> patternDrive(std::uint64_t bytes) {
    return DMedia::initWithDictionary(driveDict(makeImage(bytes), bytes));
}

class DMediaReaders : public ::testing::Test {
protected:
    // A drive over `image`, listed so that a failed read is a bad sector and not a drive that has gone, read
    // through `disk`.
    std::shared_ptr<DMedia> listedDrive(const fs::path& image, std::uint64_t size,
                                        const testsupport::FailingReads& disk) {
        controller.setDriveDictArray(Array{Dict{{"Path", image.string()}}});
        auto m = DMedia::initWithDictionary(driveDict(image, size));
        m->setRawRead(disk.reader(), {}, disk.pastEveryCacheReader());
        return m;
    }

    testsupport::LogCapture quiet;
    testsupport::ControllerScope scope;
    RecordingController& controller = scope.controller;
};

bool matchesImage(const std::vector<std::uint8_t>& buf, std::uint64_t offset, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (buf[i] != patternByte(offset + i)) return false;
    return true;
}

// A save's second pass over `count` sectors from `sector`: the runs it handed over, joined, each run's bytes in
// `buf` at its place from `sector` on.
MediumReader::Runs scraped(DMedia& m, std::uint64_t sector, std::uint64_t count, std::vector<std::uint8_t>& buf) {
    MediumReader::Runs runs;
    buf.assign(count * 512, 0);
    EXPECT_TRUE(m.scrapeSectorRange(sector, count, [&](std::uint64_t first, std::uint64_t n, const std::uint8_t* b) {
        std::copy_n(b, n * 512, buf.begin() + static_cast<std::ptrdiff_t>((first - sector) * 512));
        if (!runs.empty() && runs.back().second == first)
            runs.back().second += n;
        else
            runs.emplace_back(first, first + n);
    }));
    return runs;
}
} // namespace

TEST_F(DMediaReaders, ConstructionReadsTheDriveDictionaryAndNeedsASectorSize) {
    Dict d{{"Path", "/dev/sdq"}, {"Preferred Block Size", 4096}, {"Size", 4096ull * 1000 + 100}};
    auto m = DMedia::initWithDictionary(d);
    ASSERT_TRUE(m);
    // Missing identity keys hold the text of an absent value.
    EXPECT_EQ(std::tuple(m->sizeInSect(), m->u32BytesInSector(), m->model()), std::tuple(1000u, 4096u, "(null)"));
    d.set("Preferred Block Size", 0);
    EXPECT_EQ(DMedia::initWithDictionary(d), nullptr);
    d.remove("Preferred Block Size");
    EXPECT_EQ(DMedia::initWithDictionary(d), nullptr);
}

TEST_F(DMediaReaders, ProgressGoesOutOnlyWhenFlagged) {
    auto m = DMedia::initWithDictionary(driveDict("/dev/null", 512));
    m->myTimerFireMethod();
    EXPECT_TRUE(controller.calls().empty());
    m->dataUpdate.set("TimeRemaining", "0:00:01:00");
    m->setTimerFireMethodCanRun(true);
    m->myTimerFireMethod();
    ASSERT_EQ(controller.callNames(), std::vector<std::string>{"updateVolumeScanProgress:"});
    EXPECT_EQ(controller.calls()[0].argument.dictValue().get("TimeRemaining").stringValue(), "0:00:01:00");
    EXPECT_FALSE(m->timerFireMethodCanRun());
}

TEST_F(DMediaReaders, WholeReadsReturnTheSectorsAskedAndCountsOutOfRangeAreRefused) {
    const std::uint64_t size = 1 << 20;
    auto m = patternDrive(size);
    ASSERT_TRUE(m);
    std::vector<std::uint8_t> buf(8 * 512);
    ASSERT_TRUE(m->readSector(10, 8, buf.data()) && matchesImage(buf, 10 * 512, buf.size()));
    ASSERT_TRUE(m->readPreviewSector(100, 8, buf.data()) && matchesImage(buf, 100 * 512, buf.size()));
    ASSERT_TRUE(m->readSaveSector(2040, 8, buf.data()) && matchesImage(buf, 2040 * 512, buf.size()));
    EXPECT_TRUE(controller.calls().empty());
    m = patternDrive(4096);
    EXPECT_FALSE(m->readSector(0, -1, buf.data()));
    // More than 2 GiB in one read is refused (2^22 sectors of 512 bytes is the most).
    EXPECT_FALSE(m->readSector(0, (1 << 22) + 1, buf.data()));
    EXPECT_FALSE(m->readSector(0, INT32_MAX, buf.data()));
    EXPECT_FALSE(m->readSector(UINT64_MAX / 256, 1, buf.data()));
    EXPECT_TRUE(m->readSector(0, 0, buf.data()));
    EXPECT_TRUE(controller.calls().empty());
}

TEST_F(DMediaReaders, ShortReadAtTheEndZeroFillsTheTailAndSequentialAndRandomReadsAgreeWithTheImage) {
    const std::uint64_t size = 1000 * 512 + 100; // ends inside a sector
    auto m = patternDrive(size);
    std::vector<std::uint8_t> buf(16 * 512, 0xAA);
    ASSERT_TRUE(m->readSector(995, 16, buf.data()));
    std::size_t valid = size - 995 * 512;
    EXPECT_TRUE(matchesImage(buf, 995 * 512, valid));
    EXPECT_EQ(std::vector(buf.begin() + valid, buf.end()), std::vector<std::uint8_t>(buf.size() - valid, 0));
    // Entirely past the end: success, all zeros, never stale bytes.
    std::fill(buf.begin(), buf.end(), 0xAA);
    ASSERT_TRUE(m->readSector(5000, 16, buf.data()));
    EXPECT_EQ(buf, std::vector<std::uint8_t>(buf.size(), 0));
    // Sequential batches are served from read-ahead; interleaved random
    // reads and reads of other sizes must still see exactly the image.
    const std::uint64_t bytes = (24ull << 20) + 777;
    m = patternDrive(bytes);
    std::mt19937_64 rng(7);
    std::uint64_t seq = 0;
    for (int i = 0; i < 3000; ++i) {
        std::uint64_t sector;
        int count;
        if (rng() % 4) {
            count = 1 + static_cast<int>(rng() % 256);
            sector = seq;
            seq += count;
            if (seq * 512 > bytes) seq = 0;
        } else {
            count = 1 + static_cast<int>(rng() % 64);
            sector = rng() % (bytes / 512 + 10);
        }
        buf.assign(static_cast<std::size_t>(count) * 512, 0x55);
        ASSERT_TRUE(m->readSector(sector, count, buf.data()));
        std::uint64_t off = sector * 512;
        const std::size_t read =
            off >= bytes ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), bytes - off));
        ASSERT_TRUE(matchesImage(buf, off, read)) << "read " << i << " at sector " << sector;
        ASSERT_EQ(std::vector(buf.begin() + read, buf.end()), std::vector<std::uint8_t>(buf.size() - read, 0));
    }
}

TEST_F(DMediaReaders, VanishedDeviceQuitsTheScanButOnlyEndsPreviewAndSaveAListedOneSaysNothing) {
    // A directory opens read-only but cannot be read: a failing device that
    // is in neither list any more.
    fs::path dir = testsupport::makeTempDir("gone");
    auto m = DMedia::initWithDictionary(driveDict(dir, 1 << 20));
    std::vector<std::uint8_t> buf(512);

    EXPECT_FALSE(m->readPreviewSector(0, 1, buf.data()));
    EXPECT_FALSE(m->readSaveSector(0, 1, buf.data()));
    EXPECT_FALSE(controller.terminateRequested());
    EXPECT_FALSE(m->readSector(0, 1, buf.data()));
    EXPECT_TRUE(controller.terminateRequested());

    std::vector<std::string> want{
        "runAlertPanel:", "previewClose:", "runAlertPanel:", "previewClose:", "runAlertPanel:", "terminateApp"};
    EXPECT_EQ(controller.callNames(), want);
    auto alerts = controller.alerts();
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[0].title, "! Can not show preview");
    EXPECT_EQ(alerts[0].message, "The Drive or Volume being read is no longer available.");
    EXPECT_EQ(alerts[1].title, "! Can not save files");
    EXPECT_EQ(alerts[2].title, "! Error");
    EXPECT_EQ(alerts[2].message, "The Drive or Volume being read is no longer available. The Program will quit now.");
    EXPECT_EQ(alerts[2].defaultButton, "Quit");
    // The same failed reads of a device still listed say nothing.
    controller.clear();
    controller.setDriveDictArray(Array{Dict{{"Path", dir.string()}}});
    EXPECT_FALSE(m->readSector(0, 1, buf.data()));
    EXPECT_FALSE(m->readSaveSector(0, 1, buf.data()));
    EXPECT_TRUE(controller.calls().empty());
    // The volume list counts as well.
    controller.setDriveDictArray({});
    controller.setVolumeDictArray(Array{Dict{{"Path", dir.string()}}});
    EXPECT_FALSE(m->readPreviewSector(0, 1, buf.data()));
    EXPECT_TRUE(controller.calls().empty());
    // A device that cannot be opened is reported by the scan reader.
    const fs::path missing = testsupport::makeTempDir("missing") / "no-such-device";
    m = DMedia::initWithDictionary(driveDict(missing, 1 << 20));
    EXPECT_FALSE(m->readSector(0, 1, buf.data()));
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "! Could not open drive");
    EXPECT_EQ(controller.alerts()[0].message, "A valid fileDesc could not be obtained for drive: " + missing.string());
    EXPECT_FALSE(controller.terminateRequested());
    // The preview reader takes the failed-read path instead: not listed, so
    // it closes the preview.
    controller.clear();
    EXPECT_FALSE(m->readPreviewSector(0, 1, buf.data()));
    EXPECT_EQ(controller.callNames(), (std::vector<std::string>{"runAlertPanel:", "previewClose:"}));
}

// A real block device with 4096-byte sectors, when this machine lets the
// test attach a loop device.
TEST_F(DMediaReaders, LoopDeviceWith4096ByteSectors) {
    const std::uint64_t size = 8 << 20;
    fs::path img = makeImage(size);
    testsupport::LoopDevice loop(img, "--sector-size 4096 -r");
    const std::string device = loop.path();
    if (device.empty()) GTEST_SKIP() << "cannot attach a loop device here";
    int sectorSize = 0;
    std::ifstream(fs::path("/sys/block") / fs::path(device).filename() / "queue/logical_block_size") >> sectorSize;
    auto m = DMedia::initWithDictionary(driveDict(device, size, sectorSize));
    ASSERT_TRUE(m);
    std::vector<std::uint8_t> buf(4 * 4096);
    bool ok = m->readSector(3, 4, buf.data());
    loop.detach();
    EXPECT_EQ(sectorSize, 4096);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(matchesImage(buf, 3 * 4096, buf.size()));
}

// Nodes read one by one just before a bad area: the read-ahead window reaching into it fails once, each read still
// gets its sectors, and the window stays off instead of failing again for every node.
TEST_F(DMediaReaders, AFailedReadAheadWindowFallsBackToThePlainReadAndStaysOff) {
    const std::uint64_t size = 16 << 20;
    testsupport::FailingReads disk;
    disk.failSectors(6000, 100);
    auto m = listedDrive(makeImage(size), size, disk);
    std::vector<std::uint8_t> node(4096);
    for (std::uint64_t s = 0; s < 5800; s += 8)
        ASSERT_TRUE(m->readSector(s, 8, node.data()) && matchesImage(node, s * 512, node.size())) << "sector " << s;
    EXPECT_EQ(disk.failedReads(), 1u);
    EXPECT_TRUE(controller.calls().empty());
}

// What the readers did not ask for stays out of the page cache: the kernel's read-ahead would fail a request for
// good sectors that it merged with bad ones.
TEST_F(DMediaReaders, ReadsPullNoNeighbouringPagesIntoThePageCache) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t size = 2 << 20;
    // The pages of the file in the page cache, after dropping them all first if asked.
    const auto cachedPages = [&](const fs::path& file, bool drop) {
        const int fd = ::open(file.c_str(), O_RDWR);
        ::fdatasync(fd);
        if (drop) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        std::vector<unsigned char> resident(size / page);
        ::mincore(map, size, resident.data());
        ::munmap(map, size);
        ::close(fd);
        std::vector<std::size_t> pages;
        for (std::size_t i = 0; i < resident.size(); ++i)
            if (resident[i] & 1) pages.push_back(i);
        return pages;
    };
    // The working folder's file when the temporary folder keeps its files in memory.
    fs::path image;
    for (const fs::path& folder : {testsupport::makeTempDir("media"), fs::current_path() / "drentic-page-cache"}) {
        fs::create_directories(folder);
        if (image = makeImage(size, folder); cachedPages(image, true).empty()) break;
        image.clear();
    }
    if (image.empty()) GTEST_SKIP() << "no folder here whose files can leave the page cache";
    auto m = DMedia::initWithDictionary(driveDict(image, size));
    std::vector<std::uint8_t> buf(512);
    // The first two pages, as a save of a small file reads them. The kernel may have let go of them since, under
    // another process's load; it has no other page.
    ASSERT_TRUE(m->readSaveSector(0, 1, buf.data()) && m->readSaveSector(page / 512, 1, buf.data()));
    const std::vector<std::size_t> cached = cachedPages(image, false);
    EXPECT_TRUE(std::all_of(cached.begin(), cached.end(), [](std::size_t p) { return p < 2; }))
        << ::testing::PrintToString(cached);
    fs::remove_all(fs::current_path() / "drentic-page-cache");
}

// A disk that answers ENXIO has gone: the user is told once, and it is read no more. A long bad stretch of a disk
// that still answers (sectors far from it read) costs only its sectors. (A dying disk: PhotoCarvingTest.)
TEST_F(DMediaReaders, AMediumThatStopsAnsweringIsToldOnceAndNotReadAgain) {
    const std::uint64_t size = 8 << 20;
    const fs::path image = makeImage(size);
    controller.setDriveDictArray(Array{Dict{{"Path", image.string()}}});
    std::vector<std::uint8_t> buf(8192 * 512);
    for (const bool gone : {false, true}) {
        auto m = DMedia::initWithDictionary(driveDict(image, size));
        testsupport::FailingReads disk;
        disk.failSectors(1000, gone ? 1 : 300);
        if (gone) disk.setError(ENXIO);
        m->setRawRead(disk.reader(), {}, disk.pastEveryCacheReader());
        EXPECT_EQ(m->readSectorRange(0, 8192, buf.data(), DMedia::RangeReader::Carving),
                  gone ? std::nullopt : std::optional<std::uint64_t>(300));
        EXPECT_EQ(m->mediumGone(), gone);
        EXPECT_EQ(controller.alerts().size(), gone ? 1u : 0u);
        const std::uint64_t failed = disk.failedReads();
        EXPECT_EQ(m->readSweepSectors(0, 8, buf.data()), gone ? 8u : 0u);
        EXPECT_EQ(disk.failedReads(), failed);
    }
}

// A sweep over bad stretches of a disk still attached: each costs a few failed reads more than the logarithm of its
// length and one a MiB it comes back over (one bad sector only itself), only its own sectors read as zeros, and the
// disk is never taken for gone, also when it dies under the page cache near its end.
TEST_F(DMediaReaders, ABadStretchCostsTheLogarithmOfItsLengthAndOnlyItsOwnSectors) {
    const std::uint64_t size = 64 << 20, sectors = size / 512;
    const fs::path image = makeImage(size);
    std::vector<std::uint8_t> batch(256 * 512);
    for (const std::uint64_t length : std::vector<std::uint64_t>{1, 2, 37, 5000, sectors / 2, 64}) {
        SCOPED_TRACE(length);
        const bool atEnd = length == 64;
        const std::uint64_t first = atEnd ? sectors - 64 : 3001;
        testsupport::FailingReads disk;
        disk.failSectors(first, length);
        auto m = listedDrive(image, size, disk);
        std::uint64_t lost = 0;
        for (std::uint64_t s = 0; s < sectors; s += 256) {
            lost += m->readSweepSectors(s, 256, batch.data());
            for (std::uint64_t i = 0; i < 256; ++i) {
                const bool bad = s + i >= first && s + i < first + length;
                std::vector<std::uint8_t> one(batch.begin() + static_cast<std::ptrdiff_t>(i * 512),
                                              batch.begin() + static_cast<std::ptrdiff_t>(i * 512 + 512));
                ASSERT_TRUE(bad ? one == std::vector<std::uint8_t>(512, 0) : matchesImage(one, (s + i) * 512, 512))
                    << "sector " << s + i;
            }
        }
        EXPECT_EQ(std::tuple(lost, m->unreadableSectorCount(), m->mediumGone()), std::tuple(length, length, false));
        const auto log2 = static_cast<std::uint64_t>(std::bit_width(length));
        EXPECT_LE(disk.failedReads(), length == 1 ? 3 : 2 * log2 + 8);
    }
    testsupport::FailingReads dying;
    dying.dieUnderThePageCacheAt(sectors - 64);
    auto m = listedDrive(image, size, dying);
    for (std::uint64_t s = 0; s < sectors; s += 256)
        m->readSweepSectors(s, 256, batch.data());
    // The last batch reached the sector where it died.
    EXPECT_EQ(std::tuple(m->mediumGone(), m->unreadableSectorCount(), controller.alerts().size()),
              std::tuple(false, 256ull, 0u));
    EXPECT_LE(dying.failedReads(), 20u);
}

// A disk that dies 70 % into a sweep, its page cache still holding what other readers read before: its last page,
// which the drive list and the identity check read, or also the identity check's spread samples. The walk from the
// death runs on to the last sector, which answers from the cache: a stretch whose only answers come from places read
// before is not come back over, so reaching the end costs a few dozen failed reads, as with nothing held.
TEST_F(DMediaReaders, ADiskDyingUnderACacheThatHoldsItsLastPageCostsAFewDozenReadsToItsEnd) {
    const std::uint64_t size = 256ull << 20, sectors = size / 512;
    const fs::path image = makeImage(size);
    std::vector<std::uint8_t> batch(256 * 512);
    for (const std::uint64_t samples : {0, 1, 33}) {
        SCOPED_TRACE(std::to_string(samples) + " pages held");
        testsupport::FailingReads dying;
        dying.dieUnderThePageCacheAt(sectors * 7 / 10);
        for (std::uint64_t i = 1; i <= samples; ++i)
            dying.holdInTheCache(i == samples ? sectors - 8 : sectors / samples * i, 8);
        auto m = listedDrive(image, size, dying);
        for (std::uint64_t s = 0; s < sectors; s += 256)
            m->readSweepSectors(s, 256, batch.data());
        EXPECT_FALSE(m->mediumGone());
        EXPECT_GE(m->unreadableSectorCount(), sectors * 3 / 10 - 8 * samples);
        EXPECT_LE(dying.failedReads(), 48u);
    }
}

// A disk dying under a cache, first read far past the death: that walk answers only from its last page, which
// anything may have read before. Two MiB that some other reader read unnoticed in the dead rest then answer a later
// walk there, as if the disk still did: the walk comes back over its stretch on trial, stops when its first asks all
// fail, and so costs the logarithm of the stretch, not a failed read a MiB of it.
TEST_F(DMediaReaders, AComeBackAfterAWalkAnsweredOnlyWhereAnythingHadReadStopsWhenItsFirstAsksFail) {
    const std::uint64_t mib = 2048, size = 256ull << 20, sectors = size / 512;
    testsupport::FailingReads dying;
    dying.dieUnderThePageCacheAt(8 * mib);
    dying.holdInTheCache(sectors - 8, 8);
    dying.holdInTheCache(79 * mib, 2 * mib);
    auto m = listedDrive(makeImage(size), size, dying);
    std::vector<std::uint8_t> batch(256 * 512);
    EXPECT_EQ(m->readSectorRange(250 * mib, 8, batch.data()), 8u);
    const std::uint64_t failed = dying.failedReads();
    EXPECT_EQ(m->readSweepSectors(16 * mib, 256, batch.data()), 256u);
    EXPECT_LE(dying.failedReads() - failed, static_cast<std::uint64_t>(2 * std::bit_width(sectors) + 8));
    EXPECT_EQ(std::tuple(m->mediumGone(), dying.mostFailedReadsOfOnePlace()), std::tuple(false, 1u));
}

// The scans' single reader counts what it could not read as the range readers do, answers false for a read that lost
// any sector, and never asks again for a sector known to be unreadable.
TEST_F(DMediaReaders, AFailedScanReadCountsItsUnreadableSectorsAndAsksForThemOnce) {
    const std::uint64_t size = 4 << 20;
    testsupport::FailingReads disk;
    disk.failSectors(100, 3);
    auto m = listedDrive(makeImage(size), size, disk);
    std::vector<std::uint8_t> node(16 * 512);
    EXPECT_FALSE(m->readSector(96, 16, node.data()));
    EXPECT_EQ(m->unreadableSectorCount(), 3u);
    EXPECT_TRUE(matchesImage(node, 96 * 512, 4 * 512));
    EXPECT_TRUE(matchesImage(std::vector(node.begin() + 7 * 512, node.end()), 103 * 512, 9 * 512));
    const std::uint64_t failed = disk.failedReads();
    EXPECT_FALSE(m->readSector(98, 4, node.data()));
    EXPECT_TRUE(m->readSector(104, 4, node.data()));
    EXPECT_EQ(std::tuple(disk.failedReads(), m->unreadableSectorCount()), std::tuple(failed, 3ull));
    EXPECT_TRUE(controller.calls().empty());
}

// What a save or a preview asks for past the medium's end is no data: the save's range reader counts it unreadable
// without asking, and the single readers fail. A medium that returns nothing at its first sector (a loop device
// whose image was detached) has gone: the save's alert, and nothing.
TEST_F(DMediaReaders, BytesTheMediumDoesNotReturnAreNeverSavedAsData) {
    const std::uint64_t size = 1 << 20, sectors = size / 512;
    const fs::path image = makeImage(size);
    controller.setDriveDictArray(Array{Dict{{"Path", image.string()}}});
    auto m = DMedia::initWithDictionary(driveDict(image, 2 * size));
    std::vector<std::uint8_t> buf(64 * 512, 0xAA);
    EXPECT_EQ(m->readSectorRange(sectors - 16, 64, buf.data(), DMedia::RangeReader::Save), 48u);
    EXPECT_TRUE(matchesImage(buf, (sectors - 16) * 512, 16 * 512));
    EXPECT_EQ(std::vector(buf.begin() + 16 * 512, buf.end()), std::vector<std::uint8_t>(48 * 512, 0));
    EXPECT_FALSE(m->readSaveSector(sectors - 1, 2, buf.data()));
    EXPECT_FALSE(m->readPreviewSector(sectors, 1, buf.data()));
    // The scans read past the end as zeros, as ever.
    EXPECT_TRUE(m->readSector(sectors - 1, 2, buf.data()));
    EXPECT_TRUE(controller.calls().empty());
    // Detached: every read returns nothing.
    m->setRawRead([](int, std::uint8_t*, std::size_t, std::uint64_t) -> std::int64_t { return 0; });
    EXPECT_EQ(m->readSectorRange(10, 8, buf.data(), DMedia::RangeReader::Save), std::nullopt);
    EXPECT_FALSE(m->readPreviewSector(10, 1, buf.data()));
    ASSERT_EQ(controller.alerts().size(), 2u);
    EXPECT_EQ(controller.alerts()[0].title, "! Can not save files");
    EXPECT_EQ(controller.alerts()[1].title, "! Can not show preview");
}

// A walk steps over the sectors between its probes without asking for them: once a scan has found the stretch
// unreadable, every reader of the scan reads them as zeros without asking, a sweep's batch as a size calculator's
// window or a catalog's node, and so does a save's first pass. A save's second pass needs them and asks, and those it
// gets leave the count. The sectors that failed are asked for by none.
TEST_F(DMediaReaders, NoReaderOfAScanAsksInsideAStretchItFoundUnreadableAndASaveAsksForWhatAWalkSteppedOver) {
    const std::uint64_t size = 4 << 20;
    testsupport::FailingReads disk;
    // The walk from 1000 probes 1127 and 1255, both bad, and steps over the readable sectors between.
    disk.failSectors(1000, 130);
    disk.failSectors(1250, 50);
    auto m = listedDrive(makeImage(size), size, disk);
    std::vector<std::uint8_t> buf(2048 * 512);
    EXPECT_EQ(m->readSweepSectors(0, 2048, buf.data()), 300u);
    EXPECT_EQ(m->unreadableSectorCount(), 300u);
    const std::uint64_t failed = disk.failedReads();
    std::uint64_t reads = 0;
    m->setRawRead([&, failing = disk.reader()](int fd, std::uint8_t* into, std::size_t length, std::uint64_t offset) {
        ++reads;
        return failing(fd, into, length, offset);
    });
    const std::vector<std::uint8_t> zeros(120 * 512, 0);
    EXPECT_EQ(m->readSweepSectors(1130, 120, buf.data()), 120u);
    EXPECT_EQ(std::vector(buf.begin(), buf.begin() + 120 * 512), zeros);
    for (const auto reader : {DMedia::RangeReader::Scan, DMedia::RangeReader::Carving}) {
        buf.assign(buf.size(), 0xAA);
        EXPECT_EQ(m->readSectorRange(1130, 120, buf.data(), reader), 120u);
        EXPECT_EQ(std::vector(buf.begin(), buf.begin() + 120 * 512), zeros);
    }
    EXPECT_FALSE(m->readSector(1130, 8, buf.data()));
    EXPECT_EQ(m->readSectorRange(1000, 2, buf.data()), 2u);
    EXPECT_EQ(m->readSectorRange(1130, 120, buf.data(), DMedia::RangeReader::Save), 120u);
    EXPECT_EQ(std::tuple(reads, m->unreadableSectorCount()), std::tuple(0u, 300ull));
    EXPECT_EQ(scraped(*m, 1130, 120, buf), (MediumReader::Runs{{1130, 1250}}));
    EXPECT_TRUE(matchesImage(buf, 1130 * 512, 120 * 512));
    EXPECT_EQ(std::tuple(disk.failedReads(), m->unreadableSectorCount(), m->unreadableSectorsIn(1130, 120)),
              std::tuple(failed, 180ull, 0ull));
    EXPECT_TRUE(controller.calls().empty());
}

// A sweep over a wide bad stretch comes back over it a few asks from its start, a MiB apart: a readable MiB a few MiB
// into it is read, its bytes exact. Wherever a readable MiB lies in it, the stretch costs a few dozen failed reads,
// none more for its length; a MiB bad every 16 MiB costs about what its walks do; over a disk that died, where nothing
// answered to the end, it comes back over nothing.
TEST_F(DMediaReaders, ASweepComesBackOverAWideBadStretchAFewAsksInItsWidestGapsButNotPastADeath) {
    const std::uint64_t mib = 2048, size = 96ull << 20, sectors = size / 512;
    const fs::path image = makeImage(size);
    const std::uint64_t badFirst = 4 * mib + 5, badEnd = 84 * mib;
    std::vector<std::uint8_t> batch(256 * 512);
    // A readable stretch inside the bad area, its width, and whether the sweep reads it: 8 MiB a tenth of the area
    // wide, in the gap the doubling steps left widest, is; a MiB that no ask of the come-back meets is not.
    const struct {
        std::uint64_t island, width;
        bool read;
    } islands[] = {{badFirst + 36 * mib - 100, 8 * mib, true}, {41 * mib + 333, mib, false}};
    for (const auto& [island, width, read] : islands) {
        // Alone, and after a size calculator's window walked into the bad area
        // ahead of the sweep: the sweep reads round what that walk stepped over.
        for (const bool walkedAhead : {false, true}) {
            SCOPED_TRACE(std::to_string(island) + (walkedAhead ? ", walked ahead" : ", alone"));
            testsupport::FailingReads disk;
            disk.failSectors(badFirst, island - badFirst);
            disk.failSectors(island + width, badEnd - island - width);
            auto m = listedDrive(image, size, disk);
            if (walkedAhead) {
                std::vector<std::uint8_t> window(64 * 512);
                ASSERT_EQ(m->readSectorRange(badFirst - 8, 64, window.data(), DMedia::RangeReader::Carving), 56u);
            }
            for (std::uint64_t s = 0; s < sectors; s += 256) {
                m->readSweepSectors(s, 256, batch.data());
                if (read && s + 256 > island && s < island + width) {
                    const std::uint64_t from = std::max(s, island), to = std::min(s + 256, island + width);
                    ASSERT_TRUE(matchesImage(std::vector(batch.begin() + static_cast<std::ptrdiff_t>((from - s) * 512),
                                                         batch.begin() + static_cast<std::ptrdiff_t>((to - s) * 512)),
                                             from * 512, (to - from) * 512))
                        << "sector " << s;
                }
            }
            if (read) {
                EXPECT_EQ(m->unreadableSectorCount(), badEnd - badFirst - width);
            }
            EXPECT_LE(disk.failedReads(), 2 * (2 * 17 + 4) + 8);
        }
    }
    testsupport::FailingReads periodic;
    for (std::uint64_t at = 3 * mib + 77; at + mib <= sectors; at += 16 * mib)
        periodic.failSectors(at, mib);
    auto m = listedDrive(image, size, periodic);
    for (std::uint64_t s = 0; s < sectors; s += 256)
        m->readSweepSectors(s, 256, batch.data());
    EXPECT_EQ(m->unreadableSectorCount(), sectors / (16 * mib) * mib);
    EXPECT_LE(periodic.failedReads(), sectors / (16 * mib) * 30);
    testsupport::FailingReads dying;
    dying.dieUnderThePageCacheAt(sectors * 3 / 10);
    m = listedDrive(image, size, dying);
    for (std::uint64_t s = 0; s < sectors; s += 256)
        m->readSweepSectors(s, 256, batch.data());
    EXPECT_FALSE(m->mediumGone());
    EXPECT_LE(dying.failedReads(), 30u);
}

// A disk that fails a read through the page cache for its page's one bad sector: the page is asked there once, then
// past the cache sector by sector, each once, and never through the cache again; a scan's read of the same place later
// costs no failed read, and only the bad sector reads as zeros.
TEST_F(DMediaReaders, APageThatFailedThroughTheCacheIsNeverAskedThereAgain) {
    const std::uint64_t size = 8 << 20;
    testsupport::FailingReads disk;
    disk.failSectors(1000);
    disk.failWholePagesThroughTheCache();
    auto m = listedDrive(makeImage(size), size, disk);
    std::vector<std::uint8_t> buf(128 * 512);
    for (const auto reader : {DMedia::RangeReader::Save, DMedia::RangeReader::Scan, DMedia::RangeReader::Save}) {
        EXPECT_EQ(m->readSectorRange(960, 128, buf.data(), reader), 1u);
        EXPECT_TRUE(matchesImage(buf, 960 * 512, 40 * 512));
        EXPECT_TRUE(matchesImage(std::vector(buf.begin() + 41 * 512, buf.end()), 1001 * 512, 87 * 512));
    }
    // The request through the cache, a piece of it past the cache (this disk fails a request whole), the sector.
    EXPECT_EQ(std::tuple(disk.failedReads(), disk.mostFailedReadsOfOnePlace()), std::tuple(3u, 1u));
}

// A disk that died behind the page cache after a scan read its first MiBs, the cache still holding the files a save
// has still to read, and the loop device's own reads past its cache answered by the cache of its file: what any cache
// gives is data for those files, never a sign that the disk answers, so the save finds the disk gone within a few
// dozen failed reads, as the places the scan read fail past every cache, with its alert, and still gets the files the
// cache holds whole.
TEST_F(DMediaReaders, AnAnswerFromThePageCacheNeverKeepsADeadDiskAlive) {
    const std::uint64_t size = 64 << 20, death = 60000;
    const std::vector<std::uint64_t> files{70000, 80000, 90000, 100000};
    testsupport::FailingReads dying;
    dying.dieUnderThePageCacheAt(death);
    for (const std::uint64_t file : files)
        dying.holdInTheCache(file, 64);
    auto m = listedDrive(makeImage(size), size, dying);
    m->setRawRead(dying.reader(), dying.cachedReader(), dying.pastEveryCacheReader());
    std::vector<std::uint8_t> scanned(256 * 512);
    for (std::uint64_t at = 0; at < 8192; at += 256)
        ASSERT_EQ(m->readSweepSectors(at, 256, scanned.data()), 0u);
    m->setStillToRead([&] {
        std::vector<ReadFailurePolicy::SectorRuns> runs;
        for (const std::uint64_t file : files)
            runs.push_back({{file, file + 64}});
        return runs;
    });
    std::vector<std::uint8_t> buf(64 * 512);
    EXPECT_EQ(m->readSectorRange(death + 100, 64, buf.data(), DMedia::RangeReader::Save), std::nullopt);
    EXPECT_LE(dying.failedReads(), 40u);
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "! Can not save files");
    for (const std::uint64_t file : files)
        EXPECT_TRUE(m->readCachedSectors(file, 64, buf.data()) == 0 && matchesImage(buf, file * 512, buf.size()));
}

// A file lying wholly in a bad area, read by a save's first pass a MiB at a time, then by its second pass: its walks,
// dense asks where the area begins and then one at every 128 KiB of the medium, so an island that wide would be found;
// asking any part of it again, another file's in the same save or the next save's, asks no sector that failed.
TEST_F(DMediaReaders, AFileWhollyInABadAreaIsAskedEvery128KiBAndNoFailedSectorAgain) {
    const std::uint64_t size = 128 << 20, badFirst = 20000, badEnd = 250000;
    testsupport::FailingReads disk;
    disk.failSectors(badFirst, badEnd - badFirst);
    auto m = listedDrive(makeImage(size), size, disk);
    m->setStillToRead([] { return std::vector<ReadFailurePolicy::SectorRuns>{}; });
    std::vector<std::uint8_t> buf(2048 * 512);
    std::uint64_t lost = 0;
    for (std::uint64_t at = badFirst; at < badEnd; at += 2048)
        lost += m->readSectorRange(at, static_cast<std::int32_t>(std::min<std::uint64_t>(2048, badEnd - at)),
                                   buf.data(), DMedia::RangeReader::Save)
                    .value_or(0);
    EXPECT_EQ(std::tuple(lost, m->unreadableSectorCount()), std::tuple(badEnd - badFirst, badEnd - badFirst));
    EXPECT_LE(disk.failedReads(), 40u);
    EXPECT_EQ(scraped(*m, badFirst, badEnd - badFirst, buf), MediumReader::Runs{});
    EXPECT_EQ(m->unreadableSectorCount(), badEnd - badFirst);
    // An ask at least once in every 128 KiB (the places lie about seven eighths of that apart), and the walks and
    // denser asks where the area begins.
    const std::uint64_t grid = (badEnd - badFirst) / 256;
    EXPECT_GE(disk.failedReads(), grid);
    EXPECT_LE(disk.failedReads(), (badEnd - badFirst) / 224 + 80);
    for (const bool nextSave : {false, true}) {
        if (nextSave) {
            m->setStillToRead(nullptr);
            m->setStillToRead([] { return std::vector<ReadFailurePolicy::SectorRuns>{}; });
        }
        // Its first sector and its first whole page's, and the one after it; the next save asks densely again
        // where its row of failures begins, a few dozen at the most.
        const std::uint64_t failed = disk.failedReads();
        EXPECT_EQ(m->readSectorRange(badEnd - 4095, 2048, buf.data(), DMedia::RangeReader::Save), 2048u);
        EXPECT_EQ(scraped(*m, badEnd - 4095, 2048, buf), MediumReader::Runs{});
        EXPECT_LE(disk.failedReads(), failed + (nextSave ? 48 : 3)) << (nextSave ? "the next save" : "the same save");
    }
    m->setStillToRead(nullptr);
    EXPECT_TRUE(controller.calls().empty());
}

// A disk that dies 70 % into a sweep is judged to have stopped by the walk that meets the death, once: the rest of the
// sweep, and a second sweep of the whole disk, read only what the page cache holds, page by page, and ask the disk
// nothing more, however many pages the kernel lets go of meanwhile; what the cache holds reads exact, what it let go
// of reads as zeros and counts as unreadable, and the disk is never taken for gone.
TEST_F(DMediaReaders, AScanOfADiskThatStoppedReadsOnlyWhatTheCacheHolds) {
    const std::uint64_t size = 64 << 20, sectors = size / 512, death = sectors * 7 / 10, held = sectors * 8 / 10;
    testsupport::FailingReads dying;
    dying.dieUnderThePageCacheAt(death);
    // A probe read 64 sectors past the death before it.
    dying.holdInTheCache(held, 64);
    auto m = listedDrive(makeImage(size), size, dying);
    m->setRawRead(dying.reader(), dying.cachedReader(), dying.pastEveryCacheReader());
    std::vector<std::uint8_t> batch(256 * 512);
    const auto sector = [&](std::uint64_t i) {
        return std::vector<std::uint8_t>(batch.begin() + static_cast<std::ptrdiff_t>(i * 512),
                                         batch.begin() + static_cast<std::ptrdiff_t>(i * 512 + 512));
    };
    std::uint64_t failedInTheFirstSweep = 0;
    for (const bool second : {false, true}) {
        SCOPED_TRACE(second ? "second sweep" : "first sweep");
        for (std::uint64_t s = 0; s < sectors; s += 256) {
            m->readSweepSectors(s, 256, batch.data());
            for (std::uint64_t i = 0; i < 256; ++i) {
                const std::uint64_t at = s + i;
                // Held by the cache through both sweeps: what a probe read, and, in the second, what the first read
                // before the death but the page in every 64 the kernel let go of.
                const bool cached = (at >= held && at < held + 64) || (second && at + 8192 < death && at % 512 >= 8) ||
                                    (!second && at + 8192 < death);
                if (cached) {
                    ASSERT_TRUE(matchesImage(sector(i), at * 512, 512)) << "sector " << at;
                } else if (second && at < death && at % 512 < 8) {
                    ASSERT_EQ(sector(i), std::vector<std::uint8_t>(512, 0)) << "sector " << at;
                }
            }
        }
        if (!second) failedInTheFirstSweep = dying.failedReads();
        for (std::uint64_t at = 0; at < death; at += 512)
            dying.letGo(at, 8);
    }
    EXPECT_TRUE(m->stoppedAnswering());
    EXPECT_GE(m->stoppedAnsweringAt() + 8192, death);
    EXPECT_FALSE(m->mediumGone());
    EXPECT_LE(failedInTheFirstSweep, 40u);
    EXPECT_EQ(dying.failedReads(), failedInTheFirstSweep);
    EXPECT_GE(m->unreadableSectorCount(), sectors - death - 64 + death / 512 * 8 - 8192);
    EXPECT_TRUE(controller.alerts().empty());
}

// The device layer counts each request the device failed once, whoever asked: the scans' sweeps and windows, a size
// calculator's window, a save's range and single reads, a preview, an identity check, each as the disk itself counts
// the requests it failed, and a read that stops short before the device's end is one failed request too. A request
// the device refuses as asked (EINVAL: past the cache, one it takes only through it) is no read it failed.
TEST_F(DMediaReaders, EveryRequestTheDeviceFailedIsCountedOnceWhateverReaderMadeIt) {
    const std::uint64_t size = 8 << 20;
    const fs::path image = makeImage(size);
    std::vector<std::uint8_t> buf(4096 * 512);
    using Reader = std::function<void(DMedia&)>;
    const struct {
        const char* what;
        Reader read;
    } readers[] = {
        {"a sweep", [&](DMedia& m) { m.readSweepSectors(0, 4096, buf.data()); }},
        {"a scan's small batches",
         [&](DMedia& m) {
             for (std::uint64_t s = 0; s < 4096; s += 16)
                 m.readSector(s, 16, buf.data());
         }},
        {"a size calculator's window",
         [&](DMedia& m) { m.readSectorRange(900, 1024, buf.data(), DMedia::RangeReader::Carving); }},
        {"a save's range", [&](DMedia& m) { m.readSectorRange(0, 4096, buf.data(), DMedia::RangeReader::Save); }},
        {"a save's and a preview's single reads",
         [&](DMedia& m) {
             m.readSaveSector(1000, 8, buf.data());
             m.readPreviewSector(3000, 8, buf.data());
         }},
        {"an identity check",
         [&](DMedia& m) {
             for (std::uint64_t s = 0; s < 4096; s += 100)
                 m.readCarvingSector(s, 1, buf.data(), true);
         }},
    };
    for (const auto& reader : readers) {
        SCOPED_TRACE(reader.what);
        testsupport::FailingReads disk;
        for (const std::uint64_t bad : {1000, 1001, 2500, 3000, 3400})
            disk.failSectors(bad, bad == 3000 ? 64 : 1);
        auto m = listedDrive(image, size, disk);
        reader.read(*m);
        EXPECT_GT(disk.failedReads(), 0u);
        EXPECT_EQ(m->failedReads(), disk.failedReads());
    }
    // Short of what was asked, before the end: the cache answered up to the page it could not read.
    auto m = listedDrive(image, size, testsupport::FailingReads());
    m->setRawRead([](int fd, std::uint8_t* into, std::size_t length, std::uint64_t offset) -> std::int64_t {
        if (offset <= 5000 * 512 && offset + length > 5000 * 512 && (::fcntl(fd, F_GETFL) & O_DIRECT) == 0)
            return ::pread(fd, into, std::min<std::uint64_t>(length, 5000 * 512 - offset), static_cast<off_t>(offset));
        return ::pread(fd, into, length, static_cast<off_t>(offset));
    });
    EXPECT_EQ(m->readSectorRange(4990, 20, buf.data()), 0u);
    EXPECT_EQ(m->failedReads(), 1u);
    // Refused past the cache, answered through it.
    m = listedDrive(image, size, testsupport::FailingReads());
    m->setRawRead([](int fd, std::uint8_t* into, std::size_t length, std::uint64_t offset) -> std::int64_t {
        if ((::fcntl(fd, F_GETFL) & O_DIRECT) != 0) {
            errno = EINVAL;
            return -1;
        }
        return ::pread(fd, into, length, static_cast<off_t>(offset));
    });
    EXPECT_EQ(m->readCarvingSector(7, 1, buf.data(), true), DMedia::CarvingRead::Read);
    EXPECT_TRUE(matchesImage(buf, 7 * 512, 512));
    EXPECT_EQ(m->failedReads(), 0u);
}

// Once a disk has stopped, its scan reads only what the page cache holds: a cache that cannot be asked at all (a
// medium nothing of which can be mapped, as a file served in direct I/O) is asked once for each request, whatever its
// length, never page by page; everything from there on reads as zeros and counts as unreadable.
TEST_F(DMediaReaders, ACacheThatCannotBeAskedIsAskedOnceARequestWhateverItsLength) {
    const std::uint64_t size = 64 << 20, sectors = size / 512, death = sectors / 10;
    testsupport::FailingReads dying;
    dying.dieUnderThePageCacheAt(death);
    auto m = listedDrive(makeImage(size), size, dying);
    std::uint64_t asked = 0;
    m->setRawRead(
        dying.reader(),
        [&asked](int, std::uint8_t*, std::size_t, std::uint64_t) -> std::int64_t {
            ++asked;
            errno = ENODEV;
            return -1;
        },
        dying.pastEveryCacheReader());
    std::vector<std::uint8_t> batch(2048 * 512);
    std::uint64_t batches = 0, askedBefore = 0;
    for (std::uint64_t s = 0; s < sectors; s += 2048) {
        m->readSweepSectors(s, 2048, batch.data());
        if (s < death + 2048) {
            askedBefore = asked;
            continue;
        }
        ++batches;
        ASSERT_EQ(batch, std::vector<std::uint8_t>(batch.size(), 0)) << "sector " << s;
    }
    ASSERT_TRUE(m->stoppedAnswering());
    EXPECT_EQ(asked - askedBefore, batches);
    // What a save takes from the cache of the disk it found gone: one question for the whole disk.
    asked = 0;
    std::vector<std::uint8_t> all(size);
    EXPECT_EQ(m->readCachedSectors(0, static_cast<std::int32_t>(sectors), all.data()), sectors);
    EXPECT_EQ(asked, 1u);
}

// What the system tells of a descriptor's page cache is found out once: a file that a FUSE server serves in direct
// I/O cannot be mapped, so its cache is never asked by a map that fails (nor page by page: a disk that died behind it
// reads as unheld at once), while a loop device over it, which the page cache serves, is asked and tells.
TEST_F(DMediaReaders, AFileServedInDirectIoIsNeverMappedToAskItsCacheAndALoopDeviceOverItIs) {
    if (!testsupport::ServedByTheFuseTool::possible()) GTEST_SKIP() << "the FUSE tool needs root, /dev/fuse, losetup";
    const std::uint64_t size = 4 << 20;
    const fs::path image = makeImage(size);
    testsupport::writeText(image.parent_path() / "map", "");
    testsupport::ServedByTheFuseTool served(image, image.parent_path() / "map",
                                            testsupport::ServedByTheFuseTool::Loop::DirectIo);
    ASSERT_FALSE(served.device.empty()) << "the FUSE tool did not serve the image";
    const fs::path file = image.parent_path() / "mnt" / "disk.img";
    std::vector<std::uint8_t> buf(64 * 512);
    for (const auto& [path, maps] : {std::pair{file.string(), false}, std::pair{served.device, true}}) {
        SCOPED_TRACE(path);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pread(fd, buf.data(), buf.size(), 0), static_cast<ssize_t>(buf.size()));
        const platform::CacheAsking asking = platform::cacheAsking(fd);
        EXPECT_EQ(std::tuple(asking.fd, asking.told, asking.maps), std::tuple(fd, true, maps));
        errno = 0;
        const std::int64_t got = platform::readCachedBytesAsked(asking, buf.data(), buf.size(), 0);
        EXPECT_EQ(got, maps ? static_cast<std::int64_t>(buf.size()) : -1);
        if (!maps) {
            EXPECT_EQ(errno, ENODEV);
            EXPECT_FALSE(platform::heldPagesAsked(asking, 0, buf.size()));
        } else {
            EXPECT_TRUE(matchesImage(buf, 0, buf.size()));
        }
        ::close(fd);
    }
    // Read through the served file, its sectors are never held.
    auto m = DMedia::initWithDictionary(driveDict(file, size));
    ASSERT_TRUE(m->readSector(0, 64, buf.data()) && matchesImage(buf, 0, buf.size()));
    EXPECT_EQ(m->readCachedSectors(0, 64, buf.data()), 64u);
}
