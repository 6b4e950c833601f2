#include "fs/apfs/APFSTree.h"

#include "formats/HFSPlusStructures.h"
#include "formats/ObjPhys.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "platform/Value.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <unordered_set>

using platform::Dict;

namespace {

constexpr std::uint64_t kRootFolderID = 2;
constexpr std::uint32_t kPrivateFolderID = 3;
constexpr std::uint32_t kLostFilesID = 7;
// The "Complete" column's "Bad".
constexpr std::uint8_t kIncomplete = 2;
const char* const kStatus = "Mapping File Folder Entries..";

// Nanoseconds since 1970 as HFS+ seconds since 1904; 0 (no date) for a time
// that does not fit.
std::uint32_t hfsSeconds(std::uint64_t nanoseconds) {
    const std::uint64_t seconds = nanoseconds / 1000000000 + hfsplus::kSecondsFrom1904To1970;
    return seconds > std::numeric_limits<std::uint32_t>::max() ? 0 : static_cast<std::uint32_t>(seconds);
}

void post(const Dict& progress) {
    if (auto* c = platform::appController()) c->updateProgress(progress);
}

void setUpTimer() {
    if (auto* c = platform::appController()) c->setUpTimer();
}

} // namespace

bool APFSTree::ExtentList::add(Extent e) {
    if (seen_.contains({e.start, e.offset, e.length})) return false;
    if (static_cast<std::uint32_t>(e.offset) == 0 && names_.contains(e.name)) return false;
    seen_.insert({e.start, e.offset, e.length});
    names_.insert(e.name);
    const auto at = std::upper_bound(extents_.begin(), extents_.end(), e.offset,
                                     [](std::uint64_t offset, const Extent& x) { return offset < x.offset; });
    extents_.insert(at, std::move(e));
    return true;
}

APFSTree::APFSTree(Volume& volume) noexcept : volume_(volume) {}

bool APFSTree::enumerateDirectoryEntryApfsItemsDict(const Items& items, const Extents& extents, bool, NewDir* parent) {
    const std::uint64_t count = items.size();
    const auto start = std::chrono::steady_clock::now();
    Dict progress{{"Progress Status", kStatus},
                  {"Progress Type", 1},
                  {"Start Animation", true},
                  {"BarMaxValue", static_cast<unsigned long long>(count)}};
    post(progress);
    setUpTimer();
    post(progress);
    post(Dict{{"TimeRemaining", ""}});
    setUpTimer();

    built_.clear();
    std::uint64_t n = 0;
    std::uint32_t shownPercent = std::numeric_limits<std::uint32_t>::max();
    for (const auto& [id, item] : items) {
        ++n;
        // One post per step of the percentage: a post waits for the main
        // thread, and a volume holds hundreds of thousands of inodes.
        const auto percent = static_cast<std::uint32_t>(n * 100 / count);
        if (percent != shownPercent) {
            shownPercent = percent;
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            post(Dict{{"TimeRemaining", n > count / 1000 ? volume_.getTimeFormStringForInterval(
                                                               elapsed * double(count - n) / double(count))
                                                         : std::string("Calculating ...")},
                      {"Percent Done", percent},
                      {"Progress Status", kStatus},
                      {"BarDoubleValue", static_cast<unsigned long long>(n)}});
        }
        if (id == kRootFolderID || id == kPrivateFolderID) continue;
        if (parent && !built_.contains(id)) ApfsTreeItem(item, items, parent, extents);
    }
    built_.clear();
    return true;
}

