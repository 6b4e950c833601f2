#pragma once

// Builds HFS+ and HFSX volume images in memory for the tests.
//
// No Linux tool writes journaled HFS+, leaves deleted catalog records in a
// journal, keeps more than eight extents of a fork in the extents-overflow
// file or leaves stale catalog leaf nodes in free blocks, yet those are what
// the deep-recovery passes live on. This builder writes them on purpose, field
// by field (the mirror of the decoders in formats/HFSPlusStructures.h), and
// keeps a manifest of everything it wrote so a test can compare what a scan
// found with what is really there.
//
//     HFSPlusImageBuilder b({.volumeName = "Test", .journaled = true});
//     auto docs = b.addFolder(HFSPlusImageBuilder::kRoot, "Docs");
//     b.addFile(docs, "a.txt", HFSPlusImageBuilder::patternData(10000, 1));
//     b.addDeletedFileInJournal(docs, "gone.bin", HFSPlusImageBuilder::patternData(50000, 2), 12);
//     std::vector<std::uint8_t> image = b.build();
//
// Layout of a volume: allocation block 0 holds the boot blocks and the volume
// header; then come the allocation bitmap, the extents-overflow B-tree (16
// nodes), the catalog B-tree, the journal info block and a 256 KiB journal
// when journaled, then file data in the order the files were added. The last
// allocation block holds the alternate volume header. Every block of the
// metadata and of live files is marked used in the bitmap; the blocks of
// deleted files, of stale nodes and the one-block gaps between the extents of
// a fragmented fork stay free. Every live entry gets a thread record.
//
// IDs: user catalog node IDs are handed out from 16 up; the *WithID calls take
// any ID, so a test can write parent cycles, self-parents, parents that do not
// exist or parents that are files. The builder writes what it is told.
//
// A request that cannot be met (volume too small, catalog full, bad option)
// throws, so a badly set-up test fails loudly instead of building a different
// image.

#include "formats/HFSPlusStructures.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// One run of allocation blocks, counted from the start of the HFS+ volume.
using HFSExtent = HFSPlusExtentDescriptor_;

// A catalog node name, given as UTF-8 or as UTF-16; kept as UTF-16 units,
// as the catalog stores it.
struct HFSName {
    std::u16string units;
    HFSName() = default;
    HFSName(const char* utf8);
    HFSName(const std::string& utf8);
    HFSName(const char16_t* utf16) : units(utf16) {}
    HFSName(std::u16string utf16) : units(std::move(utf16)) {}
    std::string utf8() const;
    bool operator==(const HFSName&) const = default;
};

// One fork of a catalog file record as it is written.
struct HFSForkSpec {
    std::uint64_t logicalSize = 0;
    std::uint32_t clumpSize = 0;
    std::uint32_t totalBlocks = 0;
    // All extents of the fork in file order; only the first eight go into the
    // catalog record, the rest belong in extents-overflow records.
    std::vector<HFSExtent> extents;
};

// One catalog leaf record, free to be crafted: every field is written as it
// stands, sensible or not (zero dates, sizes that disagree with the blocks,
// ".DS_Store", parent 1 ...). recordOf() gives the record the builder writes
// for an entry, as a starting point.
struct HFSCatalogRecord {
    std::int16_t type = hfsplus::kFileRecord; // kFolderRecord .. kFileThreadRecord
    std::uint32_t keyParentID = 0;
    HFSName keyName{};
    // When set, written as the key's name length instead of the real one
    // (only that many units are written, at most those there are).
    std::optional<std::uint16_t> storedNameLength{};

    // Folder and file records.
    std::uint32_t id = 0; // folder ID or file ID
    std::uint16_t flags = 0;
    std::uint32_t valence = 0; // folders only
    std::uint32_t createDate = 0;
    std::uint32_t contentModDate = 0;
    std::uint32_t attributeModDate = 0;
    std::uint32_t accessDate = 0;
    std::uint32_t ownerID = 0;
    std::uint32_t groupID = 0;
    std::uint16_t fileMode = 0; // BSD mode, type bits included
    HFSForkSpec dataFork{};     // files only
    HFSForkSpec resourceFork{}; // files only

