#include "scan/ScanThread.h"

#include "carving/AutoRecoveryFiles.h"
#include "carving/PhotoCarving.h"
#include "carving/PlainSignatureSearch.h"
#include "fs/apfs/APFSFileSystem.h"
#include "fs/exfat/ExFATFileSystem.h"
#include "fs/fat/FATFileSystem.h"
#include "hfsplus/AdvancedTreeScan.h"
#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/CatalogReader.h"
#include "hfsplus/DeletedFileScan.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/JournalExtents.h"
#include "hfsplus/OrphanEntries.h"
#include "media/ContentKind.h"
#include "media/VolumeContentDetection.h"
#include "platform/AppController.h"
#include "platform/Paths.h"
#include "platform/SystemLog.h"
#include "signatures/SignatureGroups.h"
#include "signatures/SignatureSearchState.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/TreeCleanup.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

using platform::Array;
using platform::Dict;
using platform::Value;

enum class ScanThread::Driver {
    PlainHFS,      // signatureSearchStartAt:
    PlainFAT,      // signatureSearchFATStartAt:
    PlainExFAT,    // signatureSearchExFATStartAt:
    PlainAPFS,     // signatureSearchAPFSStartAt:
    PlainDisk,     // signatureSearchDiskStartAt:
    CarveVolume,   // signatureSearchVolPhotoAndFileRecoveryMethodStartAt:
    CarveAPFS,     // signatureSearchVolPhotoAndFileRecoveryAPFSMethodStartAt:
    CarveExFAT,    // signatureSearchVolPhotoAndFileRecoveryExFATMethodStartAt:
    CarveDisk,     // signatureSearchDiskPhotoMethodStartAt:
    CarveHFSFree,  // signatureSearchOnFreeSpaceOnlyStartAt:
    CarveFATFree,  // signatureSearchOnFreeSpaceOnFATVolumeStartAt:
    CarveAPFSFree, // the free sectors of an APFS volume
};

namespace {
const char* const kKeyStructuresNotFound =
    "Key data structures not found. Please try Advance Scan for tree on the desired volume.";
const char* const kNotOneThisScanRebuilds =
    "The file system of this volume is not one this scan rebuilds: it finds the volume's files by their contents. Go "
    "back and mark the file types to look for.";
const char* const kNoLongerAnswers =
    "The drive or volume being read no longer answers: the file system of this volume could not be read from it. "
    "Only what the system still held of it in memory was read.";
const char* const kFirstSectorsUnreadable =
    "The first sectors of this volume could not be read from the drive, so the file system it holds cannot be told. "
    "Go back and mark the file types to look for: the scan then finds the volume's files by their contents.";

bool isAuto(const Array& a) {
    return !a.empty() && a.back().isString() && a.back().stringValue() == "auto";
}

// Element i as an integer, 0 when absent (a missing flag means "no").
std::int64_t intAt(const Array& a, std::size_t i) {
    return i < a.size() ? a[i].int64Value() : 0;
}

// The search method of the deleted-file and disk threads: -1 (none) when the
// element is absent.
std::int64_t methodAt(const Array& a, std::size_t i) {
    if (i >= a.size() || !a[i].isNumber()) return -1;
    return a[i].int64Value();
}

void logStep(const char* what) {
    platform::logFormat("%s is not available in this build; skipped", what);
}

// The contents each file system's row takes.
bool hfsContent(ContentKind c) {
    return isHFSContent(c);
}
bool fatContent(ContentKind c) {
    return isFATContent(c);
}
bool exFATContent(ContentKind c) {
    return c == ContentKind::ExFAT;
}
bool apfsVolume(ContentKind c) {
    return c == ContentKind::APFS;
}
bool apfsVolumeOrContainer(ContentKind c) {
    return c == ContentKind::APFS || c == ContentKind::APFSContainer;
}
bool noContent(ContentKind) {
    return false;
}

} // namespace