void APFSTree::ApfsTreeItem(const Item& item, const Items& items, NewDir* root, const Extents& extents) {
    // Up the parent chain to the first folder that is there already (the
    // root, a built node or "Lost Files"), then down again building each.
    std::vector<const Item*> chain{&item};
    std::unordered_set<std::uint32_t> onChain{item.node_id};
    NewDir* anchor = root;
    for (;;) {
        const Item& cur = *chain.back();
        if (cur.parent <= kRootFolderID) break;
        const auto parentID = static_cast<std::uint32_t>(cur.parent);
        if (const auto b = built_.find(parentID); b != built_.end()) {
            anchor = b->second;
            break;
        }
        const auto p = items.find(parentID);
        if (p == items.end() || onChain.contains(parentID)) {
            if (p != items.end())
                platform::logFormat("APFS recovery on %@: the parent chain of inode %@ loops; it goes to Lost Files",
                                    volume_.path(), parentID);
            anchor = lostFiles(root);
            break;
        }
        chain.push_back(&p->second);
        onChain.insert(parentID);
    }
    NewDir* parent = anchor;
    for (auto it = chain.rbegin(); it != chain.rend() && parent; ++it)
        parent = buildOne(**it, parent, root, extents);
}

NewDir* APFSTree::buildOne(const Item& item, NewDir* parent, NewDir* root, const Extents& extents) {
    Volume& v = volume_;
    NewDir* node = newdir::allocate();
    node->fileType = item.folder ? NewDir::Folder : NewDir::File;
    node->fileID = item.node_id;
    if (parent == v.dirLostFiles && parent != nullptr)
        node->parentID = kLostFilesID;
    else if (item.parent > kRootFolderID)
        node->parentID = static_cast<std::uint32_t>(item.parent);
    else
        node->parentID = root->fileID;
    node->pndirPointer = parent;
    node->fileSize = item.file_size;
    node->deleted = static_cast<std::uint8_t>(item.deleted);
    node->createDate = hfsSeconds(item.creationtime);
    node->modDate = hfsSeconds(item.modificationtime);
    // Extents count the container's 4096-byte blocks from the volume's first
    // sector, as every file system's do, so a file's data may lie anywhere
    // in a container of up to 16 TiB.
    const std::uint64_t sectorBytes = v.u32BytesInSector();
    const std::uint64_t sectorsPerBlock = sectorBytes ? kApfsBlockBytes / sectorBytes : 0;
    newdir::setSectorsPerBlock(node, sectorsPerBlock);
    const std::uint64_t size = item.file_size;
    newdir::forEachAncestor(parent, [size](NewDir* a) {
        ++a->childrenCount;
        a->fileSize = platform::saturatingAdd(a->fileSize, size);
    });
    newdir::setFileName(node, newdir::utf16(item.name));
    newdir::setPathBelow(node, parent);

    std::uint64_t covered = 0;
    if (const auto list = extents.find(static_cast<std::uint32_t>(item.private_id));
        list != extents.end() && sectorsPerBlock != 0 && !item.folder) {
        for (const Extent& e : list->second.byOffset()) {
            if (e.name != item.name) continue;
            const std::uint64_t blocks = e.length / kApfsBlockBytes + (e.length % kApfsBlockBytes != 0);
            if (!newdir::appendDataExtent(node, e.start, blocks)) break;
            covered = platform::saturatingAdd(covered, blocks * kApfsBlockBytes);
        }
    }
    // What the extents found do not cover is not guessed at: the file is
    // shown incomplete instead of being given blocks that may be another's.
    if (!item.folder && covered < item.file_size) node->complete = kIncomplete;

    newdir::appendChild(parent, node);
    built_.emplace(item.node_id, node);
    return node;
}

NewDir* APFSTree::lostFiles(NewDir* root) {
    Volume& v = volume_;
    if (v.dirLostFiles) return v.dirLostFiles;
    NewDir* node = newdir::allocate();
    node->fileType = NewDir::Folder;
    node->fileID = kLostFilesID;
    node->parentID = static_cast<std::uint32_t>(kRootFolderID);
    newdir::setDataStartSector(node, v.blocksStartsAtSector & 0xFFFFFFFF);
    newdir::setFileName(node, u"Lost Files");
    newdir::setPathName(node, u"/Root");
    node->childIndex = v.btree.get();
    node->pndirPointer = root;
    node->deleted = 1;
    ++v.folderCount;
    ++v.entryCount;
    newdir::forEachAncestor(root, [](NewDir* a) { ++a->childrenCount; });
    v.addChildUpdateBTree(node, root);
    v.dirLostFiles = node;
    return node;
}
