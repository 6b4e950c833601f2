#include "signatures/RecogniserMedium.h"

#include "platform/CheckedMath.h"
#include "signatures/Sig.h"
#include "volume/Volume.h"

#include <algorithm>
#include <optional>

RecogniserMedium::RecogniserMedium(Volume& volume, std::uint64_t block, const Sig& sig)
    : volume_(volume), bps_(volume.u32BytesInSector()), block_(block) {
    if (bps_ == 0) return;
    const auto origin = platform::checkedAdd(volume.HPlusVolStart(), volume.blocksStartsAtSector);
    const auto first = origin ? platform::checkedAdd(*origin, block) : std::nullopt;
    if (!first) return;
    firstSector_ = *first;
    lost_.startFile(firstSector_);
    volumeSectors_ = platform::saturatingMul(volume.totalBlocks, volume.blockSize());
    // A volume's block count may claim more than its partition holds (a
    // damaged header, or a numbering that starts inside the volume): what
    // lies past the partition's end is another's, or nothing.
    const std::uint64_t sectors = volume.sizeInSect();
    if (sectors != 0)
        volumeSectors_ =
            std::min(volumeSectors_, sectors > volume.blocksStartsAtSector ? sectors - volume.blocksStartsAtSector : 0);
    if (block >= volumeSectors_) return;
    bytesToEnd_ = platform::saturatingMul(volumeSectors_ - block, bps_);
    readable_ = bytesToEnd_;
    if (const std::uint64_t limit = sig.sizeLimitBytes(); limit != 0) readable_ = std::min(readable_, limit);
}

bool RecogniserMedium::stopped() const {
    return volume_.stopTreeThread();
}

bool RecogniserMedium::readSectors(std::uint64_t sector, std::uint32_t count, std::uint8_t* buffer) {
    if (count > static_cast<std::uint32_t>(INT32_MAX)) return false;
    // A sector that cannot be read costs only itself: it reads as zeros.
    // What the search holds in memory is not read again.
    const std::optional<std::uint64_t> lost =
        volume_.readExaminedRange(sector, static_cast<std::int32_t>(count), buffer);
    if (lost && *lost != 0) lost_.noteLoss(*this, sector, count);
    return lost.has_value();
}

std::uint64_t RecogniserMedium::unreadableSectorsIn(std::uint64_t sector, std::uint64_t count) const {
    return volume_.unreadableSectorsIn(sector, count);
}

void RecogniserMedium::acceptJumpable(Sig& sig, std::uint64_t length, std::uint64_t checked) const {
    sig.foundSize = std::min(length, readable_);
    sig.skipFileSize = true;
    sig.skipSize = bps_ != 0 ? lost_.jumpable(std::min(sig.foundSize, checked) / bps_) : 0;
}

void RecogniserMedium::acceptCut(Sig& sig, std::uint64_t length) const {
    // A length of 0 would have the recorder take the type's size limit.
    sig.foundSize = std::min(length != 0 ? length : bps_, readable_);
    sig.skipFileSize = false;
    sig.skipSize = 0;
    sig.foundCut = true;
}
