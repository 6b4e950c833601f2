#include "fs/fat/FATFileSystem.h"

#include "platform/AppController.h"
#include "platform/ByteView.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/Volume.h"

#include <algorithm>
#include <limits>
#include <string_view>

using platform::ByteView;
using platform::Dict;

namespace {

constexpr std::uint32_t kEndOfChain = 0x0FFFFFFF;
// FAT 1 is read in pieces of this size (and one sector more, so that an
// entry that begins in a piece always ends in it).
constexpr std::uint32_t kFatPieceBytes = 256 * 1024;

void alertCorrupted() {
    if (auto* c = platform::appController())
        c->runAlertPanel(platform::alertRequest(
            "!Volume corrupted",
            "File system based recovery not possible. Recommend for Advanced scan or Signature Search", "OK"));
}

} // namespace

FATFileSystem::FATFileSystem(Volume& volume) noexcept : volume_(volume) {}

// ---------------------------------------------------------------------------
// Check and geometry

bool FATFileSystem::checkFATFileSystemHealthy() {
    Volume& v = volume_;
    bytesInSector_ = v.u32BytesInSector();
    geometry_ = FATGeometry{FATGeometry::typeOfContent(v.volumeContent), {}};
    if (bytesInSector_ == 0 || bytesInSector_ > 65536) return false;
    const std::uint32_t probeSectors = std::max<std::uint32_t>(1, 4096 / bytesInSector_);
    std::vector<std::uint8_t> buffer(std::size_t(probeSectors) * bytesInSector_);
    if (!readVolumeSectors(0, probeSectors, buffer.data())) return false;
    v.u32RootDirectorySectors = 0;

    const std::optional<FATBootSector> boot = FATBootSector::decode(ByteView(buffer));
    if (!boot || !boot->hasBootCode()) return false;
    geometry_.boot = *boot;
    v.setBlockSize(boot->sectorsPerCluster);
    v.u32RootDirectorySectors = static_cast<std::uint32_t>(geometry_.rootDirectorySectors());
    if (!boot->isValid() || boot->numberOfFats != 2) return false;

    // The media byte begins the first FAT, or else the second.
    if (!readVolumeSectors(boot->fatStart(), probeSectors, buffer.data())) return false;
    if (buffer[0] == boot->media) return true;
    if (!readVolumeSectors(boot->fatStart() + boot->fatSize(), probeSectors, buffer.data())) return false;
    return buffer[0] == boot->media;
}

bool FATFileSystem::startFATFileSystemRecovery() {
    Volume& v = volume_;
    const bool healthy = checkFATFileSystemHealthy();
    auto* controller = platform::appController();
    if (controller) controller->setUpTimer();
    if (!healthy) {
        alertCorrupted();
        if (controller) controller->invalidateTimer();
        return false;
    }
    v.fileCount = v.folderCount = v.entryCount = 0;
    v.dataSize = 0;
    const FATBootSector& boot = geometry_.boot;
    // The check keeps the areas within 32 bits of sectors.
    v.u32RootDirectoryStart = static_cast<std::uint32_t>(boot.rootDirectoryStart());
    v.blocksStartsAtSector = geometry_.dataStart();
    clusterBytes_ = std::uint32_t(boot.sectorsPerCluster) * bytesInSector_;

    clusterCount_ = geometry_.clusterCount(v.sizeInSect(), bytesInSector_);

    NewDir* root = v.dirRoot;
    bool result = false;
    if (geometry_.type == FATType::FAT32) {
        // The FAT32 root is a cluster chain like any folder, wherever its
        // first cluster lies, and has no "." and ".." entries.
        std::vector<std::uint32_t> chain;
        if (isDataCluster(boot.rootCluster)) {
            walkedDirectoryClusters_.insert(boot.rootCluster);
            if (auto c = storeClusterDetailsOfFolder(boot.rootCluster)) chain = std::move(*c);
            result = enumerateDirectoryEntry(static_cast<std::uint32_t>(sectorOfCluster(boot.rootCluster)), true,
                                             &chain, root);
        } else {
            platform::logFormat("FAT32 volume on %@: root cluster %@ lies outside the volume", v.path(),
                                boot.rootCluster);
        }
    } else {
        result = enumerateDirectoryEntry(v.u32RootDirectoryStart, true, nullptr, root);
    }
    if (controller) controller->invalidateTimer();
    return result;
}

