#include "carving/UsedBlockMaps.h"

#include "formats/FATEntry.h"
#include "fs/apfs/ApfsSpaceManager.h"
#include "platform/ByteView.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/Volume.h"

#include <algorithm>

UsedBlockMaps::UsedBlockMaps(Volume& volume) noexcept : volume_(volume) {}
UsedBlockMaps::UsedBlockMaps(Volume& volume, std::vector<Extent> allocationExt) noexcept
    : volume_(volume), allocationExt_(std::move(allocationExt)) {}
UsedBlockMaps::UsedBlockMaps(Volume& volume, const FATGeometry& fat) noexcept : volume_(volume), fat_(fat) {}
UsedBlockMaps::~UsedBlockMaps() = default;

std::uint64_t UsedBlockMaps::bitsPerMapBlock() const {
    return std::uint64_t(volume_.blockSize()) * volume_.u32BytesInSector() * 8;
}

std::optional<std::uint64_t> UsedBlockMaps::volumeBlockOfMapBlock(std::uint64_t index) const {
    for (const Extent& e : allocationExt_) {
        if (index < e.blockCount()) return std::uint64_t(e.startBlock()) + index;
        index -= e.blockCount();
    }
    return std::nullopt;
}

std::vector<std::uint8_t> UsedBlockMaps::readAllocationBlock(std::uint64_t volumeBlock) {
    const std::uint32_t sectors = volume_.blockSize();
    std::vector<std::uint8_t> buffer(std::size_t(sectors) * volume_.u32BytesInSector(), 0);
    const auto origin = platform::checkedAdd(volume_.HPlusVolStart(), volume_.blocksStartsAtSector);
    const auto sector = origin ? platform::checkedMulAdd(*origin, volumeBlock, sectors) : std::nullopt;
    if (sector && sectors <= std::uint32_t(INT32_MAX)) readMap(*sector, sectors, buffer.data());
    return buffer;
}

std::optional<std::uint64_t> UsedBlockMaps::readMap(std::uint64_t sector, std::uint64_t sectors, std::uint8_t* into) {
    // Each batch asks for another place of the map, so a plain read would ask
    // for each sector of a bad stretch on its own: a dead card would cost a
    // failed read for every sector of its FAT. Read as a sweep, a bad stretch
    // of the map is walked once and what it stepped over is not asked for.
    return volume_.readSectorRange(sector, static_cast<std::int32_t>(sectors), into, DMedia::RangeReader::Sweep);
}

void UsedBlockMaps::get40BlocksUsedStatusFromBlock(std::uint64_t block, Flags& boolArray) {
    const std::uint64_t bits = bitsPerMapBlock();
    if (bits == 0) return;
    // A batch may straddle two allocation-file blocks; each is read once.
    std::optional<std::uint64_t> loaded;
    std::vector<std::uint8_t> map;
    for (std::size_t k = 0; k < kBatchUnits; ++k) {
        const std::uint64_t b = block + k;
        const std::uint64_t index = b / bits;
        if (loaded != index) {
            const std::optional<std::uint64_t> volumeBlock = volumeBlockOfMapBlock(index);
            if (!volumeBlock) return;
            map = readAllocationBlock(*volumeBlock);
            loaded = index;
        }
        const std::uint64_t bit = b % bits;
        if ((platform::ByteView(map).u8(bit / 8) & (0x80u >> (bit % 8))) == 0) boolArray[k] = 0;
    }
}

std::uint32_t UsedBlockMaps::getAllocationBlockForBlock(std::uint32_t block, std::uint32_t& returnedBitIndex) {
    const std::uint64_t bits = bitsPerMapBlock();
    if (bits == 0) return 0;
    returnedBitIndex = static_cast<std::uint32_t>(block % bits);
    const std::optional<std::uint64_t> volumeBlock = volumeBlockOfMapBlock(block / bits);
    return volumeBlock ? static_cast<std::uint32_t>(*volumeBlock) : 0;
}

