#include "hfsplus/AdvancedTreeScan.h"

#include "formats/HFSPlusStructures.h"
#include "hfsplus/CatalogFragmentSearch.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/OrphanEntries.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/Volume.h"

using platform::saturatingMulAdd;

namespace {

void invalidateTimer() {
    if (auto* c = platform::appController()) c->invalidateTimer();
}

} // namespace

bool AdvancedTreeScan::makeAdvTree() {
    Volume& v = volume_;
    if (!v.dirRoot) v.createRoot();

    // What the catalog walk parked waits, with the fragments found inside
    // the catalog file, for one plain pass: the fragment search passes over
    // the nodes the walk read, and may find in a leaf the walk could not read
    // whole (one sector of it unreadable) the folders of what it did read.
    // The walk counted its entries as it parked them.
    OrphanEntries orphans(state_);
    if (!state_.btreeOrph) state_.btreeOrph = std::make_unique<BTreeTableClassOrph>();
    orphans.takeAsCountedWhenParked(state_.btreeOrph.get());

    CatalogFragmentSearch(state_).searchCatFrags();
    checkAllocationFile();

    if (state_.orphEntriesTotal > 0) {
        orphans.setKeepUnplacedEntries(true);
        orphans.processOrphanEntriesWithIncrement(true, false);
        orphans.handOverUnplacedEntries(state_.btreeOrph.get(), state_.btreeOrphAdvScanEntries.get());
        state_.btreeOrph.reset();
        invalidateTimer();
    }
    if (state_.orphAdvScanEntriesTotal > 0) {
        orphans.processOrphanAdvScanEntriesWithIncrement(true, false);
        invalidateTimer();
        orphans.processOrphanAdvScanEntriesRun2WithIncrement(true, false);
        invalidateTimer();
        state_.btreeOrphAdvScanEntries.reset();
    }
    return true;
}

void AdvancedTreeScan::checkAllocationFile() {
    Volume& v = volume_;
    const HFSPlusForkData_& fork = v.vib.allocationFile;
    std::uint64_t listed = 0;
    // Zero descriptors are passed over, not taken as the end of the list.
    for (const HFSPlusExtentDescriptor_& d : fork.extents) {
        if (d.startBlock == 0) continue;
        state_.allocationExt.emplace_back(d.startBlock, d.blockCount);
        listed += d.blockCount;
    }
    if (listed < fork.totalBlocks) {
        if (auto more = HFSPlusVolume(state_).extentsForID(hfsplus::kAllocationFileID, hfsplus::kDataFork,
                                                           static_cast<std::uint32_t>(listed), fork.totalBlocks))
            state_.allocationExt.insert(state_.allocationExt.end(), more->begin(), more->end());
    }
}

void AdvancedTreeScan::fillAllocationExt() {
    checkAllocationFile();
}

bool AdvancedTreeScan::sectorIsInCatalogFile(std::uint64_t sector) const {
    if (!volume_.catalogExt.empty()) return sectorIsInThisExtArray(volume_.catalogExt, sector);
    if (!state_.catalogExtAsPerVIB.empty()) return sectorIsInThisExtArray(state_.catalogExtAsPerVIB, sector);
    return false;
}

bool AdvancedTreeScan::sectorIsInThisExtArray(const std::vector<Extent>& array, std::uint64_t sector) const {
    const std::uint64_t start = volume_.HPlusVolStart();
    const std::uint64_t blockSize = volume_.blockSize();
    for (const Extent& e : array) {
        const std::uint64_t first = saturatingMulAdd(start, e.startBlock(), blockSize);
        const std::uint64_t end =
            saturatingMulAdd(start, static_cast<std::uint64_t>(e.startBlock()) + e.blockCount(), blockSize);
        if (first <= sector && sector < end) return true;
    }
    return false;
}
