// Reads one block of an APFS container made from the input, the way the
// block scan reads every block: the object test, the node header, each
// entry's key and value, the inode's extended fields and the file extents;
// then builds the found-file tree from what it gathered. The input is the
// block itself (cut or zero-padded to 4096 bytes). A seed from a leaf node
// of a real file-system tree:
//
//   dd if=apfs.raw of=seed bs=4096 skip=BLOCK count=1

#include "FuzzImage.h"
#include "formats/ObjPhys.h"
#include "fs/apfs/APFSFileSystem.h"
#include "fs/apfs/APFSTree.h"
#include "volume/Volume.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint64_t kVolumeSectors = 64;

FuzzImage& image() {
    static FuzzImage image("fuzz-apfs-block", FuzzImage::Controller::Recording, FuzzImage::Storage::Memory);
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzImage& img = image();
    img.controller().clear();
    std::vector<std::uint8_t> block(kApfsBlockBytes, 0);
    std::memcpy(block.data(), data, std::min(size, block.size()));

    platform::Dict row = img.foundVolume(kVolumeSectors);
    row.set("Content", "APFS");
    auto v = Volume::initWithDictionary(row);
    if (!v) std::abort();
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    APFSFileSystem apfs(*v);
    apfs.collectBlock(platform::ByteView(block));
    APFSTree(*v).enumerateDirectoryEntryApfsItemsDict(apfs.items(), apfs.extents(), true, v->dirRoot);
    v->freeTree();
    return 0;
}
