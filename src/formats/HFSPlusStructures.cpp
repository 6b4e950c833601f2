#include "formats/HFSPlusStructures.h"

using platform::ByteView;

namespace {

HFSExtentDecriptor hfsExtent(ByteView b, std::size_t off) {
    return {b.be16(off), b.be16(off + 2)};
}

ExtentDataRecord hfsExtentRecord(ByteView b, std::size_t off) {
    ExtentDataRecord r{};
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = hfsExtent(b, off + i * hfsplus::kHFSExtentDescriptorSize);
    return r;
}

// A length-prefixed UTF-16 name: the length is kept as stored; the units are
// read only for a length that a valid name can have, and only as far as the
// bytes go.
HFSUniStr255_ uniStr255(ByteView b, std::size_t lengthOff) {
    HFSUniStr255_ s;
    s.length = b.be16(lengthOff);
    if (s.length <= hfsplus::kMaxNameLength) s.unicode = b.utf16be(lengthOff + 2, s.length);
    return s;
}

} // namespace

MasterDirectoryBlock convertMDB(ByteView b) {
    MasterDirectoryBlock m;
    m.drSigWord = b.be16(0);
    m.drCrDate = b.be32(2);
    m.drLsMod = b.be32(6);
    m.drAtrb = b.be16(10);
    m.drNmFls = b.be16(12);
    m.drVBMSt = b.be16(14);
    m.drAllocPtr = b.be16(16);
    m.drNmAlBlks = b.be16(18);
    m.drAlBlkSiz = b.be32(20);
    m.drClpSiz = b.be32(24);
    m.drAlBlSt = b.be16(28);
    m.drNxtCNID = b.be32(30);
    m.drFreeBks = b.be16(34);
    m.nameLength = b.u8(36);
    b.copyTo(37, m.drVN.data(), m.drVN.size());
    m.drVolBkUp = b.be32(64);
    m.drVSeqNum = b.be16(68);
    m.drWrCnt = b.be32(70);
    m.drXTClpSiz = b.be32(74);
    m.drCTClpSiz = b.be32(78);
    m.drNmRtDirs = b.be16(82);
    m.drFilCnt = b.be32(84);
    m.drDirCnt = b.be32(88);
    b.copyTo(92, m.drFndrInfo.data(), m.drFndrInfo.size());
    m.drEmbedSigWord = b.be16(124);
    m.drEmbedExtent = hfsExtent(b, 126);
    m.drXTFlSize = b.be32(130);
    m.drXTExtRec = hfsExtentRecord(b, 134);
    m.drCTFlSize = b.be32(146);
    m.drCTExtRec = hfsExtentRecord(b, 150);
    return m;
}

HFSPlusExtentDescriptor_ convertHPlusExtentDescriptor(ByteView b) {
    return {b.be32(0), b.be32(4)};
}

HFSPlusExtentRecord_ convertHPlusExtRec(ByteView b) {
    HFSPlusExtentRecord_ r{};
    for (std::size_t i = 0; i < r.size(); ++i) {
        const ByteView d = b.sub(i * hfsplus::kExtentDescriptorSize, hfsplus::kExtentDescriptorSize);
        // A start block of 0 ends the list: readers stop there, so neither it
        // nor anything behind it is taken, whatever its block count says.
        if (d.be32(0) == 0) break;
        r[i] = convertHPlusExtentDescriptor(d);
    }
    return r;
}

std::size_t extentListLength(const HFSPlusExtentRecord_& record) {
    std::size_t n = 0;
    while (n < record.size() && record[n].startBlock != 0)
        ++n;
    return n;
}

HFSPlusForkData_ convertHPlusForkData(ByteView b) {
    HFSPlusForkData_ f;
    f.logicalSize = b.be64(0);
    f.clumpSize = b.be32(8);
    f.totalBlocks = b.be32(12);
    f.extents = convertHPlusExtRec(b.sub(hfsplus::kForkExtentsOffset, hfsplus::kExtentRecordSize));
    return f;
}

