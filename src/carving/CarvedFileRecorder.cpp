#include "carving/CarvedFileRecorder.h"

#include "carving/CarvingResultFolders.h"
#include "carving/RtfPackageFolder.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "signatures/Sig.h"
#include "signatures/SignatureSearchState.h"
#include "volume/Volume.h"

#include <algorithm>
#include <limits>
#include <memory>

namespace {

constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
// Eight sectors a read when a carved file's bytes are fetched.
constexpr std::uint64_t kSectorsPerRead = 8;

std::uint64_t sectorsFor(std::uint64_t bytes, std::uint32_t bps) {
    return bytes / bps + (bytes % bps != 0);
}

// A folder of the tree named so; compared in place, as a search may look
// through a root of many entries for every file it records.
bool isFolderNamed(const NewDir* node, std::u16string_view name) {
    return node && node->isFolder() && node->nameLength == name.size() &&
           node->texts.name().substr(0, name.size()) == name;
}

// The name with its last extension replaced ("File2.rtf" -> "File2.rtfd").
std::string withExtension(const std::string& name, const std::string& extension) {
    const auto dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + "." + extension;
}

} // namespace

CarvedFileRecorder::CarvedFileRecorder(Volume& volume, SignatureSearchState& search)
    : volume_(volume), search_(search) {
    if (!volume.autoCrashRecovery || !volume.dirRoot) return;
    // A JPEG preview lies inside its raw photo, where a search that goes on
    // would record a file of its own at the same sector: only the files the
    // search itself found there count.
    const std::u16string previews = newdir::utf16(CarvingResultFolders::kRawJpgFolder);
    newdir::preOrder(volume.dirRoot, newdir::childList, newdir::anyChild, [&](const NewDir* n) {
        if (n->isFolder())
            return n->pndirPointer == volume.dirRoot && isFolderNamed(n, previews) ? newdir::Walk::Skip
                                                                                   : newdir::Walk::Into;
        if (n->foundBySignature && n->extentCount() != 0) restoredStarts_.push_back(n->extents[0].startBlock);
        return newdir::Walk::Skip;
    });
    std::sort(restoredStarts_.begin(), restoredStarts_.end());
}

bool CarvedFileRecorder::recordedBefore(std::uint64_t block) const {
    return std::binary_search(restoredStarts_.begin(), restoredStarts_.end(), block);
}

std::optional<std::uint64_t> CarvedFileRecorder::lastRecordedBlock() const {
    if (restoredStarts_.empty()) return std::nullopt;
    return restoredStarts_.back();
}

std::uint64_t CarvedFileRecorder::carvedSize(const Sig& sig, std::uint64_t block) const {
    const std::uint32_t bps = volume_.u32BytesInSector();
    const std::uint64_t volumeBytes =
        platform::saturatingMul(platform::saturatingMul(volume_.totalBlocks, volume_.blockSize()), bps);
    const std::uint64_t size = sig.foundSize != 0 && sig.foundSize < volumeBytes ? sig.foundSize : sig.sizeLimitBytes();
    // A type's default size is no measure: it never reaches past the medium.
    return std::min(size, bytesLeftFrom(block));
}

std::uint64_t CarvedFileRecorder::bytesLeftFrom(std::uint64_t block) const {
    const std::uint64_t sectors = volume_.sizeInSect();
    if (sectors == 0 || sectors <= volume_.blocksStartsAtSector) return std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t left = sectors - volume_.blocksStartsAtSector;
    return block >= left ? 0 : platform::saturatingMul(left - block, volume_.u32BytesInSector());
}

bool CarvedFileRecorder::fitsRecord(std::uint64_t block, std::uint64_t size, std::uint32_t extraBytes) const {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0) return false;
    if (block <= kMax32 && sectorsFor(platform::saturatingAdd(size, extraBytes), bps) <= kMax32 &&
        volume_.blocksStartsAtSector <= kMax32)
        return true;
    platform::logFormat("A file found at sector %llu of %@ is not recorded: its place does not fit the found-file "
                        "record's 32-bit sector fields",
                        static_cast<unsigned long long>(block), volume_.path());
    return false;
}

bool CarvedFileRecorder::fitsRecord(std::uint64_t block, const Sig& sig) const {
    return fitsRecord(block, carvedSize(sig, block));
}