    // Thread records: the entry's own ID is keyParentID, the key name empty.
    std::uint32_t threadParentID = 0;
    HFSName threadName{};
};

// One extents-overflow leaf record: eight descriptors continuing a fork.
struct HFSExtentsRecord {
    std::uint8_t forkType = hfsplus::kDataFork;
    std::uint32_t fileID = 0;
    std::uint32_t startBlock = 0;   // fork-relative block where these extents begin
    std::vector<HFSExtent> extents; // at most eight; missing ones are written zero
};

// Where a node copy in the journal lies.
struct HFSNodePlacement {
    std::uint64_t imageOffset = 0; // bytes from the start of the image
};

struct HFSPlusImageOptions {
    std::uint32_t sectorSize = 512;       // 512 or 4096: the device sector the readers use
    std::uint32_t blockSize = 4096;       // allocation block size, a multiple of 512
    std::uint32_t catalogNodeSize = 4096; // 512 .. 32768, a power of two
    std::uint32_t extentsNodeSize = 4096; // 512 .. 32768, a power of two
    std::uint64_t totalSize = 8u << 20;   // bytes of the HFS+ volume, a multiple of blockSize
    bool hfsx = false;                    // "HX" signature, version 5, binary key order
    std::string volumeName = "Untitled";
    bool journaled = false;

    // Catalog file: total nodes (0: as many as 256 KiB holds, at least 32)
    // and the number of extents it is written in (more than eight puts the
    // rest in extents-overflow records of file ID 4).
    std::uint32_t catalogNodeCount = 0;
    std::uint32_t catalogExtentCount = 1;
    // At most this many records in one catalog leaf (0: as many as fit), to
    // get several leaves or index levels from few entries.
    std::uint32_t maxRecordsPerLeaf = 0;

    // The journal's transactions are all checkpointed (start equals end),
    // little-endian as Intel Macs write it.
    enum class JournalDamage {
        None,
        NoInfoBlock,      // journaled attribute set, journal info block number 0
        InfoBlockPastEnd, // info block number beyond the volume's last block
        OffsetPastEnd,    // info block's journal offset beyond the volume's end
        SizePastEnd,      // info block's journal size reaching past the volume's end
    };
    JournalDamage journalDamage = JournalDamage::None;

    enum class Wrapping {
        Plain,      // the HFS+ volume alone
        HFSWrapper, // an HFS volume (4096-byte blocks from sector 8) embedding the HFS+ volume at its block 1
    };
    Wrapping wrapping = Wrapping::Plain;

    // Placing the volume (or wrapper) inside a bigger disk image: byte offset
    // of its start (a multiple of sectorSize) and the disk's total size (0:
    // offset + volume, nothing after it).
    std::uint64_t diskOffset = 0;
    std::uint64_t diskSize = 0;
};

struct HFSFileOptions {
    // Extents of the data fork: the data is cut into this many runs with a
    // free block between runs. More than eight puts the rest in
    // extents-overflow records. Must not exceed the fork's blocks.
    std::uint32_t extentCount = 1;
    std::vector<std::uint8_t> resourceFork{};
    std::uint32_t resourceExtentCount = 1;
};

class HFSPlusImageBuilder {
public:
    static constexpr std::uint32_t kRoot = hfsplus::kRootFolderID;
    static constexpr std::uint32_t kFirstUserID = 16;

    enum class Kind { Folder, File };

    // One entry the builder wrote, or wrote only the traces of.
    struct Entry {
        std::uint32_t id = 0;
        std::uint32_t parentID = 0;
        HFSName name;
        Kind kind = Kind::File;
        std::uint64_t size = 0; // data fork bytes; 0 for folders
        std::vector<std::uint8_t> data{};
        std::vector<std::uint8_t> resource{};
        // In the live catalog, or deleted (its data blocks are free).
        bool live = false;
        // Allocation blocks of the forks, in file order, from the HFS+
        // volume's start; the blocks of a fork are totalBlocks of it.
        std::vector<HFSExtent> dataExtents{};
        std::vector<HFSExtent> resourceExtents{};
        std::uint32_t dataTotalBlocks = 0;
        std::uint32_t resourceTotalBlocks = 0;
    };

