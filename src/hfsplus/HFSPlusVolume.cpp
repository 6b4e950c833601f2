#include "hfsplus/HFSPlusVolume.h"

#include "formats/HFSPlusStructures.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/Volume.h"

#include <algorithm>
#include <limits>

using platform::ByteView;
using platform::Dict;

using platform::checkedAdd;
using platform::saturatingAdd;
using platform::saturatingMul;

// ---------------------------------------------------------------------------
// Shared helpers

void HFSPlusVolume::postProgress(const Dict& progress) {
    if (auto* c = platform::appController()) c->updateProgress(progress);
}

std::uint64_t HFSPlusVolume::volumeEnd() const {
    return saturatingAdd(volume_.startSector, volume_.sizeInSect());
}

bool HFSPlusVolume::sectorsInVolume(std::uint64_t sector, std::uint64_t count) const {
    const std::uint64_t end = volumeEnd();
    return count <= end && sector <= end - count;
}

bool HFSPlusVolume::readSectors(std::uint64_t sector, std::uint64_t count, std::vector<std::uint8_t>& buffer) {
    const std::uint32_t bps = volume_.u32BytesInSector();
    buffer.assign(static_cast<std::size_t>(count * bps), 0);
    if (count == 0 || bps == 0 || count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ||
        !sectorsInVolume(sector, count))
        return false;
    if (volume_.readSector(sector, static_cast<std::int32_t>(count), buffer.data())) return true;
    // Whatever the reader left behind is not these sectors.
    std::fill(buffer.begin(), buffer.end(), 0);
    return false;
}

bool HFSPlusVolume::readNode(std::uint64_t sector, std::int32_t sectors, std::vector<std::uint8_t>& buffer) {
    const std::uint64_t count = sectors > 0 ? static_cast<std::uint64_t>(sectors) : 0;
    if (sector != 0) return readSectors(sector, count, buffer);
    buffer.assign(static_cast<std::size_t>(count * volume_.u32BytesInSector()), 0);
    return false;
}

bool HFSPlusVolume::readCatalogNode(std::uint64_t sector, std::int32_t sectors, std::vector<std::uint8_t>& buffer) {
    if (readNode(sector, sectors, buffer)) return true;
    // Only a node whose sectors the medium failed to give: one that lies
    // nowhere (past the volume or the catalog's extents) was never there to
    // be read.
    if (sector != 0 && sectors > 0 && volume_.unreadableSectorsIn(sector, static_cast<std::uint64_t>(sectors)) != 0)
        volume_.catalogNodesUnread = true;
    return false;
}

std::size_t HFSPlusVolume::catNodeBytes() const {
    if (volume_.catNodeSize <= 0 || volume_.u32BytesInSector() == 0) return 0;
    return static_cast<std::size_t>(volume_.catNodeSize) * volume_.u32BytesInSector();
}

bool HFSPlusVolume::filesRepresentable() const {
    return volume_.blockSize() <= std::numeric_limits<std::uint8_t>::max() &&
           volume_.blocksStartsAtSector <= std::numeric_limits<std::uint32_t>::max();
}