struct ScanThread::Recovery {
    FileSystem fileSystem;
    // Whether a content chooses this row for the tree scan and for the
    // deleted-file scan.
    bool (*treeContent)(ContentKind content);
    bool (*deletedFileContent)(ContentKind content);
    // What the log calls its recovery.
    const char* name;
    // The tree scan's file-system step (a new scan only).
    void (ScanThread::*treeRecovery)(const Recovery& row);
    // The file-system recovery of the FAT-family and APFS rows, which both
    // scans run the same way; null where this build has none.
    bool (ScanThread::*recover)();
    // The deleted-file scan's body.
    void (ScanThread::*deletedFileBody)(const Array& arguments);
    // The deleted-file scan's search drivers: plain search and carving.
    Driver plain;
    Driver carve;
    // The tree scan's carving driver.
    Driver treeCarve;
};

std::span<const ScanThread::Recovery> ScanThread::recoveries() {
    // Contents are tested against the rows in this order.
    static const Recovery rows[] = {
        {.fileSystem = FileSystem::HFSPlus,
         .treeContent = hfsContent,
         .deletedFileContent = hfsContent,
         .name = "HFS+ file-system recovery",
         .treeRecovery = &ScanThread::hfsTreeRecovery,
         .recover = nullptr,
         .deletedFileBody = &ScanThread::scanForDeletedFilesHFS,
         .plain = Driver::PlainHFS,
         .carve = Driver::CarveHFSFree,
         .treeCarve = Driver::CarveVolume},
        {.fileSystem = FileSystem::FAT,
         .treeContent = fatContent,
         .deletedFileContent = fatContent,
         .name = "FAT file-system recovery",
         .treeRecovery = &ScanThread::fileSystemRecovery,
         .recover = &ScanThread::fatRecovery,
         .deletedFileBody = &ScanThread::scanForDeletedFilesFAT,
         .plain = Driver::PlainFAT,
         .carve = Driver::CarveFATFree,
         .treeCarve = Driver::CarveVolume},
        // The tree scan takes no exFAT volume: it only carves it, sector by
        // sector, as no block size of its own is known.
        {.fileSystem = FileSystem::ExFAT,
         .treeContent = noContent,
         .deletedFileContent = exFATContent,
         .name = "exFAT file-system recovery",
         .treeRecovery = &ScanThread::fileSystemRecovery,
         .recover = &ScanThread::exFATRecovery,
         .deletedFileBody = &ScanThread::scanForDeletedFilesExFAT,
         .plain = Driver::PlainExFAT,
         .carve = Driver::CarveExFAT,
         .treeCarve = Driver::CarveExFAT},
        // The deleted-file scan takes an APFS volume, not its container, and
        // carves its free space as it does on HFS+ and FAT.
        {.fileSystem = FileSystem::APFS,
         .treeContent = apfsVolumeOrContainer,
         .deletedFileContent = apfsVolume,
         .name = "APFS file-system recovery",
         .treeRecovery = &ScanThread::apfsTreeRecovery,
         .recover = &ScanThread::apfsRecovery,
         .deletedFileBody = &ScanThread::scanForDeletedFilesAPFS,
         .plain = Driver::PlainAPFS,
         .carve = Driver::CarveAPFSFree,
         .treeCarve = Driver::CarveAPFS},
    };
    return rows;
}

const ScanThread::Recovery* ScanThread::recoveryFor(ContentKind content, bool treeScan) {
    for (const Recovery& row : recoveries())
        if ((treeScan ? row.treeContent : row.deletedFileContent)(content)) return &row;
    return nullptr;
}

const ScanThread::Recovery& ScanThread::recoveryOf(FileSystem fileSystem) {
    // Every file system but None has its row.
    const std::span<const Recovery> rows = recoveries();
    return *std::find_if(rows.begin(), rows.end(), [&](const Recovery& r) { return r.fileSystem == fileSystem; });
}