    // Where everything ended up; complete after build().
    struct Layout {
        std::uint64_t imageSize = 0;
        std::uint64_t containerOffset = 0; // byte offset of the volume or of its HFS wrapper
        std::uint64_t volumeOffset = 0;    // byte offset of the HFS+ volume (the embedded one in a wrapper)
        std::uint32_t sectorSize = 0;
        std::uint32_t blockSize = 0;
        std::uint32_t freeBlocks = 0;
        std::vector<HFSExtent> catalogFile;
        std::uint32_t catalogNodeSize = 0;
        std::uint32_t catalogDepth = 0;
        std::uint32_t journalInfoBlock = 0;                // as written in the volume header
        std::vector<HFSNodePlacement> journalCatalogNodes; // copies, in journal order
        std::vector<HFSNodePlacement> journalExtentsNodes;

        // The device sector (of sectorSize bytes, counted from the image's
        // start) where the HFS+ volume begins.
        std::uint64_t volumeStartSector() const { return sectorSize ? volumeOffset / sectorSize : 0; }
    };

    explicit HFSPlusImageBuilder(HFSPlusImageOptions options = {});

    const HFSPlusImageOptions& options() const { return options_; }

    // ---- live catalog ----
    std::uint32_t addFolder(std::uint32_t parentID, const HFSName& name) { return addFolderWithID(0, parentID, name); }
    std::uint32_t addFolderWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name) {
        return makeEntry(id, parentID, name, Kind::Folder, true).id;
    }
    std::uint32_t addFile(std::uint32_t parentID, const HFSName& name, std::vector<std::uint8_t> data,
                          const HFSFileOptions& options = {}) {
        return addFileEntry(0, parentID, name, std::move(data), options, true);
    }
    std::uint32_t addFileWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                std::vector<std::uint8_t> data, const HFSFileOptions& options = {}) {
        return addFileEntry(id, parentID, name, std::move(data), options, true);
    }

    // ---- deleted entries ----
    // A deleted entry has no record in the live catalog; a file's data is
    // written into blocks left free in the bitmap. Where its record survives
    // is chosen with the calls below (a journal copy, a stale node).
    std::uint32_t addDeletedFolder(std::uint32_t parentID, const HFSName& name) {
        return addDeletedFolderWithID(0, parentID, name);
    }
    std::uint32_t addDeletedFolderWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name) {
        return makeEntry(id, parentID, name, Kind::Folder, false).id;
    }
    std::uint32_t addDeletedFile(std::uint32_t parentID, const HFSName& name, std::vector<std::uint8_t> data,
                                 const HFSFileOptions& options = {}) {
        return addFileEntry(0, parentID, name, std::move(data), options, false);
    }
    std::uint32_t addDeletedFileWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                       std::vector<std::uint8_t> data, const HFSFileOptions& options = {}) {
        return addFileEntry(id, parentID, name, std::move(data), options, false);
    }

    // ---- the journal (journaled volumes) ----
    // The journal holds transactions in the order they are made; each holds
    // copies of catalog leaf nodes (the records given, split over as many
    // nodes as needed, sorted by key inside each node) and then copies of
    // extents-overflow leaf nodes. Records go into the current transaction
    // until endJournalTransaction() starts the next one. An extents-node copy
    // is recognised by the key lengths of its first two records, so a copy
    // with a single record gets a second one for file ID 0xFFFFFF00.
    //
    // addDeletedFileInJournal = addDeletedFile + addJournalCopyOf, the file
    // cut into extentCount extents.
    std::uint32_t addDeletedFileInJournal(std::uint32_t parentID, const HFSName& name, std::vector<std::uint8_t> data,
                                          std::uint32_t extentCount = 1);
    // A copy of an entry's record (live or deleted, as recordOf gives it)
    // into the current transaction, with its overflow records.
    void addJournalCopyOf(std::uint32_t id);
    // Crafted records into the current transaction (a live file's record
    // with another size or name, ".DS_Store", zero dates ...).
    void addJournalRecords(const std::vector<HFSCatalogRecord>& records);
    void addJournalExtentsRecords(const std::vector<HFSExtentsRecord>& records);
    void endJournalTransaction();

    // A leaf node holding the records of these entries written into free
    // allocation blocks outside every B-tree.
    void addStaleLeafNodeOf(const std::vector<std::uint32_t>& ids);

    // The folder or file record written for an entry (live or deleted), and
    // the overflow records of its forks (empty with eight extents or fewer).
    HFSCatalogRecord recordOf(std::uint32_t id) const;
    std::vector<HFSExtentsRecord> overflowRecordsOf(std::uint32_t id) const;

    // ---- damage, applied by build() ----
    void damageZeroCatalogHeaderNode() { damage_.zeroCatalogHeader = true; }
    // The leaf at `toLeaf` of the leaf chain links forward to the leaf at
    // `fromLeaf` (fromLeaf < toLeaf makes the chain loop).
    void damageCatalogLeafLoop(std::size_t fromLeaf, std::size_t toLeaf) {
        damage_.leafLoops.emplace_back(fromLeaf, toLeaf);
    }
    // Zero the primary volume header: only the alternate header remains.
    void damageZeroPrimaryHeader() { damage_.zeroPrimary = true; }

    // ---- output ----
    std::vector<std::uint8_t> build();
    // build() and write the image to a file; answers the path.
    std::filesystem::path writeTo(const std::filesystem::path& path);

    // Every entry in the order added (extents are placed when it is added).
    const std::vector<Entry>& manifest() const { return entries_; }
    const Entry* entry(std::uint32_t id) const;
    const Entry* entryNamed(const HFSName& name) const; // first with this name
    const Layout& layout() const { return layout_; }

    // Deterministic bytes for file contents.
    static std::vector<std::uint8_t> patternData(std::size_t size, std::uint32_t seed);
    // One catalog leaf node of nodeSize bytes holding the records in the
    // order given (no sorting); throws when they do not fit.
    static std::vector<std::uint8_t> encodeCatalogLeafNode(const std::vector<HFSCatalogRecord>& records,
                                                           std::uint32_t nodeSize);

