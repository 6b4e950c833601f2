#include "volume/TreeCleanup.h"

#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/FileSectorRuns.h"
#include "volume/FileTypeRegistry.h"
#include "volume/Volume.h"

#include <vector>

namespace {

// Applies fn to the node and to every folder above it, up to the root; a
// ring in the parent links ends the walk with a log line.
template <class Fn> void forEachAncestor(NewDir* from, Fn fn) {
    if (!newdir::forEachAncestor(from, fn))
        platform::logLine("Parent links of the found tree form a ring; totals above it left as they are");
}

// Running totals to take off a folder and everything above it.
struct Decrement {
    std::uint64_t size = 0;
    std::uint32_t files = 0;
    std::uint32_t entries = 0;
    bool any() const { return size || files || entries; }
    void add(const Decrement& o) {
        size += o.size;
        files += o.files;
        entries += o.entries;
    }
    void applyTo(NewDir* d) const {
        d->fileSize -= size;
        d->fileCount -= files;
        d->childrenCount -= entries;
    }
};

// The removal passes lower a folder's totals and those of every folder above
// it each time they drop something. Done literally that costs the depth of
// the folder per removal, which a medium with a folder chain hundreds of
// thousands deep turns into hours. So while the parent links agree with the
// tree being walked, what a folder loses is parked with it and handed up one
// level as the walk leaves it: the passes never read the totals they lower
// above the folder they are in, and sums do not care about order, so every
// folder ends with the same values. Where a parent link disagrees with the
// tree, that folder's removals walk its parent links at once instead.
class RemovalTotals {
public:
    // As the walk enters a folder and leaves it.
    void enter(NewDir* folder) {
        const bool agree = levels_.empty() || (levels_.back().linksAgree && folder->pndirPointer == levels_.back().dir);
        levels_.push_back({folder, agree, {}});
    }
    void leave() {
        const Level level = levels_.back();
        levels_.pop_back();
        if (!level.pending.any()) return;
        if (levels_.empty()) {
            forEachAncestor(level.dir, [&](NewDir* a) { level.pending.applyTo(a); });
        } else {
            level.pending.applyTo(level.dir);
            levels_.back().pending.add(level.pending);
        }
    }
    // What the pass dropped from the folder entered last.
    void lower(const Decrement& d) {
        if (!d.any()) return;
        Level& level = levels_.back();
        if (level.linksAgree)
            level.pending.add(d);
        else
            forEachAncestor(level.dir, [&](NewDir* a) { d.applyTo(a); });
    }

private:
    struct Level {
        NewDir* dir;
        bool linksAgree; // this and every link up to the start match the tree
        Decrement pending;
    };
    std::vector<Level> levels_;
};

// The extension as the path rules give it: the text after the last dot of
// the last path component; none for a name that only begins with a dot.
std::u16string_view pathExtension(std::u16string_view name) {
    while (name.size() > 1 && name.back() == u'/')
        name.remove_suffix(1);
    if (auto slash = name.rfind(u'/'); slash != std::u16string_view::npos) name = name.substr(slash + 1);
    auto dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

bool beginsWith(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

} // namespace

TreeCleanup::TreeCleanup(Volume& volume) noexcept : volume_(volume) {}

void TreeCleanup::processDuplicateEntries(bool filterTreeForMedia) {
    Volume& v = volume_;
    platform::AppController* controller = platform::appController();
    platform::Dict progress;
    auto post = [&](const char* text) {
        progress.set("Progress Status", platform::Value(text));
        if (controller) controller->updateProgress(platform::Dict(progress));
    };
    auto step = [&](const char* text) {
        post(text);
        platform::logLine(text);
    };

    progress.set("Progress Type", platform::Value(0));
    progress.set("Start Animation", platform::Value(true));
    step("Rearranging tree...");

    // The scan is complete: the auto-recovery files are no longer needed.
    if (controller) controller->rawScanCompleted();

    if (filterTreeForMedia) {
        step("Removing non-media tree...");
        removeNonMediaFilesAndFolders(v.dirRoot);
    }
    step("Removing empty tree...");
    removeZeroSizeFolders(v.dirRoot);
    step("Rearranging tree (step 2)...");
    rearrangeTreeFromDir(v.dirRoot);
    step("Removing deleted tree...");
    rearrangeDeletedTree(v.dirRoot);
    step("Fixing names...");
    fixNilFileNames(v.dirRoot);
    markFilesOnUnreadableSectors();
    step("Optimizing Tree...");
    if (v.dirRoot) newdir::fillChildrenDirectArrays(v.dirRoot);

    post("Removing helper trees...");
    platform::logLine("Removing helper trees..");
    v.releaseHelperIndexes();

    progress.clear();
    progress.set("Stop Animation", platform::Value(true));
    step("Rearranging tree (done)...");
}

void TreeCleanup::markFilesOnUnreadableSectors() {
    Volume& v = volume_;
    if (!v.dirRoot || v.unreadableSectorCount() == 0) return;
    // What measured a file knew only the sectors lost by then: a walk that
    // jumps a movie's media data by its length, a file system's record of
    // where a file lies, read nothing of it. By the end of the scan the map
    // holds every place its readers lost, wherever the file lies, as the
    // save will read it.
    const FileSectorRuns::Geometry geometry{v.u32BytesInSector(), v.HPlusVolStart(),
                                            v.sizeInSect() != 0 ? platform::saturatingAdd(v.startSector, v.sizeInSect())
                                                                : 0};
    std::uint64_t marked = 0;
    newdir::preOrder(v.dirRoot, newdir::childList, newdir::folderChild, [&](NewDir* folder) {
        for (NewDir* file : folder->childList) {
            if (!file || file->fileType != NewDir::File || file->complete == NewDir::kDamaged) continue;
            bool lost = false;
            FileSectorRuns::visit(*file, geometry, true, [&](std::uint64_t first, std::uint64_t end) {
                lost = v.unreadableSectorsIn(first, end - first) != 0;
                return !lost;
            });
            if (!lost) continue;
            file->complete = NewDir::kDamaged;
            ++marked;
        }
    });
    if (marked != 0)
        platform::logFormat("%llu files found on %@ lie on sectors that could not be read; they are marked Bad",
                            static_cast<unsigned long long>(marked), v.path());
}

bool TreeCleanup::isMediaFile(std::u16string_view extension) {
    return FileTypeRegistry::isMediaFile(extension);
}

void TreeCleanup::removeNonMediaFilesAndFolders(NewDir* folder) {
    RemovalTotals totals;
    newdir::postOrder(
        folder, newdir::childList, [](const NewDir* c) { return !c->childList.empty(); },
        [&](NewDir* f) {
            totals.enter(f);
            // Files whose extension is not a media one go, the rest keep
            // their order. Folders stay here; the next pass drops those left
            // empty.
            Decrement removed;
            f->childList.eraseIf([&](NewDir* c) {
                if (!c || c->fileType != NewDir::File) return false;
                const std::u16string name = newdir::fileName(c);
                const std::u16string_view ext = pathExtension(name);
                if (ext.size() >= 2 && ext.size() <= 4 && isMediaFile(ext)) return false;
                removed.size += c->fileSize;
                removed.files += 1;
                removed.entries += 1;
                newdir::freeNDir(c);
                return true;
            });
            totals.lower(removed);
        },
        [&](NewDir*) { totals.leave(); });
}

void TreeCleanup::removeZeroSizeFolders(NewDir* folder) {
    RemovalTotals totals;
    newdir::postOrder(
        folder, newdir::childList, [](const NewDir* c) { return c->childrenCount != 0; },
        [&](NewDir* f) {
            totals.enter(f);
            if (f->childrenCount == 0) return newdir::Walk::Skip;
            // Folders whose running size is 0 go, and hidden system folders
            // go even with data in them; the trash stays, it is where deleted
            // files are most often found. Each goes with its whole subtree.
            // Sizes are left to the next pass, which recomputes every total.
            Decrement removed;
            f->childList.eraseIf([&](NewDir* c) {
                if (!c || c->fileType != NewDir::Folder) return false;
                const std::u16string name = newdir::fileName(c);
                const bool hidden = beginsWith(name, u".") && !beginsWith(name, u".Trashes");
                if (c->fileSize != 0 && !hidden) return false;
                removed.files += c->fileCount;
                removed.entries += c->childrenCount + 1;
                newdir::freeNDir(c);
                return true;
            });
            totals.lower(removed);
            return newdir::Walk::Into;
        },
        [&](NewDir*) { totals.leave(); });
}

void TreeCleanup::rearrangeTreeFromDir(NewDir* folder) {
    if (!folder) return;
    // Each folder is zeroed when the walk enters it and then counts its
    // direct children; as the walk leaves it, it is folded into its parent.
    // Every folder ends with the sums over everything below it, as if each
    // file had been added to every folder above it, without walking up once
    // per file. The walk sets the parent links on the way down.
    std::vector<char> deletedFileBelow; // one per folder the walk is in
    bool deletedFile = false;           // below the start, once the walk is done
    newdir::postOrder(
        folder, newdir::childList, newdir::folderChild,
        [&](NewDir* f) {
            f->fileSize = 0;
            f->fileCount = 0;
            f->childrenCount = 0;
            f->extents.clear();
            bool deleted = false;
            for (NewDir* c : f->childList) {
                if (!c) continue;
                c->pndirPointer = f;
                if (c->fileType == NewDir::File) {
                    c->fileCount = 1;
                    c->childrenCount = 0;
                    if (c->deleted == 1) deleted = true;
                    f->fileSize += c->fileSize;
                    f->fileCount += 1;
                    f->childrenCount += 1;
                } else if (c->fileType == NewDir::Folder) {
                    f->childrenCount += 1;
                }
            }
            deletedFileBelow.push_back(deleted);
        },
        [&](NewDir* f) {
            deletedFile = deletedFileBelow.back();
            deletedFileBelow.pop_back();
            // A folder keeps a deleted mark its reader gave it; only a
            // deleted file marks the folders above it.
            if (deletedFile) f->deleted = 1;
            if (f == folder) return;
            NewDir* p = f->pndirPointer;
            p->fileSize += f->fileSize;
            p->fileCount += f->fileCount;
            p->childrenCount += f->childrenCount;
            if (deletedFile) deletedFileBelow.back() = true;
        });

    // Folders above the one the pass started at are not zeroed: they gain
    // what lies below it.
    if (NewDir* above = folder->pndirPointer) {
        const std::uint64_t size = folder->fileSize;
        const std::uint32_t files = folder->fileCount;
        const std::uint32_t entries = folder->childrenCount;
        forEachAncestor(above, [&](NewDir* a) {
            if (deletedFile) a->deleted = 1;
            a->fileSize += size;
            a->fileCount += files;
            a->childrenCount += entries;
        });
    }
}

void TreeCleanup::rearrangeDeletedTree(NewDir* folder) {
    newdir::preOrder(folder, newdir::childList, newdir::folderChild, [](NewDir* f) {
        for (NewDir* c : f->childList)
            if (c && c->deleted == 1) newdir::appendDeletedChild(f, c);
    });
}

void TreeCleanup::fixNilFileNames(NewDir* folder) {
    newdir::preOrder(
        folder, newdir::childList, [](const NewDir* c) { return c->childrenCount != 0; },
        [](NewDir* f) {
            for (NewDir* c : f->childList)
                if (c && c->nameLength == 0) newdir::setFileName(c, u"Untitled");
        });
}

// Paths are built as the readers attach entries; nothing is left to fix.
void TreeCleanup::fixPathNames(NewDir*) {}
