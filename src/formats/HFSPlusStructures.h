#pragma once

// The HFS and HFS+ structures the program reads from a medium, in host byte
// order. On disk every one of them is big-endian and packed on 2-byte
// boundaries; each converter below reads its structure field by field
// through a ByteView at the published offsets, so a short or damaged buffer
// can never be read past its end: a field that is not (wholly) there comes
// back as 0.
//
// Blocks of opaque information (Finder information, BSD information, the HFS
// volume name) are kept as the raw bytes they are on disk; nothing here
// interprets them.
//
// Extent records follow one rule everywhere, because every reader depends on
// it: descriptors are taken in order up to the first whose start block is 0,
// and that descriptor and every one after it are left empty (all zero). A
// start block of 0 is the end of an extent list.
//
// This header is shared by the drive code and the HFS+ code and so depends on
// nothing but src/platform/.

#include "platform/ByteView.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace hfsplus {

// --- signatures ---
inline constexpr std::uint16_t kHFSSignature = 0x4244;     // "BD": HFS, or a wrapper holding HFS+
inline constexpr std::uint16_t kHFSPlusSignature = 0x482B; // "H+"
inline constexpr std::uint16_t kHFSXSignature = 0x4858;    // "HX": case-sensitive HFS+

constexpr bool isHFSPlusSignature(std::uint16_t signature) {
    return signature == kHFSPlusSignature || signature == kHFSXSignature;
}

// --- where things lie and how big they are (bytes) ---
// The master directory block and the volume header both sit at byte 1024 of
// the volume; the alternate copy 1024 bytes before the volume's end.
inline constexpr std::uint64_t kVolumeHeaderOffset = 1024;
inline constexpr std::uint64_t kAlternateHeaderFromEnd = 1024;
inline constexpr std::size_t kMasterDirectoryBlockSize = 162;
inline constexpr std::size_t kVolumeInformationBlockSize = 512;

inline constexpr std::size_t kHFSExtentDescriptorSize = 4;
inline constexpr std::size_t kHFSExtentsPerRecord = 3;

inline constexpr std::size_t kExtentDescriptorSize = 8;
inline constexpr std::size_t kExtentsPerRecord = 8;
inline constexpr std::size_t kExtentRecordSize = 64;
inline constexpr std::size_t kForkDataSize = 80;
inline constexpr std::size_t kForkExtentsOffset = 16;

inline constexpr std::size_t kBTNodeDescriptorSize = 14;
inline constexpr std::size_t kBTHeaderRecordOffset = 14; // in node 0, right after the descriptor
inline constexpr std::size_t kBTHeaderRecordSize = 106;

inline constexpr std::size_t kMaxNameLength = 255;      // UTF-16 units in a valid name
inline constexpr std::size_t kCatalogKeyNameOffset = 8; // first name unit of a catalog key
inline constexpr std::size_t kCatalogKeyMinSize = 8;    // key length, parent ID, name length
inline constexpr std::size_t kCatalogKeyMaxSize = 518;
// The key length a catalog key states (the bytes after the length field):
// parent ID and name length with no name, up to a name of 255 units.
inline constexpr std::uint16_t kCatalogKeyMinLength = 6;
inline constexpr std::uint16_t kCatalogKeyMaxLength = 516;
inline constexpr std::size_t kCatalogFolderSize = 88;
inline constexpr std::size_t kCatalogFileSize = 248;
inline constexpr std::size_t kCatalogFileDataForkOffset = 88;
inline constexpr std::size_t kCatalogFileResourceForkOffset = 168;
inline constexpr std::size_t kCatalogThreadNameOffset = 10; // first name unit of a thread record
inline constexpr std::size_t kCatalogThreadMinSize = 10;
inline constexpr std::size_t kCatalogThreadMaxSize = 520;

inline constexpr std::size_t kExtentKeySize = 12;
inline constexpr std::uint16_t kExtentKeyLength = 10;    // the key length of every extents key
inline constexpr std::size_t kExtentLeafRecordSize = 76; // key and extent record

inline constexpr std::size_t kJournalInfoBlockSize = 180;

// --- B-tree node kinds, as the descriptor's signed kind byte ---
inline constexpr std::int8_t kLeafNode = -1;
inline constexpr std::int8_t kIndexNode = 0;
inline constexpr std::int8_t kHeaderNode = 1;
inline constexpr std::int8_t kMapNode = 2;

// --- catalog record types ---
inline constexpr std::int16_t kFolderRecord = 1;
inline constexpr std::int16_t kFileRecord = 2;
inline constexpr std::int16_t kFolderThreadRecord = 3;
inline constexpr std::int16_t kFileThreadRecord = 4;