private:
    Entry& makeEntry(std::uint32_t id, std::uint32_t parentID, const HFSName& name, Kind kind, bool live);
    std::uint32_t addFileEntry(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                               std::vector<std::uint8_t> data, const HFSFileOptions& options, bool live);
    std::vector<HFSExtent> allocateRuns(std::uint32_t blocks, std::uint32_t runs, bool used, std::uint32_t unit = 1);
    std::uint32_t allocateContiguous(std::uint32_t blocks, bool used);
    std::vector<HFSExtent> placeFork(const std::vector<std::uint8_t>& data, std::uint32_t runs, bool used);
    const Entry& existingEntry(std::uint32_t id) const;
    std::uint64_t catalogNodeOffset(std::uint32_t node) const;
    std::vector<std::uint8_t> buildVolume(); // the HFS+ volume's bytes, damage applied

    HFSPlusImageOptions options_;
    std::vector<Entry> entries_;
    std::map<std::uint32_t, std::size_t> entryIndex_;
    std::vector<std::vector<HFSCatalogRecord>> journalCatalogRecords_; // per transaction
    std::vector<std::vector<HFSExtentsRecord>> journalExtentsRecords_; // per transaction

    std::vector<std::uint8_t> volume_; // the HFS+ volume's bytes: file data and stale nodes
    std::vector<bool> used_;           // allocation bitmap, one per block
    std::uint32_t totalBlocks_ = 0;
    std::uint32_t cursor_ = 0;    // next block for data
    std::uint32_t dataLimit_ = 0; // first block of the tail holding the alternate header
    std::uint32_t nextID_ = kFirstUserID;
    std::vector<HFSExtent> allocationFile_, extentsFile_;
    std::uint32_t extentsNodes_ = 0, catalogNodes_ = 0; // total nodes of the two trees
    std::uint32_t journalInfoBlock_ = 0, journalStart_ = 0;

    Layout layout_;

    struct Damage {
        bool zeroCatalogHeader = false;
        bool zeroPrimary = false;
        std::vector<std::pair<std::size_t, std::size_t>> leafLoops;
    } damage_;
};

} // namespace testsupport
