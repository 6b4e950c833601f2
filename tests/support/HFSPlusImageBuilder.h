#pragma once

// Builds HFS+ and HFSX volume images in memory for the tests.
//
// No Linux tool writes journaled HFS+, leaves deleted catalog records in a
// journal, keeps more than eight extents of a fork in the extents-overflow
// file or leaves stale catalog leaf nodes in free blocks, yet those are what
// the deep-recovery passes live on. This builder writes them on purpose, field
// by field through big-endian writers (the mirror of the decoders in
// formats/HFSPlusStructures.h), and keeps a manifest of everything it wrote so
// a test can compare what a scan found with what is really there and read the
// bytes of any file back.
//
// How it is used:
//
//     HFSPlusImageBuilder b({.volumeName = "Test", .journaled = true});
//     auto docs = b.addFolder(kRoot, "Docs");
//     auto a = b.addFile(docs, "a.txt", HFSPlusImageBuilder::patternData(10000, 1));
//     auto gone = b.addDeletedFileInJournal(docs, "gone.bin",
//                                           HFSPlusImageBuilder::patternData(50000, 2), 12);
//     std::vector<std::uint8_t> image = b.build();
//     const auto& m = b.manifest();   // ids, names, sizes, extents, states
//     const auto& l = b.layout();     // where nodes, journal and volume lie
//
// Layout of a volume: allocation block 0 holds the boot blocks and the volume
// header; then come the allocation bitmap file, the extents-overflow B-tree,
// the catalog B-tree (each of a size fixed by the options, so data can be
// placed while entries are added), the journal info block and the journal
// when journaled, then file data in the order the files were added. The last
// allocation block holds the alternate volume header. Every block of the
// metadata and of live files is marked used in the bitmap; the blocks of
// deleted files, of stale nodes and the one-block gaps between the extents of
// a fragmented fork stay free.
//
// IDs: user catalog node IDs are handed out from 16 up; the *WithID calls take
// any ID (they move the next free ID beyond it), so a test can write parent
// cycles, self-parents, parents that do not exist or parents that are files.
// The builder never checks such choices: it writes what it is told.
//
// Everything here throws std::runtime_error (or std::invalid_argument) when a
// request cannot be met (volume too small, catalog full, bad option), so a
// badly set-up test fails loudly instead of building a different image.

#include "formats/HFSPlusStructures.h"

#include <array>
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
    // The key.
    std::uint32_t keyParentID = 0;
    HFSName keyName;
    // When set, written as the key's name length instead of the real one
    // (only that many units are written, at most those there are).
    std::optional<std::uint16_t> storedNameLength;

    // Folder and file records.
    std::uint32_t id = 0; // folder ID or file ID
    std::uint16_t flags = 0;
    std::uint32_t valence = 0; // folders only
    std::uint32_t createDate = 0;
    std::uint32_t contentModDate = 0;
    std::uint32_t attributeModDate = 0;
    std::uint32_t accessDate = 0;
    std::uint32_t backupDate = 0;
    std::uint32_t ownerID = 0;
    std::uint32_t groupID = 0;
    std::uint16_t fileMode = 0; // BSD mode, type bits included
    std::array<std::uint8_t, 16> finderInfo{};
    HFSForkSpec dataFork;     // files only
    HFSForkSpec resourceFork; // files only

    // Thread records: the entry's own ID is keyParentID, the key name empty.
    std::uint32_t threadParentID = 0;
    HFSName threadName;
};

// One extents-overflow leaf record: eight descriptors continuing a fork.
struct HFSExtentsRecord {
    std::uint8_t forkType = hfsplus::kDataFork;
    std::uint32_t fileID = 0;
    std::uint32_t startBlock = 0;   // fork-relative block where these extents begin
    std::vector<HFSExtent> extents; // at most eight; missing ones are written zero
};

