#include "volume/NewDir.h"

#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace newdir {

NewDir* allocate() {
    return new NewDir();
}

void freeNDir(NewDir* node) {
    // Each node goes after everything below it, once its list has been read.
    postOrder(
        node, childList, anyChild, [](NewDir*) {}, [](NewDir* n) { delete n; });
}

void appendChild(NewDir* folder, NewDir* child) {
    folder->childList.push_back(child);
}

void appendDeletedChild(NewDir* folder, NewDir* child) {
    folder->deletedList.push_back(child);
}

void removeChildAtIndex(NewDir* folder, std::uint32_t index) {
    if (index >= folder->childList.size()) return;
    NewDir* child = folder->childList[index];
    folder->childList.erase(index);
    freeNDir(child);
}

NewDir* childAtIndex(const NewDir* folder, std::uint32_t index) {
    return index < folder->childList.size() ? folder->childList[index] : nullptr;
}

NewDir* shownChildAtIndex(const NewDir* folder, std::uint32_t index) {
    if (index >= folder->childList.size()) return nullptr;
    if (index < folder->childrenDirect.size()) return folder->childrenDirect[index];
    return folder->childList[index];
}

NewDir* deletedChildAtIndex(const NewDir* folder, std::uint32_t index) {
    return index < folder->deletedList.size() ? folder->deletedList[index] : nullptr;
}

void swapChildLists(NewDir* folder) {
    swap(folder->childList, folder->deletedList);
    swap(folder->childrenDirect, folder->deletedChildrenDirect);
}

namespace {
constexpr std::uint64_t kU32Max = std::numeric_limits<std::uint32_t>::max();

void refuse(const char* what, std::size_t length) {
    platform::logFormat("A %s of %llu characters is longer than the record holds; not stored", what,
                        static_cast<unsigned long long>(length));
}

bool fitsExtent(std::uint64_t startBlock, std::uint64_t blockCount, std::uint32_t fileID) {
    if (startBlock <= kU32Max && blockCount <= kU32Max) return true;
    platform::logFormat("Extent of file %u not recorded: start block %llu or count %llu exceeds 32 bits", fileID,
                        startBlock, blockCount);
    return false;
}

// Units up to the first NUL, or nothing (with a log line) when more than
// the length field holds.
std::optional<std::u16string_view> storable(std::u16string_view s, const char* what, std::size_t limit) {
    if (auto nul = s.find(u'\0'); nul != std::u16string_view::npos) s = s.substr(0, nul);
    if (s.size() > limit) {
        refuse(what, s.size());
        return std::nullopt;
    }
    return s;
}

std::u16string units(std::u16string_view stored, std::size_t length) {
    return std::u16string(stored.substr(0, std::min(length, stored.size())));
}
} // namespace

bool appendDataExtent(NewDir* node, std::uint64_t startBlock, std::uint64_t blockCount) {
    if (!fitsExtent(startBlock, blockCount, node->fileID)) return false;
    node->extents.push_back({static_cast<std::uint32_t>(startBlock), static_cast<std::uint32_t>(blockCount)});
    return true;
}

void appendExtentGroup(NewDir* node, ExtCompP group) {
    node->extentGroups.push_back(std::move(group));
}

bool appendExtentToGroup(ExtCompP& group, std::uint64_t startBlock, std::uint64_t blockCount) {
    if (!fitsExtent(startBlock, blockCount, 0)) return false;
    group.extents.push_back({static_cast<std::uint32_t>(startBlock), static_cast<std::uint32_t>(blockCount)});
    return true;
}

bool setSectorsPerBlock(NewDir* node, std::uint64_t sectors) {
    if (sectors > 255) {
        platform::logFormat("Block of %llu sectors does not fit the record of file %u; not stored",
                            static_cast<unsigned long long>(sectors), node->fileID);
        return false;
    }
    node->sectorsPerBlock = static_cast<std::uint8_t>(sectors);
    return true;
}

bool setDataStartSector(NewDir* node, std::uint64_t sector) {
    if (sector > kU32Max) {
        platform::logFormat("Data start sector %llu of file %u exceeds 32 bits; not stored",
                            static_cast<unsigned long long>(sector), node->fileID);
        return false;
    }
    node->dataStartSector = static_cast<std::uint32_t>(sector);
    return true;
}

