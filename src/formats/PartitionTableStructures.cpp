#include "formats/PartitionTableStructures.h"

#include "platform/Crc32.h"

using platform::ByteView;

bool GUIDPartitionTableEntry::isEmpty() const {
    for (std::size_t i = 0; i < 8; ++i)
        if (partitionTypeGUID[i] != 0) return false;
    return true;
}

std::string PartitionMap::type() const {
    std::string out;
    for (std::uint8_t c : pmParType) {
        if (c == 0) break;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

MasterBootRecord convertMBR(ByteView b) {
    MasterBootRecord m;
    for (std::size_t i = 0; i < m.partitionTable.size(); ++i) {
        const ByteView e = b.sub(partitions::kMBRPartitionTableOffset + i * partitions::kMBRPartitionEntrySize,
                                 partitions::kMBRPartitionEntrySize);
        Fdisk_Partition_Table& p = m.partitionTable[i];
        p.bootIndicator = e.u8(0);
        p.startingHead = e.u8(1);
        p.startingSector = e.u8(2);
        p.startingCylinder = e.u8(3);
        p.systemID = e.u8(4);
        p.endingHead = e.u8(5);
        p.endingSector = e.u8(6);
        p.endingCylinder = e.u8(7);
        p.relativeSector = e.le32(8);
        p.numberOfSectors = e.le32(12);
    }
    m.signature = b.le16(partitions::kMBRSignatureOffset);
    return m;
}

GUIDPartitionTableHeader convertGPTHeader(ByteView b) {
    GUIDPartitionTableHeader h;
    h.signature = b.be64(0);
    h.revision = b.le32(8);
    h.headerSize = b.le32(12);
    h.headerCRC32 = b.le32(16);
    h.reserved = b.le32(20);
    h.myLBA = b.le64(24);
    h.alternateLBA = b.le64(32);
    h.firstUsableLBA = b.le64(40);
    h.lastUsableLBA = b.le64(48);
    b.copyTo(56, h.diskGUID.data(), h.diskGUID.size());
    h.partitionEntryLBA = b.le64(72);
    h.numberOfPartitionEntries = b.le32(80);
    h.sizeOfPartitionEntry = b.le32(84);
    h.partitionEntryArrayCRC32 = b.le32(88);
    return h;
}

std::uint32_t gptCRC32(ByteView bytes, std::uint32_t crc) {
    return platform::crc32(bytes, crc);
}

bool gptHeaderChecksumMatches(ByteView sector) {
    const std::uint32_t size = sector.le32(12);
    if (size < partitions::kGPTHeaderMinSize || size > sector.size()) return false;
    const std::uint8_t zeros[4] = {};
    std::uint32_t crc = gptCRC32(sector.sub(0, partitions::kGPTHeaderCRCOffset));
    crc = gptCRC32(ByteView(zeros, sizeof zeros), crc);
    crc = gptCRC32(sector.sub(partitions::kGPTHeaderCRCOffset + 4, size - partitions::kGPTHeaderCRCOffset - 4), crc);
    return crc == sector.le32(partitions::kGPTHeaderCRCOffset);
}

GUIDPartitionTableEntry convertGPTEntry(ByteView b) {
    GUIDPartitionTableEntry e;
    b.copyTo(0, e.partitionTypeGUID.data(), e.partitionTypeGUID.size());
    b.copyTo(16, e.uniquePartitionGUID.data(), e.uniquePartitionGUID.size());
    e.startingLBA = b.le64(32);
    e.endingLBA = b.le64(40);
    e.attributes = b.le64(48);
    e.partitionName = b.utf16le(56, partitions::kGPTNameUnits);
    return e;
}

PartitionMap convertPM(ByteView b) {
    PartitionMap p;
    p.pmSig = b.be16(0);
    p.pmSigPad = b.be16(2);
    p.pmMapBlkCnt = b.be32(4);
    p.pmPyPartStart = b.be32(8);
    p.pmPartBlkCnt = b.be32(12);
    b.copyTo(16, p.pmPartName.data(), p.pmPartName.size());
    b.copyTo(48, p.pmParType.data(), p.pmParType.size());
    return p;
}