// --- fork types of an extents key ---
inline constexpr std::uint8_t kDataFork = 0x00;
inline constexpr std::uint8_t kResourceFork = 0xFF;

// --- catalog node IDs with a fixed meaning ---
inline constexpr std::uint32_t kRootParentID = 1;
inline constexpr std::uint32_t kRootFolderID = 2;
inline constexpr std::uint32_t kExtentsFileID = 3;
inline constexpr std::uint32_t kCatalogFileID = 4;
inline constexpr std::uint32_t kBadBlocksFileID = 5;
inline constexpr std::uint32_t kAllocationFileID = 6;
inline constexpr std::uint32_t kStartupFileID = 7;
inline constexpr std::uint32_t kAttributesFileID = 8;

// HFS and HFS+ dates count seconds from 1904-01-01; this many lie between
// then and 1970-01-01.
inline constexpr std::int64_t kSecondsFrom1904To1970 = 2082844800;

} // namespace hfsplus

// ---------------------------------------------------------------- HFS ----

// One extent of an HFS (not HFS+) volume, 16-bit allocation blocks.
struct HFSExtentDecriptor {
    std::uint16_t xdrStABN = 0;    // first allocation block
    std::uint16_t xdrNumABlks = 0; // number of allocation blocks
    bool operator==(const HFSExtentDecriptor&) const = default;
};
using ExtentDataRecord = std::array<HFSExtentDecriptor, hfsplus::kHFSExtentsPerRecord>;

// The HFS master directory block (162 bytes at byte 1024 of a volume). It
// matters only as the wrapper that carries an embedded HFS+ volume.
struct MasterDirectoryBlock {
    std::uint16_t drSigWord = 0;
    std::uint32_t drCrDate = 0;
    std::uint32_t drLsMod = 0;
    std::uint16_t drAtrb = 0;
    std::uint16_t drNmFls = 0;
    std::uint16_t drVBMSt = 0;
    std::uint16_t drAllocPtr = 0;
    std::uint16_t drNmAlBlks = 0;
    std::uint32_t drAlBlkSiz = 0; // allocation block size in bytes
    std::uint32_t drClpSiz = 0;
    std::uint16_t drAlBlSt = 0; // first 512-byte sector of allocation block 0
    std::uint32_t drNxtCNID = 0;
    std::uint16_t drFreeBks = 0;
    std::uint8_t nameLength = 0;
    std::array<std::uint8_t, 27> drVN{}; // volume name, as stored
    std::uint32_t drVolBkUp = 0;
    std::uint16_t drVSeqNum = 0;
    std::uint32_t drWrCnt = 0;
    std::uint32_t drXTClpSiz = 0;
    std::uint32_t drCTClpSiz = 0;
    std::uint16_t drNmRtDirs = 0;
    std::uint32_t drFilCnt = 0;
    std::uint32_t drDirCnt = 0;
    std::array<std::uint8_t, 32> drFndrInfo{}; // eight words of Finder information, as stored
    std::uint16_t drEmbedSigWord = 0;          // "H+" or "HX" when an HFS+ volume is embedded
    HFSExtentDecriptor drEmbedExtent{};        // where the embedded volume lies
    std::uint32_t drXTFlSize = 0;
    ExtentDataRecord drXTExtRec{};
    std::uint32_t drCTFlSize = 0;
    ExtentDataRecord drCTExtRec{};
};

// --------------------------------------------------------------- HFS+ ----

// A run of allocation blocks, counted from the start of the HFS+ volume.
struct HFSPlusExtentDescriptor_ {
    std::uint32_t startBlock = 0;
    std::uint32_t blockCount = 0;
    bool operator==(const HFSPlusExtentDescriptor_&) const = default;
};
// Eight descriptors. After conversion the list ends at the first descriptor
// whose start block is 0; that one and all after it are zero.
using HFSPlusExtentRecord_ = std::array<HFSPlusExtentDescriptor_, hfsplus::kExtentsPerRecord>;

// Where a file's fork lies: its size and its first eight extents.
struct HFSPlusForkData_ {
    std::uint64_t logicalSize = 0; // bytes
    std::uint32_t clumpSize = 0;
    std::uint32_t totalBlocks = 0; // allocation blocks of the whole fork
    HFSPlusExtentRecord_ extents{};
};

