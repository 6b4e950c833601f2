#include "hfsplus/CatalogEntryNode.h"

#include "platform/SystemLog.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <limits>

namespace {

NewDir* entryNode(Volume& volume, std::uint16_t type, std::uint32_t parentID, std::uint32_t id,
                  std::u16string_view name, std::uint32_t createDate, std::uint32_t contentModDate) {
    NewDir* dir = newdir::allocate();
    // The record keeps 32 bits of it: a start that does not fit is left
    // out rather than cut.
    if (volume.blocksStartsAtSector <= std::numeric_limits<std::uint32_t>::max())
        dir->dataStartSector = static_cast<std::uint32_t>(volume.blocksStartsAtSector);
    dir->fileType = type;
    dir->parentID = parentID;
    dir->fileID = id;
    dir->createDate = createDate;
    dir->modDate = contentModDate;
    newdir::setFileName(dir, name);
    return dir;
}

} // namespace

NewDir* CatalogEntryNode::folder(Volume& volume, std::uint32_t parentID, std::u16string_view name,
                                 const HFSPlusCatalogFolder_& record) {
    return entryNode(volume, NewDir::Folder, parentID, record.folderID, name, record.createDate, record.contentModDate);
}

NewDir* CatalogEntryNode::file(Volume& volume, std::uint32_t parentID, std::u16string_view name,
                               const HFSPlusCatalogFile_& record) {
    NewDir* dir =
        entryNode(volume, NewDir::File, parentID, record.fileID, name, record.createDate, record.contentModDate);
    dir->fileSize = record.dataFork.logicalSize;
    dir->sectorsPerBlock = static_cast<std::uint8_t>(volume.blockSize());
    dir->fileCount = 1;
    for (const HFSPlusExtentDescriptor_& d : record.dataFork.extents) {
        if (d.startBlock == 0) break;
        newdir::appendDataExtent(dir, d.startBlock, d.blockCount);
    }
    return dir;
}

void CatalogEntryNode::markResourceForkLost(const Volume& volume, NewDir& file) {
    file.complete = NewDir::kDamaged;
    platform::logFormat("HFS+ volume on %@: the resource fork of file %u (%@) lies in catalog sectors that could not "
                        "be read and is lost; the file is listed with its data fork and marked Bad",
                        volume.path(), file.fileID, newdir::utf8(newdir::fileName(&file)));
}

std::uint64_t CatalogEntryNode::coveredBlocks(const NewDir& file) {
    std::uint64_t covered = 0;
    for (const ExtP& e : file.extents)
        covered += e.blockCount;
    return covered;
}
