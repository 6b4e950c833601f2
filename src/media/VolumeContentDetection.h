#pragma once

// What a volume holds, read from its first sectors rather than taken from
// the partition type: whether it is an APFS container, a FAT or an exFAT
// volume, which FAT it is (by its cluster count, as Microsoft's FAT
// documents define the types), and for HFS+ and HFSX whether it is journaled and
// where an HFS+ volume wrapped in HFS begins. The drive-list builder runs
// these tests on every candidate volume.
//
// The tests take a volume dictionary and use its "Path" (the device node)
// and "Preferred Block Size". A volume that does not begin at sector 0 of
// its device node (a partition inside a disk image) is read from the start
// sector given at construction. Each test opens the device read-only, reads
// a few sectors and closes it again; a device that cannot be opened or read
// leaves the buffer zero, which every test reads as "no".
//
// The boot sectors are untrusted: every field is read through a ByteView,
// cluster arithmetic is 64-bit, and a FAT whose reserved areas claim more
// sectors than the volume has is no FAT type at all.

#include "platform/ByteView.h"
#include "platform/Value.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

class VolumeContentDetection {
public:
    explicit VolumeContentDetection(std::uint64_t volumeStartSector = 0) noexcept
        : volumeStartSector_(volumeStartSector) {}

    // Reads size x bytesPerSector bytes at sector x bytesPerSector of the
    // device at volumePath into buffer (which must hold them). A short or
    // empty read (the end of the device) answers true; a device that cannot
    // be opened or read, or a request the buffer cannot hold, false.
    static bool readSaveSector(std::uint64_t sector, std::uint32_t size, std::uint32_t bytesPerSector,
                               std::span<std::uint8_t> buffer, const std::string& volumePath);

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
    std::optional<platform::Dict> checkForJournal(const platform::Dict& volume) const;

    // The content tests read this many sectors; the journal test twice as many.
    static constexpr std::uint32_t kProbeSectors = 4;
    static constexpr std::uint32_t kJournalProbeSectors = 8;
    // A sector size no device has is not read at all.
    static constexpr std::uint32_t kMaxSectorSize = 1u << 20;

private:
    // The first `sectors` sectors of the volume, zero where they could not
    // be read; empty for an unusable sector size. `bytesRead` (when given)
    // receives the byte count read, or -1 for a failure.
    std::vector<std::uint8_t> probe(const platform::Dict& volume, std::uint64_t sectorInVolume, std::uint32_t sectors,
                                    std::int64_t* bytesRead = nullptr) const;

    std::uint64_t volumeStartSector_;
};