// The HFS+ (or HFSX) volume header: 512 bytes at byte 1024 of the volume.
struct VolumeInformationBlock {
    std::uint16_t signature = 0;
    std::uint16_t version = 0;
    std::uint32_t attributes = 0;
    std::uint32_t lastMountedVersion = 0;
    std::uint32_t journalInfoBlock = 0; // allocation block of the journal info block
    std::uint32_t createDate = 0;       // local time, unlike the other dates
    std::uint32_t modifyDate = 0;
    std::uint32_t backupDate = 0;
    std::uint32_t checkedDate = 0;
    std::uint32_t fileCount = 0;
    std::uint32_t folderCount = 0;
    std::uint32_t blockSize = 0; // allocation block size in bytes
    std::uint32_t totalBlocks = 0;
    std::uint32_t freeBlocks = 0;
    std::uint32_t nextAllocation = 0;
    std::uint32_t rsrcClumpSize = 0;
    std::uint32_t dataClumpSize = 0;
    std::uint32_t nextCatalogID = 0;
    std::uint32_t writeCount = 0;
    std::uint64_t encodingsBitmap = 0;
    std::array<std::uint8_t, 32> finderInfo{}; // as stored
    HFSPlusForkData_ allocationFile{};
    HFSPlusForkData_ extentsFile{};
    HFSPlusForkData_ catalogFile{};
    HFSPlusForkData_ attributesFile{};
    HFSPlusForkData_ startupFile{};
};

// The first 14 bytes of every B-tree node.
struct BTNodeDescriptor_ {
    std::uint32_t fLink = 0; // next node of the same level, 0 for none
    std::uint32_t bLink = 0; // previous node of the same level, 0 for none
    std::int8_t kind = 0;    // hfsplus::kLeafNode, kIndexNode, kHeaderNode, kMapNode
    std::uint8_t height = 0; // 1 for leaves, 0 for the header node
    std::uint16_t numRecords = 0;
    std::uint16_t reserved = 0;
};

// The header record: 106 bytes at byte 14 of node 0 of a B-tree file.
struct BTHeaderRecord {
    std::uint16_t treeDepth = 0;
    std::uint32_t rootNode = 0;
    std::uint32_t leafRecords = 0;
    std::uint32_t firstLeafNode = 0;
    std::uint32_t lastLeafNode = 0;
    std::uint16_t nodeSize = 0; // bytes
    std::uint16_t maxKeyLength = 0;
    std::uint32_t totalNodes = 0;
    std::uint32_t freeNodes = 0;
    std::uint16_t reserved1 = 0;
    std::uint32_t clumpSize = 0;
    std::uint8_t btreeType = 0;
    std::uint8_t keyCompareType = 0;
    std::uint32_t attributes = 0;
    std::array<std::uint32_t, 16> reserved3{};
};

// A name of up to 255 UTF-16 units, in host order.
struct HFSUniStr255_ {
    std::uint16_t length = 0; // as stored, even when it is out of range
    std::u16string unicode;   // the units that were there, at most `length`
};

// Key of a catalog record. The record's data follows the key at
// (record offset + keyLength + 2).
struct HFSPlusCatalogKey_ {
    std::uint16_t keyLength = 0; // bytes after this field
    std::uint32_t parentID = 0;
    HFSUniStr255_ nodeName;
    // False when the stored name length is above 255; such a key's name is
    // not read at all and the key must not be trusted.
    bool nameLengthValid() const { return nodeName.length <= hfsplus::kMaxNameLength; }
};

// Opaque 16-byte blocks of a catalog record, kept as stored.
using HFSPlusBSDInfo_ = std::array<std::uint8_t, 16>;
using FolderInfo_ = std::array<std::uint8_t, 16>;
using ExtendedFolderInfo_ = std::array<std::uint8_t, 16>;
using FileInfo_ = std::array<std::uint8_t, 16>;
using ExtendedFileInfo_ = std::array<std::uint8_t, 16>;

// Catalog folder record (record type 1), 88 bytes.
struct HFSPlusCatalogFolder_ {
    std::int16_t recordType = 0;
    std::uint16_t flags = 0;
    std::uint32_t valence = 0; // items in the folder
    std::uint32_t folderID = 0;
    std::uint32_t createDate = 0;
    std::uint32_t contentModDate = 0;
    std::uint32_t attributeModDate = 0;
    std::uint32_t accessDate = 0;
    std::uint32_t backupDate = 0;
    HFSPlusBSDInfo_ bsdInfo{};
    FolderInfo_ userInfo{};
    ExtendedFolderInfo_ finderInfo{};
    std::uint32_t textEncoding = 0;
    std::uint32_t reserved = 0;
};

// Catalog file record (record type 2), 248 bytes.
struct HFSPlusCatalogFile_ {
    std::int16_t recordType = 0;
    std::uint16_t flags = 0;
    std::uint32_t reserved1 = 0;
    std::uint32_t fileID = 0;
    std::uint32_t createDate = 0;
    std::uint32_t contentModDate = 0;
    std::uint32_t attributeModDate = 0;
    std::uint32_t accessDate = 0;
    std::uint32_t backupDate = 0;
    HFSPlusBSDInfo_ bsdInfo{};
    FileInfo_ userInfo{};
    ExtendedFileInfo_ finderInfo{};
    std::uint32_t textEncoding = 0;
    std::uint32_t reserved2 = 0;
    HFSPlusForkData_ dataFork{};
    HFSPlusForkData_ resourceFork{};
};

