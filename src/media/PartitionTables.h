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
// count is cut to what fits before the first usable sector, an Apple map
// holds at most kMaxPMEntries entries and ends at the first entry without
// "PM". Sector arithmetic is 64-bit and checked, so no table can make a
// read wrap around.
//
// A disk image is often a copy of a failing disk that stopped short, whose
// table still describes the whole disk. A partition that begins past the
// medium's end is not listed, and one that runs past it is listed as far as
// the medium reaches, so a volume made from it never asks for sectors the
// medium does not have; nothing past the end is read for the names either.

#include "media/HFSPlusDriveGeometry.h"
#include "platform/ByteView.h"
#include "platform/Value.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class DMedia;
struct GUIDPartitionTableEntry;
struct PartitionMap;

class PartitionTables {
public:
    explicit PartitionTables(DMedia& media) noexcept : media_(media) {}

    static constexpr std::size_t kMaxExtendedRecords = 128;
    static constexpr std::uint32_t kMaxPMEntries = 256;

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

    // Bytes [offset, offset + length) of the sectors from `sector` on, read
    // whole into a zeroed buffer: zeros where the read failed or the medium
    // ended.
    std::vector<std::uint8_t> readBytes(std::uint64_t sector, std::uint64_t offset, std::size_t length);
    std::vector<std::uint8_t> readOneSector(std::uint64_t sector);
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