NewDir* CarvedFileRecorder::newCarvedNode(NewDir* parent, std::uint16_t kind, const std::string& name) {
    NewDir* node = newdir::allocate();
    node->fileType = kind;
    node->pndirPointer = parent;
    node->parentID = parent->fileID;
    node->fileID = volume_.maxFileID++;
    node->deleted = 1;
    node->foundBySignature = 1;
    newdir::setFileName(node, newdir::utf16(name));
    return node;
}

NewDir* CarvedFileRecorder::ownTypeFolder(const Sig& sig) const {
    // The root also holds the scanned volume's own folders, and one of them
    // may be named like a type folder: a carved file never goes there. The
    // carved flag, which the tree record keeps, tells the search's own.
    const std::u16string name = newdir::utf16(sig.extension + " files");
    for (NewDir* child : volume_.dirRoot->childList)
        if (isFolderNamed(child, name) && child->foundBySignature == 1) return child;
    return nullptr;
}

NewDir* CarvedFileRecorder::typeFolder(const Sig& sig, AutoRecoveryAppend& fileDesc) {
    NewDir* root = volume_.dirRoot;
    NewDir* folder = newCarvedNode(root, NewDir::Folder, sig.extension + " files");
    newdir::setPathName(folder, u"/Root");
    newdir::appendChild(root, folder);
    fileDesc.writeDir(folder);
    ++volume_.folderCount;
    ++volume_.entryCount;
    return folder;
}

NewDir* CarvedFileRecorder::pathFolders(AutoRecoveryAppend& fileDesc) {
    NewDir* current = volume_.dirRoot;
    std::string pathText = "/Root";
    const std::string& path = search_.foundParentPath;
    for (std::size_t from = 0; from <= path.size();) {
        const std::size_t slash = std::min(path.find('/', from), path.size());
        const std::string component = path.substr(from, slash - from);
        from = slash + 1;
        // A name from the medium is never an empty folder name.
        if (component.empty()) continue;
        const std::u16string name = newdir::utf16(component);
        NewDir* next = nullptr;
        for (NewDir* child : current->childList)
            if (isFolderNamed(child, name)) {
                next = child;
                break;
            }
        if (!next) {
            next = newCarvedNode(current, NewDir::Folder, component);
            newdir::setPathName(next, newdir::utf16(pathText));
            newdir::forEachAncestor(current, [](NewDir* a) { ++a->childrenCount; });
            newdir::appendChild(current, next);
            fileDesc.writeDir(next);
            ++volume_.folderCount;
            ++volume_.entryCount;
        }
        current = next;
        pathText += "/" + component;
    }
    return current;
}

void CarvedFileRecorder::setExtent(NewDir* node, std::uint64_t block, std::uint64_t sectors) {
    node->sectorsPerBlock = 1;
    node->dataStartSector = static_cast<std::uint32_t>(volume_.blocksStartsAtSector);
    newdir::appendDataExtent(node, block, sectors);
    // Measured over sectors that read as zeros: the file is there, but not
    // all of it can be had.
    const std::uint64_t first =
        platform::saturatingAdd(platform::saturatingAdd(volume_.HPlusVolStart(), volume_.blocksStartsAtSector), block);
    if (volume_.unreadableSectorsIn(first, sectors) != 0) node->complete = NewDir::kDamaged;
}

void CarvedFileRecorder::setSizeAndExtent(NewDir* node, std::uint64_t block, std::uint64_t size) {
    node->fileSize = size;
    setExtent(node, block, sectorsFor(size, volume_.u32BytesInSector()));
    volume_.dataSize += size;
}

void CarvedFileRecorder::recordFile(NewDir* folder, const std::string& name, std::uint64_t block, const Sig& sig,
                                    Entries entries, platform::Dict* pairing, AutoRecoveryAppend& fileDesc) {
    NewDir* parent = folder;
    NewDir* package = nullptr;
    std::string fileName = name;
    if (pairing) {
        // The document goes into a folder of its own, which its pictures
        // join as they are found.
        package = newCarvedNode(folder, NewDir::Folder, withExtension(name, "rtfd"));
        newdir::setPathBelow(package, folder);
        package->childrenCount = 1;
        newdir::appendChild(folder, package);
        fileDesc.writeDir(package);
        ++volume_.folderCount;
        ++volume_.entryCount;
        pairing->set("RTF Graphics Parent NDir", std::make_shared<RtfPackageFolder>(package));
        parent = package;
        fileName = "TXT.rtf";
    }
    const std::uint64_t size = addCarvedFile(parent, fileName, block, sig, fileDesc)->fileSize;
    newdir::forEachAncestor(parent, [&](NewDir* a) {
        ++a->fileCount;
        a->fileSize += size;
        if (entries == Entries::EveryFolderAbove && a != package) ++a->childrenCount;
    });
}

