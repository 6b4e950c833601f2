#include "session/RecoverySessionOpening.h"

#include "platform/AppController.h"
#include "platform/SystemLog.h"
#include "session/SessionMediumCheck.h"
#include "volume/TreeCleanup.h"
#include "volume/Volume.h"

#include <thread>
#include <vector>

using platform::Dict;

namespace {

void alert(const std::string& title, const std::string& body) {
    if (auto* c = platform::appController())
        c->showAlertPanelWithData(Dict{{"title", title}, {"body", body}, {"defaultButton", "OK"}});
}

void onMain(const std::function<void()>& fn) {
    if (!fn) return;
    if (auto* c = platform::appController())
        c->performOnMainThread(fn, true);
    else
        fn();
}

void progress(Dict request) {
    request.set("progressIndicator", "progressLoadingRecoverySession");
    if (auto* c = platform::appController()) c->updateProgressIndicator(request);
}

// The rows at the volume's own path first: a medium that still holds the
// found files where it is keeps its path, though a copy of it may be
// connected too.
platform::Array ownPathFirst(const platform::Array& rows, const std::string& path) {
    platform::Array ordered;
    ordered.reserve(rows.size());
    for (const bool own : {true, false})
        for (const platform::Value& row : rows)
            if ((row.dictValue().get("Path").description() == path) == own) ordered.push_back(row);
    return ordered;
}

} // namespace

bool RecoverySessionOpening::checkHead(const std::string& path) {
    std::string why;
    std::unique_ptr<SessionFileInput> in = SessionFileInput::open(path, &why);
    if (!in) {
        alert("! Error", "This recovery session file can not be read: " + why + ".");
        return false;
    }
    std::string version;
    switch (RecoverySessionFile::readHead(*in, &version)) {
    case RecoverySessionFile::Head::Complete:
        return true;
    case RecoverySessionFile::Head::Incomplete:
        alert("! Error", "This recovery session file is incomplete.");
        return false;
    case RecoverySessionFile::Head::OtherVersion:
        alert("! Error", "This recovery session file belongs to " + version + ". Can not process.");
        return false;
    case RecoverySessionFile::Head::Damaged:
        break;
    }
    alert("! Error", in->failed() ? "This recovery session file can not be read: " + in->reason() + "."
                                  : RecoverySessionFile::kDamaged);
    return false;
}

void RecoverySessionOpening::refuseOpeningNow() {
    alert(kCanNotOpenNowTitle,
          "Drentic Recovery Software is at a stage where it can not open this recovery session file. For opening "
          "this file either return to the main screen and then launch the file or quit Drentic Recovery Software "
          "and launch the file again.");
}

void RecoverySessionOpening::failed(const std::string& message) {
    platform::logFormat("Recovery session %@ not opened: %@", path_, message);
    progress(Dict{{"doubleValue", 0.0}});
    if (auto* c = platform::appController()) {
        c->endSheetWindow(Dict{{"sheetWindow", "windowLoadingRecoverySession"}});
        onMain(showHome_);
        c->performOnMainThread([c] { c->setScanInfoOrSavingNotProcessing(true); }, true);
    }
    alert("! Error", message);
}