// Catalog thread record (record type 3 for a folder, 4 for a file): links an
// entry's own ID, which is its key's parent ID, to its parent and name.
struct HFSPlusCatalogThread_ {
    std::int16_t recordType = 0;
    std::int16_t reserved = 0;
    std::uint32_t parentID = 0;
    HFSUniStr255_ nodeName;
    bool nameLengthValid() const { return nodeName.length <= hfsplus::kMaxNameLength; }
};

// Key of an extents-overflow record, 12 bytes. An index record follows it
// with a child node number, a leaf record with an HFSPlusExtentRecord_.
struct HFSPlusExtentKey_ {
    std::uint16_t keyLength = 0; // 10 in every record
    std::uint8_t forkType = 0;   // hfsplus::kDataFork or kResourceFork
    std::uint8_t pad = 0;
    std::uint32_t fileID = 0;
    std::uint32_t startBlock = 0; // allocation block of the fork where the record's extents begin
};

// The journal info block, in the allocation block the volume header names.
struct JournalInfoBlock {
    std::uint32_t flags = 0;
    std::array<std::uint8_t, 32> deviceSignature{}; // as stored
    std::uint64_t offset = 0;                       // journal start, bytes from the start of the volume
    std::uint64_t size = 0;                         // journal length in bytes
};

// ---------------------------------------------------------- converters ----
// Each takes the bytes where the structure begins (the view may be longer or
// shorter than the structure) and answers the structure in host order.

MasterDirectoryBlock convertMDB(platform::ByteView bytes);
VolumeInformationBlock convertVIB(platform::ByteView bytes);
HFSPlusForkData_ convertHPlusForkData(platform::ByteView bytes);
// By the extent rule: in order, up to the first descriptor whose start block
// is 0; that descriptor and the ones after it stay zero.
HFSPlusExtentRecord_ convertHPlusExtRec(platform::ByteView bytes);
// One descriptor as it stands, for the readers that take all eight, empty
// ones included.
HFSPlusExtentDescriptor_ convertHPlusExtentDescriptor(platform::ByteView bytes);
BTNodeDescriptor_ convertBTNodeDesc(platform::ByteView bytes);
BTHeaderRecord convertBTHdrRec(platform::ByteView bytes);
// The name is read only when its length is at most 255 (nameLengthValid()).
HFSPlusCatalogKey_ convertHPlusCatalogKey(platform::ByteView bytes);
HFSPlusCatalogFolder_ convertHPlusCatalogFolder(platform::ByteView bytes);
HFSPlusCatalogFile_ convertHPlusCatalogFile(platform::ByteView bytes);
HFSPlusCatalogThread_ convertHPlusCatalogThread(platform::ByteView bytes);
HFSPlusExtentKey_ convertHPlusExtentKey(platform::ByteView bytes);
JournalInfoBlock convertJournalInfoBlock(platform::ByteView bytes);

// How many descriptors of a converted record are in use: the index of the
// first whose start block is 0, or 8.
std::size_t extentListLength(const HFSPlusExtentRecord_& record);

// Where the HFS+ volume embedded in an HFS wrapper starts, in sectors from
// the wrapper's first sector. drAlBlSt counts 512-byte units whatever the
// device's sector size; nullopt when the wrapper's blocks or the start are
// not whole sectors of the device (a damaged or foreign wrapper).
std::optional<std::uint64_t> embeddedVolumeSectorOffset(const MasterDirectoryBlock& mdb, std::uint32_t bytesPerSector);

// ---------------------------------------------------------- node records ----
// A B-tree node ends with its record-offset table: one 16-bit offset per
// record, record 0 last, with the free-space offset in front of them.

namespace hfsplus {

// Where a node's record-offset table begins (node size - 2 x (records + 1),
// the free-space offset included), or 0 when that many records cannot fit
// behind the node descriptor.
std::size_t offsetTableStart(std::size_t nodeBytes, std::uint32_t numRecords);
// Record i's offset when it lies inside the node: at least 14 and before the
// offset table. Nothing otherwise.
std::optional<std::size_t> recordOffset(platform::ByteView node, std::uint32_t numRecords, std::uint32_t i);
// The offset of record 0, in the node's last two bytes; 14 in every
// well-formed node.
std::uint16_t lastOffset(platform::ByteView node);

} // namespace hfsplus