NewDir* CarvedFileRecorder::addCarvedFile(NewDir* parent, const std::string& name, std::uint64_t block, const Sig& sig,
                                          AutoRecoveryAppend& fileDesc) {
    NewDir* file = newCarvedNode(parent, NewDir::File, name);
    file->fileCount = 1;
    setSizeAndExtent(file, block, carvedSize(sig, block));
    if (sig.foundCut) file->complete = NewDir::kDamaged;
    newdir::appendChild(parent, file);
    fileDesc.writeDir(file);
    return file;
}

void CarvedFileRecorder::addFileToListAtBlock(std::uint64_t block, Sig& sig, AutoRecoveryAppend& fileDesc) {
    NewDir* root = volume_.dirRoot;
    if (!root) return;
    std::optional<platform::Dict> pairing;
    if (sig.extension == "rtf" && sig.skipSize != 0)
        pairing = platform::Dict{{"RTF Graphics Wrapper Block Number", static_cast<unsigned long long>(block)}};
    platform::Dict* pairingEntry = pairing ? &*pairing : nullptr;
    const std::string named =
        (search_.foundName.empty() ? std::string("File1") : search_.foundName) + "." + sig.extension;

    if (!search_.foundParentPath.empty()) {
        recordFile(pathFolders(fileDesc), named, block, sig, Entries::NoneAbove, pairingEntry, fileDesc);
    } else if (root->childrenArrayCount() == 0) {
        NewDir* folder = typeFolder(sig, fileDesc);
        // The folder and its file.
        root->childrenCount += 2;
        recordFile(folder, named, block, sig, Entries::NoneAbove, pairingEntry, fileDesc);
    } else if (NewDir* folder = ownTypeFolder(sig)) {
        recordFile(folder, "File" + std::to_string(folder->childrenArrayCount() + 1) + "." + sig.extension, block, sig,
                   Entries::EveryFolderAbove, pairingEntry, fileDesc);
    } else {
        recordFile(typeFolder(sig, fileDesc), "File1." + sig.extension, block, sig, Entries::EveryFolderAbove,
                   pairingEntry, fileDesc);
    }
    if (pairing) search_.rtfdArray.emplace_back(std::move(*pairing));
}

void CarvedFileRecorder::addRtfGraphicToListAtBlock(std::uint64_t block, const Sig& sig, const std::string& fileName,
                                                    AutoRecoveryAppend& fileDesc) {
    if (search_.rtfdArray.empty()) return;
    const platform::Dict* wrapper = search_.rtfdArray.back().dict();
    const auto holder = wrapper ? wrapper->get("RTF Graphics Parent NDir").objectAs<RtfPackageFolder>() : nullptr;
    NewDir* folder = holder ? holder->newDir() : nullptr;
    if (!folder) return;
    folder->foundBySignature = 1;
    // Resuming must find the pictures as well as the document they belong to.
    const std::uint64_t size = addCarvedFile(folder, fileName, block, sig, fileDesc)->fileSize;
    newdir::forEachAncestor(folder, [&](NewDir* a) {
        ++a->childrenCount;
        ++a->fileCount;
        a->fileSize += size;
    });
}

void CarvedFileRecorder::fillDataFromBlock(std::uint64_t block, std::uint64_t size,
                                           std::vector<std::uint8_t>& intoData) {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0 || size == 0) return;
    const std::uint64_t chunkBytes = kSectorsPerRead * bps;
    const std::uint64_t chunks = sectorsFor(size, static_cast<std::uint32_t>(chunkBytes));
    const auto first = platform::checkedAdd(volume_.HPlusVolStart() + volume_.blocksStartsAtSector, block);
    if (!first) return;
    std::vector<std::uint8_t> buffer(chunkBytes);
    for (std::uint64_t c = 0; c < chunks && !volume_.stopTreeThread(); ++c) {
        std::fill(buffer.begin(), buffer.end(), 0);
        const auto sector = platform::checkedAdd(*first, c * kSectorsPerRead);
        if (!sector || !volume_.readPreviewSector(*sector, kSectorsPerRead, buffer.data())) return;
        const std::uint64_t take = c + 1 == chunks ? size - c * chunkBytes : chunkBytes;
        intoData.insert(intoData.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(take));
    }
}

