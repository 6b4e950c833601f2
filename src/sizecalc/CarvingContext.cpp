#include "sizecalc/CarvingContext.h"

#include "media/DMedia.h"
#include "platform/CheckedMath.h"
#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculatorChain.h"
#include "volume/Volume.h"

#include <algorithm>
#include <utility>

CarvingContext::CarvingContext(DMedia& medium)
    : reader_(medium), bytesPerSector_(medium.u32BytesInSector()),
      endSector_(medium.sizeInSect() == 0 ? 0 : medium.HPlusVolStart() + medium.sizeInSect()) {}

bool CarvingContext::stopped() const {
    return Volume::stopByte() || reader_.deviceGone();
}

BoundedCursor CarvingContext::fileCursor() {
    const std::uint32_t windowSectors = bytesPerSector_ == 0 ? 1 : ReadWindow::kBytes / bytesPerSector_;
    return BoundedCursor(reader_, bytesPerSector_, 0, 0, windowSectors);
}

std::uint64_t CarvingContext::bytesFrom(std::uint64_t sector) const {
    if (endSector_ == 0) return UINT64_MAX;
    return sector >= endSector_ ? 0 : platform::saturatingMul(endSector_ - sector, bytesPerSector_);
}

std::optional<std::uint64_t> CarvingContext::nextFileFrom(std::uint64_t from, std::uint64_t end) {
    if (!chain_) return std::nullopt;
    return chain_->firstFileFrom(from, end);
}

void CarvingContext::markInUse(std::string_view key) {
    TiffFamilyInUse& u = tiffInUse;
    const std::pair<std::string_view, bool*> flags[] = {
        {"arw", &u.arw}, {"sr2", &u.sr2},       {"kdc", &u.kdc},   {"k25", &u.k25},       {"dcr", &u.dcr},
        {"pef", &u.pef}, {"dng", &u.dng},       {"cr2", &u.cr2},   {"nef", &u.nef},       {"tiff", &u.tiff},
        {"orf", &u.orf}, {"raw", &u.panasonic}, {"lei", &u.leica}, {"3fr", &u.hasselblad}};
    for (const auto& [k, flag] : flags)
        if (k == key) *flag = true;
}

bool CarvingContext::Unvouched::cutsAt(std::uint64_t at, std::uint32_t bytesPerSector) const {
    const auto inBody = [at](const SteppedBodies::Span& body) { return at >= body.from && at < body.to; };
    if ((at < from || at >= end) && std::none_of(bodies.begin(), bodies.end(), inBody)) return false;
    return bytesPerSector != 0 && !std::binary_search(ownSectors.begin(), ownSectors.end(), at / bytesPerSector);
}

std::uint64_t CarvingContext::Unvouched::reach() const {
    return std::max(end, bodies.empty() ? 0 : bodies.back().to);
}
