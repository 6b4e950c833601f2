#include "media/VolumeContentDetection.h"

#include "formats/FATBootSector.h"
#include "formats/HFSPlusStructures.h"
#include "formats/MainBootSector.h"
#include "formats/ObjPhys.h"
#include "media/ContentKind.h"
#include "platform/AlignedBuffer.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

using platform::ByteView;
using platform::Dict;

namespace {

constexpr std::uint32_t kJournaledBit = 0x2000;
// APFS: container superblocks are objects of type 1 ("NXSB" at byte 32);
// the block size and the checkpoint descriptor area's place are theirs.
constexpr std::uint16_t kApfsSuperblockType = 1;

// A device opened for a probe, read through the page cache without the
// kernel's read-ahead: what it would read around the probe stays behind in
// the device's cache as pages to read ahead from, and a disk dying later
// under a reader that holds the device open then has each page of a batch
// asked for alone. -1 when it cannot be opened.
int openForProbes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    return fd;
}

// Reads up to buffer.size() bytes at offset through fd (with `read` when
// given); the byte count read (fewer at the end of the device), or -1 when
// the device cannot be read.
std::int64_t readFully(const VolumeContentDetection::RawRead& read, int fd, std::uint64_t offset,
                       std::span<std::uint8_t> buffer) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) ||
        buffer.size() > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) - offset)
        return -1;
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::int64_t n =
            read ? read(fd, buffer.data() + done, buffer.size() - done, offset + done)
                 : ::pread(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

// The same on a device opened for this one read.
std::int64_t readAt(const std::string& path, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    const int fd = openForProbes(path);
    if (fd < 0) return -1;
    const std::int64_t n = readFully({}, fd, offset, buffer);
    ::close(fd);
    return n;
}

// A FAT32 boot sector: its type field, signature and a layout of FAT32.
bool isFAT32BootSector(ByteView b) {
    const std::optional<FATBootSector> boot = FATBootSector::decode(b);
    return b.spells(82, "FAT") && boot && boot->hasBootCode() && boot->type() == FATType::FAT32;
}

// An exFAT main boot sector of sectors of 2^shift bytes.
bool isExFATBootSector(ByteView b, std::uint16_t shift) {
    const MainBootSector boot(b);
    return boot.file_system_name() == "EXFAT   " && boot.boot_signature() == 0xAA55 && boot.bytes_per_sector() == shift;
}

// An HFS+ or HFSX volume header with its own version: what an alternate
// copy must be to stand in for the primary.
bool isHFSPlusHeader(ByteView h) {
    const std::uint16_t signature = h.be16(0), version = h.be16(2);
    return (signature == hfsplus::kHFSPlusSignature && version == 4) ||
           (signature == hfsplus::kHFSXSignature && version == 5);
}

} // namespace

VolumeContentDetection::VolumeContentDetection(std::uint64_t volumeStartSector, RawRead read,
                                               std::shared_ptr<ProbeFailures> failures)
    : volumeStartSector_(volumeStartSector), read_(std::move(read)),
      failures_(failures ? std::move(failures) : std::make_shared<ProbeFailures>()) {}

bool VolumeContentDetection::readSaveSector(std::uint64_t sector, std::uint32_t size, std::uint32_t bytesPerSector,
                                            std::span<std::uint8_t> buffer, const std::string& volumePath) {
    const std::uint64_t length = static_cast<std::uint64_t>(size) * bytesPerSector;
    if (length > buffer.size()) return false;
    const auto offset = platform::checkedMul(sector, bytesPerSector);
    if (!offset) return false;
    return readAt(volumePath, *offset, buffer.first(static_cast<std::size_t>(length))) >= 0;
}

bool VolumeContentDetection::readWhole(const std::string& devicePath, std::uint64_t offset,
                                       std::span<std::uint8_t> buffer) const {
    if (failures_->knownToFail(devicePath, offset, buffer.size())) return false;
    const int fd = openForProbes(devicePath);
    if (fd < 0) return false;
    const std::int64_t n = readFully(read_, fd, offset, buffer);
    ::close(fd);
    if (n < 0) failures_->noteFailed(devicePath, offset, buffer.size());
    return n >= 0;
}

std::uint16_t VolumeContentDetection::twoByteRead(ByteView buffer, std::int32_t position, std::int32_t andOffset) {
    if (position < 0) return 0;
    const auto at = static_cast<std::size_t>(position);
    if (andOffset == 0) return buffer.be16(at);
    if (andOffset == 1) return buffer.le16(at);
    return 0;
}

std::uint32_t VolumeContentDetection::fourByteRead(ByteView buffer, std::int32_t position, std::int32_t andOffset) {
    if (position < 0) return 0;
    const auto at = static_cast<std::size_t>(position);
    if (andOffset == 0) return buffer.be32(at);
    if (andOffset == 3) return buffer.le32(at);
    return 0;
}

