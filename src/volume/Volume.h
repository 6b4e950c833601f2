#pragma once

// The thing a scan runs on: a whole disk, a mounted volume, or a volume that
// the partition search found on a disk. It reads through DMedia's readers and
// holds where the volume lies and what it holds, the found-file tree with its
// counters and indexes, the state of the searches and the flags by which the
// user interface pauses and stops the scan.
//
// The readers of each file system keep their operations, and the state they
// work with, in classes of their own folder (src/hfsplus/, src/fs/...); the
// scan threads that choose among them live above them (src/scan/) and hand
// what one of them found to the searches that need it. What every scan
// shares lives here as plain fields. The record-level tree operations are
// newdir's (volume/NewDir.h), the clean-up passes TreeCleanup's; a signature
// search keeps its own state (signatures/SignatureSearchState.h).

#include "media/DMedia.h"
#include "volume/NewDir.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class BTreeTableClass;
class BTreeTableClassUInt32;

class Volume : public DMedia, public std::enable_shared_from_this<Volume> {
public:
    // Builds the volume of a drive-list row (whole disk: "WhetherDiskDict";
    // mounted volume: "WhetherVolume"; otherwise a volume found on a disk).
    // nullptr when the dictionary has no usable "Preferred Block Size".
    static std::shared_ptr<Volume> initWithDictionary(const platform::Dict& dictionary);
    Volume();
    ~Volume() override;

    std::string className() const override { return "Volume"; }
    // "%@ %@ %@ %@ %@ size:%@": name, path, model, serial, revision, bytes.
    std::string description() const override;

    // --- archive (recovery sessions and the scan snapshot) ---
    // Where the volume lies, what it holds, its counters and search range:
    // a mounted volume (scan type 2) keeps its parent drive and whether its
    // file system can be rebuilt, the other kinds their start sector and the
    // drive's model, serial and revision. Texts are stored only when set.
    // The tree, the indexes and the lists are not archived.
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    std::vector<std::string> classChain() const override { return {"Volume", "DMedia", "NSObject"}; }
    // A plain volume with the archived fields; whatever the archive lacks
    // stays zero or empty, and the process-wide sector size is left alone.
    static std::shared_ptr<Volume> initWithCoder(platform::KeyedUnarchiver& coder);
    static void registerArchiveClass();
    // A plain volume with this one's archived fields, as the program adopts
    // a restored volume: no tree, index, list or flag comes along.
    std::shared_ptr<Volume> mutableCopy() const;

    // Prepares the object for a scan; keeps restored counters when the scan
    // resumes an interrupted one (autoCrashRecovery), what the interrupted
    // part lost (lostBeforeResume) and the file it held open
    // (heldFileBeforeResume). The count of sectors that
    // could not be read, and catalogNodesUnread, start again either way.
    void resetSigArraysAndBtreesAndOthers();
    // The once-a-second progress tick (main thread): hands dataUpdate to the
    // display when the scan filled it.
    void myTimerFireMethod() override;
    // A sweep of the medium's progress for that tick: `done` of `total`
    // units of `unitBytes` bytes, `elapsed` seconds in, with the scan's
    // counts; `doneBefore` of the units done were done before those seconds
    // (a resumed sweep). Nothing while the display has not shown the last
    // one yet.
    void postSweepProgress(const char* status, std::uint64_t done, std::uint64_t total, std::uint64_t unitBytes,
                           double elapsed, std::uint64_t doneBefore = 0);

    // --- process-wide values ---
    // Bytes per sector of the volume made last (512 before any); the carving
    // size calculators read it.
    static std::uint32_t bytesPerSector();
    static void setBytesPerSector(std::uint32_t bytes);
    // A copy of the running volume's stopTreeThread, polled by code that
    // holds no volume.
    static bool stopByte();
    static void setStopByte(bool stop);

    // --- control flags, written by other threads ---
    bool stopTreeThread() const { return stopTreeThread_.load(std::memory_order_relaxed); }
    void setStopTreeThread(bool stop);
    bool pauseThread() const { return pauseThread_.load(std::memory_order_acquire); }
    void setPauseThread(bool pause);
    // Returns once pauseThread is clear: at once when it is, else as soon as
    // setPauseThread(false) is called, without polling.
    void waitWhilePaused();

    // --- keep-awake around each phase of a scan ---
    void startPreventingSleep();
    void stopPreventingSleep();

    // --- found-file tree operations that keep the indexes ---
    // Appends and indexes the child by file ID in the folder's childIndex.
    void addChildUpdateBTree(NewDir* child, NewDir* toDir);
    // Appends and indexes a folder child in the folder's advScanIndex.
    void addChildAdvScan(NewDir* child, NewDir* toDir);
    // Frees every NewDir held in btreeNormalScan (the index itself stays).
    void freeBtreeNormalScanNDIRs();
    // A zeroed "Root" folder (ID 2, parent 1, path "1") indexed in btree under
    // key 2 and installed as dirRoot. Called only while no tree exists: a
    // tree still in dirRoot is not freed here (see freeTree).
    NewDir* createRoot();
    // Frees the found-file tree and forgets its root, "Lost Files" and "Lost
    // Folders". The volume never frees its
    // tree by itself (not even when it is destroyed): the tree's owner calls
    // this once nothing shows or walks the tree any more.
    void freeTree();