ScanThread::ScanThread(std::shared_ptr<Volume> volume, std::shared_ptr<SignatureSearchState> search)
    : volume_(std::move(volume)), search_(search ? std::move(search) : std::make_shared<SignatureSearchState>()) {}
ScanThread::~ScanThread() = default;

bool ScanThread::fatRecovery() {
    FATFileSystem fat(*volume_);
    const bool found = fat.startFATFileSystemRecovery();
    fat_ = fat.geometry();
    return found;
}

bool ScanThread::exFATRecovery() {
    return ExFATFileSystem(*volume_).startExFATFileSystemRecovery();
}

// The deleted-file scan always reads an APFS volume as a mounted one.
bool ScanThread::apfsRecovery() {
    return APFSFileSystem(*volume_).startAPFSFileSystemRecovery();
}

HFSPlusReaderState& ScanThread::hfsState() {
    if (!hfs_) hfs_ = std::make_unique<HFSPlusReaderState>(*volume_);
    return *hfs_;
}

void ScanThread::detach(std::shared_ptr<Volume> volume, std::shared_ptr<SignatureSearchState> search, Entry entry,
                        Array arguments) {
    std::thread([volume = std::move(volume), search = std::move(search), entry,
                 arguments = std::move(arguments)]() mutable {
        ScanThread t(std::move(volume), std::move(search));
        switch (entry) {
        case Entry::MakingTree:
            t.startMakingTree(arguments);
            break;
        case Entry::DeletedFiles:
            t.scanForDeletedFiles(arguments);
            break;
        case Entry::DeletedFilesDisk:
            t.scanForDeletedFilesDisk(arguments);
            break;
        }
    }).detach();
}

ScanThread::FileSystem ScanThread::fileSystemForContent(ContentKind content, bool treeScan) {
    const Recovery* row = recoveryFor(content, treeScan);
    return row ? row->fileSystem : FileSystem::None;
}

void ScanThread::detectResume(const Array& arguments) {
    resumed_ = isAuto(arguments);
    resumePosition_ = resumed_ && arguments.size() >= 2 ? arguments[arguments.size() - 2].uint64Value() : 0;
    volume_->autoCrashRecovery = resumed_;
    volume_->resetSigArraysAndBtreesAndOthers();
    search_->resetForScan(resumed_);
}

void ScanThread::ensureRoot() {
    if (!volume_->dirRoot) volume_->createRoot();
}

template <class F> void ScanThread::phase(F&& fn) {
    volume_->startPreventingSleep();
    fn();
    volume_->stopPreventingSleep();
}

void ScanThread::post(Dict progress, bool wait) {
    platform::AppController* c = platform::appController();
    if (!c) return;
    if (wait) {
        c->updateProgress(progress);
    } else {
        c->performOnMainThread([c, progress = std::move(progress)] { c->updateProgress(progress); }, false);
    }
}

void ScanThread::invalidateTimer() {
    if (auto* c = platform::appController()) c->invalidateTimer();
}

