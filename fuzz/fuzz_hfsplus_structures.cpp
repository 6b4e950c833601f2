// Runs every HFS and HFS+ structure converter over arbitrary bytes, at the
// start of the input and at an offset the input itself picks, the way the
// readers hand them records found at offsets taken from a damaged node.

#include "formats/HFSPlusStructures.h"
#include "platform/ByteView.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void checkExtentRule(const HFSPlusExtentRecord_& r) {
    const std::size_t n = extentListLength(r);
    for (std::size_t i = n; i < r.size(); ++i)
        if (r[i].startBlock != 0 || r[i].blockCount != 0) std::abort();
}

void checkName(const HFSUniStr255_& name, std::size_t bytesAfterLength) {
    if (name.length > hfsplus::kMaxNameLength) {
        if (!name.unicode.empty()) std::abort();
    } else if (name.unicode.size() > name.length || name.unicode.size() > bytesAfterLength / 2) {
        std::abort();
    }
}

void decodeAll(platform::ByteView v) {
    (void)convertMDB(v);
    const VolumeInformationBlock vib = convertVIB(v);
    for (const auto* f :
         {&vib.allocationFile, &vib.extentsFile, &vib.catalogFile, &vib.attributesFile, &vib.startupFile})
        checkExtentRule(f->extents);
    checkExtentRule(convertHPlusForkData(v).extents);
    checkExtentRule(convertHPlusExtRec(v));
    (void)convertHPlusExtentDescriptor(v);
    (void)convertBTNodeDesc(v);
    (void)convertBTHdrRec(v);
    const HFSPlusCatalogKey_ key = convertHPlusCatalogKey(v);
    checkName(key.nodeName, v.size() > 8 ? v.size() - 8 : 0);
    (void)convertHPlusCatalogFolder(v);
    const HFSPlusCatalogFile_ file = convertHPlusCatalogFile(v);
    checkExtentRule(file.dataFork.extents);
    checkExtentRule(file.resourceFork.extents);
    const HFSPlusCatalogThread_ thread = convertHPlusCatalogThread(v);
    checkName(thread.nodeName, v.size() > 10 ? v.size() - 10 : 0);
    (void)convertHPlusExtentKey(v);
    (void)convertJournalInfoBlock(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const platform::ByteView all(data, size);
    decodeAll(all);
    // A record offset read from the input itself, as a node's offset table
    // would give it, possibly past the end.
    const std::size_t off = all.be16(0);
    decodeAll(all.sub(off));
    decodeAll(all.sub(2, size / 2));
    return 0;
}