// Where a node written outside the B-trees' own nodes lies.
struct HFSNodePlacement {
    std::uint64_t volumeOffset = 0; // bytes from the start of the HFS+ volume
    std::uint64_t imageOffset = 0;  // bytes from the start of the image
    std::uint32_t startBlock = 0;   // first allocation block of a stale node; 0 for journal copies
};

struct HFSPlusImageOptions {
    std::uint32_t sectorSize = 512;       // 512 or 4096: the device sector the readers use
    std::uint32_t blockSize = 4096;       // allocation block size, a multiple of 512
    std::uint32_t catalogNodeSize = 4096; // 512 .. 32768, a power of two
    std::uint32_t extentsNodeSize = 4096; // 512 .. 32768, a power of two
    std::uint64_t totalSize = 8u << 20;   // bytes of the HFS+ volume, a multiple of blockSize
    bool hfsx = false;                    // "HX" signature, version 5
    bool hfsxCaseFolding = false;         // HFSX only: key compare type 0xCF instead of binary 0xBC
    std::string volumeName = "Untitled";
    bool journaled = false;

    // Catalog file: total nodes (0: as many as 256 KiB holds, at least 32)
    // and the number of extents it is written in (more than eight puts the
    // rest in extents-overflow records of file ID 4).
    std::uint32_t catalogNodeCount = 0;
    std::uint32_t catalogExtentCount = 1;
    // Extents-overflow file: total nodes (0: 16).
    std::uint32_t extentsNodeCount = 0;
    // At most this many records in one catalog leaf or index node (0: as
    // many as fit), to get several leaves or index levels from few entries.
    std::uint32_t maxRecordsPerLeaf = 0;
    std::uint32_t maxRecordsPerIndexNode = 0;
    // Write a file thread record for every file (and flag the file record
    // with "thread exists"); folders always get one unless their entry
    // options say otherwise. Sleuth Kit finds files by ID through them.
    bool fileThreads = true;
    // An attributes B-tree with a header node and no records; absent when
    // false (an all-zero fork in the volume header).
    bool attributesFile = false;

    // Journal (only when journaled).
    std::uint64_t journalSize = 256u << 10;    // bytes, header included; a multiple of blockSize
    std::uint32_t journalBlockListSize = 4096; // bytes of each block list header, a multiple of sectorSize
    bool journalBigEndian = false;             // journals of Intel Macs are little-endian
    // True: the header's start equals its end (every transaction was
    // checkpointed, the copies are stale). False: start names the first
    // transaction, so the transactions would be replayed.
    bool journalClean = true;
    // Offset of the first transaction inside the journal (0: right after the
    // journal header). Put near the end of the journal, transactions wrap
    // around to the start of the circular buffer as the format has it.
    std::uint64_t journalFirstTransactionOffset = 0;
    enum class JournalDamage {
        None,
        NoInfoBlock,      // journaled attribute set, journal info block number 0
        InfoBlockPastEnd, // info block number beyond the volume's last block
        OffsetPastEnd,    // info block's journal offset beyond the volume's end
        SizePastEnd,      // info block's journal size reaching past the volume's end
    };
    JournalDamage journalDamage = JournalDamage::None;

    // Wrapping.
    enum class Wrapping {
        Plain,      // the HFS+ volume alone
        HFSWrapper, // an HFS volume whose master directory block embeds the HFS+ volume
    };
    Wrapping wrapping = Wrapping::Plain;
    // HFS wrapper geometry: first 512-byte sector of the wrapper's allocation
    // block 0 (drAlBlSt; left as the public format counts it, in 512-byte
    // units), the wrapper's allocation block size and the wrapper block where
    // the embedded volume begins. The embedded volume's size is totalSize.
    // With 4096-byte sectors it must be a multiple of 8 for the embedded
    // volume to start on a whole device sector.
    std::uint16_t wrapperAllocationStart = 8;
    std::uint32_t wrapperBlockSize = 4096;
    std::uint16_t wrapperEmbedStartBlock = 1;