void ScanThread::searchStep(Driver driver) {
    Volume& v = *volume_;
    std::unique_ptr<AutoRecoveryFiles> autoRecovery;
    std::optional<PlainSignatureSearch> plain;
    std::optional<PhotoCarving> carving;
    const auto openPair = [&]() -> AutoRecoveryFiles& {
        // The pair the snapshot writer made; never one of the media.
        autoRecovery =
            std::make_unique<AutoRecoveryFiles>(platform::stateDir(), std::vector<std::string>{v.path(), v.cPath()});
        return *autoRecovery;
    };
    const auto plainSearch = [&]() -> PlainSignatureSearch& { return plain.emplace(v, *search_, openPair()); };
    const auto carve = [&]() -> PhotoCarving& { return carving.emplace(v, *search_, openPair()); };
    std::function<void(std::uint64_t)> run;
    switch (driver) {
    case Driver::PlainHFS:
        run = [&](std::uint64_t at) { plainSearch().signatureSearchStartAt(at, hfsState().allocationExt); };
        break;
    case Driver::PlainFAT:
        run = [&](std::uint64_t at) { plainSearch().signatureSearchFATStartAt(at, fat_); };
        break;
    case Driver::PlainExFAT:
        run = [&](std::uint64_t at) { plainSearch().signatureSearchExFATStartAt(at); };
        break;
    case Driver::PlainAPFS:
        run = [&](std::uint64_t at) { plainSearch().signatureSearchAPFSStartAt(at); };
        break;
    case Driver::PlainDisk:
        run = [&](std::uint64_t at) { plainSearch().signatureSearchDiskStartAt(at); };
        break;
    case Driver::CarveVolume:
        run = [&](std::uint64_t at) { carve().signatureSearchVolPhotoAndFileRecoveryMethodStartAt(at); };
        break;
    case Driver::CarveAPFS:
        run = [&](std::uint64_t at) { carve().signatureSearchVolPhotoAndFileRecoveryAPFSMethodStartAt(at); };
        break;
    case Driver::CarveExFAT:
        run = [&](std::uint64_t at) { carve().signatureSearchVolPhotoAndFileRecoveryExFATMethodStartAt(at); };
        break;
    case Driver::CarveDisk:
        run = [&](std::uint64_t at) { carve().signatureSearchDiskPhotoMethodStartAt(at); };
        break;
    case Driver::CarveHFSFree:
        run = [&](std::uint64_t at) { carve().signatureSearchOnFreeSpaceOnlyStartAt(at, hfsState().allocationExt); };
        break;
    case Driver::CarveFATFree:
        run = [&](std::uint64_t at) { carve().signatureSearchOnFreeSpaceOnFATVolumeStartAt(at, fat_); };
        break;
    case Driver::CarveAPFSFree:
        run = [&](std::uint64_t at) { carve().signatureSearchOnFreeSpaceOnAPFSVolumeStartAt(at); };
        break;
    }
    // The carving makes the groups of the types its size calculators leave.
    const bool plainDriver = driver == Driver::PlainHFS || driver == Driver::PlainFAT || driver == Driver::PlainExFAT ||
                             driver == Driver::PlainAPFS || driver == Driver::PlainDisk;
    if (plainDriver) SignatureGroups::populateBTreeSigArray(*search_);
    platform::AppController* c = platform::appController();
    if (c) c->rawScanStarted(resumed_ ? Value("auto") : Value());
    // The snapshot side pauses the volume before its writer starts and
    // clears the flag on every path; the search starts the moment it does.
    v.waitWhilePaused();
    run(resumePosition_);
}

void ScanThread::cleanUp() {
    // The result screen says it too: a tree built over sectors that read as
    // zeros is not the whole of what the medium held.
    if (const std::uint64_t lost = volume_->scanUnreadableSectorCount(); lost != 0)
        platform::logFormat(
            "%llu sectors of %@ could not be read, or lay in a bad area and were not read; the scan took them as zeros",
            static_cast<unsigned long long>(lost), volume_->path());
    // No HFS+ reader runs after this; its indexes go before the passes, as
    // the volume's own do at their end.
    hfs_.reset();
    phase([&] {
        TreeCleanup(*volume_).processDuplicateEntries(search_->filterTreeForMedia);
        search_->releaseGroups();
        TreeCleanup::fixPathNames(volume_->dirRoot);
    });
}

void ScanThread::fileSystemRecovery(const Recovery& row) {
    ensureRoot();
    phase([&] {
        if (row.recover)
            foundVolume_ = (this->*row.recover)();
        else
            logStep(row.name);
    });
}

void ScanThread::apfsTreeRecovery(const Recovery&) {
    ensureRoot();
    Volume& v = *volume_;
    phase([&] {
        APFSFileSystem apfs(v);
        foundVolume_ = v.parentDrivePath.empty() ? apfs.startAPFSFileSystemRecoveryVolumeRecovery()
                                                 : apfs.startAPFSFileSystemRecovery();
    });
}

