// A volume whose first sectors fail, one at a time, scanned as scan-image scans it (its content found by its first
// sectors, then the scan that content calls for): FAT12, FAT16 and FAT32 volumes made by mkfs.vfat and mtools, an
// exFAT volume made by mkfs.exfat, the APFS container made by macOS, and a FAT volume in the first partition of an
// MBR disk. Every file is found and reads back as without the fault, boot sectors coming from their backups where the
// format keeps one; where nothing stands in for the sector, the scan says the first sectors could not be read.

#include "ScanImageCommands.h"
#include "ScanImageScan.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// What a scan gives: each found node by path (size, deleted) and the bytes of each file read through its extents.
struct Found {
    std::map<std::string, std::pair<std::uint64_t, bool>> rows;
    std::map<std::string, std::string> files;
    bool operator==(const Found&) const = default;
};

class FirstSectors : public ScanFixture {
protected:
    struct Scan {
        Found found;
        int exitStatus = 0;
        bool foundVolume = false;
        std::string alerts;
    };
    Scan scan(const fs::path& image, std::uint64_t start, const std::string& mode, const FailingReads* disk = nullptr) {
        ScanImageOptions o;
        o.image = image.string();
        o.start = start;
        o.mode = mode;
        if (disk) o.rawRead = disk->reader();
        controller.clear();
        ScannedImage scanned = scanImage(o, controller);
        Scan out;
        for (const auto& a : controller.alerts())
            out.alerts += a.title + ": " + a.message + "\n";
        if (!scanned.volume) return out;
        keep(scanned.volume);
        out.exitStatus = scanned.exitStatus();
        out.foundVolume = scanned.completed;
        if (!scanned.volume->dirRoot) return out;
        for (const auto& [path, node] : nodesByPath(scanned.volume->dirRoot)) {
            out.found.rows[path] = {node->fileSize, node->deleted != 0};
            if (!node->isFolder()) out.found.files[path] = readThroughExtents(*scanned.volume, *node);
        }
        return out;
    }

    // Each of the volume's first four sectors fails in turn: the sectors in `lost` leave nothing to stand in for
    // them, the others cost nothing but their count where the scan reads them. The same holds when the device fails
    // the whole page of the bad sector to reads through its page cache, as a block device does.
    void expectEachFirstSector(const fs::path& image, std::uint64_t start, const std::string& mode,
                               std::set<std::uint64_t> lost, std::size_t minimumFiles) {
        const Scan sound = scan(image, start, mode);
        ASSERT_EQ(sound.exitStatus, 0) << sound.alerts;
        ASSERT_GE(sound.found.files.size(), minimumFiles);
        for (int run = 0; run < 8; ++run) {
            const std::uint64_t sector = run % 4;
            const bool wholePages = run >= 4;
            SCOPED_TRACE("sector " + std::to_string(sector) +
                         (wholePages ? ", its page failing through the cache" : ""));
            FailingReads disk;
            disk.failSectors(start + sector);
            if (wholePages) disk.failWholePagesThroughTheCache();
            const Scan damaged = scan(image, start, mode, &disk);
            if (lost.count(sector)) {
                EXPECT_EQ(damaged.exitStatus, 1);
                EXPECT_NE(damaged.alerts.find("The first sectors of this volume could not be read"), std::string::npos)
                    << damaged.alerts;
                continue;
            }
            EXPECT_TRUE(damaged.foundVolume) << damaged.alerts;
            EXPECT_EQ(damaged.found, sound.found);
        }
    }

    // A FAT volume of mkfs.vfat with ten files in a folder, three of them deleted.
    fs::path fatVolume(const std::string& options, const std::string& kib) {
        const fs::path dir = makeTempDir("first-sectors"), files = dir / "files";
        const fs::path image = mkfsVfat(dir, options, kib);
        fs::create_directories(files);
        mtools(image, "mmd", "::/PHOTOS");
        for (int i = 10; i < 20; ++i) {
            const fs::path file = files / ("F" + std::to_string(i) + ".BIN");
            writeText(file, patternBytes(std::uint64_t(i) * 4099, 3000 + std::uint64_t(i) * 700));
            mtools(image, "mcopy", shellQuote(file.string()) + " ::/PHOTOS/");
        }
        for (int i : {11, 14, 17})
            mtools(image, "mdel", "::/PHOTOS/F" + std::to_string(i) + ".BIN");
        return image;
    }
};

} // namespace

