#pragma once

// The deleted-file scan of an HFS+ (or HFSX, or HFS-wrapped) volume: files
// and folders whose catalog records have gone from the live catalog but
// survive in older copies of catalog leaf nodes inside the volume's journal.
//
// First the live catalog is read for its file records alone (the live-file
// index), then the journal is examined sector by sector for copies of
// catalog leaf nodes. Every folder record of such a copy is taken as the
// skeleton the deleted files hang on; a file record is taken unless the live
// catalog holds the same file unchanged (same ID, size and name). Journal
// records come in journal order, so an entry whose parent comes later waits
// in the orphan index for the orphan pass. Everything made here is marked
// deleted.
//
// Journal copies are untrusted nodes: a record is only read where its
// offset, its key, its name and its data lie inside the node in front of the
// offset table, and a structurally bad record ends the node (a name longer
// than its key loses only its own record). A sector of a copy that could not
// be read costs only the records that meet it (LeafNodeRecords); a file
// that meets it only with its resource fork is taken, marked incomplete. A
// file's extents that leave the volume are dropped and the file marked
// incomplete.
// No link of a copy is ever followed; the journal is read straight through.

#include "hfsplus/HFSPlusReaderState.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Volume;
class JournalSectorReader;
struct NewDir;

class DeletedFileScan {
public:
    explicit DeletedFileScan(HFSPlusReaderState& state) noexcept;
    ~DeletedFileScan();

    // Finds the catalog's leaf nodes the way the normal scan does, then runs
    // the live-file pass when the catalog has a first leaf and a node size.
    void startMakingTreeDeletedFileScan();
    // The live-file pass with the progress tick running. Always true.
    bool makeTreeDeletedFileScan();
    // The live-file pass: every valid live file record into btreeNormalScan.
    bool readFilesAndFoldersDeletedFileScan();
    // Reads the journal sector by sector and takes the records of every copy
    // of a catalog leaf node found there. Starts the progress tick; the
    // caller stops it.
    void searchCatFragsForDeletedFiles();
    // Reads one journal copy of a catalog leaf node whose first sector is
    // given and adds its records; the time text goes with its progress.
    void processCatFragForDeletedFiles(std::uint64_t sector, const std::optional<std::string>& timeRemaining);

private:
    // What a record of the node in the buffer does to the node's walk.
    enum class Next { Record, EndNode };
    // The record's data begins at dataOffset; nothing of it may reach
    // beyond `limit`, the last byte in front of the offset table. A file
    // whose resource fork was not read is taken without it, and marked.
    Next takeFolder(std::size_t dataOffset, std::uint32_t parentID, const std::u16string& name, std::int64_t limit);
    Next takeFile(std::size_t dataOffset, std::uint32_t parentID, const std::u16string& name, std::int64_t limit,
                  bool resourceForkRead);
    // Under its parent when the parent is in the tree, else parked.
    void attach(NewDir* node, std::uint32_t parentID);
    bool alreadyFound(std::uint32_t id);
    void postNodeEnd(const std::optional<std::string>& timeRemaining);

    Volume& volume_;
    HFSPlusReaderState& state_;
    std::vector<std::uint8_t> buffer_;
    // Serves the journal pass's reads from its batches while it runs.
    std::unique_ptr<JournalSectorReader> journal_;
    // Whether found files can keep their blocks: the record stores sectors
    // per block in 8 bits and the data start sector in 32.
    bool filesRepresentable_ = true;
};
