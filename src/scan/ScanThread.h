#pragma once

// The scan threads: each runs detached on one volume, resets its per-scan
// state, creates the root of the found-file tree, runs the file-system
// recovery that matches the volume's content, the signature search the user
// asked for, the clean-up passes, and posts the final progress with
// "Tree Complete". They sit above every recovery and search they choose:
// each file system is one row of a table that names the contents
// choosing it, its recoveries and its search drivers.
//
// Argument arrays (a resumed scan appends the resume block and "auto"):
//   startMakingTree:      [mode string, search flag, (marked types)]
//   scanForDeletedFiles:  [deleted-file flag, search flag, (types), (method)]
//   scanForDeletedFilesDisk: [types, method]
// method: 0 plain signature search, 1 photo-and-file carving, other: none.

#include "fs/fat/FATGeometry.h"
#include "platform/Value.h"

#include <cstdint>
#include <memory>
#include <span>

class SignatureSearchState;
class Volume;
struct HFSPlusReaderState;
enum class ContentKind;

class ScanThread {
public:
    // `search` is the state of the signature search the scan runs, if it
    // runs one (a fresh one when none is given): the caller may set it up
    // before (the photo scans' media filter, a resumed search's stream
    // lists) and read it while the search runs.
    explicit ScanThread(std::shared_ptr<Volume> volume, std::shared_ptr<SignatureSearchState> search = nullptr);
    ~ScanThread();

    // Thread bodies. Each ends with exactly one "Tree Complete" post, after
    // which it touches no user-interface object.
    void startMakingTree(const platform::Array& arguments);
    void scanForDeletedFiles(const platform::Array& arguments);
    void scanForDeletedFilesDisk(const platform::Array& arguments);
    // Per-file-system bodies of scanForDeletedFiles, on the same thread.
    void scanForDeletedFilesHFS(const platform::Array& arguments);
    void scanForDeletedFilesFAT(const platform::Array& arguments);
    void scanForDeletedFilesExFAT(const platform::Array& arguments);
    void scanForDeletedFilesAPFS(const platform::Array& arguments);

    // Starts a body on a detached thread that holds the volume and the
    // search's state.
    enum class Entry { MakingTree, DeletedFiles, DeletedFilesDisk };
    static void detach(std::shared_ptr<Volume> volume, std::shared_ptr<SignatureSearchState> search, Entry entry,
                       platform::Array arguments);

    // Whether the file-system step found a volume it could read: an HFS+
    // volume header with a usable block size and, for a tree scan, a
    // catalog it read or entries it found; a FAT or exFAT boot sector that
    // passed its checks; an APFS volume whose sectors
    // make up its blocks. False when no step ran (a
    // resumed scan, a content no recovery takes or one this build cannot
    // recover).
    bool foundVolume() const { return foundVolume_; }
    // Whether the tree scan gave up: it said so, and no search or clean-up
    // followed.
    bool aborting() const { return aborting_; }

    // The file system a content selects.
    enum class FileSystem { None, HFSPlus, FAT, ExFAT, APFS };
    // Tree scans accept the APFS partition type as well as an APFS volume;
    // the deleted-file scan only the volume.
    static FileSystem fileSystemForContent(ContentKind content, bool treeScan);

private:
    // One row of the recovery table: a file system, the contents that
    // choose it for each scan, and what each scan runs for it.
    struct Recovery;
    static std::span<const Recovery> recoveries();
    // The row a content chooses; null when none takes it.
    static const Recovery* recoveryFor(ContentKind content, bool treeScan);
    static const Recovery& recoveryOf(FileSystem fileSystem);

    // Reads "auto" and the resume block; sets the volume's autoCrashRecovery
    // and readies the volume and the search's state for the scan.
    void detectResume(const platform::Array& arguments);
    // Creates the root unless one exists.
    void ensureRoot();
    // Runs one keep-awake phase around fn.
    template <class F> void phase(F&& fn);
    // The search step: lookup trees for a plain search, the snapshot
    // hand-over, the pause wait, then the driver. A driver this build does
    // not have is skipped with a log line.
    enum class Driver;
    void searchStep(Driver driver);
    // Tree-scan recoveries.
    void hfsTreeRecovery(const Recovery& row);
    // The APFS scan of a mounted volume, or of one found on a disk.
    void apfsTreeRecovery(const Recovery& row);
    // Ends a tree scan that has nothing to show: the alert, then back to the
    // partition list; no search and no clean-up follow.
    void cannotProcess(const char* message);
    // Ends a scan of a content no row takes: a volume whose first sectors
    // the drive would not give is no volume of another kind, and is not
    // called one.
    void cannotProcessContent();
    // Whether one of the sectors the content tests read (the volume's
    // first ones, which hold every kind's boot record or header) could not
    // be read.
    bool firstSectorsUnreadable();
    // The root, then the row's file-system recovery in one keep-awake phase
    // (a log line where this build has none).
    void fileSystemRecovery(const Recovery& row);
    // The rows' file-system recoveries. The FAT one keeps the geometry it
    // found for the searches of free clusters.
    bool fatRecovery();
    bool exFATRecovery();
    bool apfsRecovery();
    // The HFS+ readers' state for this scan, made at its first use.
    HFSPlusReaderState& hfsState();
    // The deleted-file scan's search, when asked for: the row's plain or
    // carving driver by the method argument.
    void deletedFileSearch(const Recovery& row, const platform::Array& arguments);
    // The FAT, exFAT and APFS bodies: recovery, search, clean-up, post.
    void otherFileSystemBody(const Recovery& row, const platform::Array& arguments);
    void cleanUp();
    void post(platform::Dict progress, bool wait);
    void invalidateTimer();

    std::shared_ptr<Volume> volume_;
    std::shared_ptr<SignatureSearchState> search_;
    bool resumed_ = false;
    bool searchAsked_ = false;
    bool foundVolume_ = false;
    bool aborting_ = false;
    std::uint64_t resumePosition_ = 0;
    // What the file-system step found and the searches after it read: the
    // HFS+ readers' state (until the clean-up) and the FAT layout.
    std::unique_ptr<HFSPlusReaderState> hfs_;
    FATGeometry fat_;
};