bool HFSPlusVolume::forkSizesAgree(const HFSPlusCatalogFile_& file, std::uint64_t blockBytes) {
    if (blockBytes == 0) return false;
    for (const HFSPlusForkData_* fork : {&file.dataFork, &file.resourceFork}) {
        if (fork->logicalSize > saturatingMul(fork->totalBlocks, blockBytes)) return false;
        const std::uint64_t blocksNeeded = fork->logicalSize / blockBytes + (fork->logicalSize % blockBytes != 0);
        if (fork->totalBlocks != blocksNeeded) return false;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> HFSPlusVolume::readStructure(std::uint64_t sector, std::uint64_t offset,
                                                                      std::size_t length) {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0) return std::nullopt;
    std::vector<std::uint8_t> buffer;
    if (!readSectors(sector, (offset + length + bps - 1) / bps, buffer)) return std::nullopt;
    return std::vector<std::uint8_t>(buffer.begin() + static_cast<std::ptrdiff_t>(offset),
                                     buffer.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

std::optional<std::pair<std::uint64_t, std::uint64_t>>
HFSPlusVolume::positionBeforeEnd(std::uint64_t first, std::uint64_t sectors, std::uint64_t bytesBack) const {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0) return std::nullopt;
    const std::uint64_t sectorsBack = (bytesBack + bps - 1) / bps;
    if (sectors < sectorsBack) return std::nullopt;
    const auto end = checkedAdd(first, sectors);
    if (!end) return std::nullopt;
    return std::pair{*end - sectorsBack, sectorsBack * bps - bytesBack};
}

bool HFSPlusVolume::takeBlockSize() {
    const std::uint32_t bps = volume_.u32BytesInSector();
    const std::uint32_t sectors = HFSPlusDriveGeometry::wholeSectors(volume_.vib.blockSize, bps);
    volume_.setBlockSize(sectors);
    if (sectors == 0)
        platform::logFormat("HFS+ volume on %@: allocation block size %u is not a whole number of %u-byte "
                            "sectors; the volume cannot be read",
                            volume_.path(), volume_.vib.blockSize, bps);
    return sectors != 0;
}

// ---------------------------------------------------------------------------
// Volume header

bool HFSPlusVolume::followWrapper(std::uint64_t volumeStart) {
    const MasterDirectoryBlock& mdb = volume_.mdb;
    if (!hfsplus::isHFSPlusSignature(mdb.drEmbedSigWord)) return false;
    const std::uint32_t bps = volume_.u32BytesInSector();
    const std::uint32_t wrapperBlock = HFSPlusDriveGeometry::wholeSectors(mdb.drAlBlkSiz, bps);
    if (wrapperBlock == 0) {
        platform::logFormat("HFS wrapper on %@: allocation block size %u is not a whole number of sectors",
                            volume_.path(), mdb.drAlBlkSiz);
        return false;
    }
    const auto offset = embeddedVolumeSectorOffset(mdb, bps);
    if (!offset) return false;
    const auto embeddedStart = checkedAdd(volumeStart, *offset);
    if (!embeddedStart) return false;
    volume_.setHPlusVolStart(*embeddedStart);

    const std::uint64_t headerSector = saturatingAdd(*embeddedStart, hfsplus::kVolumeHeaderOffset / bps);
    auto bytes = readStructure(headerSector, hfsplus::kVolumeHeaderOffset % bps, hfsplus::kVolumeInformationBlockSize);
    volume_.vib = convertVIB(bytes ? ByteView(*bytes) : ByteView());
    if (!hfsplus::isHFSPlusSignature(volume_.vib.signature)) {
        const std::uint64_t embeddedSectors = static_cast<std::uint64_t>(mdb.drEmbedExtent.xdrNumABlks) * wrapperBlock;
        if (auto at = positionBeforeEnd(*embeddedStart, embeddedSectors, hfsplus::kAlternateHeaderFromEnd)) {
            bytes = readStructure(at->first, at->second, hfsplus::kVolumeInformationBlockSize);
            volume_.vib = convertVIB(bytes ? ByteView(*bytes) : ByteView());
        }
    }
    if (!hfsplus::isHFSPlusSignature(volume_.vib.signature)) return false;
    return takeBlockSize();
}

bool HFSPlusVolume::initializeVIB() {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0) return false;
    const std::uint64_t s = volume_.startSector;

    // Primary header: 1024 bytes into the volume, or in the sector the
    // partition search found it in.
    const std::uint64_t primarySector =
        volume_.vibAtSector != 0 ? volume_.vibAtSector : saturatingAdd(s, hfsplus::kVolumeHeaderOffset / bps);
    const std::uint64_t primaryOffset = hfsplus::kVolumeHeaderOffset % bps;
    auto bytes = readStructure(primarySector, primaryOffset, hfsplus::kVolumeInformationBlockSize);
    volume_.mdb = convertMDB(bytes ? ByteView(*bytes) : ByteView());
    if (volume_.mdb.drSigWord == hfsplus::kHFSSignature) return followWrapper(s);
    if (hfsplus::isHFSPlusSignature(volume_.mdb.drSigWord)) {
        volume_.setHPlusVolStart(s);
        volume_.vib = convertVIB(ByteView(*bytes));
        return takeBlockSize();
    }

    // The alternate copy, 1024 bytes before the volume's end.
    bytes.reset();
    if (auto at = positionBeforeEnd(s, volume_.sizeInSect(), hfsplus::kAlternateHeaderFromEnd))
        bytes = readStructure(at->first, at->second, hfsplus::kVolumeInformationBlockSize);
    volume_.mdb = convertMDB(bytes ? ByteView(*bytes) : ByteView());
    if (volume_.mdb.drSigWord == hfsplus::kHFSSignature) return followWrapper(s);
    volume_.setHPlusVolStart(s);
    if (!hfsplus::isHFSPlusSignature(volume_.mdb.drSigWord)) return false;
    volume_.vib = convertVIB(ByteView(*bytes));
    return takeBlockSize();
}

bool HFSPlusVolume::fillVIB() {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0) {
        volume_.setBlockSize(0);
        return false;
    }
    // The volume begins at startSector: 0 on a mounted volume's own device,
    // the partition's first sector when the device is the whole disk.
    const std::uint64_t s = volume_.startSector;
    auto bytes = readStructure(saturatingAdd(s, hfsplus::kVolumeHeaderOffset / bps), hfsplus::kVolumeHeaderOffset % bps,
                               hfsplus::kVolumeInformationBlockSize);
    // A header the medium would not give is taken from the alternate copy,
    // 1024 bytes before the volume's end, when that one is an HFS+ header.
    if (!bytes) {
        std::optional<std::vector<std::uint8_t>> alternate;
        if (auto at = positionBeforeEnd(s, volume_.sizeInSect(), hfsplus::kAlternateHeaderFromEnd))
            alternate = readStructure(at->first, at->second, hfsplus::kVolumeInformationBlockSize);
        if (alternate && hfsplus::isHFSPlusSignature(ByteView(*alternate).be16(0))) {
            platform::logFormat("HFS+ volume on %@ at sector %@: its volume header could not be read; the alternate "
                                "copy is taken",
                                volume_.path(), static_cast<unsigned long long>(s));
            bytes = std::move(alternate);
        }
    }
    volume_.vib = convertVIB(bytes ? ByteView(*bytes) : ByteView());
    if (volume_.vib.signature == hfsplus::kHFSSignature) {
        volume_.mdb = convertMDB(ByteView(*bytes));
        const MasterDirectoryBlock& mdb = volume_.mdb;
        if (hfsplus::isHFSPlusSignature(mdb.drEmbedSigWord)) {
            const std::uint32_t wrapperBlock = HFSPlusDriveGeometry::wholeSectors(mdb.drAlBlkSiz, bps);
            const auto offset = embeddedVolumeSectorOffset(mdb, bps);
            const auto start = offset ? checkedAdd(s, *offset) : std::nullopt;
            if (wrapperBlock == 0 || !start) {
                volume_.setBlockSize(0);
                return false;
            }
            volume_.setHPlusVolStart(*start);
            bytes = readStructure(saturatingAdd(*start, hfsplus::kVolumeHeaderOffset / bps),
                                  hfsplus::kVolumeHeaderOffset % bps, hfsplus::kVolumeInformationBlockSize);
            volume_.vib = convertVIB(bytes ? ByteView(*bytes) : ByteView());
        }
    } else {
        volume_.setHPlusVolStart(s);
    }
    const bool usable = takeBlockSize();
    volume_.totalBlocks = volume_.vib.totalBlocks;
    if (!hfsplus::isHFSPlusSignature(volume_.vib.signature)) {
        platform::logFormat("HFS+ volume on %@ at sector %@: no HFS+ volume header", volume_.path(),
                            static_cast<unsigned long long>(s));
        return false;
    }
    return usable;
}