VolumeContentDetection::Probe VolumeContentDetection::probe(const Dict& volume, std::uint64_t sectorInVolume,
                                                            std::uint32_t sectors, std::uint32_t unit) const {
    Probe p;
    const std::uint32_t bps = volume.get("Preferred Block Size").unsignedIntValue();
    if (bps == 0 || bps > kMaxSectorSize) {
        platform::logFormat("Content of %@ not tested: %u bytes per sector is no device's sector size",
                            volume.get("Path"), bps);
        return p;
    }
    p.bytes.assign(static_cast<std::size_t>(sectors) * bps, 0);
    p.lost.assign(sectors, true);
    const auto sector = platform::checkedAdd(volumeStartSector_, sectorInVolume);
    const auto offset = sector ? platform::checkedMul(*sector, bps) : std::nullopt;
    if (!offset) return p;
    const std::string path = volume.get("Path").description();
    const int fd = openForProbes(path);
    if (fd < 0) return p;
    // A request of one piece is asked for past the cache at once.
    unit = std::clamp<std::uint32_t>(unit, 1, std::max<std::uint32_t>(sectors, 1));
    if (unit < sectors && !failures_->knownToFail(path, *offset, p.bytes.size())) {
        p.bytesRead = readFully(read_, fd, *offset, p.bytes);
        if (p.bytesRead >= 0) {
            std::fill(p.lost.begin(), p.lost.end(), false);
            ::close(fd);
            return p;
        }
        failures_->noteFailed(path, *offset, p.bytes.size());
        std::fill(p.bytes.begin(), p.bytes.end(), 0);
    }
    // One bad sector fails the whole request: each piece is asked for on its
    // own, once, and only those that fail stay zero. The page cache fails a
    // whole page for one bad sector, so they are asked for past it where the
    // device allows that.
    const int uncached = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    platform::AlignedBuffer aligned(static_cast<std::size_t>(unit) * bps);
    std::int64_t got = 0;
    bool anyRead = false;
    for (std::uint32_t first = 0; first < sectors; first += unit) {
        const std::uint32_t count = std::min(unit, sectors - first);
        const std::size_t length = std::size_t(count) * bps;
        const std::span<std::uint8_t> piece(p.bytes.data() + std::size_t(first) * bps, length);
        const std::uint64_t at = *offset + std::uint64_t(first) * bps;
        if (failures_->knownToFail(path, at, length, uncached >= 0)) continue;
        std::int64_t n = -1;
        bool throughCache = uncached < 0;
        if (!throughCache) {
            n = readFully(read_, uncached, at, std::span<std::uint8_t>(aligned.data(), length));
            if (n > 0) std::memcpy(piece.data(), aligned.data(), static_cast<std::size_t>(n));
            // EINVAL: a request the device takes only through the cache.
            throughCache = n < 0 && errno == EINVAL;
        }
        if (throughCache) n = readFully(read_, fd, at, piece);
        if (n < 0) {
            failures_->noteFailed(path, at, length, !throughCache);
            std::fill(piece.begin(), piece.end(), 0);
            continue;
        }
        std::fill(p.lost.begin() + first, p.lost.begin() + first + count, false);
        anyRead = true;
        got = static_cast<std::int64_t>(std::size_t(first) * bps) + n;
        // The end of the device: nothing after it to read.
        if (n < static_cast<std::int64_t>(length)) {
            std::fill(p.lost.begin() + first, p.lost.end(), false);
            break;
        }
    }
    if (anyRead) p.bytesRead = got;
    if (uncached >= 0) ::close(uncached);
    ::close(fd);
    return p;
}

VolumeContentDetection::Probe VolumeContentDetection::bootRecord(const Dict& volume) const {
    Probe p = probe(volume, 0, kProbeSectors);
    if (p.bytes.empty() || !p.sectorLost(0)) return p;
    const std::uint32_t bps = volume.get("Preferred Block Size").unsignedIntValue();
    const auto takeSectorZero = [&](const Probe& backup) {
        std::copy(backup.bytes.begin(), backup.bytes.begin() + bps, p.bytes.begin());
        p.lost[0] = false;
        p.bytesRead = std::max<std::int64_t>(p.bytesRead, bps);
    };
    if (const Probe fat32 = probe(volume, kFAT32BackupBootSector, 1);
        !fat32.sectorLost(0) && isFAT32BootSector(ByteView(fat32.bytes))) {
        platform::logFormat("Boot sector of %@ could not be read; its FAT32 backup at sector %@ is taken",
                            volume.get("Path"), static_cast<unsigned long long>(kFAT32BackupBootSector));
        takeSectorZero(fat32);
        return p;
    }
    // exFAT counts its backup in sectors of its own, of 512 to 4096 bytes.
    for (std::uint16_t shift = 9; shift <= 12; ++shift) {
        const std::uint64_t byte = kExFATBackupBootSector << shift;
        if (byte % bps != 0) continue;
        const Probe exfat = probe(volume, byte / bps, 1);
        if (exfat.sectorLost(0) || !isExFATBootSector(ByteView(exfat.bytes), shift)) continue;
        platform::logFormat("Boot sector of %@ could not be read; its exFAT backup at byte %@ is taken",
                            volume.get("Path"), static_cast<unsigned long long>(byte));
        takeSectorZero(exfat);
        return p;
    }
    return p;
}