void CarvedFileRecorder::createSignatureSearchFolderNode(NewDir* node, const std::string& fileName,
                                                         std::string_view andExtension) {
    NewDir* root = volume_.dirRoot;
    node->fileType = NewDir::Folder;
    node->pndirPointer = root;
    node->parentID = root ? root->fileID : 0;
    node->fileID = volume_.maxFileID++;
    node->deleted = 1;
    node->firstSectorOffset = 0;
    newdir::setFileName(node, newdir::utf16(fileName));
    newdir::setPathName(node, u"/Root");
    // Stored without its dot, as the files are named "file1.<extension>".
    if (!andExtension.empty()) newdir::setExtension(node, newdir::utf16(std::string(andExtension.substr(1))));
}

void CarvedFileRecorder::addToResultFolder(NewDir* folder, NewDir* file, bool countInRootSize,
                                           AutoRecoveryAppend& fileDesc, bool holdRecord) {
    NewDir* root = volume_.dirRoot;
    file->fileCount = 1;
    file->foundBySignature = 1;
    folder->fileSize += file->fileSize;
    ++folder->childrenCount;
    ++folder->fileCount;
    folder->foundBySignature = 1;
    folder->pndirPointer = root;
    if (countInRootSize) root->fileSize += file->fileSize;
    ++root->childrenCount;
    ++root->fileCount;
    if (!linkedUnderRoot(folder)) {
        ++root->childrenCount;
        newdir::appendChild(root, folder);
        fileDesc.writeDir(folder);
    }
    if (!holdRecord) fileDesc.writeDir(file);
    newdir::appendChild(folder, file);
}

bool CarvedFileRecorder::linkedUnderRoot(const NewDir* folder) const {
    // Looked for only while the folder holds no file: before its first.
    if (!folder->childList.empty()) return true;
    const NewDir* root = volume_.dirRoot;
    return root && std::find(root->childList.begin(), root->childList.end(), folder) != root->childList.end();
}

NewDir* CarvedFileRecorder::addDetailsToNdir(NewDir* folder, std::uint64_t andFileSize, std::uint64_t andBlockNumber,
                                             AutoRecoveryAppend& fileDesc, bool cut, bool holdRecord) {
    if (!folder || !volume_.dirRoot) return nullptr;
    const std::string name =
        "file" + std::to_string(folder->childrenCount + 1) + "." + newdir::utf8(newdir::extension(folder));
    NewDir* file = newCarvedNode(folder, NewDir::File, name);
    file->fileSize = andFileSize;
    setExtent(file, andBlockNumber, sectorsFor(andFileSize, volume_.u32BytesInSector()));
    if (cut) file->complete = NewDir::kDamaged;
    addToResultFolder(folder, file, true, fileDesc, holdRecord);
    return file;
}

void CarvedFileRecorder::cutCarvedFile(NewDir* file, std::uint64_t size) {
    file->complete = NewDir::kDamaged;
    if (size >= file->fileSize || file->extentCount() == 0) return;
    const std::uint64_t lost = file->fileSize - size;
    file->fileSize = size;
    file->extents[0].blockCount = static_cast<std::uint32_t>(sectorsFor(size, volume_.u32BytesInSector()));
    // As addToResultFolder counted it.
    file->pndirPointer->fileSize -= lost;
    volume_.dirRoot->fileSize -= lost;
}

void CarvedFileRecorder::addDetailsOfRawJpgFile(NewDir* folder, std::uint64_t sectorNumber, std::uint64_t fileSize,
                                                std::uint32_t extraBytesToMove, AutoRecoveryAppend& fileDesc) {
    if (!folder || !volume_.dirRoot) return;
    const std::string name = "file - Raw Jpg" + std::to_string(folder->childrenCount + 1) + ".jpg";
    NewDir* file = newCarvedNode(folder, NewDir::File, name);
    file->fileSize = fileSize;
    file->firstSectorOffset = extraBytesToMove;
    // The extent covers the bytes before the preview in its first sector too.
    setExtent(file, sectorNumber, sectorsFor(fileSize + extraBytesToMove, volume_.u32BytesInSector()));
    addToResultFolder(folder, file, false, fileDesc);
}