void ScanThread::cannotProcess(const char* message) {
    aborting_ = true;
    // Structures that could not be read from a disk that stopped answering
    // say nothing of the volume: the disk is what the user must hear of.
    if (volume_->stoppedAnswering()) message = kNoLongerAnswers;
    if (auto* c = platform::appController()) {
        c->runAlertPanel(platform::alertRequest("!Can not process", message, "OK"));
        c->destroyVolumeAndBackToPartList();
    }
}

bool ScanThread::firstSectorsUnreadable() {
    Volume& v = *volume_;
    const std::uint64_t bps = v.u32BytesInSector();
    const std::uint64_t sectors = std::min<std::uint64_t>(VolumeContentDetection::kProbeSectors, v.sizeInSect());
    if (bps == 0 || sectors == 0) return false;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(sectors * bps));
    const std::optional<std::uint64_t> lost =
        v.readSectorRange(v.startSector, static_cast<std::int32_t>(sectors), buffer.data());
    return lost && *lost != 0;
}

void ScanThread::cannotProcessContent() {
    if (firstSectorsUnreadable()) {
        platform::logFormat("The first sectors of %@ could not be read; its file system is not known", volume_->path());
        cannotProcess(kFirstSectorsUnreadable);
    } else {
        cannotProcess(kNotOneThisScanRebuilds);
    }
}

void ScanThread::hfsTreeRecovery(const Recovery&) {
    Volume& v = *volume_;
    HFSPlusReaderState& state = hfsState();
    HFSPlusVolume hfs(state);
    bool found = false;
    bool valid = false;
    bool catalogRead = false;
    phase([&] { found = hfs.initializeVIB(); });
    if (found) {
        state.advScanEntriesCanBePutIntoOrphanEntryArray = true;
        phase([&] { valid = hfs.checkCatalogAndExtentsFile(); });
        if (valid) {
            CatalogNodeSearch(state).findCatalogLeafNodes([this](const std::function<void()>& step) { phase(step); });
            if (v.firstLeafNode != 0 && v.catNodeSize != 0) {
                // The walk keeps every leaf it takes in this index; without
                // it (never expected) the walk cannot be judged and counts as
                // read. A walk the user stopped is not a catalog that failed.
                const BTreeTableClassUInt32* leaves = state.btreeForUsedCatNodeSector.get();
                const std::int64_t leavesBefore = leaves ? leaves->numItems() : 0;
                phase([&] { CatalogReader(state).makeTree(); });
                catalogRead = !leaves || leaves->numItems() > leavesBefore || v.stopTreeThread();
                // The advanced scan places what this walk parked with the
                // catalog records it finds in the leaves the walk could not
                // read, which may be their folders.
                if (state.orphEntriesTotal > 0 && v.treeScanMode != 1) {
                    phase([&] { OrphanEntries(state).processCatalogWalkOrphans(); });
                    invalidateTimer();
                }
            }
            // A header that checks out over a catalog that cannot be read (a
            // node size or an extent that is wrong) would otherwise end in
            // an empty tree that looks like an empty volume.
            if (!catalogRead)
                platform::logFormat("HFS+ volume on %@: no leaf node of its catalog could be read", v.path());
        } else {
            hfs.getCatalogExtFromVIB();
        }
    }
    if (valid && v.treeScanMode == 1) {
        phase([&] { AdvancedTreeScan(state).makeAdvTree(); });
    } else if (!valid && v.scanMode == "Advanced Scan") {
        // Only a volume header that cannot be read leaves the block size to
        // be guessed; one that was read knows it, whatever became of the
        // B-trees behind it.
        if (!found) v.setBlockSize(8);
        phase([&] { AdvancedTreeScan(state).makeAdvTree(); });
    } else if (!valid || !catalogRead) {
        cannotProcess(kKeyStructuresNotFound);
        return;
    }
    foundVolume_ = catalogRead || v.entryCount > 0 || v.stopTreeThread();
    if (foundVolume_) return;
    // The advanced scan searched the whole volume and found no catalog
    // record either. A search that follows may still find files by their
    // contents; otherwise the empty tree would be all the user gets.
    platform::logFormat("HFS+ volume on %@: the advanced scan found no catalog record", v.path());
    if (!searchAsked_) cannotProcess("Key data structures not found on the volume.");
}