// ---------------------------------------------------------------------------
// B-tree header nodes

bool HFSPlusVolume::readHeaderNode(std::uint32_t firstBlock, std::int32_t& nodeSectors, std::uint32_t& rootNode,
                                   std::uint32_t& firstLeaf, std::uint32_t& leafRecords, std::uint16_t& depth,
                                   bool* unreadable) {
    if (unreadable) *unreadable = false;
    const auto node = geometry().readHeaderNode(
        firstBlock, [this, unreadable](std::uint64_t sector, std::int32_t sectors, std::vector<std::uint8_t>& buffer) {
            if (readNode(sector, sectors, buffer)) return true;
            if (unreadable && sector != 0 && sectors > 0)
                *unreadable = volume_.unreadableSectorsIn(sector, static_cast<std::uint64_t>(sectors)) != 0;
            return false;
        });
    if (!node) return false;
    const BTHeaderRecord& header = node->record;
    if (node->nodeSectors == 0) {
        platform::logFormat("HFS+ volume on %@: B-tree node size %u is not a whole number of %u-byte sectors",
                            volume_.path(), header.nodeSize, volume_.u32BytesInSector());
        return false;
    }
    nodeSectors = static_cast<std::int32_t>(node->nodeSectors);
    rootNode = header.rootNode;
    firstLeaf = header.firstLeafNode;
    leafRecords = header.leafRecords;
    depth = header.treeDepth;
    return true;
}