    // The last step of the clean-up: every index goes, and nodes stop
    // naming the indexes their children went into.
    void releaseHelperIndexes();

    // --- where the volume lies and what it holds ---
    std::uint64_t startSector = 0;
    std::string volumeName;
    std::string volumeContent;
    // 0/1 found by the partition search (1: header at vibAtSector),
    // 2 mounted volume, 3 whole disk.
    std::int32_t volumeScanType = 0;
    std::uint64_t vibAtSector = 0;
    std::string parentDrivePath;
    std::uint64_t totalBlocks = 0;
    std::uint64_t blocksStartsAtSector = 0;
    bool supportsFileSystemRecovery = false;
    std::string scanMode;
    std::int32_t treeScanMode = 0;

    // --- found-file tree and counters ---
    NewDir* dirRoot = nullptr;
    NewDir* dirLostFiles = nullptr;
    NewDir* dirLostFolders = nullptr;
    std::uint32_t entryCount = 0;
    std::uint32_t folderCount = 0;
    std::uint32_t fileCount = 0;
    std::uint64_t dataSize = 0;
    std::uint32_t maxFileID = 0;

    // --- indexes (btreeAdvScan is btree whenever it is set) ---
    std::unique_ptr<BTreeTableClass> btree;
    std::unique_ptr<BTreeTableClass> btreeNormalScan;
    BTreeTableClass* btreeAdvScan = nullptr;
    std::unique_ptr<BTreeTableClassUInt32> btreeFirstFileBlock;

    // --- kept in sessions and snapshots: where a FAT volume's root
    // directory lies (the FAT walk sets them; the walk itself works from
    // its own geometry) ---
    std::uint32_t u32RootDirectoryStart = 0;
    std::uint32_t u32RootDirectorySectors = 0;

    // --- the search range in percent: the whole medium until the user sets one ---
    float startPos = 0;
    float endPos = 100;

    // --- what the tree scan could not read ---
    // Nodes of the volume's catalog that the medium would not give (the HFS+
    // readers set it): the tree lacks what they held, which the advanced
    // scan, searching the whole volume for catalog records, may still find.
    // Cleared for every scan, as the count of unreadable sectors is.
    std::atomic<bool> catalogNodesUnread{false};
    // What the part of a resumed scan before its interruption could not
    // read: the device sector its search went on from, and how many sectors
    // below that were lost. None for a scan that was not resumed, or whose
    // snapshot kept no count. Set before the scan starts.
    struct LostBeforeResume {
        std::uint64_t sector = 0;
        std::uint64_t count = 0;
    };
    std::optional<LostBeforeResume> lostBeforeResume;
    // The first sector (of the search's numbering) of the file the carving
    // of a resumed scan held open across the checkpoint it goes on from: the
    // snapshot lacks its record, and the resumed carving measures it there
    // again. None for a scan that was not resumed, or held no file open.
    std::optional<std::uint64_t> heldFileBeforeResume;
    // The sectors the scan could not read, below `sector` and in all, those
    // lost before it was resumed included. Below where it went on, a resumed
    // scan reads again only what every scan reads first (and the stretch of
    // records a cut snapshot lost), so its losses there are taken as among
    // the earlier ones: a sector both parts lost counts once.
    std::uint64_t scanUnreadableSectorsBelow(std::uint64_t sector) const;
    std::uint64_t scanUnreadableSectorCount() const { return scanUnreadableSectorsBelow(UINT64_MAX); }

    // --- control ---
    std::atomic<bool> autoCrashRecovery{false};
    bool scanInfoSaved = false;
    bool previewWarningShown = false;
    bool openedScanInfo = false;

    void setSizeInBytes(std::uint64_t bytes) { sizeInBytes_ = bytes; }
    void setTotalBlocks(std::uint64_t blocks) { totalBlocks = blocks; }
    void setRawSearchStart(float start, float end) {
        startPos = start;
        endPos = end;
    }

protected:
    // Every walk and search polls the stop flag: a medium that stopped
    // answering ends the scan as a stop does.
    void mediumStoppedAnswering() override { setStopTreeThread(true); }

private:
    // Points every node's childIndex/advScanIndex that names one of the
    // replaced indexes at the replacement (nullptr: no index).
    void redirectNodeIndexes(std::initializer_list<const BTreeTableClass*> replaced, BTreeTableClass* replacement);

    std::atomic<bool> stopTreeThread_{false};
    std::atomic<bool> pauseThread_{false};
    std::mutex pauseMutex_;
    std::condition_variable pauseCleared_;
};