VolumeInformationBlock convertVIB(ByteView b) {
    VolumeInformationBlock v;
    v.signature = b.be16(0);
    v.version = b.be16(2);
    v.attributes = b.be32(4);
    v.lastMountedVersion = b.be32(8);
    v.journalInfoBlock = b.be32(12);
    v.createDate = b.be32(16);
    v.modifyDate = b.be32(20);
    v.backupDate = b.be32(24);
    v.checkedDate = b.be32(28);
    v.fileCount = b.be32(32);
    v.folderCount = b.be32(36);
    v.blockSize = b.be32(40);
    v.totalBlocks = b.be32(44);
    v.freeBlocks = b.be32(48);
    v.nextAllocation = b.be32(52);
    v.rsrcClumpSize = b.be32(56);
    v.dataClumpSize = b.be32(60);
    v.nextCatalogID = b.be32(64);
    v.writeCount = b.be32(68);
    v.encodingsBitmap = b.be64(72);
    b.copyTo(80, v.finderInfo.data(), v.finderInfo.size());
    v.allocationFile = convertHPlusForkData(b.sub(112, hfsplus::kForkDataSize));
    v.extentsFile = convertHPlusForkData(b.sub(192, hfsplus::kForkDataSize));
    v.catalogFile = convertHPlusForkData(b.sub(272, hfsplus::kForkDataSize));
    v.attributesFile = convertHPlusForkData(b.sub(352, hfsplus::kForkDataSize));
    v.startupFile = convertHPlusForkData(b.sub(432, hfsplus::kForkDataSize));
    return v;
}

BTNodeDescriptor_ convertBTNodeDesc(ByteView b) {
    BTNodeDescriptor_ d;
    d.fLink = b.be32(0);
    d.bLink = b.be32(4);
    d.kind = b.s8(8);
    d.height = b.u8(9);
    d.numRecords = b.be16(10);
    d.reserved = b.be16(12);
    return d;
}

BTHeaderRecord convertBTHdrRec(ByteView b) {
    BTHeaderRecord h;
    h.treeDepth = b.be16(0);
    h.rootNode = b.be32(2);
    h.leafRecords = b.be32(6);
    h.firstLeafNode = b.be32(10);
    h.lastLeafNode = b.be32(14);
    h.nodeSize = b.be16(18);
    h.maxKeyLength = b.be16(20);
    h.totalNodes = b.be32(22);
    h.freeNodes = b.be32(26);
    h.reserved1 = b.be16(30);
    h.clumpSize = b.be32(32);
    h.btreeType = b.u8(36);
    h.keyCompareType = b.u8(37);
    h.attributes = b.be32(38);
    for (std::size_t i = 0; i < h.reserved3.size(); ++i)
        h.reserved3[i] = b.be32(42 + 4 * i);
    return h;
}

HFSPlusCatalogKey_ convertHPlusCatalogKey(ByteView b) {
    HFSPlusCatalogKey_ k;
    k.keyLength = b.be16(0);
    k.parentID = b.be32(2);
    k.nodeName = uniStr255(b, 6);
    return k;
}

HFSPlusCatalogFolder_ convertHPlusCatalogFolder(ByteView b) {
    HFSPlusCatalogFolder_ f;
    f.recordType = b.bes16(0);
    f.flags = b.be16(2);
    f.valence = b.be32(4);
    f.folderID = b.be32(8);
    f.createDate = b.be32(12);
    f.contentModDate = b.be32(16);
    f.attributeModDate = b.be32(20);
    f.accessDate = b.be32(24);
    f.backupDate = b.be32(28);
    b.copyTo(32, f.bsdInfo.data(), f.bsdInfo.size());
    b.copyTo(48, f.userInfo.data(), f.userInfo.size());
    b.copyTo(64, f.finderInfo.data(), f.finderInfo.size());
    f.textEncoding = b.be32(80);
    f.reserved = b.be32(84);
    return f;
}