bool dataBeginsInExtents(std::span<const ExtP> extents, std::uint64_t unitBytes, std::uint32_t firstSectorOffset) {
    std::uint64_t covered = 0;
    for (const ExtP& e : extents) {
        covered = platform::saturatingMulAdd(covered, e.blockCount, unitBytes);
        if (covered > firstSectorOffset) return true;
    }
    return false;
}

bool setFileName(NewDir* node, std::u16string_view name) {
    const auto s = storable(name, "name", 0xFFFF);
    if (!s) return false;
    node->texts.setName(*s);
    node->nameLength = static_cast<std::uint16_t>(s->size());
    return true;
}

bool setPathName(NewDir* node, std::u16string_view path) {
    const auto s = storable(path, "path", NodePath::kMaxUnits);
    if (!s) return false;
    node->texts.setPath(*s);
    node->pathLength = static_cast<std::uint16_t>(s->size());
    return true;
}

bool setPathBelow(NewDir* node, const NewDir* folder) {
    // Stored names and paths hold no NUL, so nothing is cut here.
    const std::u16string_view name = folder->texts.name().substr(0, folder->nameLength);
    const std::size_t length = NodePath::lengthBelow(folder->texts.path(), name);
    if (length > NodePath::kMaxUnits) {
        refuse("path", length);
        return false;
    }
    // Every child of a folder has the same path: a child appended just
    // before (or the node itself, appended already) lends it its own.
    const NodePath* sibling = nullptr;
    const NodeList& children = folder->childList;
    const std::size_t n = children.size();
    for (std::size_t back = 1; back <= std::min<std::size_t>(n, 2) && !sibling; ++back)
        if (const NewDir* c = children[n - back]; c && c != node) sibling = &c->texts.path();
    node->texts.setPathBelow(folder->texts.path(), name, sibling);
    node->pathLength = static_cast<std::uint16_t>(length);
    return true;
}

bool setExtension(NewDir* node, std::u16string_view ext) {
    const auto s = storable(ext, "extension", 0xFF);
    if (!s) return false;
    node->texts.setExtension(*s);
    node->extensionLength = static_cast<std::uint8_t>(s->size());
    return true;
}

std::u16string fileName(const NewDir* node) {
    return units(node->texts.name(), node->nameLength);
}
std::u16string pathName(const NewDir* node) {
    return units(node->texts.path().text(), node->pathLength);
}
std::u16string extension(const NewDir* node) {
    return units(node->texts.extension(), node->extensionLength);
}

std::u16string suggestedRepeatFileName(std::u16string_view name, NewDir* parent) {
    if (!parent || parent->childList.empty()) return std::u16string(name);
    for (NewDir* c : parent->childList) {
        // Compared in place: this runs once per entry a reader places, over
        // every child of the folder, so no string is built per child.
        if (!c || c->nameLength == 0 || c->nameLength != name.size() || c->texts.name().size() < name.size() ||
            c->texts.name().substr(0, name.size()) != name)
            continue;
        // The k-th later entry with this name gets k underscores, before the
        // extension so the file still opens with the same program.
        const std::size_t underscores = static_cast<std::size_t>(c->repeatCount) + 1;
        std::u16string result(name);
        const auto dot = result.rfind(u'.');
        result.insert(dot == std::u16string::npos ? result.size() : dot, underscores, u'_');
        c->repeatCount = static_cast<std::uint16_t>(c->repeatCount + 1);
        return result;
    }
    return std::u16string(name);
}

void fillChildrenDirectArrays(NewDir* folder) {
    preOrder(folder, childList, folderChild, [](NewDir* f) {
        if (!f->childList.empty()) f->childrenDirect = f->childList;
        if (!f->deletedList.empty()) f->deletedChildrenDirect = f->deletedList;
    });
}

std::u16string utf16(std::string_view s) {
    return platform::utf16FromUtf8(s);
}

std::string utf8(std::u16string_view s) {
    return platform::utf8FromUtf16(s);
}

} // namespace newdir
