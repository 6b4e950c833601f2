#include "session/TreeRecordWriter.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// At most `limit` units of the text, never half of a surrogate pair.
std::u16string_view cut(std::u16string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t n = limit;
    if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    return text.substr(0, n);
}

bool writeUnits(std::u16string_view text, SessionFileOutput& out) {
    std::uint8_t bytes[2 * HFSPlusDir::kMaxPathUnits];
    std::size_t n = 0;
    for (char16_t u : text) {
        bytes[n++] = static_cast<std::uint8_t>(u >> 8);
        bytes[n++] = static_cast<std::uint8_t>(u);
    }
    return out.write(bytes, n);
}

// The children a subtree run writes after the node, skipping empty slots.
template <class Fn> void forEachChild(const NewDir* dir, bool forViewingTree, Fn fn) {
    for (std::uint32_t i = 0, n = dir->childrenArrayCount(); i < n; ++i) {
        const NewDir* c = forViewingTree ? newdir::shownChildAtIndex(dir, i) : newdir::childAtIndex(dir, i);
        if (c) fn(c);
    }
}

} // namespace

std::uint64_t TreeRecordWriter::identityOf(const NewDir* dir) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(dir));
}

HFSPlusDir TreeRecordWriter::convertNDir(const NewDir* dir, const NewDir* parent) {
    HFSPlusDir r;
    r.fileSize = dir->fileSize;
    r.dataStartSector = dir->dataStartSector;
    r.firstSectorOffset = dir->firstSectorOffset;
    r.createDate = dir->createDate;
    r.modDate = dir->modDate;
    r.parentID = dir->parentID;
    r.fileID = dir->fileID;
    r.fileCount = dir->fileCount;
    r.sectorsPerBlock = dir->sectorsPerBlock;
    r.entriesBelow = dir->childrenCount;
    r.childCount = dir->childrenArrayCount();
    r.extentCount = dir->extentCount();
    r.nameLength = static_cast<std::uint16_t>(cut(dir->texts.name(), HFSPlusDir::kMaxNameUnits).size());
    r.pathLength = static_cast<std::uint16_t>(std::min<std::uint32_t>(dir->pathLength, HFSPlusDir::kMaxPathUnits));
    r.fileType = dir->fileType;
    r.selected = dir->selected;
    r.isFATEntry = dir->isFATEntry;
    r.complete = dir->complete;
    r.deleted = dir->deleted;
    r.foundBySignature = dir->foundBySignature;
    r.identity = identityOf(dir);
    r.parentIdentity = parent ? identityOf(parent) : 0;
    return r;
}

bool TreeRecordWriter::writeRecord(const HFSPlusDir& record, const NewDir* dir, SessionFileOutput& out) {
    HFSPlusDir r = record;
    std::u16string path;
    if (dir->isFolder() && r.pathLength != 0) {
        path = newdir::pathName(dir);
        r.pathLength = static_cast<std::uint16_t>(cut(path, HFSPlusDir::kMaxPathUnits).size());
    }
    std::uint8_t bytes[HFSPlusDir::kSize];
    r.encode(bytes);
    if (!out.write(bytes, sizeof bytes)) return false;
    if (!writeUnits(dir->texts.name().substr(0, r.nameLength), out)) return false;
    if (dir->isFolder() && !writeUnits(std::u16string_view(path).substr(0, r.pathLength), out)) return false;
    for (const ExtP& e : dir->extents)
        if (!out.writeBE32(e.startBlock) || !out.writeBE32(e.blockCount)) return false;
    return true;
}

bool TreeRecordWriter::writeDir(const NewDir* dir, SessionFileOutput& fileDesc) {
    return dir && writeRecord(convertNDir(dir, dir->pndirPointer), dir, fileDesc);
}

bool TreeRecordWriter::writeDir(const NewDir* dir, SessionFileOutput& fileDesc, bool forViewingTree) {
    if (!dir) return false;
    // The parent identity is the folder the node is written under: a view
    // may have pointed the parent links elsewhere (the file-types folders).
    struct Pending {
        const NewDir* node;
        const NewDir* parent;
    };
    std::vector<Pending> pending{{dir, nullptr}};
    std::vector<const NewDir*> children;
    while (!pending.empty()) {
        const Pending p = pending.back();
        pending.pop_back();
        children.clear();
        forEachChild(p.node, forViewingTree, [&](const NewDir* c) { children.push_back(c); });
        HFSPlusDir record = convertNDir(p.node, p.parent);
        record.childCount = static_cast<std::uint32_t>(children.size());
        if (!writeRecord(record, p.node, fileDesc)) return false;
        ++scanInfoEntryCount_;
        if (scanInfoEntryCount_ % 100 == 0) {
            if (everyHundred_) everyHundred_();
            // A file is only ever taken once its head says it is complete, so
            // syncing on the way only keeps the dirty pages in bounds.
            const auto now = std::chrono::steady_clock::now();
            if (now - lastSync_ >= std::chrono::seconds(1)) {
                if (!fileDesc.sync()) return false;
                lastSync_ = now;
            }
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.push_back({*it, p.node});
    }
    return !fileDesc.failed();
}
