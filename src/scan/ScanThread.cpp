#include "scan/ScanThread.h"

#include "hfsplus/AdvancedTreeScan.h"
#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/CatalogReader.h"
#include "hfsplus/DeletedFileScan.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/JournalExtents.h"
#include "hfsplus/OrphanEntries.h"
#include "platform/AppController.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/Volume.h"

#include <chrono>
#include <functional>
#include <thread>

using platform::Array;
using platform::Dict;
using platform::Value;

enum class ScanThread::Driver {
    PlainHFS,     // signatureSearchStartAt:
    PlainFAT,     // signatureSearchFATStartAt:
    PlainExFAT,   // signatureSearchExFATStartAt:
    PlainAPFS,    // signatureSearchAPFSStartAt:
    PlainDisk,    // signatureSearchDiskStartAt:
    CarveVolume,  // signatureSearchVolPhotoAndFileRecoveryMethodStartAt:
    CarveAPFS,    // signatureSearchVolPhotoAndFileRecoveryAPFSMethodStartAt:
    CarveExFAT,   // signatureSearchVolPhotoAndFileRecoveryExFATMethodStartAt:
    CarveDisk,    // signatureSearchDiskPhotoMethodStartAt:
    CarveHFSFree, // signatureSearchOnFreeSpaceOnlyStartAt:
    CarveFATFree, // signatureSearchOnFreeSpaceOnFATVolumeStartAt:
};

namespace {
const char* driverName(int d) {
    static const char* names[] = {
        "signature search of HFS+ free space",      "signature search of FAT free clusters",
        "signature search of an exFAT volume",      "signature search of APFS free blocks",
        "signature search of the whole disk",       "photo and file carving of the volume",
        "photo and file carving of an APFS volume", "photo and file carving of an exFAT volume",
        "photo and file carving of the whole disk", "photo and file carving of HFS+ free space",
        "photo and file carving of FAT free space"};
    return names[d];
}

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
} // namespace

ScanThread::ScanThread(std::shared_ptr<Volume> volume) : volume_(std::move(volume)) {}