void ScanThread::startMakingTree(const Array& arguments) {
    Volume& v = *volume_;
    detectResume(arguments);
    v.scanMode = !arguments.empty() ? arguments[0].stringValue() : std::string();
    if (v.scanMode == "Normal Scan")
        v.treeScanMode = 0;
    else if (v.scanMode == "Advanced Scan")
        v.treeScanMode = 1;
    const bool search = intAt(arguments, 1) != 0;
    searchAsked_ = search;
    if (search) search_->sigArray = arguments.size() > 2 ? arguments[2].arrayValue() : Array{};
    // The first blocks of the files found serve only the search that may
    // follow the walk (it passes over them), and go with the helper indexes
    // at the end: without a search nothing would read them.
    if (!search) v.btreeFirstFileBlock.reset();

    // A content no row takes has no file-system step; one the deleted-file
    // scan takes (exFAT) is carved with that row's driver.
    const ContentKind content = contentKindOf(v.volumeContent);
    const Recovery* row = recoveryFor(content, true);
    const Recovery* carveRow = row ? row : recoveryFor(content, false);
    if (!resumed_ && row) (this->*row->treeRecovery)(*row);
    // With neither a file system to read nor a search to run the result
    // would be an empty tree that says nothing.
    if (!resumed_ && !row && !search) cannotProcessContent();
    // Every content kind has a root before any search runs, so carved files
    // always have a tree to go into.
    if (!aborting_) ensureRoot();

    if (search && !aborting_) searchStep(carveRow ? carveRow->treeCarve : Driver::CarveVolume);
    if (!aborting_) cleanUp();
    post(Dict{{"Progress Status", "default"}, {"Tree Complete", true}}, false);
}

void ScanThread::scanForDeletedFiles(const Array& arguments) {
    Volume& v = *volume_;
    detectResume(arguments);
    if (const Recovery* row = recoveryFor(contentKindOf(v.volumeContent), false)) {
        (this->*row->deletedFileBody)(arguments);
        return;
    }
    // A content none of the bodies takes still ends with an empty result,
    // so the progress screen is never left waiting; one whose first sectors
    // could not be read says so.
    platform::logFormat("No file system recovery for content %@", v.volumeContent);
    if (!resumed_ && firstSectorsUnreadable()) cannotProcess(kFirstSectorsUnreadable);
    if (!aborting_) {
        ensureRoot();
        cleanUp();
    }
    post(Dict{{"Progress Status", "Tree Completed ..."}, {"Tree Complete", true}, {"Stop Animation", true}}, false);
}

