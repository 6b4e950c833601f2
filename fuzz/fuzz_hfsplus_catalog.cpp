// Opens an HFS+ volume made from the input and reads its catalog into a
// found-file tree, the way the normal tree scan does: the volume header and
// its alternate copy, the B-tree header nodes, the descent to the level above
// the leaves, the searches of the catalog file, the leaf walk and the orphan
// passes over what it parked.
//
// An HFS+ volume is mostly empty space with its structures far apart, so the
// input is a list of sectors rather than a whole image: records of a 4-byte
// big-endian sector number followed by 512 bytes, written into an 8 MiB
// sparse file (sector numbers wrap at its end) that is then scanned as a
// volume found on a disk. A record whose sector number has its top bit set
// is written too, but the sector cannot be read (FailingSectors). A volume
// made by macOS shrinks to a few dozen sectors this way. A seed from such an
// image:
//
//   python3 -c 'import sys,struct; d=open(sys.argv[1],"rb").read()
//   sys.stdout.buffer.write(b"".join(struct.pack(">I",i)+d[i*512:i*512+512]
//   for i in range(len(d)//512) if any(d[i*512:i*512+512])))' hfsplus.raw > seed
//
// Build (from the repository root):
//   clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -I src fuzz/fuzz_hfsplus_catalog.cpp \
//     src/platform/*.cpp src/media/*.cpp src/volume/*.cpp src/hfsplus/*.cpp \
//     $(pkg-config --cflags --libs libplist-2.0) -lsystemd -o fuzz_hfsplus_catalog

#include "FailingSectors.h"
#include "FuzzImage.h"
#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/CatalogReader.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/OrphanEntries.h"
#include "volume/Volume.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::uint64_t kVolumeSectors = 16384;

FuzzImage& image() {
    static FuzzImage image("fuzz-hfsplus-catalog");
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

    HFSPlusReaderState state(*v);
    HFSPlusVolume hfs(state);
    if (hfs.initializeVIB()) {
        if (hfs.checkCatalogAndExtentsFile()) {
            CatalogNodeSearch(state).findCatalogLeafNodes();
            if (v->firstLeafNode != 0 && v->catNodeSize != 0) {
                CatalogReader(state).makeTree();
                // Places what the walk parked, or frees it.
                OrphanEntries(state).processCatalogWalkOrphans();
            }
        } else {
            hfs.getCatalogExtFromVIB();
        }
    }
    // The deleted-file scan's way in: the header without its checks.
    HFSPlusVolume(state).fillVIB();

    v->freeTree();
    return 0;
}
