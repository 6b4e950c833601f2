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

#include "formats/HFSPlusStructures.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "platform/ByteView.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

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
    };

    std::uint32_t nextNodeFromLists();
    bool locateRecord(std::uint32_t numRecords, std::uint32_t i, Record& record);
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
    std::chrono::steady_clock::time_point start_{};
    // Whether found files can keep their blocks at all: the record stores
    // sectors per block in 8 bits and the data start sector in 32.
    bool filesRepresentable_ = true;
};
