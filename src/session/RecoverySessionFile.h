#pragma once

// The layout of a recovery-session file (".drs"), which keeps a finished
// scan so that it can be browsed, previewed and saved from later without
// scanning again. Sessions outlive the version that wrote them and travel
// between machines, so every integer is big-endian and the layout is fixed:
//
//   0     head (1024 bytes): a keyed archive of "UnComple" while the file is
//         being written; once finished, "Complete" in its place followed by
//         the archive of the version string. The rest is zero.
//   1024  archive of the scanned Volume
//         scanMode, rawSearchMode, isPTListOrPTScanListChosen (u32 each)
//         when rawSearchMode is 4 or 5: archive of the partition list (chosen
//         from a list 0 or 1), then of the partition-search list (chosen 1)
//         u32 flag, then when it is 1: 5 sectors of the drive's bytes per
//         sector (the volume's), sectors 0-4 of the drive that holds it.
//         A sector the drive would not give is zeros there, and marked in
//         the integer "firstSectorsUnread" (bit i: sector i) that the
//         volume's archive keeps beside its root; readers that do not know
//         it pass over it. Files that have none read every sector.
//         the tree: the pre-order run of tree records from the root
//         the found files' print: "FPRT", a u32 count (at most 64) and that
//         many pairs of u64 (a sector of the medium, the digest of its
//         bytes). Files written before the print was kept end with the
//         tree; readers that do not know it stop there too.
//
// Every archive is a u32 length followed by that many bytes of a keyed
// archive. The reading half checks every length and count against the bytes
// left and ends with a reason instead of a partial result.

#include "platform/Value.h"
#include "session/SessionFileInput.h"
#include "session/SessionFileOutput.h"
#include "session/SessionMediumCheck.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct NewDir;
class Volume;

// What a session file holds besides its head.
struct RecoverySession {
    std::shared_ptr<Volume> volume;
    // -1 where nothing valid was chosen.
    std::int32_t scanMode = -1;
    std::int32_t rawSearchMode = -1;
    std::int32_t isPTListOrPTScanListChosen = -1;
    platform::Array partitionListDictArray;
    platform::Array partitionScanListDictArray;
    bool hasFirst5Sectors = false;
    platform::Data first5Sectors;
    // Empty when the file has none.
    FoundFilesPrint print;
    // The first sectors the drive would not give (bit i: sector i, zeros in
    // first5Sectors).
    std::uint32_t first5SectorsUnread = 0;
};

class RecoverySessionFile {
public:
    static constexpr const char* kIncomplete = "UnComple";
    static constexpr const char* kComplete = "Complete";
    static constexpr const char* kVersion = "Drentic Recovery Software Recovery Session Version 1.0.1";
    static constexpr std::uint64_t kHeadBytes = 1024;
    // What the user is told of a file that is cut short or damaged.
    static constexpr const char* kDamaged = "This recovery session file is damaged.";

    // --- writing, in the file's order; each false once the file failed or
    // a value could not be archived (the reason in *error) ---
    // The zeroed head with "UnComple"; the file is left at the settings.
    static bool writeHead(SessionFileOutput& out, std::string* error);
    // The volume, modes, lists and sectors; then the file is synced.
    static bool writeSettings(SessionFileOutput& out, const RecoverySession& session, std::string* error);
    // The found files' print, after the tree.
    static bool writePrint(SessionFileOutput& out, const FoundFilesPrint& print, std::string* error);
    // After the tree: "Complete" and the version over the head, synced.
    static bool writeCompleteHead(SessionFileOutput& out, std::string* error);

    // --- reading ---
    enum class Head { Complete, Incomplete, OtherVersion, Damaged };
    // The head's verdict; with OtherVersion the version the file names.
    static Head readHead(SessionFileInput& in, std::string* versionRead);
    // Everything from the volume to the tree's start. The modes outside
    // their ranges come back as -1. False when the file is cut short or a
    // value is not what it must be.
    static bool readSettings(SessionFileInput& in, RecoverySession& session);
    // The tree's root with the whole run below it (the caller owns it), or
    // nullptr when the file is cut short or damaged (nothing is left over).
    // onRoot sees the root before the records below it are read;
    // everyFifty runs after every fiftieth of them.
    static NewDir* readTree(SessionFileInput& in, const std::function<void(const NewDir& root)>& onRoot = {},
                            const std::function<void()>& everyFifty = {});
    // The print after the tree: empty when the file ends with the tree (it
    // was written before prints were kept), nothing when what follows the
    // tree is not a whole print (the file was cut short or damaged).
    static std::optional<FoundFilesPrint> readPrint(SessionFileInput& in);
    // Everything after the head, as every reader of a session takes it: the
    // settings, the tree and the print (into session.print). The tree's root
    // (the caller owns it), or nullptr when any of them is cut short or
    // damaged (nothing is left over). onRoot and everyFifty as for readTree.
    static NewDir* readBody(SessionFileInput& in, RecoverySession& session,
                            const std::function<void(const NewDir& root)>& onRoot = {},
                            const std::function<void()>& everyFifty = {});
};