TEST_F(FirstSectors, FATVolumesKeepEveryFileAndFAT32TakesItsBootSectorFromTheBackup) {
    // FAT12 and FAT16 keep no copy of their boot sector; FAT32 keeps one at sector 6.
    expectEachFirstSector(fatVolume("-F 12", "4096"), 0, "normal", {0}, 7);
    expectEachFirstSector(fatVolume("-F 16", "16384"), 0, "normal", {0}, 7);
    expectEachFirstSector(fatVolume("-F 32 -s 1", "40960"), 0, "normal", {}, 7);
}

TEST_F(FirstSectors, TheExFATDeletedScanTakesTheBackupBootRegion) {
    const fs::path image = exFATVolumeWithDeletedFiles();
    ASSERT_FALSE(image.empty()) << "mkfs.exfat failed";
    expectEachFirstSector(image, 0, "deleted", {}, 6);
}

TEST_F(FirstSectors, AnAPFSContainerIsKnownByItsCheckpointSuperblock) {
    // Sectors 0 to 3 all lie in block 0, whose superblock the checkpoint area keeps copies of.
    expectEachFirstSector(copyOfReadyImage("apfs.raw"), 0, "normal", {}, 3);
}

TEST_F(FirstSectors, TheFirstPartitionOfAnMBRDiskIsFoundWhenItsSecondSectorFails) {
    const fs::path dir = makeTempDir("first-sectors-mbr");
    const fs::path volume = fatVolume("-F 16", "16384"), disk = dir / "disk.img";
    zeroFile(disk, (2048 + 32768 + 2048) * 512ull);
    writeText(dir / "script", "label: dos\nstart=2048, size=32768, type=6\n");
    ASSERT_TRUE(runCommand("sfdisk -q --no-reread --no-tell-kernel " + shellQuote(disk.string()) + " < " +
                           shellQuote((dir / "script").string()) + " >/dev/null 2>&1"));
    ASSERT_TRUE(runCommand("dd if=" + shellQuote(volume.string()) + " of=" + shellQuote(disk.string()) +
                           " bs=512 seek=2048 conv=notrunc status=none"));
    expectEachFirstSector(disk, 2048, "normal", {0}, 7);
}

// The header sector of a bare HFS+ volume fails: the normal and the deleted-file scans read the volume from its
// alternate header, as without the fault, and the lost-volume search lists it at its first sector.
TEST_F(FirstSectors, ABareHFSPlusVolumeIsReadFromItsAlternateHeader) {
    const fs::path volume = bareXorrisoHfsVolume();
    ASSERT_FALSE(volume.empty()) << "xorriso is needed to make the volume";
    FailingReads disk;
    disk.failSectors(2);
    // The deleted-file scan finds no deleted file on it, but must find the volume.
    for (const auto& [mode, files] : {std::pair{"normal", 10u}, {"deleted", 0u}}) {
        SCOPED_TRACE(mode);
        const Scan sound = scan(volume, 0, mode);
        ASSERT_TRUE(sound.foundVolume) << sound.alerts;
        ASSERT_GE(sound.found.files.size(), files);
        const Scan damaged = scan(volume, 0, mode, &disk);
        EXPECT_TRUE(damaged.foundVolume) << damaged.alerts;
        EXPECT_EQ(damaged.exitStatus, 1);
        EXPECT_EQ(damaged.found, sound.found);
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(lostVolumesCommand({volume.string()}, disk.reader()), 1);
    const std::string listed = testing::internal::GetCapturedStdout();
    EXPECT_NE(listed.find("\nvolume\t0\t"), std::string::npos) << listed;
}
