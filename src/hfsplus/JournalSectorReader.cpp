#include "hfsplus/JournalSectorReader.h"

#include "hfsplus/HFSPlusVolume.h"
#include "platform/SystemLog.h"
#include "volume/Volume.h"

#include <algorithm>

JournalSectorReader::JournalSectorReader(Volume& volume, std::uint64_t first, std::uint64_t sectors)
    : volume_(volume), first_(first), sectors_(sectors), bytesPerSector_(volume.u32BytesInSector()) {
    batchSectors_ = bytesPerSector_ == 0 ? 0 : std::max<std::uint64_t>(1, kBatchBytes / bytesPerSector_);
}

void JournalSectorReader::loadBatch(std::uint64_t i) {
    batchStart_ = i;
    batchLength_ = std::min(batchSectors_, sectors_ - i);
    batchReadable_ = HFSPlusVolume(volume_).readSectors(first_ + i, batchLength_, batch_);
    if (!batchReadable_ && !failureLogged_) {
        failureLogged_ = true;
        platform::logFormat("Journal of %@: sectors from %llu could not be read; they are taken as empty",
                            volume_.path(), static_cast<unsigned long long>(first_ + i));
    }
}

platform::ByteView JournalSectorReader::sector(std::uint64_t i) {
    if (i >= sectors_ || batchSectors_ == 0) return {};
    if (i < batchStart_ || i - batchStart_ >= batchLength_) loadBatch(i);
    const std::size_t at = static_cast<std::size_t>((i - batchStart_) * bytesPerSector_);
    return platform::ByteView(batch_).sub(at, bytesPerSector_);
}

bool JournalSectorReader::read(std::uint64_t sector, std::uint32_t count, std::vector<std::uint8_t>& buffer) {
    const std::uint64_t batchFirst = first_ + batchStart_;
    if (count != 0 && batchLength_ != 0 && sector >= batchFirst && sector - batchFirst <= batchLength_ &&
        count <= batchLength_ - (sector - batchFirst)) {
        if (!batchReadable_) {
            buffer.assign(static_cast<std::size_t>(count) * bytesPerSector_, 0);
            return false;
        }
        const std::size_t at = static_cast<std::size_t>((sector - batchFirst) * bytesPerSector_);
        const std::size_t length = static_cast<std::size_t>(count) * bytesPerSector_;
        buffer.assign(batch_.begin() + static_cast<std::ptrdiff_t>(at),
                      batch_.begin() + static_cast<std::ptrdiff_t>(at + length));
        return true;
    }
    return HFSPlusVolume(volume_).readSectors(sector, count, buffer);
}