void UsedBlockMaps::get40BlocksUsedStatusOfFATFromBlock(std::uint64_t cluster, Flags& boolArray) {
    if (!fat_.type) return;
    const FATType type = *fat_.type;
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0) return;
    if (cluster > (UINT64_MAX - kBatchUnits) / 4) return;
    const std::uint64_t bytePos = FATEntry::offsetOf(type, cluster);
    const std::uint64_t offset = bytePos % bps;
    // 4096 bytes hold the 40 entries on 512-byte sectors; a run that would
    // cross the end of one 4096-byte sector takes the next one too.
    const std::uint64_t span = FATEntry::offsetOf(type, cluster + kBatchUnits) + 2 - bytePos;
    const std::uint64_t sectors = std::max<std::uint64_t>(std::max(4096u / bps, 1u), (offset + span + bps - 1) / bps);
    const auto first = platform::checkedAdd(fat_.fatStart(), bytePos / bps);
    const auto sector = first ? platform::checkedAdd(volume_.HPlusVolStart(), *first) : std::nullopt;
    if (!sector) return;
    std::vector<std::uint8_t> buffer(sectors * bps, 0);
    const std::optional<std::uint64_t> lost = readMap(*sector, sectors, buffer.data());
    // The buffer begins at the FAT's byte bytePos - offset.
    const std::uint64_t base = bytePos - offset;
    const platform::ByteView fat(buffer);
    for (std::size_t k = 0; k < kBatchUnits; ++k) {
        // An entry that could not be read may be of a free cluster that holds
        // a lost file: it is searched as a free one is.
        const std::uint64_t at = FATEntry::offsetOf(type, cluster + k) - base;
        const std::uint64_t last = at + (type == FATType::FAT32 ? 3 : 1);
        if (!lost || (*lost != 0 && volume_.unreadableSectorsIn(*sector + at / bps, last / bps - at / bps + 1) != 0)) {
            boolArray[k] = 0;
            continue;
        }
        const std::optional<FATEntry> entry = FATEntry::decode(type, fat, base, cluster + k);
        boolArray[k] = entry && entry->kind == FATEntry::Kind::Free ? 0 : 1;
    }
}

void UsedBlockMaps::get40BlocksUsedStatusFromBlockApfs(std::uint64_t unit, Flags& boolArray) {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (!apfsRead_) {
        apfsRead_ = true;
        const auto origin = platform::checkedAdd(volume_.HPlusVolStart(), volume_.blocksStartsAtSector);
        const auto sectorOf = [bps, origin](std::uint64_t offset, std::size_t length) -> std::optional<std::uint64_t> {
            if (!origin || bps == 0 || offset % bps != 0 || length % bps != 0 || length / bps > INT32_MAX) return {};
            return platform::checkedAdd(*origin, offset / bps);
        };
        ApfsSpaceManager::Reader read = [this, bps, sectorOf](std::uint64_t offset, std::size_t length,
                                                              std::uint8_t* out) {
            const std::optional<std::uint64_t> sector = sectorOf(offset, length);
            return sector && volume_.readSector(*sector, static_cast<std::int32_t>(length / bps), out);
        };
        // A bitmap's sectors that cannot be read are zeros: their blocks are
        // searched as free ones are.
        ApfsSpaceManager::Reader readBitmap = [this, bps, sectorOf](std::uint64_t offset, std::size_t length,
                                                                    std::uint8_t* out) {
            const std::optional<std::uint64_t> sector = sectorOf(offset, length);
            return sector && readMap(*sector, length / bps, out).has_value();
        };
        if (auto map = ApfsSpaceManager::read(std::move(read), std::move(readBitmap));
            map && map->blockSize() % bps == 0)
            apfs_ = std::make_unique<ApfsSpaceManager>(std::move(*map));
        else
            platform::logFormat("The space manager of APFS container %@ cannot be read: its whole volume is searched",
                                volume_.path());
    }
    if (!apfs_) {
        boolArray.fill(0);
        return;
    }
    const std::uint64_t sectorsPerBlock = apfs_->blockSize() / bps;
    for (std::size_t k = 0; k < kBatchUnits; ++k)
        if (apfs_->blockState((unit + k) / sectorsPerBlock) == ApfsSpaceManager::State::Free) boolArray[k] = 0;
}