// ---------------------------------------------------------------------------
// Reading

bool FATFileSystem::readVolumeSectors(std::uint64_t sector, std::uint32_t count, std::uint8_t* buffer) {
    const std::uint64_t size = volume_.sizeInSect();
    if (count == 0 || count > std::uint32_t(std::numeric_limits<std::int32_t>::max()) || sector >= size ||
        count > size - sector)
        return false;
    return volume_.readSector(volume_.HPlusVolStart() + sector, static_cast<std::int32_t>(count), buffer);
}

bool FATFileSystem::isDataCluster(std::uint64_t cluster) const {
    return cluster >= 2 && cluster < clusterCount_ + 2;
}

std::uint64_t FATFileSystem::sectorOfCluster(std::uint32_t cluster) const {
    return std::uint64_t(cluster - 2) * geometry_.sectorsPerCluster() + geometry_.dataStart();
}

std::uint32_t FATFileSystem::endMarker() const {
    return geometry_.type == FATType::FAT12 ? 0xFFF : geometry_.type == FATType::FAT16 ? 0xFFFF : kEndOfChain;
}

std::optional<FATEntry> FATFileSystem::fatEntry(std::uint32_t cluster) {
    const FATType type = *geometry_.type;
    const std::uint64_t offset = FATEntry::offsetOf(type, cluster);
    const std::uint64_t width = FATEntry::bytesOf(type);
    const std::uint64_t fatBytes = std::uint64_t(geometry_.boot.fatSize()) * bytesInSector_;
    if (offset + width > fatBytes) return std::nullopt;
    const std::uint64_t pieceBytes = std::uint64_t(fatPieceSectors_) * bytesInSector_;
    if (fatPiece_.empty() || offset < fatPieceStart_ || offset + width > fatPieceStart_ + pieceBytes) {
        const std::uint64_t start = offset / kFatPieceBytes * kFatPieceBytes;
        const std::uint64_t bytes = std::min<std::uint64_t>(kFatPieceBytes + bytesInSector_, fatBytes - start);
        const auto sectors = static_cast<std::uint32_t>((bytes + bytesInSector_ - 1) / bytesInSector_);
        fatPiece_.assign(std::size_t(sectors) * bytesInSector_, 0);
        if (!readVolumeSectors(geometry_.fatStart() + start / bytesInSector_, sectors, fatPiece_.data())) {
            fatPiece_.clear();
            return std::nullopt;
        }
        fatPieceStart_ = start;
        fatPieceSectors_ = sectors;
    }
    return FATEntry::decode(type, ByteView(fatPiece_), fatPieceStart_, cluster);
}

std::optional<std::vector<std::uint32_t>> FATFileSystem::storeClusterDetailsOfFolder(std::uint32_t firstCluster) {
    std::vector<std::uint32_t> chain;
    if (firstCluster == 0 || !geometry_.type) return std::vector<std::uint32_t>{kEndOfChain};
    // A chain longer than the volume has clusters, or one that comes back to
    // a cluster, is a damaged FAT; either ends the chain there.
    std::unordered_set<std::uint32_t> seen{firstCluster};
    std::uint32_t cluster = firstCluster;
    while (!volume_.stopTreeThread() && isDataCluster(cluster) && chain.size() <= clusterCount_ + 2) {
        const std::optional<FATEntry> next = fatEntry(cluster);
        if (!next) return std::nullopt;
        if (next->kind == FATEntry::Kind::Free || next->kind == FATEntry::Kind::EndOfChain) {
            chain.push_back(endMarker());
            return chain;
        }
        if (next->kind != FATEntry::Kind::Next || !isDataCluster(next->value) || !seen.insert(next->value).second)
            break;
        chain.push_back(next->value);
        cluster = next->value;
    }
    chain.push_back(kEndOfChain);
    return chain;
}

