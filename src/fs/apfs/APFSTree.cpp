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

bool APFSTree::ExtentList::holds(const Extent& e) const {
    const bool nameCounts = static_cast<std::uint32_t>(e.offset) == 0;
    if (!held_)
        return std::any_of(extents_.begin(), extents_.end(), [&](const Extent& x) {
            return (x.start == e.start && x.offset == e.offset && x.length == e.length) ||
                   (nameCounts && x.name == e.name);
        });
    return held_->extents.contains({e.start, e.offset, e.length}) || (nameCounts && held_->names.contains(e.name));
}

bool APFSTree::ExtentList::add(Extent e) {
    if (holds(e)) return false;
    if (extents_.size() >= kCompareOneByOne) {
        const auto remember = [this](const Extent& x) {
            held_->extents.insert({x.start, x.offset, x.length});
            held_->names.insert(x.name);
        };
        if (!held_) {
            held_ = std::make_unique<Held>();
            std::for_each(extents_.begin(), extents_.end(), remember);
        }
        remember(e);
    }
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

    // The items by id: each key carries the id above the item's place in
    // `at`, so sorting the keys sorts the items.
    std::vector<const Item*> at;
    std::vector<std::uint64_t> keys;
    at.reserve(items.size());
    keys.reserve(items.size());
    for (const auto& [id, item] : items) {
        keys.push_back(std::uint64_t{id} << 32 | at.size());
        at.push_back(&item);
    }
    std::sort(keys.begin(), keys.end());
    ids_.clear();
    sorted_.clear();
    for (const std::uint64_t key : keys) {
        ids_.push_back(static_cast<std::uint32_t>(key >> 32));
        sorted_.push_back(at[static_cast<std::uint32_t>(key)]);
    }
    built_.assign(sorted_.size(), nullptr);

    std::uint32_t shownPercent = std::numeric_limits<std::uint32_t>::max();
    for (std::size_t i = 0; i < sorted_.size(); ++i) {
        const std::uint64_t n = i + 1;
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
        if (ids_[i] == kRootFolderID || ids_[i] == kPrivateFolderID) continue;
        if (parent && !built_[i]) ApfsTreeItem(i, parent, extents);
    }
    ids_ = {};
    sorted_ = {};
    built_ = {};
    chain_ = {};
    onChain_ = {};
    return true;
}

std::size_t APFSTree::indexOf(std::uint32_t id) const {
    const auto it = std::lower_bound(ids_.begin(), ids_.end(), id);
    return it != ids_.end() && *it == id ? static_cast<std::size_t>(it - ids_.begin()) : ids_.size();
}

void APFSTree::ApfsTreeItem(std::size_t item, NewDir* root, const Extents& extents) {
    // Up the parent chain to the first folder that is there already (the
    // root, a built node or "Lost Files"), then down again building each.
    std::vector<std::size_t>& chain = chain_;
    chain.assign(1, item);
    // A chain is short: it is searched for a loop as it is, until it grows
    // long enough to want a set.
    constexpr std::size_t kSearchChain = 32;
    if (!onChain_.empty()) onChain_ = {};
    const auto onChain = [&](std::size_t at) {
        if (chain.size() <= kSearchChain) return std::find(chain.begin(), chain.end(), at) != chain.end();
        if (onChain_.empty()) onChain_.insert(chain.begin(), chain.end());
        return onChain_.contains(at);
    };
    NewDir* anchor = root;
    for (;;) {
        const Item& cur = *sorted_[chain.back()];
        if (cur.parent <= kRootFolderID) break;
        const auto parentID = static_cast<std::uint32_t>(cur.parent);
        const std::size_t p = indexOf(parentID);
        if (p != ids_.size() && built_[p]) {
            anchor = built_[p];
            break;
        }
        if (p == ids_.size() || onChain(p)) {
            if (p != ids_.size())
                platform::logFormat("APFS recovery on %@: the parent chain of inode %@ loops; it goes to Lost Files",
                                    volume_.path(), parentID);
            anchor = lostFiles(root);
            break;
        }
        chain.push_back(p);
        if (!onChain_.empty()) onChain_.insert(p);
    }
    NewDir* parent = anchor;
    for (auto it = chain.rbegin(); it != chain.rend() && parent; ++it) {
        parent = buildOne(*sorted_[*it], parent, root, extents);
        built_[*it] = parent;
    }
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
