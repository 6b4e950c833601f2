#include "signatures/RecogniserMedium.h"

#include "platform/CheckedMath.h"
#include "signatures/FileStartProbe.h"
#include "signatures/Sig.h"
#include "volume/Volume.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace {
// Sectors read at once while the lookup is offered a file's sectors.
constexpr std::uint32_t kOfferedWindowSectors = 64;
} // namespace

RecogniserMedium::RecogniserMedium(Volume& volume, std::uint64_t block, const Sig& sig, FileStartProbe* probe)
    : volume_(volume), probe_(probe), bps_(volume.u32BytesInSector()), block_(block) {
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

void RecogniserMedium::acceptJumpable(Sig& sig, std::uint64_t length, std::uint64_t structureEnd) {
    take(sig, Take::Jump, length, structureEnd);
}

void RecogniserMedium::acceptListed(Sig& sig, std::uint64_t length, std::uint64_t structureEnd) {
    take(sig, Take::List, length, structureEnd);
}

void RecogniserMedium::acceptEstimated(Sig& sig, std::uint64_t length, std::uint64_t structureEnd) {
    take(sig, Take::Estimate, length, structureEnd);
}

void RecogniserMedium::acceptCut(Sig& sig, std::uint64_t length, std::uint64_t structureEnd) {
    // A length of 0 would have the recorder take the type's size limit.
    take(sig, Take::Cut, length != 0 ? length : bps_, structureEnd);
}

void RecogniserMedium::take(Sig& sig, Take how, std::uint64_t length, std::uint64_t structureEnd) {
    // A length the search jumps by, or lists a cut file to, is cut to the
    // readable bytes; the recorder bounds the others.
    sig.foundSize = how == Take::Jump || how == Take::Cut ? std::min(length, readable_) : length;
    sig.skipFileSize = how == Take::Jump;
    sig.skipSize = 0;
    sig.foundCut = how == Take::Cut;
    // The header the search matched, and where it ends in the file.
    const std::uint64_t headerEnd = std::uint64_t{sig.offset} + sig.headerLength;
    sig.foundOnHeaderAlone = structureEnd <= headerEnd;
    if (sig.foundOnHeaderAlone || bps_ == 0) return;
    const std::uint64_t structure = std::min({structureEnd, sig.foundSize, readable_});
    if (how == Take::Estimate) return;
    std::uint64_t jumpTo = structure;
    const std::uint64_t end = std::min(sig.foundSize, readable_);
    // The sectors that begin inside the bodies the walk stepped over, and
    // past the structure, in order; never the file's own first sector,
    // where the lookup would find the file itself.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> offered;
    const auto offer = [&](std::uint64_t from, std::uint64_t to) {
        if (from < end)
            offered.emplace_back(std::max<std::uint64_t>(1, (from + bps_ - 1) / bps_), (to + bps_ - 1) / bps_);
    };
    for (const SteppedBodies::Span& body : bodies_)
        offer(body.from, std::min(body.to, end));
    if (how != Take::Cut) offer(structure, end);
    std::sort(offered.begin(), offered.end());
    std::optional<std::uint64_t> found;
    std::uint64_t asked = 0;
    for (const auto& [from, to] : offered) {
        found = firstFileStartIn(std::max(from, asked), to);
        if (found) break;
        asked = std::max(asked, to);
    }
    if (found) {
        sig.foundSize = *found * bps_;
        sig.foundCut = true;
        jumpTo = std::min(jumpTo, sig.foundSize);
    } else if (probe_ && how != Take::Cut) {
        jumpTo = end;
    } else if (!bodies_.empty()) {
        // Nothing was offered what the walk stepped over.
        jumpTo = std::min(jumpTo, bodies_.front().from);
    }
    if (how == Take::Jump) sig.skipSize = lost_.jumpable(jumpTo / bps_);
}

std::optional<std::uint64_t> RecogniserMedium::firstFileStartIn(std::uint64_t from, std::uint64_t end) {
    if (!probe_ || from >= end) return std::nullopt;
    BoundedCursor cursor = this->cursor(kOfferedWindowSectors);
    for (std::uint64_t sector = from; sector < end && cursor.holdsSector(sector) && !stopped(); ++sector) {
        if (std::binary_search(ownSectors_.begin(), ownSectors_.end(), sector)) continue;
        const platform::ByteView bytes = cursor.bytes(sector * bps_, FileStartProbe::kProbedBytes);
        if (!bytes.empty() && probe_->startsFile(block_ + sector, bytes)) return sector;
    }
    return std::nullopt;
}

void RecogniserMedium::ownPartsBeginAt(std::vector<std::uint64_t> sectors) {
    std::sort(sectors.begin(), sectors.end());
    ownSectors_ = std::move(sectors);
}

void RecogniserMedium::steppedOver(const SteppedBodies& bodies) {
    bodies_ = bodies.spans();
    ownSectors_.insert(ownSectors_.end(), bodies.ownSectors().begin(), bodies.ownSectors().end());
    std::sort(ownSectors_.begin(), ownSectors_.end());
    ownSectors_.erase(std::unique(ownSectors_.begin(), ownSectors_.end()), ownSectors_.end());
}

void RecogniserMedium::jumpNoFurtherThan(Sig& sig, std::uint64_t bytes) const {
    if (bps_ != 0) sig.skipSize = std::min(sig.skipSize, lost_.jumpable(bytes / bps_));
}
