// Runs the advanced HFS+ tree scan over a volume made from the input: the
// search of every sector for catalog leaf nodes, the records of each node
// found, and the orphan passes that place what was parked (recreated lost
// folders, parent cycles and all), then the clean-up passes.
//
// The input is a list of sectors, as for fuzz_hfsplus_catalog: records of a
// 4-byte big-endian sector number followed by 512 bytes, written into a
// 1 MiB sparse file (sector numbers wrap at its end); a record whose sector
// number has its top bit set is written too, but the sector cannot be read
// (FailingSectors). A leaf node the search takes is eight sectors ending in a
// sector whose last u16 is 14 (or one that cannot be read, behind a leaf
// descriptor); a seed can be cut from a built or macOS-made image the same
// way:
//
//   python3 -c 'import sys,struct; d=open(sys.argv[1],"rb").read()
//   sys.stdout.buffer.write(b"".join(struct.pack(">I",i)+d[i*512:i*512+512]
//   for i in range(min(len(d)//512,2048)) if any(d[i*512:i*512+512])))' hfsplus.raw > seed
//
// Build: see fuzz/run-all.sh (the fuzz build makes every fuzz_*.cpp).

#include "FailingSectors.h"
#include "FuzzImage.h"
#include "hfsplus/AdvancedTreeScan.h"
#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/CatalogReader.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "hfsplus/HFSPlusVolume.h"
#include "volume/TreeCleanup.h"
#include "volume/Volume.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::uint64_t kVolumeSectors = 2048;

FuzzImage& image() {
    static FuzzImage image("fuzz-hfsplus-fragments");
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzImage& img = image();
    if (!img.writeSectorRecords(data, size, kVolumeSectors)) return 0;
    img.controller().clear();

    auto v = Volume::initWithDictionary(img.foundVolume(kVolumeSectors));
    if (!v) std::abort();
    FailingSectors unreadable;
    unreadable.failMarkedRecords(data, size, kVolumeSectors);
    unreadable.failReadsOf(*v);
    v->resetSigArraysAndBtreesAndOthers();

    // The scan thread's advanced tree scan, step for step, without its
    // keep-awake phases: the catalog walk when the headers hold, then the
    // fragment search and the orphan passes (the walk's parked entries with
    // the fragments'), then the clean-up.
    HFSPlusReaderState state(*v);
    HFSPlusVolume hfs(state);
    bool valid = false;
    if (hfs.initializeVIB()) {
        state.advScanEntriesCanBePutIntoOrphanEntryArray = true;
        valid = hfs.checkCatalogAndExtentsFile();
        if (valid) {
            CatalogNodeSearch(state).findCatalogLeafNodes();
            if (v->firstLeafNode != 0 && v->catNodeSize != 0) CatalogReader(state).makeTree();
        } else {
            hfs.getCatalogExtFromVIB();
        }
    }
    if (!valid) v->setBlockSize(8);
    AdvancedTreeScan(state).makeAdvTree();
    TreeCleanup(*v).processDuplicateEntries();
    v->freeTree();
    return 0;
}
