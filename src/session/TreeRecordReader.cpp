#include "session/TreeRecordReader.h"

#include "volume/BTreeTableClassUInt64_NDIR.h"

#include <memory>
#include <vector>

namespace {

// Texts of this many units or more are not taken from the file.
constexpr std::uint32_t kLongestTakenText = 255;

// `units` UTF-16 big-endian units of the file; false when they are not there.
bool readUnits(SessionFileInput& in, std::uint32_t units, std::u16string& text) {
    std::uint8_t bytes[2 * HFSPlusDir::kMaxPathUnits];
    if (!in.read(bytes, 2 * std::size_t{units})) return false;
    text = platform::ByteView(bytes, 2 * std::size_t{units}).utf16be(0, units);
    return true;
}

struct FreeNode {
    void operator()(NewDir* n) const { newdir::freeNDir(n); }
};

} // namespace

void TreeRecordReader::convertHPDir(const HFSPlusDir& r, NewDir* dir) {
    dir->fileSize = r.fileSize;
    dir->dataStartSector = r.dataStartSector;
    // Kept as read, however large: the readers of the data bound it by the
    // extents.
    dir->firstSectorOffset = r.firstSectorOffset;
    dir->createDate = r.createDate;
    dir->modDate = r.modDate;
    dir->parentID = r.parentID;
    dir->fileID = r.fileID;
    dir->fileCount = r.fileCount;
    dir->childrenCount = r.entriesBelow;
    dir->sectorsPerBlock = static_cast<std::uint8_t>(r.sectorsPerBlock);
    dir->fileType = r.fileType;
    dir->selected = r.selected;
    dir->isFATEntry = r.isFATEntry;
    dir->complete = r.complete;
    dir->deleted = r.deleted;
    dir->foundBySignature = r.foundBySignature;
}

NewDir* TreeRecordReader::readRecord(SessionFileInput& in, bool extentsMayEnd, HFSPlusDir& r, bool* extentsCut) {
    std::uint8_t bytes[HFSPlusDir::kSize];
    if (!in.read(bytes, sizeof bytes)) return nullptr;
    r = HFSPlusDir::decode(platform::ByteView(bytes, sizeof bytes));
    // No writer makes longer texts; a record that claims them is not one. A
    // file's path is never written, so its length field says nothing.
    if (r.nameLength > HFSPlusDir::kMaxNameUnits ||
        (r.fileType == NewDir::Folder && r.pathLength > HFSPlusDir::kMaxPathUnits))
        return nullptr;
    std::unique_ptr<NewDir, FreeNode> node(newdir::allocate());
    convertHPDir(r, node.get());

    std::u16string text;
    if (r.nameLength != 0 && !readUnits(in, r.nameLength, text)) return nullptr;
    newdir::setFileName(node.get(), r.nameLength == 0 || r.nameLength > kLongestTakenText ? u"Untitled" : text);
    if (r.fileType == NewDir::Folder) {
        if (r.pathLength != 0 && !readUnits(in, r.pathLength, text)) return nullptr;
        newdir::setPathName(node.get(), r.pathLength == 0                  ? u"1"
                                        : r.pathLength > kLongestTakenText ? u"Untitled"
                                                                           : std::u16string_view(text));
    }
    if (!extentsMayEnd && r.extentCount > in.left() / 8) return nullptr;
    std::uint32_t read = 0;
    for (; read < r.extentCount && in.left() >= 8; ++read) {
        std::uint32_t start = 0, blocks = 0;
        if (!in.readBE32(start) || !in.readBE32(blocks)) return nullptr;
        if (r.fileSize != 0) newdir::appendDataExtent(node.get(), start, blocks);
    }
    if (extentsCut) *extentsCut = read < r.extentCount;
    return node.release();
}

NewDir* TreeRecordReader::readDir(SessionFileInput& in, std::uint32_t& childCount, std::uint64_t* identity) {
    HFSPlusDir r;
    NewDir* node = readRecord(in, false, r, nullptr);
    if (!node) return nullptr;
    childCount = r.childCount;
    if (identity) *identity = r.identity;
    return node;
}

NewDir* TreeRecordReader::readAppendedDir(SessionFileInput& in, std::uint64_t& identity, std::uint64_t& parentIdentity,
                                          bool& extentsCut) {
    HFSPlusDir r;
    NewDir* node = readRecord(in, true, r, &extentsCut);
    if (!node) return nullptr;
    identity = r.identity;
    parentIdentity = r.parentIdentity;
    return node;
}

bool TreeRecordReader::readToDir(NewDir* parent, std::uint32_t count, SessionFileInput& in,
                                 BTreeTableClassUInt64_NDIR* btree) {
    struct Level {
        NewDir* folder;
        std::uint32_t left;
    };
    std::vector<Level> levels{{parent, count}};
    // Records announced and not read yet; each takes at least a record's
    // bytes, so counts the file could not hold end the read at once.
    std::uint64_t announced = count;
    while (!levels.empty()) {
        if (announced > in.left() / HFSPlusDir::kSize) return false;
        Level& level = levels.back();
        if (level.left == 0) {
            levels.pop_back();
            continue;
        }
        --level.left;
        --announced;
        std::uint32_t children = 0;
        std::uint64_t identity = 0;
        NewDir* node = readDir(in, children, &identity);
        if (!node) return false;
        ++scanInfoEntryCount;
        node->pndirPointer = level.folder;
        newdir::appendChild(level.folder, node);
        if (node->isFolder() && btree) btree->insert(std::make_unique<ItemTypeUInt64_NDIR>(identity, node));
        if (scanInfoEntryCount % 50 == 0 && everyFifty_) everyFifty_();
        if (children != 0) {
            announced += children;
            levels.push_back({node, children});
        }
    }
    return true;
}