    // Placing the volume (or wrapper) inside a bigger disk image: byte offset
    // of its start (a multiple of sectorSize) and the disk's total size (0:
    // offset + volume, nothing after it).
    std::uint64_t diskOffset = 0;
    std::uint64_t diskSize = 0;

    // Dates written when an entry does not give its own (HFS+ seconds since
    // 1904; never 0, which the readers take as a damaged record).
    std::uint32_t defaultDate = 0xD5000000u;
};

// Options of a folder or file entry.
struct HFSEntryOptions {
    // Dates; 0 takes the builder's default date.
    std::uint32_t createDate = 0;
    std::uint32_t contentModDate = 0;
    std::uint32_t attributeModDate = 0;
    std::uint32_t accessDate = 0;
    std::uint32_t backupDate = 0;
    // Write the entry's thread record (live entries only; for files also
    // needs options.fileThreads, unless forced true here).
    std::optional<bool> thread;
};

struct HFSFileOptions : HFSEntryOptions {
    // Extents of the data fork: the data is cut into this many runs with a
    // free block between runs. More than eight puts the rest in
    // extents-overflow records. Must not exceed the fork's blocks.
    std::uint32_t extentCount = 1;
    std::vector<std::uint8_t> resourceFork;
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
        std::vector<std::uint8_t> data;
        std::vector<std::uint8_t> resource;
        // Where the entry's records are: in the live catalog, or not (a
        // deleted entry, whose data blocks are free), and which copies exist.
        bool live = false;
        bool deleted = false;
        bool inJournal = false;         // a journal copy of a leaf node holds its record
        bool inStaleNode = false;       // a stale leaf node in free blocks holds it
        bool inCatalogFreeNode = false; // a free node of the catalog file holds it
        bool hasThread = false;         // a thread record in the live catalog
        // Allocation blocks of the forks, in file order, from the HFS+
        // volume's start; the blocks of a fork are totalBlocks of it.
        std::vector<HFSExtent> dataExtents;
        std::vector<HFSExtent> resourceExtents;
        std::uint32_t dataTotalBlocks = 0;
        std::uint32_t resourceTotalBlocks = 0;
        std::uint32_t createDate = 0;
        std::uint32_t contentModDate = 0;
    };

    // Where everything ended up; complete after build().
    struct Layout {
        std::uint64_t imageSize = 0;
        std::uint64_t containerOffset = 0; // byte offset of the volume or of its HFS wrapper
        std::uint64_t volumeOffset = 0;    // byte offset of the HFS+ volume (the embedded one in a wrapper)
        std::uint64_t volumeSize = 0;
        std::uint32_t sectorSize = 0;
        std::uint32_t blockSize = 0;
        std::uint32_t totalBlocks = 0;
        std::uint32_t freeBlocks = 0;
        std::vector<HFSExtent> allocationFile;
        std::vector<HFSExtent> extentsFile;
        std::vector<HFSExtent> catalogFile;
        std::vector<HFSExtent> attributesFile;

        std::uint32_t catalogNodeSize = 0;
        std::uint32_t catalogTotalNodes = 0;
        std::uint32_t catalogFreeNodes = 0;
        std::uint32_t catalogRootNode = 0;
        std::uint32_t catalogDepth = 0;
        std::uint32_t catalogLeafRecords = 0;
        std::vector<std::uint32_t> catalogLeafNodes;               // in chain order
        std::vector<std::vector<std::uint32_t>> catalogIndexNodes; // per level, from level 2 up
        std::vector<std::uint32_t> catalogFragmentNodes;           // free nodes holding fragments

        std::uint32_t extentsNodeSize = 0;
        std::uint32_t extentsTotalNodes = 0;
        std::uint32_t extentsRootNode = 0;
        std::uint32_t extentsDepth = 0;
        std::uint32_t extentsLeafRecords = 0;
        std::vector<std::uint32_t> extentsLeafNodes;

        std::uint32_t journalInfoBlock = 0;                // as written in the volume header
        std::uint64_t journalOffset = 0;                   // as written in the info block (volume-relative bytes)
        std::uint64_t journalSize = 0;                     // as written in the info block
        std::vector<HFSNodePlacement> journalCatalogNodes; // copies, in journal order
        std::vector<HFSNodePlacement> journalExtentsNodes;
        std::vector<HFSNodePlacement> staleNodes;

        // Byte offset of a catalog node from the volume's start (by the
        // catalog's extents); 0 when the node lies beyond them.
        std::uint64_t catalogNodeOffset(std::uint32_t node) const;
        std::uint64_t extentsNodeOffset(std::uint32_t node) const;
        // The device sector (of sectorSize bytes, counted from the image's
        // start) where the HFS+ volume begins.
        std::uint64_t volumeStartSector() const { return sectorSize ? volumeOffset / sectorSize : 0; }
    };

    explicit HFSPlusImageBuilder(HFSPlusImageOptions options = {});

    const HFSPlusImageOptions& options() const { return options_; }

    // ---- live catalog ----
    std::uint32_t addFolder(std::uint32_t parentID, const HFSName& name, const HFSEntryOptions& options = {});
    std::uint32_t addFolderWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                  const HFSEntryOptions& options = {});
    std::uint32_t addFile(std::uint32_t parentID, const HFSName& name, std::vector<std::uint8_t> data,
                          const HFSFileOptions& options = {});
    std::uint32_t addFileWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                std::vector<std::uint8_t> data, const HFSFileOptions& options = {});
    // An extra leaf record in the live catalog, written as it stands (a
    // thread without its entry, a record with a bogus name length ...). It
    // takes its place in key order; no entry is made for it.
    void addLiveCatalogRecord(const HFSCatalogRecord& record);

    // ---- deleted entries ----
    // A deleted entry has no record in the live catalog; a file's data is
    // written into blocks left free in the bitmap. Where its record survives
    // is chosen with the calls below (a journal copy, a stale node ...).
    std::uint32_t addDeletedFolder(std::uint32_t parentID, const HFSName& name, const HFSEntryOptions& options = {});
    std::uint32_t addDeletedFolderWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                         const HFSEntryOptions& options = {});
    std::uint32_t addDeletedFile(std::uint32_t parentID, const HFSName& name, std::vector<std::uint8_t> data,
                                 const HFSFileOptions& options = {});
    std::uint32_t addDeletedFileWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                       std::vector<std::uint8_t> data, const HFSFileOptions& options = {});

    // ---- the journal (journaled volumes) ----
    // The journal holds transactions in the order they are made; each holds
    // copies of catalog leaf nodes (the records given, split over as many
    // nodes as needed, sorted by key inside each node) and then copies of
    // extents-overflow leaf nodes (the overflow records of the files whose
    // records were added with their overflow). Records go into the current
    // transaction until endJournalTransaction() starts the next one.
    //
    // addDeletedFileInJournal = addDeletedFile + addJournalCopyOf, the file
    // cut into extentCount extents.
    std::uint32_t addDeletedFileInJournal(std::uint32_t parentID, const HFSName& name, std::vector<std::uint8_t> data,
                                          std::uint32_t extentCount = 1);
    std::uint32_t addDeletedFolderInJournal(std::uint32_t parentID, const HFSName& name);
    // A copy of an entry's folder or file record (live or deleted, as
    // recordOf gives it) into the current transaction; with its overflow
    // records (both forks) into the transaction's extents node copy.
    void addJournalCopyOf(std::uint32_t id, bool withOverflowRecords = true);
    // Crafted records into the current transaction (a live file's record
    // with another size or name, ".DS_Store", zero dates ...). Crafted
    // records leave the manifest's flags alone; only the *Of calls and
    // addJournalCopyOf set inJournal, inStaleNode and inCatalogFreeNode.
    void addJournalRecords(const std::vector<HFSCatalogRecord>& records);
    void addJournalExtentsRecords(const std::vector<HFSExtentsRecord>& records);
    void endJournalTransaction();
    // An extents-node copy is recognised by the key lengths of its first two
    // records; a node with a single record therefore gets a second one for a
    // file ID nobody has (0xFFFFFF00), unless this is switched off.
    void setPadSingleRecordExtentsCopies(bool pad) { padSingleExtents_ = pad; }

    // ---- catalog fragments ----
    // A leaf node holding these records written into free allocation blocks
    // outside every B-tree (the node's own blocks stay free in the bitmap).
    HFSNodePlacement addStaleLeafNode(const std::vector<HFSCatalogRecord>& records);
    // The same with the records recordOf gives for these entries.
    HFSNodePlacement addStaleLeafNodeOf(const std::vector<std::uint32_t>& ids);
    // A leaf node written into a free node of the catalog file (marked free
    // in the header node's map). Its node number is known after build():
    // layout().catalogFragmentNodes lists them in call order.
    void addCatalogFreeNodeFragment(const std::vector<HFSCatalogRecord>& records);
    void addCatalogFreeNodeFragmentOf(const std::vector<std::uint32_t>& ids);

    // ---- records ----
    // The folder or file record written for an entry (live or deleted), and
    // its thread record.
    HFSCatalogRecord recordOf(std::uint32_t id) const;
    HFSCatalogRecord threadRecordOf(std::uint32_t id) const;
    // The overflow records of an entry's forks (empty with eight extents or fewer).
    std::vector<HFSExtentsRecord> overflowRecordsOf(std::uint32_t id) const;

    // ---- damage, applied by build() ----
    void damageZeroCatalogHeaderNode();
    void damageZeroExtentsHeaderNode();
    // Zero a catalog node by number (an index node, a leaf ...).
    void damageZeroCatalogNode(std::uint32_t node);
    // Forward link of the leaf at this place of the leaf chain (0 = first
    // leaf) set to any value (0, a bogus node number, a node behind it).
    void damageCatalogLeafForwardLink(std::size_t leafIndex, std::uint32_t link);
    // The leaf at `toLeaf` links forward to the leaf at `fromLeaf`
    // (fromLeaf < toLeaf makes the chain loop; with adjacent leaves the two
    // link to each other).
    void damageCatalogLeafLoop(std::size_t fromLeaf, std::size_t toLeaf);
    // Zero the primary volume header (the embedded volume's in a wrapper):
    // only the alternate header remains.
    void damageZeroPrimaryHeader();
    void damageZeroAlternateHeader();
    // Zero the HFS wrapper's master directory block at 1024.
    void damageZeroWrapperMDB();

    // ---- output ----
    std::vector<std::uint8_t> build();
    // build() and write the image to a file; answers the path.
    std::filesystem::path writeTo(const std::filesystem::path& path);

    // Every entry in the order added (valid at once; extents are placed when
    // an entry is added).
    const std::vector<Entry>& manifest() const { return entries_; }
    const Entry* entry(std::uint32_t id) const;
    const Entry* entryNamed(const HFSName& name) const; // first with this name
    std::vector<const Entry*> liveEntries() const;
    std::vector<const Entry*> deletedEntries() const;
    const Layout& layout() const { return layout_; }

    // ---- helpers ----
    // Deterministic bytes for file contents.
    static std::vector<std::uint8_t> patternData(std::size_t size, std::uint32_t seed);
    // The bytes of a fork read back from an image through its extents, cut to size.
    static std::vector<std::uint8_t> readFork(const std::vector<std::uint8_t>& image, const Layout& layout,
                                              const std::vector<HFSExtent>& extents, std::uint64_t size);
    // One catalog leaf node of nodeSize bytes holding the records in the
    // order given (no sorting), with these links; throws when they do not fit.
    static std::vector<std::uint8_t> encodeCatalogLeafNode(const std::vector<HFSCatalogRecord>& records,
                                                           std::uint32_t nodeSize, std::uint32_t fLink = 0,
                                                           std::uint32_t bLink = 0);
    static std::vector<std::uint8_t> encodeExtentsLeafNode(const std::vector<HFSExtentsRecord>& records,
                                                           std::uint32_t nodeSize, std::uint32_t fLink = 0,
                                                           std::uint32_t bLink = 0);
    // One catalog leaf record (key and data) as written in a node.
    static std::vector<std::uint8_t> encodeCatalogRecord(const HFSCatalogRecord& record);
    // Key order of the catalog: parent ID, then the name compared with ASCII
    // case folding (HFS+ and case-folding HFSX) or by units (binary HFSX).
    static int compareCatalogKeys(std::uint32_t parentA, const std::u16string& nameA, std::uint32_t parentB,
                                  const std::u16string& nameB, bool binary);

