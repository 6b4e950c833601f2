// Opens an HFS+ volume made from the input and reads its catalog into a
// found-file tree, the way the normal tree scan does: the volume header and
// its alternate copy, the B-tree header nodes, the descent to the level above
// the leaves, the searches of the catalog file and the leaf walk.
//
// An HFS+ volume is mostly empty space with its structures far apart, so the
// input is a list of sectors rather than a whole image: records of a 4-byte
// big-endian sector number followed by 512 bytes, written into an 8 MiB
// sparse file (sector numbers wrap at its end) that is then scanned as a
// volume found on a disk. A volume made by macOS shrinks to a few dozen
// sectors this way. A seed from such an image:
//
//   python3 -c 'import sys,struct; d=open(sys.argv[1],"rb").read()
//   sys.stdout.buffer.write(b"".join(struct.pack(">I",i)+d[i*512:i*512+512]
//   for i in range(len(d)//512) if any(d[i*512:i*512+512])))' hfsplus.raw > seed
//
// Build (from the repository root):
//   clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -I src fuzz/fuzz_hfsplus_catalog.cpp \
//     src/platform/*.cpp src/media/*.cpp src/volume/*.cpp src/hfsplus/*.cpp \
//     $(pkg-config --cflags --libs libplist-2.0) -lsystemd -o fuzz_hfsplus_catalog

#include "hfsplus/BTreeTableClassOrph.h"
#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/CatalogReader.h"
#include "hfsplus/HFSPlusVolume.h"
#include "platform/ByteView.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint64_t kSectorBytes = 512;
constexpr std::uint64_t kVolumeSectors = 16384;
constexpr std::size_t kRecordBytes = 4 + kSectorBytes;

struct Harness {
    std::string path;
    int fd = -1;
    platform::RecordingController controller;

    Harness() {
        char name[] = "/tmp/fuzz-hfsplus-catalog-XXXXXX";
        fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        path = name;
        platform::setLogSink([](const std::string&) {});
        controller.setDriveDictArray({platform::Dict{{"Path", path}}});
        platform::setAppController(&controller);
    }
    ~Harness() {
        ::close(fd);
        ::unlink(path.c_str());
    }
};

Harness& harness() {
    static Harness h;
    return h;
}

bool writeImage(Harness& h, const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(h.fd, 0) != 0) return false;
    for (std::size_t at = 0; at + kRecordBytes <= size; at += kRecordBytes) {
        const std::uint64_t sector = platform::ByteView(data + at, 4).be32(0) % kVolumeSectors;
        if (::pwrite(h.fd, data + at + 4, kSectorBytes, static_cast<off_t>(sector * kSectorBytes)) !=
            static_cast<ssize_t>(kSectorBytes))
            return false;
    }
    return ::ftruncate(h.fd, static_cast<off_t>(kVolumeSectors * kSectorBytes)) == 0;
}

// Parked entries belong to nobody until the orphan passes, which are not
// run here.
void freeParkedOrphans(Volume& v) {
    if (!v.btreeOrph || v.btreeOrph->empty()) return;
    std::vector<NodeTypeOrph*> pending{v.btreeOrph->root()};
    while (!pending.empty()) {
        NodeTypeOrph* node = pending.back();
        pending.pop_back();
        for (std::int32_t i = 0; i < node->count(); ++i) newdir::freeNDir(node->key(i)->dir());
        for (std::int32_t i = 0; i <= node->count(); ++i)
            if (node->branch(i) != BTreeTableClassOrph::noNode()) pending.push_back(node->branch(i));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Harness& h = harness();
    if (!writeImage(h, data, size)) return 0;
    h.controller.clear();

    auto v = Volume::initWithDictionary(platform::Dict{{"Path", h.path},
                                                       {"Preferred Block Size", 512},
                                                       {"Volume Start", 0},
                                                       {"Volume Size In Sectors", kVolumeSectors},
                                                       {"Volume Scan Type", 0},
                                                       {"Content", "Apple_HFS"},
                                                       {"Volume Name", "fuzz"},
                                                       {"device model", "-"},
                                                       {"device serial", "-"},
                                                       {"device revision", "-"}});
    if (!v) std::abort();
    v->resetSigArraysAndBtreesAndOthers();

    HFSPlusVolume hfs(*v);
    if (hfs.initializeVIB()) {
        if (hfs.checkCatalogAndExtentsFile()) {
            CatalogNodeSearch search(*v);
            if (v->catTreeDepth > 1) search.enumerateLevel2IndexNodes();
            if (v->leafNodePointerArray && (v->leafNodePointerArray->empty() || v->level2IndexNodeHasProblems))
                search.searchForLevel2IndexNodes();
            if (v->level2IndexNodeHasProblems) search.searchForLeafNodes();
            if (v->firstLeafNode != 0 && v->catNodeSize != 0) CatalogReader(*v).makeTree();
        } else {
            hfs.getCatalogExtFromVIB();
        }
    }
    // The deleted-file scan's way in: the header without its checks.
    HFSPlusVolume(*v).fillVIB();

    freeParkedOrphans(*v);
    v->freeTree();
    return 0;
}