void ScanThread::detach(std::shared_ptr<Volume> volume, Entry entry, Array arguments) {
    std::thread([volume = std::move(volume), entry, arguments = std::move(arguments)]() mutable {
        ScanThread t(std::move(volume));
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

ScanThread::FileSystem ScanThread::fileSystemForContent(const std::string& content, bool treeScan) {
    if (content.rfind("Apple", 0) == 0) return FileSystem::HFSPlus;
    if (content.rfind("FAT", 0) == 0) return FileSystem::FAT;
    if (content == "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7") return treeScan ? FileSystem::None : FileSystem::ExFAT;
    if (content == "APFS" || (treeScan && content == "41504653-0000-11AA-AA11-00306543ECAC")) return FileSystem::APFS;
    return FileSystem::None;
}

void ScanThread::detectResume(const Array& arguments) {
    resumed_ = isAuto(arguments);
    resumePosition_ = resumed_ && arguments.size() >= 2 ? arguments[arguments.size() - 2].uint64Value() : 0;
    volume_->autoCrashRecovery = resumed_;
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
    // None of the search drivers is part of this build yet; a search that
    // cannot run is left out entirely (no snapshot, no pause) rather than
    // pretending to have searched.
    std::function<void(std::uint64_t)> run;
    if (!run) {
        logStep(driverName(static_cast<int>(driver)));
        return;
    }
    platform::AppController* c = platform::appController();
    if (c) c->rawScanStarted(resumed_ ? Value("auto") : Value());
    while (volume_->pauseThread())
        std::this_thread::sleep_for(std::chrono::seconds(1));
    run(resumePosition_);
}

void ScanThread::cleanUp() {
    phase([&] {
        volume_->processDuplicateEntries();
        volume_->fixPathNames(volume_->dirRoot);
    });
}

void ScanThread::hfsTreeRecovery() {
    Volume& v = *volume_;
    v.advScanEntriesCanBePutIntoOrphanEntryArray = false;
    v.aborting = false;
    HFSPlusVolume hfs(v);
    bool found = false;
    bool valid = false;
    phase([&] { found = hfs.initializeVIB(); });
    if (found) {
        v.advScanEntriesCanBePutIntoOrphanEntryArray = true;
        phase([&] { valid = hfs.checkCatalogAndExtentsFile(); });
        if (valid) {
            CatalogNodeSearch(v).findCatalogLeafNodes([this](const std::function<void()>& step) { phase(step); });
            if (v.firstLeafNode != 0 && v.catNodeSize != 0) {
                phase([&] { CatalogReader(v).makeTree(); });
                if (v.orphEntriesTotal > 0) {
                    phase([&] {
                        OrphanEntries orphans(v);
                        // The advanced scan's fragment search passes over the
                        // nodes this walk read: what cannot be placed here is
                        // kept for its passes rather than dropped.
                        orphans.setKeepUnplacedEntries(v.treeScanMode == 1);
                        orphans.processOrphanEntriesWithIncrement(false, false);
                    });
                    invalidateTimer();
                }
            }
            if (v.treeScanMode == 1) phase([&] { AdvancedTreeScan(v).makeAdvTree(); });
            return;
        }
        hfs.getCatalogExtFromVIB();
    }
    if (v.scanMode == "Advanced Scan") {
        v.setBlockSize(8);
        phase([&] { AdvancedTreeScan(v).makeAdvTree(); });
        return;
    }
    v.aborting = true;
    if (auto* c = platform::appController()) {
        c->runAlertPanel(platform::alertRequest(
            "!Can not process",
            "Key data structures not found. Please try Advance Scan for tree on the desired volume.", "OK"));
        c->destroyVolumeAndBackToPartList();
    }
}

void ScanThread::startMakingTree(const Array& arguments) {
    Volume& v = *volume_;
    detectResume(arguments);
    v.resetSigArraysAndBtreesAndOthers();
    v.scanMode = !arguments.empty() ? arguments[0].stringValue() : std::string();
    if (v.scanMode == "Normal Scan")
        v.treeScanMode = 0;
    else if (v.scanMode == "Advanced Scan")
        v.treeScanMode = 1;
    const bool search = intAt(arguments, 1) != 0;
    if (search) v.sigArray = arguments.size() > 2 ? arguments[2].arrayValue() : Array{};

    if (!resumed_) {
        switch (fileSystemForContent(v.volumeContent, true)) {
        case FileSystem::HFSPlus:
            hfsTreeRecovery();
            break;
        case FileSystem::FAT:
            ensureRoot();
            logStep("FAT file-system recovery");
            break;
        case FileSystem::APFS:
            ensureRoot();
            logStep("APFS file-system recovery");
            break;
        default:
            break;
        }
    }
    // Every content kind has a root before any search runs, so carved files
    // always have a tree to go into.
    if (!v.aborting) ensureRoot();

    if (search && !v.aborting)
        searchStep(fileSystemForContent(v.volumeContent, true) == FileSystem::APFS ? Driver::CarveAPFS
                                                                                   : Driver::CarveVolume);
    if (!v.aborting) cleanUp();
    post(Dict{{"Progress Status", "default"}, {"Tree Complete", true}}, false);
}

void ScanThread::scanForDeletedFiles(const Array& arguments) {
    Volume& v = *volume_;
    detectResume(arguments);
    v.resetSigArraysAndBtreesAndOthers();
    switch (fileSystemForContent(v.volumeContent, false)) {
    case FileSystem::HFSPlus:
        scanForDeletedFilesHFS(arguments);
        return;
    case FileSystem::FAT:
        scanForDeletedFilesFAT(arguments);
        return;
    case FileSystem::ExFAT:
        scanForDeletedFilesExFAT(arguments);
        return;
    case FileSystem::APFS:
        scanForDeletedFilesAPFS(arguments);
        return;
    case FileSystem::None:
        break;
    }
    // A content none of the bodies takes still ends with an empty result,
    // so the progress screen is never left waiting.
    platform::logFormat("No file system recovery for content %@", v.volumeContent);
    ensureRoot();
    cleanUp();
    post(Dict{{"Progress Status", "Tree Completed ..."}, {"Tree Complete", true}, {"Stop Animation", true}}, false);
}

void ScanThread::scanForDeletedFilesHFS(const Array& arguments) {
    Volume& v = *volume_;
    if (!resumed_) ensureRoot();
    HFSPlusVolume hfs(v);
    phase([&] {
        hfs.fillVIB();
        hfs.checkCatalogAndExtentsFile(); // the deleted-file scan goes on either way
    });
    if (intAt(arguments, 0) == 1 && !resumed_) {
        DeletedFileScan deleted(v);
        JournalExtents journal(v);
        deleted.startMakingTreeDeletedFileScan();
        v.orphEntriesTotal = 0;
        journal.getJournalSizeAndStart();
        phase([&] {
            deleted.searchCatFragsForDeletedFiles();
            platform::logLine("Removing redundant entries of the live catalog");
            v.freeBtreeNormalScanNDIRs();
            v.btreeNormalScan.reset();
            v.btreeForUsedCatNodeSector.reset();
            invalidateTimer();
            if (v.orphEntriesTotal > 0) {
                OrphanEntries(v).processOrphanEntriesWithIncrement(false, true);
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
    if (intAt(arguments, 1) == 1) {
        v.sigArray = arguments.size() > 2 ? arguments[2].arrayValue() : Array{};
        std::int64_t method = methodAt(arguments, 3);
        if (method == 0)
            searchStep(Driver::PlainHFS);
        else if (method == 1)
            searchStep(Driver::CarveHFSFree);
        invalidateTimer();
        v.treeScanMode = 0;
    }
    cleanUp();
    post(Dict{{"Progress Status", "Tree Completed ..."}, {"Tree Complete", true}}, false);
}

void ScanThread::otherFileSystemBody(const Array& arguments, const char* recovery, Driver plain, Driver carve) {
    Volume& v = *volume_;
    // These file systems are recovered whenever the scan is not resumed,
    // whatever the deleted-file flag says.
    if (!resumed_) {
        ensureRoot();
        phase([&] { logStep(recovery); });
    }
    if (intAt(arguments, 1) == 1) {
        v.sigArray = arguments.size() > 2 ? arguments[2].arrayValue() : Array{};
        std::int64_t method = methodAt(arguments, 3);
        if (method == 0)
            searchStep(plain);
        else if (method == 1)
            searchStep(carve);
        invalidateTimer();
        v.treeScanMode = 0;
    }
    ensureRoot();
    cleanUp();
    post(Dict{{"Progress Status", "Tree Completed ..."}, {"Tree Complete", true}, {"Stop Animation", true}}, false);
}

void ScanThread::scanForDeletedFilesFAT(const Array& arguments) {
    otherFileSystemBody(arguments, "FAT file-system recovery", Driver::PlainFAT, Driver::CarveFATFree);
}

void ScanThread::scanForDeletedFilesExFAT(const Array& arguments) {
    otherFileSystemBody(arguments, "exFAT file-system recovery", Driver::PlainExFAT, Driver::CarveExFAT);
}

void ScanThread::scanForDeletedFilesAPFS(const Array& arguments) {
    otherFileSystemBody(arguments, "APFS file-system recovery", Driver::PlainAPFS, Driver::CarveAPFS);
}

void ScanThread::scanForDeletedFilesDisk(const Array& arguments) {
    Volume& v = *volume_;
    detectResume(arguments);
    v.resetSigArraysAndBtreesAndOthers();
    if (!resumed_) {
        ensureRoot();
        v.dirRoot->foundBySignature = 1;
    }
    ensureRoot();
    v.sigArray = !arguments.empty() ? arguments[0].arrayValue() : Array{};
    std::int64_t method = methodAt(arguments, 1);
    if (method == 0)
        searchStep(Driver::PlainDisk);
    else if (method == 1)
        searchStep(Driver::CarveDisk);
    invalidateTimer();
    cleanUp();
    post(Dict{{"Progress Status", "Tree Completed ..."}, {"Tree Complete", true}, {"BarDoubleValue", 0}}, false);
}
