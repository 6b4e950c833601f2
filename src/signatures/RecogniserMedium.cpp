#include "signatures/RecogniserMedium.h"

#include "platform/CheckedMath.h"
#include "signatures/Sig.h"
#include "volume/Volume.h"

#include <algorithm>

RecogniserMedium::RecogniserMedium(Volume& volume, std::uint64_t block, const Sig& sig)
    : volume_(volume), bps_(volume.u32BytesInSector()), block_(block) {
    if (bps_ == 0) return;
    const auto origin = platform::checkedAdd(volume.HPlusVolStart(), volume.blocksStartsAtSector);
    const auto first = origin ? platform::checkedAdd(*origin, block) : std::nullopt;
    if (!first) return;
    firstSector_ = *first;
    volumeSectors_ = platform::saturatingMul(volume.totalBlocks, volume.blockSize());
    if (block >= volumeSectors_) return;
    readable_ = platform::saturatingMul(volumeSectors_ - block, bps_);
    if (const std::uint64_t limit = sig.sizeLimitBytes(); limit != 0) readable_ = std::min(readable_, limit);
}

bool RecogniserMedium::stopped() const {
    return volume_.stopTreeThread();
}

bool RecogniserMedium::read(std::uint64_t fileSector, std::uint32_t count, std::vector<std::uint8_t>& buffer) {
    buffer.assign(static_cast<std::size_t>(count) * bps_, 0);
    if (bps_ == 0 || count == 0) return false;
    const std::uint64_t readableSectors = (readable_ + bps_ - 1) / bps_;
    if (fileSector >= readableSectors) return false;
    const auto sectors = static_cast<std::int32_t>(std::min<std::uint64_t>(count, readableSectors - fileSector));
    return volume_.readSector(firstSector_ + fileSector, sectors, buffer.data());
}

void RecogniserMedium::acceptJumpable(Sig& sig, std::uint64_t length) const {
    sig.foundSize = std::min(length, readable_);
    sig.skipFileSize = true;
    sig.skipSize = bps_ != 0 ? sig.foundSize / bps_ : 0;
}

RecogniserCursor::RecogniserCursor(RecogniserMedium& medium, std::uint32_t windowSectors)
    : medium_(medium), windowSectors_(std::max<std::uint32_t>(windowSectors, 1)) {}

bool RecogniserCursor::readable(std::uint64_t position, std::size_t length) {
    return position <= medium_.readableBytes() && length <= medium_.readableBytes() - position;
}

platform::ByteView RecogniserCursor::at(std::uint64_t position, std::size_t length) {
    if (!readable(position, length)) return {};
    const std::uint64_t end = position + length;
    if (!loaded_ || position < windowStart_ || end > windowStart_ + window_.size()) {
        const std::uint32_t bps = medium_.bytesPerSector();
        const std::uint64_t sector = position / bps;
        const std::uint64_t needed = (end - sector * bps + bps - 1) / bps;
        const auto count = static_cast<std::uint32_t>(std::max<std::uint64_t>(windowSectors_, needed));
        loaded_ = medium_.read(sector, count, window_);
        windowStart_ = sector * bps;
        if (!loaded_) return {};
    }
    return platform::ByteView(window_.data() + (position - windowStart_), length);
}