void ScanThread::scanForDeletedFilesHFS(const Array& arguments) {
    Volume& v = *volume_;
    if (!resumed_) ensureRoot();
    HFSPlusReaderState& state = hfsState();
    HFSPlusVolume hfs(state);
    phase([&] {
        foundVolume_ = hfs.fillVIB();
        hfs.checkCatalogAndExtentsFile(); // the deleted-file scan goes on either way
    });
    if (intAt(arguments, 0) == 1 && !resumed_) {
        DeletedFileScan deleted(state);
        JournalExtents journal(state);
        deleted.startMakingTreeDeletedFileScan();
        state.orphEntriesTotal = 0;
        journal.getJournalSizeAndStart();
        phase([&] {
            deleted.searchCatFragsForDeletedFiles();
            platform::logLine("Removing redundant entries of the live catalog");
            v.freeBtreeNormalScanNDIRs();
            v.btreeNormalScan.reset();
            state.btreeForUsedCatNodeSector.reset();
            invalidateTimer();
            if (state.orphEntriesTotal > 0) {
                OrphanEntries(state).processOrphanEntriesWithIncrement(false, true);
                invalidateTimer();
            }
            journal.searchJournalForExtraExtents();
        });
        invalidateTimer();
        phase([&] {
            post(Dict{{"Progress Status", "Rearranging extra extents ..."},
                      {"Progress Type", 0},
                      {"Start Animation", true}},
                 true);
            journal.rearrangeExtsFound(v.dirRoot);
            post(Dict{{"Progress Status", "Rearranging extra extents ..."}, {"Stop Animation", true}}, true);
        });
        v.treeScanMode = 1;
    }
    ensureRoot();
    deletedFileSearch(recoveryOf(FileSystem::HFSPlus), arguments);
    cleanUp();
    post(Dict{{"Progress Status", "Tree Completed ..."}, {"Tree Complete", true}}, false);
}

void ScanThread::deletedFileSearch(const Recovery& row, const Array& arguments) {
    if (intAt(arguments, 1) != 1) return;
    Volume& v = *volume_;
    search_->sigArray = arguments.size() > 2 ? arguments[2].arrayValue() : Array{};
    const std::int64_t method = methodAt(arguments, 3);
    // The HFS+ free-space searches read the allocation file's extents.
    if ((method == 0 || method == 1) && row.fileSystem == FileSystem::HFSPlus)
        AdvancedTreeScan(hfsState()).fillAllocationExt();
    // A resumed scan skipped the FAT pass, but the free-cluster searches need
    // the geometry the boot sector gives (the snapshot lacks the reserved
    // sectors before the FAT).
    if (resumed_ && row.fileSystem == FileSystem::FAT) {
        FATFileSystem fat(v);
        fat.checkFATFileSystemHealthy();
        fat_ = fat.geometry();
    }
    if (method == 0)
        searchStep(row.plain);
    else if (method == 1)
        searchStep(row.carve);
    invalidateTimer();
    v.treeScanMode = 0;
}

void ScanThread::otherFileSystemBody(const Recovery& row, const Array& arguments) {
    // These file systems are recovered whenever the scan is not resumed,
    // whatever the deleted-file flag says.
    if (!resumed_) fileSystemRecovery(row);
    deletedFileSearch(row, arguments);
    ensureRoot();
    cleanUp();
    post(Dict{{"Progress Status", "Tree Completed ..."}, {"Tree Complete", true}, {"Stop Animation", true}}, false);
}

void ScanThread::scanForDeletedFilesFAT(const Array& arguments) {
    otherFileSystemBody(recoveryOf(FileSystem::FAT), arguments);
}

void ScanThread::scanForDeletedFilesExFAT(const Array& arguments) {
    otherFileSystemBody(recoveryOf(FileSystem::ExFAT), arguments);
}

void ScanThread::scanForDeletedFilesAPFS(const Array& arguments) {
    otherFileSystemBody(recoveryOf(FileSystem::APFS), arguments);
}

void ScanThread::scanForDeletedFilesDisk(const Array& arguments) {
    Volume& v = *volume_;
    detectResume(arguments);
    if (!resumed_) {
        ensureRoot();
        v.dirRoot->foundBySignature = 1;
    }
    ensureRoot();
    search_->sigArray = !arguments.empty() ? arguments[0].arrayValue() : Array{};
    std::int64_t method = methodAt(arguments, 1);
    if (method == 0)
        searchStep(Driver::PlainDisk);
    else if (method == 1)
        searchStep(Driver::CarveDisk);
    invalidateTimer();
    cleanUp();
    post(Dict{{"Progress Status", "Tree Completed ..."}, {"Tree Complete", true}, {"BarDoubleValue", 0}}, false);
}