bool VolumeContentDetection::checkpointSuperblockReads(const Dict& volume) const {
    const std::uint32_t bps = volume.get("Preferred Block Size").unsignedIntValue();
    if (bps == 0 || bps > kApfsBlockBytes || kApfsBlockBytes % bps != 0) return false;
    const std::uint32_t perBlock = kApfsBlockBytes / bps;
    // A block is of use only whole: each is asked for whole, once.
    const Probe area = probe(volume, perBlock, kCheckpointBlocksLooked * perBlock, perBlock);
    for (std::uint32_t b = 0; b < kCheckpointBlocksLooked; ++b) {
        bool whole = true;
        for (std::uint32_t i = 0; i < perBlock; ++i)
            whole = whole && !area.sectorLost(std::size_t(b) * perBlock + i);
        if (!whole) continue;
        const ByteView block = ByteView(area.bytes).sub(std::size_t(b) * kApfsBlockBytes, kApfsBlockBytes);
        if (!block.spells(32, "NXSB") || block.le16(24) != kApfsSuperblockType || !ObjPhys::checksumHolds(block))
            continue;
        // It must lie in the descriptor area it names, as a superblock
        // written at a checkpoint does.
        const std::uint64_t blockNumber = std::uint64_t(b) + 1;
        const std::uint64_t descBlocks = block.le32(104) & 0x7FFFFFFFu, descBase = block.le64(112);
        if ((block.le32(104) & 0x80000000u) != 0 || blockNumber < descBase || blockNumber - descBase >= descBlocks)
            continue;
        platform::logFormat("Block 0 of %@ could not be read; the container superblock of its checkpoint at block "
                            "%@ is taken",
                            volume.get("Path"), static_cast<unsigned long long>(blockNumber));
        return true;
    }
    return false;
}

bool VolumeContentDetection::isVolumeAPFS(const Dict& volume) const {
    const Probe p = probe(volume, 0, kProbeSectors);
    if (!p.bytes.empty() && !p.sectorLost(0)) return ByteView(p.bytes).spells(32, "NXSB");
    return !p.bytes.empty() && checkpointSuperblockReads(volume);
}

bool VolumeContentDetection::isVolumeFAT(const Dict& volume) const {
    const Probe p = bootRecord(volume);
    const ByteView b(p.bytes);
    return b.spells(54, "FAT") || b.spells(82, "FAT");
}

bool VolumeContentDetection::isVolumeExFAT(const Dict& volume) const {
    return MainBootSector(ByteView(bootRecord(volume).bytes)).file_system_name() == "EXFAT   ";
}

std::string VolumeContentDetection::fatFileSystemDetermination(const Dict& volume) const {
    const Probe p = bootRecord(volume);
    const std::optional<FATBootSector> boot = FATBootSector::decode(ByteView(p.bytes));
    // Areas that claim more than the volume has leave no clusters to count.
    const std::optional<FATType> type = boot ? boot->type() : std::nullopt;
    if (!type) return "-";
    return *type == FATType::FAT12 ? "FAT12" : *type == FATType::FAT16 ? "FAT16" : "FAT32";
}

