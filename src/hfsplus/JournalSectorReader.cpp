#include "hfsplus/JournalSectorReader.h"

#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/LeafNodeRecords.h"
#include "platform/SystemLog.h"
#include "volume/Volume.h"

#include <algorithm>

JournalSectorReader::JournalSectorReader(HFSPlusReaderState& state, std::uint64_t first, std::uint64_t sectors)
    : volume_(state.volume), state_(state), first_(first), sectors_(sectors),
      bytesPerSector_(state.volume.u32BytesInSector()) {
    batchSectors_ = bytesPerSector_ == 0 ? 0 : std::max<std::uint64_t>(1, kBatchBytes / bytesPerSector_);
}

void JournalSectorReader::loadBatch(std::uint64_t i) {
    batchStart_ = i;
    batchLength_ = std::min(batchSectors_, sectors_ - i);
    batch_.resize(static_cast<std::size_t>(batchLength_ * bytesPerSector_));
    std::uint64_t unreadable = batchLength_;
    batchInVolume_ = HFSPlusVolume(state_).sectorsInVolume(first_ + i, batchLength_);
    if (batchInVolume_)
        unreadable = volume_.readSweepSectors(first_ + i, static_cast<std::int32_t>(batchLength_), batch_.data());
    else
        std::fill(batch_.data(), batch_.data() + batch_.size(), 0);
    batchReadable_ = unreadable == 0;
    if (!batchReadable_ && !failureLogged_) {
        failureLogged_ = true;
        platform::logFormat("Journal of %@: %llu sectors from %llu could not be read; they are taken as empty",
                            volume_.path(), static_cast<unsigned long long>(unreadable),
                            static_cast<unsigned long long>(first_ + i));
    }
}

platform::ByteView JournalSectorReader::sector(std::uint64_t i) {
    if (i >= sectors_ || batchSectors_ == 0) return {};
    if (i < batchStart_ || i - batchStart_ >= batchLength_) loadBatch(i);
    const std::size_t at = static_cast<std::size_t>((i - batchStart_) * bytesPerSector_);
    return batch_.view().sub(at, bytesPerSector_);
}

bool JournalSectorReader::read(std::uint64_t sector, std::uint32_t count, std::vector<std::uint8_t>& buffer) {
    const std::uint64_t batchFirst = first_ + batchStart_;
    if (batchReadable_ && count != 0 && batchLength_ != 0 && sector >= batchFirst &&
        sector - batchFirst <= batchLength_ && count <= batchLength_ - (sector - batchFirst)) {
        const std::size_t at = static_cast<std::size_t>((sector - batchFirst) * bytesPerSector_);
        const std::size_t length = static_cast<std::size_t>(count) * bytesPerSector_;
        buffer.assign(batch_.data() + at, batch_.data() + at + length);
        return true;
    }
    // Outside the batch, or in one with unreadable sectors, which may lie
    // elsewhere in it: the device says whether these sectors can be read.
    return HFSPlusVolume(state_).readSectors(sector, count, buffer);
}

bool JournalSectorReader::readAround(std::uint64_t sector, std::uint32_t count, std::vector<std::uint8_t>& buffer,
                                     std::vector<bool>& unreadable) {
    const std::uint64_t batchFirst = first_ + batchStart_;
    if (batchInVolume_ && count != 0 && batchLength_ != 0 && sector >= batchFirst &&
        sector - batchFirst <= batchLength_ && count <= batchLength_ - (sector - batchFirst)) {
        const std::size_t at = static_cast<std::size_t>((sector - batchFirst) * bytesPerSector_);
        const std::size_t length = static_cast<std::size_t>(count) * bytesPerSector_;
        buffer.assign(batch_.data() + at, batch_.data() + at + length);
        unreadable = batchReadable_ ? std::vector<bool>(count, false)
                                    : LeafNodeRecords::unreadableSectors(volume_, sector, count);
        return true;
    }
    return LeafNodeRecords::read(state_, sector, count, buffer, unreadable);
}

bool JournalSectorReader::unreadable(std::uint64_t i) const {
    if (i < batchStart_ || i - batchStart_ >= batchLength_) return false;
    if (batchReadable_) return false;
    return !batchInVolume_ || volume_.unreadableSectorsIn(first_ + i, 1) != 0;
}
