#include "volume/NewDir.h"

#include "platform/SystemLog.h"
#include "platform/TextEncoding.h"

#include <limits>
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
    folder->childList.erase(folder->childList.begin() + index);
    freeNDir(child);
}

NewDir* childAtIndex(const NewDir* folder, std::uint32_t index) {
    return index < folder->childList.size() ? folder->childList[index] : nullptr;
}

NewDir* deletedChildAtIndex(const NewDir* folder, std::uint32_t index) {
    return index < folder->deletedList.size() ? folder->deletedList[index] : nullptr;
}

void swapChildLists(NewDir* folder) {
    std::swap(folder->childList, folder->deletedList);
    std::swap(folder->childrenDirect, folder->deletedChildrenDirect);
}

namespace {
constexpr std::uint64_t kU32Max = std::numeric_limits<std::uint32_t>::max();

bool fitsExtent(std::uint64_t startBlock, std::uint64_t blockCount, std::uint32_t fileID) {
    if (startBlock <= kU32Max && blockCount <= kU32Max) return true;
    platform::logFormat("Extent of file %u not recorded: start block %llu or count %llu exceeds 32 bits", fileID,
                        startBlock, blockCount);
    return false;
}

bool setUnits(std::u16string& buffer, std::uint16_t& length, std::u16string_view s, const char* what,
              std::size_t limit) {
    if (auto nul = s.find(u'\0'); nul != std::u16string_view::npos) s = s.substr(0, nul);
    if (s.size() > limit) {
        platform::logFormat("A %s of %llu characters is longer than the record holds; not stored", what,
                            static_cast<unsigned long long>(s.size()));
        return false;
    }
    buffer.assign(s);
    length = static_cast<std::uint16_t>(s.size());
    return true;
}

std::u16string units(const std::u16string& buffer, std::size_t length) {
    return buffer.substr(0, std::min(length, buffer.size()));
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

bool setFileName(NewDir* node, std::u16string_view name) {
    return setUnits(node->nameBuffer, node->nameLength, name, "name", 0xFFFF);
}

bool setPathName(NewDir* node, std::u16string_view path) {
    return setUnits(node->pathBuffer, node->pathLength, path, "path", 0xFFFF);
}

bool setExtension(NewDir* node, std::u16string_view ext) {
    std::uint16_t len = 0;
    if (!setUnits(node->extensionBuffer, len, ext, "extension", 0xFF)) return false;
    node->extensionLength = static_cast<std::uint8_t>(len);
    return true;
}

std::u16string fileName(const NewDir* node) {
    return units(node->nameBuffer, node->nameLength);
}
std::u16string pathName(const NewDir* node) {
    return units(node->pathBuffer, node->pathLength);
}
std::u16string extension(const NewDir* node) {
    return units(node->extensionBuffer, node->extensionLength);
}

void fillChildrenDirectArrays(NewDir* folder) {
    preOrder(folder, childList, folderChild, [](NewDir* f) {
        if (!f->childList.empty()) f->childrenDirect = std::make_unique<std::vector<NewDir*>>(f->childList);
        if (!f->deletedList.empty()) f->deletedChildrenDirect = std::make_unique<std::vector<NewDir*>>(f->deletedList);
    });
}

std::u16string utf16(std::string_view s) {
    return platform::utf16FromUtf8(s);
}

std::string utf8(std::u16string_view s) {
    return platform::utf8FromUtf16(s);
}

} // namespace newdir