bool RecoverySessionOpening::openScanInfo() {
    if (panelVisible_) {
        bool visible = true;
        while (visible) {
            onMain([&] { visible = panelVisible_(); });
            if (visible) std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        std::this_thread::sleep_for(settleDelay_);
    }
    auto* c = platform::appController();
    if (c) c->beginSheetWindow(Dict{{"sheetWindow", "windowLoadingRecoverySession"}, {"parentWindow", "window"}});
    progress(Dict{{"setIndeterminate", true}, {"animation", true}});

    // Everything is read before anything of it is handed over.
    RecoverySession session;
    std::string why;
    std::unique_ptr<SessionFileInput> in = SessionFileInput::open(path_, &why);
    if (!in) {
        failed("This recovery session file can not be read: " + why + ".");
        return false;
    }
    NewDir* readRoot = RecoverySessionFile::readBody(
        *in, session,
        [](const NewDir& root) {
            progress(Dict{
                {"setIndeterminate", false}, {"minValue", 0.0}, {"maxValue", static_cast<double>(root.childrenCount)}});
        },
        [] {
            progress(Dict{{"incrementBy", 50.0}});
        });
    if (!readRoot) {
        failed(in->failed() ? "This recovery session file can not be read: " + in->reason() + "."
                            : RecoverySessionFile::kDamaged);
        return false;
    }
    in.reset();

    std::shared_ptr<Volume> volume = session.volume->mutableCopy();
    volume->openedScanInfo = true;
    session.volume = volume;

    const bool marked = readRoot->selected == 1;
    setSelectedVolumeDirRoot(*volume, readRoot);
    // The drive or volume the session came from, looked for before the tree
    // is handed over so that the volume goes with its current path.
    const bool mediumFound = checkMediumAvailability(*volume, session, c ? c->driveDictArray() : platform::Array(),
                                                     c ? c->volumeDictArray() : platform::Array());
    onMain([&] {
        if (adopt_) adopt_(session);
    });

    progress(Dict{{"doubleValue", 0.0}});
    if (c) c->endSheetWindow(Dict{{"sheetWindow", "windowLoadingRecoverySession"}});
    onMain(showTree_);
    if (c) {
        c->updateButton(Dict{{"button", "buttonTreeBackToPartitions"}, {"setEnabled", true}});
        if (marked) c->updateButton(Dict{{"button", "saveButton"}, {"setEnabled", true}});
        c->performOnMainThread(
            [c, volume] {
                c->setScanInfoOrSavingNotProcessing(true);
                volume->scanInfoSaved = true;
            },
            true);
    }

    if (!mediumFound) mediumNotFoundAlert(*volume);
    if (c)
        c->updateTextField(Dict{{"textField", "textFieldTreeStatus"}, {"textField String", "Recovery Session Opened"}});
    alert("Recovery Session Opened", "From File: " + path_);
    return true;
}

bool RecoverySessionOpening::checkMediumAvailability(Volume& volume, RecoverySession& session,
                                                     const platform::Array& driveDictArray,
                                                     const platform::Array& volumeDictArray) {
    SessionMediumCheck::Found found;
    if (volume.volumeScanType == 2) {
        found = SessionMediumCheck::checkVolumeAvailability(volume, ownPathFirst(volumeDictArray, volume.path()),
                                                            session.print);
        if (!found.notConnected && found.pathIsDifferent) {
            volume.setPath(found.path);
            volume.setCPath();
        }
    } else if ((volume.volumeScanType == 0 || volume.volumeScanType == 1 || volume.volumeScanType == 3) &&
               session.hasFirst5Sectors) {
        found = SessionMediumCheck::checkDriveAvailability(volume, session.first5Sectors, session.first5SectorsUnread,
                                                           ownPathFirst(driveDictArray, volume.path()), session.print);
        if (!found.notConnected && found.pathIsDifferent)
            SessionMediumCheck::adoptDrivePath(volume, found.path, session.partitionListDictArray,
                                               session.partitionScanListDictArray);
    } else {
        found.notConnected = false;
    }
    // Whatever now has the old path may be another disk: its bytes are never
    // given out as the found files.
    volume.setMediumUnconfirmed(found.notConnected);
    if (found.notConnected)
        platform::logFormat("The %@ of the recovery session is not connected; preview and saving do not read %@",
                            std::string(volume.volumeScanType == 2 ? "volume" : "drive"), volume.path());
    return !found.notConnected;
}

void RecoverySessionOpening::mediumNotFoundAlert(const Volume& volume) {
    if (volume.volumeScanType == 2)
        alert("Volume Not Mounted", "The volume \"" + volume.volumeName +
                                        "\" to which this recovery session belongs is not mounted. So saving and "
                                        "preview will not work. Please mount the volume and restart " +
                                        kProgramName + ".");
    else
        alert("Drive Not Connected",
              std::string("The drive to which this recovery session belongs is either not connected or has been "
                          "modified in any way. So saving and preview will not work. Please connect the drive and "
                          "restart ") +
                  kProgramName + ".");
}

NewDir* RecoverySessionOpening::setSelectedVolumeDirRoot(Volume& volume, NewDir* readRoot, bool generateViewHelpers) {
    NewDir* root = newdir::allocate();
    root->fileType = NewDir::Folder;
    newdir::setFileName(root, u"Root");
    newdir::setPathName(root, u"1");
    root->fileID = 2;
    root->parentID = 1;
    root->sectorsPerBlock = readRoot->sectorsPerBlock;
    // Saving starts only from a marked root: the marks read below it count.
    root->selected = readRoot->selected;
    readFromDir(readRoot, root);
    newdir::freeNDir(readRoot);
    if (generateViewHelpers) {
        TreeCleanup::rearrangeDeletedTree(root);
        newdir::fillChildrenDirectArrays(root);
    }
    volume.dirRoot = root;
    return root;
}

void RecoverySessionOpening::readFromDir(const NewDir* source, NewDir* destination) {
    struct Pair {
        const NewDir* from;
        NewDir* to;
    };
    std::vector<Pair> pending{{source, destination}};
    while (!pending.empty()) {
        const Pair p = pending.back();
        pending.pop_back();
        for (const NewDir* c : p.from->childList) {
            if (!c || (c->fileType != NewDir::Folder && c->fileType != NewDir::File)) continue;
            NewDir* n = newdir::allocate();
            n->fileType = c->fileType;
            n->pndirPointer = p.to;
            newdir::setFileName(n, c->texts.name());
            n->sectorsPerBlock = c->sectorsPerBlock;
            n->dataStartSector = c->dataStartSector;
            n->firstSectorOffset = c->firstSectorOffset;
            n->isFATEntry = c->isFATEntry;
            n->deleted = c->deleted;
            n->selected = c->selected;
            n->foundBySignature = c->foundBySignature;
            if (c->isFolder()) {
                newdir::setPathBelow(n, p.to);
                pending.push_back({c, n});
            } else {
                n->fileSize = c->fileSize;
                n->fileCount = 1;
                for (const ExtP& e : c->extents)
                    newdir::appendDataExtent(n, e.startBlock, e.blockCount);
                n->createDate = c->createDate;
                n->modDate = c->modDate;
                n->complete = c->complete;
            }
            newdir::appendChild(p.to, n);
        }
    }
    // Totals from the files that are there, folded upwards as each folder is
    // left; a deleted file makes every folder above it deleted.
    struct Totals {
        std::uint64_t size = 0;
        std::uint32_t files = 0;
        std::uint32_t entries = 0;
        bool deletedFile = false;
    };
    std::vector<Totals> open;
    newdir::postOrder(
        destination, newdir::childList, newdir::folderChild,
        [&](NewDir* f) {
            Totals t;
            for (const NewDir* c : f->childList) {
                if (!c) continue;
                t.entries += 1;
                if (c->fileType != NewDir::File) continue;
                t.files += 1;
                t.size += c->fileSize;
                t.deletedFile = t.deletedFile || c->deleted == 1;
            }
            open.push_back(t);
        },
        [&](NewDir* f) {
            const Totals t = open.back();
            open.pop_back();
            f->fileSize += t.size;
            f->fileCount += t.files;
            f->childrenCount += t.entries;
            if (t.deletedFile) f->deleted = 1;
            if (open.empty()) return;
            Totals& up = open.back();
            up.size += f->fileSize;
            up.files += f->fileCount;
            up.entries += f->childrenCount;
            up.deletedFile = up.deletedFile || t.deletedFile;
        });
}
