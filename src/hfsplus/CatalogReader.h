#pragma once

// The normal HFS+ tree scan: walks the catalog's leaf nodes and turns every
// acceptable folder and file record into a node of the found-file tree.
// An entry whose parent folder is already in the tree goes under it at once;
// one whose parent is not (yet) there is parked in the scan's orphan index
// for the orphan passes that run afterwards.
//
// The walk follows the leaf chain from the first leaf. Where the chain ends
// early or leads somewhere that is not a leaf, it goes on with the leaves
// named by the index level above them and, when those run out, with every
// node the leaf sweep of the catalog file found. Nodes already taken are
// remembered by sector and passed over for the next node of the lists, so no
// node is read twice, a cycle of links cannot hold the walk, and a chain
// broken in the middle is picked up again behind the break. In the last of
// these modes the nodes are not trusted at all and
// every record is tested more strictly before it is read; in every mode a
// record is only taken when it, its key and its data lie inside the node,
// in front of the offset table.
//
// A leaf some of whose sectors the medium would not give is read by its
// records (LeafNodeRecords): those lying whole in sectors that were read are
// taken, those meeting a lost sector are passed over and counted, and the
// volume notes that catalog nodes went unread, so the end of the scan points
// to the advanced scan. A file record that meets a lost sector only with its
// resource fork is taken with its data fork and marked damaged. A file whose
// extents the overflow file would hold, on a volume whose extents-overflow
// header node could not be read, keeps the blocks its record names and is
// marked damaged.

#include "formats/HFSPlusStructures.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "platform/ByteView.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class BTreeTableClassUInt32;
class LeafNodeRecords;
class Volume;
struct NewDir;

class CatalogReader {
public:
    explicit CatalogReader(HFSPlusReaderState& state) noexcept : volume_(state.volume), state_(state) {}
    virtual ~CatalogReader() = default;

    // Creates the tree's root and runs the walk with the progress tick
    // running. Always true.
    bool makeTree();
    // The walk over the catalog's leaf nodes. Always true; a stop request
    // ends it with what it has built.
    bool readFilesAndFolders();

protected:
    // The walk and the record checks are shared with the deleted-file scan's
    // live-file pass, which keeps what it finds elsewhere: it overrides what
    // is done with a record that passed.
    enum class Mode { Chain, Total };

    // Where one record of the node in the buffer lies, once it has passed
    // the tests common to folders and files.
    struct Record {
        std::size_t dataOffset = 0; // start of the folder or file record
        std::uint32_t parentID = 0;
        std::int16_t recordType = 0;
        std::u16string name;
        // False for a file record whose resource fork lay in sectors that
        // could not be read: taken without it.
        bool resourceForkRead = true;
    };

    std::uint32_t nextNodeFromLists();
    // Reads the node at `sector` and, when it is a leaf not taken before,
    // takes its records and notes it in `used`. Its descriptor when it was
    // taken (with no forward link where the descriptor could not be read);
    // nothing otherwise.
    std::optional<BTNodeDescriptor_> takeLeaf(std::uint64_t sector, BTreeTableClassUInt32& used);
    // The records of a leaf in the buffer that lie whole in the sectors
    // that were read.
    void takeRecordsThatRead(LeafNodeRecords& records);
    // The record at slot i of the node's offset table.
    bool locateRecord(std::uint32_t numRecords, std::uint32_t i, Record& record);
    // The record at offset r of the node, whose bytes end in front of
    // `table`: the offset table, or where the next record begins.
    bool recordAt(std::size_t r, std::size_t table, Record& record);
    virtual void takeFolder(const Record& record, std::size_t limit);
    virtual void takeFile(const Record& record, std::size_t limit);
    // A record whose name passed, of any type.
    virtual void recordNamed() {}
    // The node of a file record whose sizes and extents agree (extents from
    // the overflow file included), not yet placed anywhere; nullptr when the
    // record fails.
    NewDir* fileNode(const Record& record, std::size_t limit, HFSPlusCatalogFile_& file);
    // Parks an entry whose parent is not in the tree; an ID parked already
    // keeps its first entry and the newcomer is freed.
    void park(std::uint32_t id, NewDir* node);
    // The progress hand-over after each accepted record.
    void recordTaken();
    virtual void postEnd();

    Volume& volume_;
    HFSPlusReaderState& state_;
    std::vector<std::uint8_t> buffer_;
    Mode mode_ = Mode::Chain;
    std::size_t chainPosition_ = 0;
    std::size_t totalPosition_ = 0;
    std::uint64_t recordsMet_ = 0;
    // Files listed without the extents an unreadable overflow tree holds.
    std::uint64_t filesMissingOverflowExtents_ = 0;
    std::chrono::steady_clock::time_point start_{};
    // Whether found files can keep their blocks at all: the record stores
    // sectors per block in 8 bits and the data start sector in 32.
    bool filesRepresentable_ = true;
};