private:
    struct EntryRecordInfo {
        HFSEntryOptions options;
        bool threadWanted = false;
    };
    std::uint32_t newID(std::uint32_t id);
    Entry& makeEntry(std::uint32_t id, std::uint32_t parentID, const HFSName& name, Kind kind,
                     const HFSEntryOptions& options, bool live);
    std::uint32_t addFileEntry(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                               std::vector<std::uint8_t> data, const HFSFileOptions& options, bool live);
    void placeForks(Entry& e, const HFSFileOptions& options, bool used);
    std::vector<HFSExtent> allocateRuns(std::uint32_t blocks, std::uint32_t runs, bool used, std::uint32_t unit = 1);
    std::uint32_t allocateContiguous(std::uint32_t blocks, bool used);
    void writeForkData(const std::vector<HFSExtent>& extents, const std::vector<std::uint8_t>& data);
    Entry& mutableEntry(std::uint32_t id);
    const Entry& existingEntry(std::uint32_t id) const;
    void reserveMetadata();
    std::uint32_t valenceOf(std::uint32_t id, bool live) const;
    std::vector<std::uint8_t> buildVolume(); // the HFS+ volume's bytes, damage applied

    HFSPlusImageOptions options_;
    std::vector<Entry> entries_;
    std::map<std::uint32_t, std::size_t> entryIndex_;
    std::map<std::uint32_t, EntryRecordInfo> recordInfo_;
    std::vector<HFSCatalogRecord> extraLiveRecords_;
    std::vector<std::vector<HFSCatalogRecord>> journalCatalogRecords_; // per transaction
    std::vector<std::vector<HFSExtentsRecord>> journalExtentsRecords_; // per transaction
    std::vector<std::vector<HFSCatalogRecord>> freeNodeFragments_;
    bool padSingleExtents_ = true;

    std::vector<std::uint8_t> volume_; // the HFS+ volume's bytes: file data and stale nodes
    std::vector<bool> used_;           // allocation bitmap, one per block
    std::uint32_t totalBlocks_ = 0;
    std::uint32_t cursor_ = 0;    // next block for data
    std::uint32_t dataLimit_ = 0; // first block of the tail holding the alternate header
    std::uint32_t nextID_ = kFirstUserID;
    std::uint32_t journalInfoBlock_ = 0;
    std::uint32_t journalStartBlock_ = 0;

    Layout layout_;

    struct Damage {
        bool zeroCatalogHeader = false;
        bool zeroExtentsHeader = false;
        std::vector<std::uint32_t> zeroCatalogNodes;
        std::vector<std::pair<std::size_t, std::uint32_t>> leafLinks;
        std::vector<std::pair<std::size_t, std::size_t>> leafLoops;
        bool zeroPrimary = false;
        bool zeroAlternate = false;
        bool zeroWrapperMDB = false;
    } damage_;
};

} // namespace testsupport
