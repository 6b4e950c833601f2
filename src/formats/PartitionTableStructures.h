#pragma once

// The three partition-table formats a drive is read for: the MBR and its
// extended boot records (little-endian), the GUID partition table header
// and entries (little-endian) and the Apple partition map (big-endian).
// Each converter reads its record field by field through a ByteView at the
// published offsets and answers it in host order, so a short buffer reads
// as zeros past its end and never faults.

#include "platform/ByteView.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace partitions {

inline constexpr std::size_t kRecordSize = 512; // MBR, EBR, GPT header, APM entry

// --- MBR and extended boot records ---
inline constexpr std::size_t kMBRPartitionTableOffset = 446;
inline constexpr std::size_t kMBRPartitionEntrySize = 16;
inline constexpr std::size_t kMBRSignatureOffset = 510;
inline constexpr std::uint16_t kMBRSignature = 0xAA55; // bytes 0x55, 0xAA
inline constexpr std::uint8_t kSystemIDEmpty = 0x00;
inline constexpr std::uint8_t kSystemIDExtended = 0x05;
inline constexpr std::uint8_t kSystemIDExtendedLBA = 0x0F;
inline constexpr std::uint8_t kSystemIDExtendedLinux = 0x85;
inline constexpr std::uint8_t kSystemIDHFS = 0xAF;
inline constexpr std::uint8_t kSystemIDProtectiveGPT = 0xEE;

constexpr bool isExtendedSystemID(std::uint64_t id) {
    return id == kSystemIDExtended || id == kSystemIDExtendedLBA || id == kSystemIDExtendedLinux;
}

// --- GUID partition table ---
inline constexpr std::uint64_t kGPTSignature = 0x4546492050415254; // "EFI PART" read big-endian
inline constexpr std::size_t kGPTHeaderMinSize = 92;
inline constexpr std::size_t kGPTHeaderCRCOffset = 16;
inline constexpr std::size_t kGPTEntryMinSize = 128;
inline constexpr std::size_t kGPTNameUnits = 36;
// The Apple HFS/HFS+ type 48465300-0000-11AA-AA11-00306543ECAC as it stands on disk.
inline constexpr std::array<std::uint8_t, 16> kGPTAppleHFSType = {0x00, 0x53, 0x46, 0x48, 0x00, 0x00, 0xAA, 0x11,
                                                                  0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC};

// --- Apple partition map ---
inline constexpr std::uint16_t kPMSignature = 0x504D; // "PM"
inline constexpr std::size_t kPMNameSize = 32;
inline constexpr std::size_t kPMTypeSize = 32;

} // namespace partitions

// One of the four 16-byte entries of an MBR or extended boot record.
struct Fdisk_Partition_Table {
    std::uint8_t bootIndicator = 0;
    std::uint8_t startingHead = 0;
    std::uint8_t startingSector = 0;
    std::uint8_t startingCylinder = 0;
    std::uint8_t systemID = 0;
    std::uint8_t endingHead = 0;
    std::uint8_t endingSector = 0;
    std::uint8_t endingCylinder = 0;
    std::uint32_t relativeSector = 0; // from the record's own sector, or from the outermost extended partition
    std::uint32_t numberOfSectors = 0;
};

// An MBR or extended boot record (512 bytes).
struct MasterBootRecord {
    std::array<Fdisk_Partition_Table, 4> partitionTable{};
    std::uint16_t signature = 0; // kMBRSignature when valid
};

// The GUID partition table header (first 512 bytes of sector 1).
struct GUIDPartitionTableHeader {
    std::uint64_t signature = 0; // big-endian reading, so it compares with kGPTSignature
    std::uint32_t revision = 0;
    std::uint32_t headerSize = 0;
    std::uint32_t headerCRC32 = 0;
    std::uint32_t reserved = 0;
    std::uint64_t myLBA = 0;
    std::uint64_t alternateLBA = 0;
    std::uint64_t firstUsableLBA = 0;
    std::uint64_t lastUsableLBA = 0;
    std::array<std::uint8_t, 16> diskGUID{};
    std::uint64_t partitionEntryLBA = 0;
    std::uint32_t numberOfPartitionEntries = 0;
    std::uint32_t sizeOfPartitionEntry = 0; // bytes
    std::uint32_t partitionEntryArrayCRC32 = 0;
};

// The first 128 bytes of a GUID partition entry.
struct GUIDPartitionTableEntry {
    std::array<std::uint8_t, 16> partitionTypeGUID{}; // as stored
    std::array<std::uint8_t, 16> uniquePartitionGUID{};
    std::uint64_t startingLBA = 0;
    std::uint64_t endingLBA = 0; // inclusive
    std::uint64_t attributes = 0;
    std::u16string partitionName; // all 36 units, trailing zero units included

    // An entry whose first eight type bytes are zero is unused and ends the table.
    bool isEmpty() const;
};

// One entry of an Apple partition map (512 bytes).
struct PartitionMap {
    std::uint16_t pmSig = 0; // kPMSignature
    std::uint16_t pmSigPad = 0;
    std::uint32_t pmMapBlkCnt = 0;                                  // entries in the map
    std::uint32_t pmPyPartStart = 0;                                // first sector of the partition
    std::uint32_t pmPartBlkCnt = 0;                                 // sectors
    std::array<std::uint8_t, partitions::kPMNameSize> pmPartName{}; // NUL-terminated when shorter
    std::array<std::uint8_t, partitions::kPMTypeSize> pmParType{};  // "Apple_HFS", "Apple_HFSX", ...

    // The type up to its first NUL (at most 32 bytes).
    std::string type() const;
};

MasterBootRecord convertMBR(platform::ByteView bytes);
GUIDPartitionTableHeader convertGPTHeader(platform::ByteView bytes);
// The CRC-32 (reflected polynomial 0xEDB88320) a GUID partition table keeps
// of its header and of its entry array. `crc` is the value of the bytes
// before these, so bytes that come in pieces are summed as they come.
std::uint32_t gptCRC32(platform::ByteView bytes, std::uint32_t crc = 0);
// Whether the header in `sector` holds its own checksum: over its first
// headerSize bytes (from 92 up to the bytes given) with the checksum field
// taken as zero.
bool gptHeaderChecksumMatches(platform::ByteView sector);
GUIDPartitionTableEntry convertGPTEntry(platform::ByteView bytes);
PartitionMap convertPM(platform::ByteView bytes);
