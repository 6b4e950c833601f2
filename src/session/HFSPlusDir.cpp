#include "session/HFSPlusDir.h"

#include <bit>
#include <cstring>

namespace {

void putBE(std::uint8_t* at, std::uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i) {
        at[i] = static_cast<std::uint8_t>(v);
        v >>= 8;
    }
}

// The identities keep the byte order of the machine that wrote them.
void putNative(std::uint8_t* at, std::uint64_t v) {
    std::memcpy(at, &v, sizeof v);
}

std::uint64_t nativeAt(platform::ByteView record, std::size_t off) {
    return std::endian::native == std::endian::little ? record.le64(off) : record.be64(off);
}

} // namespace

void HFSPlusDir::encode(std::uint8_t (&out)[kSize]) const {
    std::memset(out, 0, kSize);
    putBE(out + 0, fileSize, 8);
    putBE(out + 24, dataStartSector, 4);
    putBE(out + 28, createDate, 4);
    putBE(out + 32, modDate, 4);
    putBE(out + 36, parentID, 4);
    putBE(out + 40, fileID, 4);
    putBE(out + 44, fileCount, 4);
    putBE(out + 48, sectorsPerBlock, 4);
    putBE(out + 52, entriesBelow, 4);
    putBE(out + 56, childCount, 4);
    putBE(out + 60, extentCount, 4);
    putBE(out + 64, firstSectorOffset, 4);
    putBE(out + 68, nameLength, 2);
    putBE(out + 70, pathLength, 2);
    putBE(out + 72, fileType, 2);
    out[74] = selected;
    out[75] = isFATEntry;
    out[76] = complete;
    out[77] = deleted;
    out[78] = foundBySignature;
    putNative(out + 80, identity);
    putNative(out + 88, parentIdentity);
}

HFSPlusDir HFSPlusDir::decode(platform::ByteView r) {
    HFSPlusDir d;
    d.fileSize = r.be64(0);
    d.dataStartSector = r.be32(24);
    d.createDate = r.be32(28);
    d.modDate = r.be32(32);
    d.parentID = r.be32(36);
    d.fileID = r.be32(40);
    d.fileCount = r.be32(44);
    d.sectorsPerBlock = r.be32(48);
    d.entriesBelow = r.be32(52);
    d.childCount = r.be32(56);
    d.extentCount = r.be32(60);
    d.firstSectorOffset = r.be32(64);
    d.nameLength = r.be16(68);
    d.pathLength = r.be16(70);
    d.fileType = r.be16(72);
    d.selected = r.u8(74);
    d.isFATEntry = r.u8(75);
    d.complete = r.u8(76);
    d.deleted = r.u8(77);
    d.foundBySignature = r.u8(78);
    d.identity = nativeAt(r, 80);
    d.parentIdentity = nativeAt(r, 88);
    return d;
}
