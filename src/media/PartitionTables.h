#pragma once

// Reading a drive's partition table into volume dictionaries: the GUID
// partition table, the MBR with its chain of extended boot records, or the
// Apple partition map. Only HFS-family partitions are listed; each gets a
// dictionary with "Volume Start", "Volume Size In Sectors", "Volume Name",
// "Volume Scan Type", "Path", "Model", "Serial", "Revision" and "Content",
// and its name is then replaced by the name of the volume's root folder
// where the HFS+ catalog can be read.
//
// Everything works on the DMedia it is given and leaves its results in that
// drive's fields (volumePMArray, and vib, mdb, HPlusVolStart, blockSize, the
// extent lists and node fields describing the last volume examined).
//
// A partition table is untrusted input. Every count, size and link is
// bounded before it is followed: a chain of extended records stops at a
// sector already read and after kMaxExtendedRecords records, a GUID entry
// size must be a multiple of 8 from 128 to the sector size and the entry
// count is cut to what fits before the first usable sector (the backup's
// before its header) and in kMaxGPTEntryArrayBytes, an Apple map holds at
// most kMaxPMEntries entries and ends at the first entry that reads without
// "PM". Sector arithmetic is 64-bit and checked, so no table can make a
// read wrap around.
//
// A sector of a table that cannot be read costs only what it holds. An
// Apple map entry that cannot be read is passed over and the entries after
// it read, the map's entry count taken from the first entry that reads. A
// GUID table whose primary header or entry array cannot be read, or fails
// its checksum, is read from the backup header in the disk's last sector
// and the entries it points to (or, the primary header lost, the primary's
// entries where they hold the checksum the backup keeps of them); where
// neither copy is whole, each entry is taken from whichever copy read it. An unreadable sector 0 does not stop a
// GUID table or an Apple map being found by its own signature. The drive
// counts the sectors that could not be read (unreadableSectorCount), so
// its reader can say the list may lack what they held. Each of them is asked
// for once, past the page cache where the device allows it, and no bad
// stretch beyond it is walked (DMedia::readRecordSectors): a disk that fails
// every read costs a failed read for each of the few sectors the tests of
// the schemes look at.
//
// A disk image is often a copy of a failing disk that stopped short, whose
// table still describes the whole disk. A partition that begins past the
// medium's end is not listed, and one that runs past it is listed as far as
// the medium reaches, so a volume made from it never asks for sectors the
// medium does not have; nothing past the end is read for the names either.

#include "formats/PartitionTableStructures.h"
#include "media/HFSPlusDriveGeometry.h"
#include "platform/ByteView.h"
#include "platform/Value.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class DMedia;

class PartitionTables {
public:
    explicit PartitionTables(DMedia& media) noexcept : media_(media) {}

    static constexpr std::size_t kMaxExtendedRecords = 128;
    static constexpr std::uint32_t kMaxPMEntries = 256;
    // A real entry array holds 128 entries of 128 bytes: 16 KiB.
    static constexpr std::uint64_t kMaxGPTEntryArrayBytes = 4u << 20;

    // Recognises the scheme, fills volumePMArray, settles the names and
    // appends a copy of every dictionary to `array`, in table order.
    void initialize(platform::Array& array);

    // Where a partition lies, in sectors of the drive.
    struct Span {
        std::uint64_t start = 0;
        std::uint64_t sectors = 0;
    };
    // Every partition of the table, whatever it holds, in table order (an
    // MBR's extended partitions, which only hold others, left out), as far
    // as it lies on the medium; nothing without a table. volumePMArray is
    // left alone.
    std::vector<Span> partitionSpans();

    // What of a span lies on a medium of `mediumSectors` sectors: it ends
    // where the medium ends, and a span that begins at or past that end has
    // nothing on it. A medium of unknown size (0) cuts nothing.
    static std::optional<Span> onMedium(Span span, std::uint64_t mediumSectors);

    void readAndInterpretMBR();
    void readAndInterpretGPT();
    void readAndInterpretPM();
    // Reads the MBR or extended record at fromMBRAt and appends one small
    // dictionary per used entry ("System ID", "Relative Sector" as an
    // absolute sector, "Number Of Sectors"). Links to further extended
    // records count from firstExtOffset, every other start from the
    // record's own sector.
    void fillPTList(platform::Array& list, std::uint64_t fromMBRAt, std::uint64_t firstExtOffset);