std::optional<std::vector<std::uint8_t>> VolumeContentDetection::volumeHeader(const Dict& volume) const {
    const std::uint32_t bps = volume.get("Preferred Block Size").unsignedIntValue();
    if (bps == 0 || bps > kMaxSectorSize) return std::nullopt;
    const std::uint64_t at = hfsplus::kVolumeHeaderOffset, length = hfsplus::kVolumeInformationBlockSize;
    const auto sectorsFor = [&](std::uint64_t offset) {
        return static_cast<std::uint32_t>((offset % bps + length + bps - 1) / bps);
    };
    const Probe primary = probe(volume, at / bps, sectorsFor(at));
    bool primaryLost = primary.bytesRead < 0;
    for (std::size_t i = 0; i < primary.lost.size(); ++i)
        primaryLost = primaryLost || primary.lost[i];
    if (!primaryLost) {
        const auto from = primary.bytes.begin() + static_cast<std::ptrdiff_t>(at % bps);
        return std::vector<std::uint8_t>(from, from + static_cast<std::ptrdiff_t>(length));
    }
    // The alternate copy, 1024 bytes before the volume's end.
    const std::uint64_t size = volume.get("Size").uint64Value();
    if (size < at + hfsplus::kAlternateHeaderFromEnd + length) return std::nullopt;
    const std::uint64_t alternate = size - hfsplus::kAlternateHeaderFromEnd;
    const Probe copy = probe(volume, alternate / bps, sectorsFor(alternate));
    for (std::size_t i = 0; i < copy.lost.size(); ++i)
        if (copy.lost[i]) return std::nullopt;
    if (copy.bytesRead < 0 || static_cast<std::uint64_t>(copy.bytesRead) < alternate % bps + length)
        return std::nullopt;
    const auto from = copy.bytes.begin() + static_cast<std::ptrdiff_t>(alternate % bps);
    std::vector<std::uint8_t> header(from, from + static_cast<std::ptrdiff_t>(length));
    if (!isHFSPlusHeader(ByteView(header))) return std::nullopt;
    platform::logFormat("Volume header of %@ could not be read; its alternate copy at byte %@ is taken",
                        volume.get("Path"), static_cast<unsigned long long>(alternate));
    return header;
}

std::optional<Dict> VolumeContentDetection::checkForJournal(const Dict& volume) const {
    Probe p = probe(volume, 0, kJournalProbeSectors);
    if (p.bytes.empty()) return std::nullopt;
    const std::uint32_t bps = volume.get("Preferred Block Size").unsignedIntValue();
    const std::size_t at = hfsplus::kVolumeHeaderOffset;
    std::vector<std::uint8_t>& buffer = p.bytes;
    bool headerLost = false;
    for (std::size_t i = at / bps; i < (at + hfsplus::kVolumeInformationBlockSize + bps - 1) / bps; ++i)
        headerLost = headerLost || p.sectorLost(i);
    if (headerLost) {
        const std::optional<std::vector<std::uint8_t>> header = volumeHeader(volume);
        if (!header) return std::nullopt;
        std::copy(header->begin(), header->end(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
    } else if (p.bytesRead <= 0) {
        return std::nullopt;
    }

    Dict result{{"HFSVolumeStart", 0}};
    auto contentOf = [](std::uint16_t signature) {
        if (signature == hfsplus::kHFSXSignature) return contentString(ContentKind::HFSX);
        if (signature == hfsplus::kHFSPlusSignature) return contentString(ContentKind::HFSPlus);
        return contentString(ContentKind::None);
    };
    std::uint16_t signature = twoByteRead(ByteView(buffer), static_cast<std::int32_t>(at), 0);
    if (signature == hfsplus::kHFSSignature) {
        // An HFS wrapper: the HFS+ volume inside begins at the wrapper's
        // first allocation block plus the embedded extent's start block.
        const ByteView mdb(buffer);
        const std::uint64_t blockSize = fourByteRead(mdb, static_cast<std::int32_t>(at + 20), 0);
        const std::uint64_t firstAllocationSector = twoByteRead(mdb, static_cast<std::int32_t>(at + 28), 0);
        const std::uint64_t startBlock = twoByteRead(mdb, static_cast<std::int32_t>(at + 126), 0);
        // The wrapper's first allocation sector is counted in device sectors,
        // as the HFS+ volume reader counts it; wrappers exist only on
        // 512-byte sectors, where that is exact.
        const std::uint64_t embeddedStart = firstAllocationSector + startBlock * blockSize / bps;
        result.set("HFSVolumeStart", static_cast<unsigned long long>(embeddedStart));
        // Its header lies 1024 bytes into it, as every HFS+ header does.
        Probe embedded = probe(volume, embeddedStart, kJournalProbeSectors);
        if (embedded.bytesRead <= 0) return std::nullopt;
        buffer = std::move(embedded.bytes);
        signature = twoByteRead(ByteView(buffer), static_cast<std::int32_t>(at), 0);
    }
    result.set("Content", contentOf(signature));
    // Only an HFS+ or HFSX header has a journaled bit; in anything else the
    // same bytes are file data or another file system's fields, and must
    // not offer a file-system recovery the volume cannot have.
    const std::uint32_t attributes = hfsplus::isHFSPlusSignature(signature)
                                         ? fourByteRead(ByteView(buffer), static_cast<std::int32_t>(at + 4), 0)
                                         : 0;
    const bool journaled = (attributes & kJournaledBit) != 0;
    result.set("journaled", journaled ? "Yes" : "No");
    result.set("supportFileSystemRecovery", journaled ? 1 : 0);
    return result;
}
