#pragma once

// What a volume holds, read from its first sectors rather than taken from
// the partition type: whether it is an APFS container, a FAT or an exFAT
// volume, which FAT it is (by its cluster count, as Microsoft's FAT
// documents define the types), and for HFS+ and HFSX whether it is journaled and
// where an HFS+ volume wrapped in HFS begins. The drive-list builder runs
// these tests on every candidate volume.
//
// The tests take a volume dictionary and use its "Path" (the device node),
// "Preferred Block Size" and, for the HFS+ alternate header, "Size" (the
// volume's bytes). A volume that does not begin at sector 0 of its device
// node (a partition inside a disk image) is read from the start sector given
// at construction. Each test opens the device read-only, reads a few sectors
// and closes it again; a device that cannot be opened or read leaves the
// buffer zero, which every test reads as "no".
//
// A dying disk fails a whole request for one bad sector, so a probe that
// fails is read again sector by sector, past the page cache where the device
// allows it (the cache fails the whole page of a bad sector): only the
// sectors that hold the boot record matter. A dying disk also spends seconds
// on each failed read, and the tests ask for the same few places again and
// again: a request that failed is kept (ProbeFailures), shared by every test
// of one detection (and by the drive list's listings, whose memory it is
// given), and no request that holds it is asked for again. A boot sector
// that cannot be read is taken from its backup where the format keeps one
// (FAT32 at sector 6, where its formatters put it; exFAT's backup boot region
// at sector 12 of its own sectors), an APFS container superblock from a
// superblock of its checkpoint descriptor area, and an HFS+ volume header
// from the alternate copy 1024 bytes before the volume's end.
//
// The boot sectors are untrusted: every field is read through a ByteView,
// cluster arithmetic is 64-bit, and a FAT whose reserved areas claim more
// sectors than the volume has is no FAT type at all.

#include "media/ProbeFailures.h"
#include "platform/ByteView.h"
#include "platform/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class VolumeContentDetection {
public:
    // What the device's bytes are read through, as pread(2) on the open
    // descriptor: the bytes read, or -1 with errno set. Tests put a reader of
    // their own in between to make chosen sectors fail.
    using RawRead = std::function<std::int64_t(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset)>;

    // `failures`: what failed on the devices before, and where what fails
    // now is kept; a memory of this detection's own when none is given.
    explicit VolumeContentDetection(std::uint64_t volumeStartSector = 0, RawRead read = {},
                                    std::shared_ptr<ProbeFailures> failures = {});

    // Reads size x bytesPerSector bytes at sector x bytesPerSector of the
    // device at volumePath into buffer (which must hold them). A short or
    // empty read (the end of the device) answers true; a device that cannot
    // be opened or read, or a request the buffer cannot hold, false.
    static bool readSaveSector(std::uint64_t sector, std::uint32_t size, std::uint32_t bytesPerSector,
                               std::span<std::uint8_t> buffer, const std::string& volumePath);
    // buffer.size() bytes at byte `offset` of the device at `devicePath`, in
    // one request through the page cache, as libblkid reads a device's first
    // sectors: true when they were read (fewer at the device's end). A
    // request that holds one that failed before is not asked for; one that
    // fails is kept.
    bool readWhole(const std::string& devicePath, std::uint64_t offset, std::span<std::uint8_t> buffer) const;

    // Byte-order readers. Mode 0 reads big-endian at position; mode 1 (two
    // bytes) or 3 (four bytes) little-endian, the byte at position + mode
    // being the most significant. Other modes, and bytes outside the
    // buffer, read as 0.
    static std::uint16_t twoByteRead(platform::ByteView buffer, std::int32_t position, std::int32_t andOffset);
    static std::uint32_t fourByteRead(platform::ByteView buffer, std::int32_t position, std::int32_t andOffset);

    // "NXSB", the container superblock's magic, at byte 32. On Linux an APFS
    // volume has no device of its own: its device is the container.
    bool isVolumeAPFS(const platform::Dict& volume) const;
    // "FAT" in the FAT12/16 or the FAT32 file-system type field.
    bool isVolumeFAT(const platform::Dict& volume) const;
    // "EXFAT   " as the OEM name.
    bool isVolumeExFAT(const platform::Dict& volume) const;
    // "FAT12", "FAT16" or "FAT32" by the cluster count (below 4085, below
    // 65525, the rest), or "-" when the boot sector gives none.
    std::string fatFileSystemDetermination(const platform::Dict& volume) const;
    // {"HFSVolumeStart", "Content" ("Apple_HFS", "Apple_HFSX" or "-"),
    // "journaled" ("Yes"/"No"), "supportFileSystemRecovery" (1 when
    // journaled)}, or nothing when the volume cannot be read. A volume
    // without an HFS+ or HFSX header is never journaled.
    // A header that cannot be read at byte 1024 is taken from the alternate
    // copy; nothing when neither reads.
    std::optional<platform::Dict> checkForJournal(const platform::Dict& volume) const;
    // The 512 bytes of the volume header at byte 1024 of the volume, or of
    // its alternate copy when the primary's sectors cannot be read and the
    // copy is an HFS+ or HFSX header; nothing when neither can be had.
    std::optional<std::vector<std::uint8_t>> volumeHeader(const platform::Dict& volume) const;

    // The content tests read this many sectors; the journal test twice as many.
    static constexpr std::uint32_t kProbeSectors = 4;
    static constexpr std::uint32_t kJournalProbeSectors = 8;
    // A sector size no device has is not read at all.
    static constexpr std::uint32_t kMaxSectorSize = 1u << 20;

    // Where the backups lie: FAT32's boot sector, in the volume's sectors,
    // and exFAT's backup boot region, in the file system's own sectors.
    static constexpr std::uint64_t kFAT32BackupBootSector = 6;
    static constexpr std::uint64_t kExFATBackupBootSector = 12;
    // An APFS checkpoint descriptor area begins at block 1 on the
    // containers Apple's tools make; this many blocks from there are
    // looked at for its superblocks.
    static constexpr std::uint32_t kCheckpointBlocksLooked = 16;

private:
    // Sectors of the volume as read: zero where they could not be.
    struct Probe {
        std::vector<std::uint8_t> bytes;
        // The bytes read (fewer at the end of the device), or -1 when the
        // device could not be opened or none of the sectors read.
        std::int64_t bytesRead = -1;
        // Per sector: the device failed it.
        std::vector<bool> lost;
        bool sectorLost(std::size_t i) const { return i >= lost.size() || lost[i]; }
    };
    // `sectors` sectors from the volume's sector `sectorInVolume`; a read
    // that fails is read again in pieces of `unit` sectors (one unless told:
    // what a test needs whole, an APFS block, is asked for whole), each once.
    // No bytes for an unusable sector size.
    Probe probe(const platform::Dict& volume, std::uint64_t sectorInVolume, std::uint32_t sectors,
                std::uint32_t unit = 1) const;
    // The first kProbeSectors sectors, sector 0 taken from a FAT32 or exFAT
    // backup when it cannot be read and a backup can.
    Probe bootRecord(const platform::Dict& volume) const;
    // A container superblock of the checkpoint descriptor area whose
    // checksum holds, for a container whose block 0 cannot be read.
    bool checkpointSuperblockReads(const platform::Dict& volume) const;

    std::uint64_t volumeStartSector_;
    RawRead read_;
    std::shared_ptr<ProbeFailures> failures_;
};
