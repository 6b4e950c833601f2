#pragma once

// The auto-recovery pair, from which a signature search that was cut short
// (the program killed, the machine down, the drive gone) goes on where it
// stopped. Just before a search starts, the snapshot file gets the scanned
// volume, the wizard's choices, the marked types' extensions, the first
// blocks of files already found, the MP3 and MPEG sectors already walked and
// the whole tree; the search then appends a record for every folder and file
// it adds, and keeps its checkpoint at the start of the Info file. Every
// integer is big-endian; archives are a u32 length and a keyed archive:
//
//   archive of the Volume, archive of the status line,
//   treeScanMode, scanMode, rawSearchMode, isPTListOrPTScanListChosen (u32)
//   when rawSearchMode is 4 or 5: archive of the partition list (chosen from
//     a list 0 or 1), then of the partition-search list (chosen 1)
//   u32 n, n archives of the marked types' extensions
//   u64 m, m first-block keys (u64)
//   u32 k, k MP3 sectors (u64); u32 j, j MPEG sectors (u64)
//   u32 length 16 (or 0 when a sampled sector could not be read), then the
//     medium's size in bytes and one digest of all its sampled sectors (u64
//     each), by which a resume knows the medium again when the Info file
//     does not hold the sectors one by one
//   the tree: the pre-order run of tree records from the root
//   appended records, each one record with its trailer, put into the folder
//     whose identity its parent identity names
//
// The Info file, of which readers of an earlier time know only the first
// eight bytes, and an Info file of that time holds no more:
//
//   u64 the checkpoint: the unit the search goes on from
//   u64 the device sector that unit begins at, u64 how many sectors below it
//     the scan could not read (the part before an earlier resume included),
//     both rewritten with every checkpoint
//   u64 kHeldFileTag, then u64 the first sector (of the search's numbering)
//     of the file whose record the carving held across the checkpoint, as a
//     file found inside it further on may cut it (kNoHeldFile: none),
//     rewritten with every checkpoint; an Info file of an earlier time has
//     the identity's first u64 here, a medium's size, which is a whole
//     number of sectors as the tag is not
//   the medium's identity, written with the snapshot: u64 its size in bytes,
//     u32 n (at most 64), then n samples, each u64 sector, u8 1 when it was
//     read (0 when the device would not give it) and u64 the digest of its
//     bytes (0 when not read)
//
// The pair lives in the state folder, never on the media being scanned. The
// reader trusts nothing in the file: every length and count is held against
// the bytes left, and a snapshot that is not sound up to the end of its tree
// restores nothing. Only the appended part may end inside a record (the
// program was cut off while appending): what was whole before it is kept.

#include "platform/Value.h"
#include "session/SessionMediumCheck.h"
#include "volume/DoneSectorList.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class NodeTypeUInt32;
class SessionFileOutput;
class Volume;

// What a snapshot keeps besides the volume's own state (its first-block
// index, counters and tree).
struct AutoRecoveryState {
    std::shared_ptr<Volume> volume;
    std::string mainScanStatus;
    // -1 where nothing valid was chosen (a read value out of range too).
    std::int32_t treeScanMode = -1;
    std::int32_t scanMode = -1;
    std::int32_t rawSearchMode = -1;
    std::int32_t isPTListOrPTScanListChosen = -1;
    platform::Array partitionListDictArray;
    platform::Array partitionScanListDictArray;
    // The extensions of the volume's marked types, in their order (the
    // writer's caller takes them from the search's sigArray).
    std::vector<std::string> autoRecSigExtArray;
    // The sectors of the MP3 and MPEG streams the search's recognisers
    // walked already (the writer's caller takes them from the search).
    DoneSectorList mp3DoneArray;
    DoneSectorList mpgDoneArray;
    // --- read back only ---
    // The checkpoint: 0 for an Info file shorter than eight bytes, nothing
    // when there is no Info file. When the appended records were cut off,
    // the checkpoint may name a place whose records are lost: it is then
    // kRecordsCut, past any medium, so that the search starts where its
    // last record lies.
    std::optional<std::uint64_t> autoRecBeginSize;
    static constexpr std::uint64_t kRecordsCut = UINT64_MAX;
    // The first sector of the file the carving held open across that
    // checkpoint, whose record the snapshot therefore lacks, is the resumed
    // volume's heldFileBeforeResume.
    // The scanned medium's identity; nothing when the snapshot holds none.
    // To the writer: the identity read of the medium a moment before (a
    // resume's start read it to know the medium), written as it is rather
    // than read again; nothing, and the writer reads it.
    std::optional<MediumIdentity> medium;
};

// The first items of a snapshot, enough to ask whether to resume it.
struct AutoRecoveryHead {
    std::shared_ptr<Volume> volume;
    std::string mainScanStatus;
};

class AutoRecoverySnapshot {
public:
    static constexpr const char* kDataFile = "QuelvarMediaAutoRecovery.dat";
    static constexpr const char* kInfoFile = "QuelvarMediaAutoRecoveryInfo.dat";
    // "HELDFILE": odd, so never a medium's size in bytes.
    static constexpr std::uint64_t kHeldFileTag = 0x48454C4446494C45;
    static constexpr std::uint64_t kNoHeldFile = UINT64_MAX;
    // The part of the Info file every checkpoint rewrites, from its start.
    static bool writeCheckpoint(SessionFileOutput& info, std::uint64_t unit, std::uint64_t sector,
                                std::uint64_t lostBelow, std::optional<std::uint64_t> heldFile);

    static std::string dataPath(const std::string& folder);
    static std::string infoPath(const std::string& folder);
    // Both files of the pair are in `folder`.
    static bool pairExists(const std::string& folder);
    // Deletes whichever of the two is there (the end of a scan, or a resume
    // the user declined).
    static void deletePair(const std::string& folder);

    enum class Saved { Written, CannotCreate, WriteFailed };
    // Replaces the pair in `folder` with a snapshot of `state` and an Info
    // file with the medium's identity, its checkpoint at the start and what
    // a resumed scan lost before (the volume's lostBeforeResume), synced to
    // the disk. The volume's tree, index and lists must
    // not change meanwhile (the scan is paused). CannotCreate: a file could
    // not be made (or would be one of `media`, the paths being scanned);
    // WriteFailed: a write, seek or sync failed. Either way the reason is in
    // *error and no pair is left behind.
    static Saved saveScanInfoAutoRecovery(const std::string& folder, const AutoRecoveryState& state,
                                          const std::vector<std::string>& media, std::string* error);

    // Writes the keys of the index below `node`, node by node (a node's own
    // keys, then its subtrees left to right), skipping the empty key; returns
    // how many it wrote.
    static std::uint64_t enumerateBTreeUInt32StartNode(const NodeTypeUInt32* node, SessionFileOutput& fileDesc);

    // Reads the pair in `folder`: the volume with its index and the tree of
    // the snapshot and of the appended records installed, its counters
    // raised by what the appended records add and what the scan lost below
    // its checkpoint as its lostBeforeResume, and the search's stream
    // lists. Nothing, with the reason in *error, when the snapshot is
    // missing or not sound up to its tree's end.
    static std::optional<AutoRecoveryState> openScanInfoAutoRecovery(const std::string& folder, std::string* error);
    // Only the volume and the status line: nothing when they do not read.
    static std::optional<AutoRecoveryHead> readHead(const std::string& folder);
};