// ---------------------------------------------------------------------------
// The walk

void FATFileSystem::postProgressStart() {
    auto* c = platform::appController();
    if (!c) return;
    c->updateProgress(Dict{{"Progress Status", "default"}, {"Progress Type", 0}, {"Start Animation", true}});
    c->updateProgress(Dict{{"TimeRemaining", ""}});
}

void FATFileSystem::fillProgress() {
    Volume& v = volume_;
    if (v.timerFireMethodCanRun()) return;
    Dict& update = v.dataUpdate;
    update.clear();
    update.set("Progress Status", "default");
    update.set("Folders", v.folderCount);
    update.set("Files", v.fileCount);
    update.set("Entries Found", v.entryCount);
    update.set("Data", static_cast<unsigned long long>(v.dataSize));
    v.setTimerFireMethodCanRun(true);
}

NewDir* FATFileSystem::makeNode(const FATDirectoryEntry& entry, NewDir* parent, bool folder) {
    Volume& v = volume_;
    NewDir* node = newdir::allocate();
    node->fileType = folder ? NewDir::Folder : NewDir::File;
    node->fileSize = entry.fileSize;
    node->createDate = entry.created();
    node->modDate = entry.modified();
    node->parentID = parent->fileID;
    // Folders do not raise the file count: a folder shares the ID of the
    // file found last before it.
    node->fileID = v.fileCount;
    node->pndirPointer = parent;
    node->dataStartSector = static_cast<std::uint32_t>(v.blocksStartsAtSector);
    node->isFATEntry = 1;
    node->deleted = entry.isDeleted() ? 1 : 0;
    node->fileCount = folder ? 0 : 1;
    node->sectorsPerBlock = folder ? 0 : geometry_.boot.sectorsPerCluster;
    newdir::appendChild(parent, node);
    const std::uint64_t size = entry.fileSize;
    newdir::forEachAncestor(parent, [&](NewDir* a) {
        ++a->childrenCount;
        if (!folder) ++a->fileCount;
        a->fileSize += size;
    });
    v.dataSize += size;
    newdir::setFileName(node, entry.name(folder));
    newdir::setPathBelow(node, parent);
    return node;
}

void FATFileSystem::addFolder(const FATDirectoryEntry& entry, NewDir* parent) {
    Volume& v = volume_;
    ++v.folderCount;
    ++v.entryCount;
    NewDir* node = makeNode(entry, parent, true);
    const std::uint32_t cluster = entry.firstCluster();
    if (!isDataCluster(cluster)) return;
    if (depth_ >= kMaxDepth) {
        platform::logFormat("FAT volume on %@: folders nested deeper than %@ are not walked", v.path(), kMaxDepth);
        return;
    }
    // A folder whose first cluster was walked already (an ancestor's, or a
    // live folder's that reused a deleted one's) has nothing of its own.
    if (!walkedDirectoryClusters_.insert(cluster).second) return;
    std::vector<std::uint32_t> chain;
    if (auto c = storeClusterDetailsOfFolder(cluster)) chain = std::move(*c);
    ++depth_;
    enumerateDirectoryEntry(static_cast<std::uint32_t>(sectorOfCluster(cluster)), false, &chain, node);
    --depth_;
}