    // After a GUID table or an MBR: every "Apple_HFS" volume whose header
    // says "H+" or "HX" gets the name of its root folder.
    void getVolumeNamesGPT();
    // After an Apple map: HFS volumes get the name from their master
    // directory block, then (for an embedded HFS+ volume) the root folder's
    // name; plain HFS+ volumes the root folder's name.
    void getVolumeNamesPM();

private:
    enum class Scheme { None, GPT, MBR, PM };
    // The scheme the first two sectors show.
    Scheme scheme();
    // Every used entry of the MBR and of its chain of extended records, as
    // fillPTList gives them.
    platform::Array mbrEntries();
    // Every used entry of the GUID partition table, or of the Apple map
    // (the map's own entry left out), in table order.
    void walkGPT(const std::function<void(const GUIDPartitionTableEntry&)>& take);
    void walkPM(const std::function<void(const PartitionMap&)>& take);

    // One copy of a GUID table, the primary or the backup: its header and
    // its entry array as far as it could be read.
    struct GPTCopy {
        GUIDPartitionTableHeader header;
        bool headerChecksum = false;
        std::uint32_t entrySize = 0;
        std::uint64_t entriesPerSector = 0;
        std::uint64_t count = 0;           // entries held, cut to what fits
        std::vector<std::uint8_t> entries; // count x entrySize bytes; zeros where a sector could not be read
        std::vector<bool> sectorRead;      // per sector of the array
        bool arrayChecksum = false;

        bool sound() const { return headerChecksum && arrayChecksum; }
        bool entryRead(std::uint64_t i) const { return i < count && sectorRead[i / entriesPerSector]; }
        platform::ByteView entry(std::uint64_t i) const {
            return platform::ByteView(entries).sub(static_cast<std::size_t>(i * entrySize),
                                                   partitions::kGPTEntryMinSize);
        }
    };
    // The header in `sector`, nothing when it cannot be read or is no GUID
    // table header; its entries not yet read.
    std::optional<GPTCopy> readGPTHeader(std::uint64_t sector);
    // The entries the header of `copy` points to, as many as fit in front of
    // `limit` (the primary's first usable sector, the backup's header).
    void readGPTEntries(GPTCopy& copy, std::uint64_t limit);
    // The backup header in the medium's last sector, when it holds its own
    // checksum and place; its entries not yet read.
    std::optional<GPTCopy> readBackupGPTHeader();
    // Where the tools put the primary's entries: right after its header.
    static constexpr std::uint64_t kPrimaryGPTEntriesSector = 2;
    // Every used entry of `copy`, those in sectors it could not read taken
    // from `other` when it has them.
    void takeGPTEntries(const GPTCopy& copy, const GPTCopy* other,
                        const std::function<void(const GUIDPartitionTableEntry&)>& take);

    // Bytes [offset, offset + length) of the sectors from `sector` on, read
    // whole into a zeroed buffer: zeros where the read failed or the medium
    // ended.
    std::vector<std::uint8_t> readBytes(std::uint64_t sector, std::uint64_t offset, std::size_t length);
    // One sector of a table; nothing when it could not be read. Past the
    // medium's end it reads as zeros: nothing is there, and nothing failed.
    std::optional<std::vector<std::uint8_t>> readRecord(std::uint64_t sector);
    // onMedium for this drive, saying in the log what it cut or passed over.
    std::optional<Span> onThisMedium(Span span) const;
    // Appends the volume dictionary of one HFS partition with the drive's
    // keys to volumePMArray, cut to the medium.
    void listVolume(std::uint64_t start, std::uint64_t sectors, const std::string& name);
    // The root folder's name of the HFS+ volume at HPlusVolStart, reading
    // its header, B-tree header nodes and first catalog leaf; nothing when
    // any of them cannot be read or makes no sense.
    std::optional<std::string> rootFolderName(bool testSignature);
    // readBytes as the reader of the volume's B-tree nodes, for the node
    // mapping and extents lookup these tables share with the other HFS+
    // readers.
    HFSPlusDriveGeometry::SectorReader nodeReader();

    DMedia& media_;
};