HFSPlusCatalogFile_ convertHPlusCatalogFile(ByteView b) {
    HFSPlusCatalogFile_ f;
    f.recordType = b.bes16(0);
    f.flags = b.be16(2);
    f.reserved1 = b.be32(4);
    f.fileID = b.be32(8);
    f.createDate = b.be32(12);
    f.contentModDate = b.be32(16);
    f.attributeModDate = b.be32(20);
    f.accessDate = b.be32(24);
    f.backupDate = b.be32(28);
    b.copyTo(32, f.bsdInfo.data(), f.bsdInfo.size());
    b.copyTo(48, f.userInfo.data(), f.userInfo.size());
    b.copyTo(64, f.finderInfo.data(), f.finderInfo.size());
    f.textEncoding = b.be32(80);
    f.reserved2 = b.be32(84);
    f.dataFork = convertHPlusForkData(b.sub(hfsplus::kCatalogFileDataForkOffset, hfsplus::kForkDataSize));
    f.resourceFork = convertHPlusForkData(b.sub(hfsplus::kCatalogFileResourceForkOffset, hfsplus::kForkDataSize));
    return f;
}

HFSPlusCatalogThread_ convertHPlusCatalogThread(ByteView b) {
    HFSPlusCatalogThread_ t;
    t.recordType = b.bes16(0);
    t.reserved = b.bes16(2);
    t.parentID = b.be32(4);
    t.nodeName = uniStr255(b, 8);
    return t;
}

HFSPlusExtentKey_ convertHPlusExtentKey(ByteView b) {
    HFSPlusExtentKey_ k;
    k.keyLength = b.be16(0);
    k.forkType = b.u8(2);
    k.pad = b.u8(3);
    k.fileID = b.be32(4);
    k.startBlock = b.be32(8);
    return k;
}

JournalInfoBlock convertJournalInfoBlock(ByteView b) {
    JournalInfoBlock j;
    j.flags = b.be32(0);
    b.copyTo(4, j.deviceSignature.data(), j.deviceSignature.size());
    j.offset = b.be64(36);
    j.size = b.be64(44);
    return j;
}

std::optional<std::uint64_t> embeddedVolumeSectorOffset(const MasterDirectoryBlock& mdb, std::uint32_t bytesPerSector) {
    if (bytesPerSector == 0 || mdb.drAlBlkSiz == 0 || mdb.drAlBlkSiz % bytesPerSector != 0) return std::nullopt;
    const std::uint64_t bytes = static_cast<std::uint64_t>(mdb.drAlBlSt) * 512 +
                                static_cast<std::uint64_t>(mdb.drAlBlkSiz) * mdb.drEmbedExtent.xdrStABN;
    if (bytes % bytesPerSector != 0) return std::nullopt;
    return bytes / bytesPerSector;
}

std::size_t hfsplus::offsetTableStart(std::size_t nodeBytes, std::uint32_t numRecords) {
    const std::uint64_t table = 2 * (static_cast<std::uint64_t>(numRecords) + 1);
    if (nodeBytes < kBTNodeDescriptorSize || table > nodeBytes - kBTNodeDescriptorSize) return 0;
    return nodeBytes - static_cast<std::size_t>(table);
}

std::optional<std::size_t> hfsplus::recordOffset(ByteView node, std::uint32_t numRecords, std::uint32_t i) {
    const std::size_t table = offsetTableStart(node.size(), numRecords);
    if (table == 0 || i >= numRecords) return std::nullopt;
    const std::size_t offset = node.be16(node.size() - 2 * (static_cast<std::size_t>(i) + 1));
    if (offset < kBTNodeDescriptorSize || offset >= table) return std::nullopt;
    return offset;
}

std::uint16_t hfsplus::lastOffset(ByteView node) {
    return node.size() < 2 ? 0 : node.be16(node.size() - 2);
}