bool HFSPlusVolume::checkCatalogAndExtentsFile() {
    postProgress(Dict{{"Progress Status", "Checking Extents File ..."},
                      {"Progress Type", 0},
                      {"Start Animation", true},
                      {"Folders", volume_.folderCount},
                      {"Files", volume_.fileCount},
                      {"Entries Found", volume_.entryCount},
                      {"Data", static_cast<unsigned long long>(volume_.dataSize)}});
    const Dict extentsDone{{"Progress Status", "Checking Extents File ... done"}, {"Stop Animation", true}};

    HFSPlusDriveGeometry::appendListedExtents(volume_.vib.extentsFile, volume_.extentsExt);

    std::int32_t nodeSectors = 0;
    std::uint32_t root = 0, firstLeaf = 0, leafRecords = 0;
    std::uint16_t depth = 0;
    bool unreadable = false;
    state_.extentsHeaderUnread = false;
    if (!volume_.extentsExt.empty() && readHeaderNode(volume_.extentsExt.front().startBlock(), nodeSectors, root,
                                                      firstLeaf, leafRecords, depth, &unreadable)) {
        volume_.extNodeSize = nodeSectors;
        volume_.extRootNode = root;
    } else if (unreadable) {
        // A header the medium would not give says nothing against the
        // volume: only the extents its tree holds are out of reach, and the
        // files that need them are listed as damaged.
        state_.extentsHeaderUnread = true;
        volume_.extNodeSize = 0;
        volume_.extRootNode = 0;
        platform::logFormat("HFS+ volume on %@: the header node of its extents-overflow file could not be read; "
                            "files whose extents lie there keep those their catalog records list",
                            volume_.path());
    } else {
        postProgress(extentsDone);
        return false;
    }
    postProgress(extentsDone);
    postProgress(Dict{{"Progress Status", "Checking Catalog File ..."}, {"Start Animation", true}});

    const std::uint64_t listed = HFSPlusDriveGeometry::appendListedExtents(volume_.vib.catalogFile, volume_.catalogExt);
    if (volume_.catalogExt.empty() ||
        !readHeaderNode(volume_.catalogExt.front().startBlock(), nodeSectors, root, firstLeaf, leafRecords, depth)) {
        postProgress(Dict{{"Progress Status", "Checking Catalog File ... done"}, {"Stop Animation", true}});
        return false;
    }
    volume_.catNodeSize = nodeSectors;
    volume_.catRootNode = root;
    volume_.firstLeafNode = firstLeaf;
    // The header counts every leaf record, thread records included; the
    // readers compare the records they meet with twice this.
    state_.leafRecords = leafRecords >> 1;
    state_.catTreeDepth = depth;

    const std::uint32_t total = volume_.vib.catalogFile.totalBlocks;
    if (listed < total) {
        if (auto more =
                extentsForID(hfsplus::kCatalogFileID, hfsplus::kDataFork, static_cast<std::uint32_t>(listed), total))
            volume_.catalogExt.insert(volume_.catalogExt.end(), more->begin(), more->end());
    }
    return true;
}

void HFSPlusVolume::getCatalogExtFromVIB() {
    state_.catalogExtAsPerVIB.clear();
    for (const HFSPlusExtentDescriptor_& d : volume_.vib.catalogFile.extents) {
        if (d.blockCount == 0) break;
        state_.catalogExtAsPerVIB.emplace_back(d.startBlock, d.blockCount);
    }
}

// ---------------------------------------------------------------------------
// Node numbers to sectors and the extents-overflow lookup

HFSPlusDriveGeometry HFSPlusVolume::geometry() const {
    return HFSPlusDriveGeometry(volume_, volumeEnd());
}

HFSPlusDriveGeometry::SectorReader HFSPlusVolume::nodeReader() {
    return [this](std::uint64_t sector, std::int32_t sectors, std::vector<std::uint8_t>& buffer) {
        return readNode(sector, sectors, buffer);
    };
}

std::uint64_t HFSPlusVolume::catNodeToSector(std::uint32_t node) const {
    return geometry().catalogNodeToSector(node).value_or(0);
}

std::uint64_t HFSPlusVolume::extNodeToSector(std::uint32_t node) const {
    return geometry().extentsNodeToSector(node).value_or(0);
}

std::optional<std::vector<Extent>> HFSPlusVolume::extentsForID(std::uint32_t id, std::uint8_t fork,
                                                               std::uint32_t startBlock, std::uint32_t totalBlocks) {
    return geometry().extentsForID(id, fork, startBlock, totalBlocks, nodeReader(),
                                   [this] { return volume_.stopTreeThread(); });
}