void FATFileSystem::addFile(const FATDirectoryEntry& entry, NewDir* parent) {
    Volume& v = volume_;
    ++v.fileCount;
    ++v.entryCount;
    NewDir* node = makeNode(entry, parent, false);
    const std::uint32_t cluster = entry.firstCluster();
    if (entry.fileSize != 0 && isDataCluster(cluster)) {
        // Runs of consecutive clusters, in blocks counted from cluster 2.
        std::uint64_t runStart = cluster - 2, runCount = 1;
        if (auto chain = storeClusterDetailsOfFolder(cluster))
            for (std::size_t i = 0; i + 1 < chain->size(); ++i) {
                const std::uint64_t block = (*chain)[i] - 2ull;
                if (block == runStart + runCount) {
                    ++runCount;
                } else {
                    newdir::appendDataExtent(node, runStart, runCount);
                    runStart = block;
                    runCount = 1;
                }
            }
        // A chain shorter than the size (a deleted file's is gone) goes on
        // with the clusters that follow its last one, as far as the volume.
        std::uint64_t blocks = runCount;
        for (const ExtP& e : node->extents)
            blocks += e.blockCount;
        const std::uint64_t covered = blocks * clusterBytes_;
        if (covered < entry.fileSize) {
            const std::uint64_t more = (entry.fileSize - covered + clusterBytes_ - 1) / clusterBytes_;
            const std::uint64_t next = runStart + runCount;
            runCount += next < clusterCount_ ? std::min(more, clusterCount_ - next) : 0;
        }
        newdir::appendDataExtent(node, runStart, runCount);
    }
    if (v.btreeFirstFileBlock) v.btreeFirstFileBlock->insert(std::make_unique<ItemTypeUInt32>(cluster));
}

bool FATFileSystem::enumerateDirectoryEntry(std::uint32_t sector, bool rootDirectory,
                                            const std::vector<std::uint32_t>* FATDetails, NewDir* andParent) {
    Volume& v = volume_;
    postProgressStart();
    const std::uint32_t spc = geometry_.sectorsPerCluster();
    if (spc == 0 || bytesInSector_ == 0 || andParent == nullptr) return false;
    const std::size_t pieceBytes = std::size_t(spc) * bytesInSector_;
    std::vector<std::uint8_t> buffer(pieceBytes + bytesInSector_);

    // The fixed root of FAT12/16 is read in pieces of a cluster up to its
    // last sector; everything else cluster by cluster along its chain.
    const bool fixedRoot = rootDirectory && FATDetails == nullptr;
    std::uint64_t rootLeft = fixedRoot ? geometry_.rootDirectorySectors() : 0;
    std::uint64_t at = sector;
    auto readPiece = [&]() {
        std::fill(buffer.begin(), buffer.end(), 0);
        std::uint32_t n = spc;
        if (fixedRoot) {
            n = static_cast<std::uint32_t>(std::min<std::uint64_t>(spc, rootLeft));
            rootLeft -= n;
        }
        return readVolumeSectors(at, n, buffer.data());
    };
    if (fixedRoot && rootLeft == 0) return true;
    if (!readPiece()) return false;
    if (!rootDirectory && !(buffer[0] == '.' && buffer[32] == '.' && buffer[33] == '.')) return false;

    std::size_t position = rootDirectory ? 0 : 64;
    std::size_t nextInChain = 0;
    while (!v.stopTreeThread()) {
        const std::optional<FATDirectoryEntry> read =
            FATDirectoryEntry::decode(ByteView(buffer.data() + position, FATDirectoryEntry::kBytes));
        if (!read) return false;
        const FATDirectoryEntry& entry = *read;
        position += FATDirectoryEntry::kBytes;
        if (entry.endsDirectory()) return true;
        const std::uint8_t attributes = entry.attributes;
        const bool passedOver = entry.isDotEntry() || entry.isLongNameSlot() || attributes == 0x00 ||
                                (attributes & FATDirectoryEntry::kSystem) != 0;
        if (!passedOver) {
            if (attributes >= 0x10 && attributes <= 0x17)
                addFolder(entry, andParent);
            else if (attributes >= 0x20 && attributes <= 0x27)
                addFile(entry, andParent);
        }
        if (position == pieceBytes) {
            position = 0;
            if (fixedRoot) {
                if (rootLeft == 0) return true;
                at += spc;
            } else {
                if (FATDetails == nullptr || nextInChain >= FATDetails->size()) return false;
                const std::uint32_t cluster = (*FATDetails)[nextInChain++];
                // The chain ends at its end value; a cluster this walk has
                // read as a directory already is not read twice.
                if (!isDataCluster(cluster) || !walkedDirectoryClusters_.insert(cluster).second) return true;
                at = sectorOfCluster(cluster);
            }
            if (!readPiece()) return false;
        }
        if (!passedOver) fillProgress();
    }
    return true;
}
