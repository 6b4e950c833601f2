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
constexpr std::uint64_t kFAT32BackupBootSector = 6;

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

    std::optional<FATBootSector> boot = FATBootSector::decode(ByteView(buffer));
    // A boot sector the medium would not give reads as zeros; FAT32 keeps a
    // copy of it, at sector 6 where its formatters put it.
    if (v.unreadableSectorsIn(v.HPlusVolStart(), 1) != 0) {
        std::vector<std::uint8_t> backup(bytesInSector_);
        const std::optional<std::uint64_t> lost = readVolumeSectors(kFAT32BackupBootSector, 1, backup.data());
        const std::optional<FATBootSector> copy =
            lost && *lost == 0 ? FATBootSector::decode(ByteView(backup)) : std::nullopt;
        if (copy && copy->hasBootCode() && copy->type() == FATType::FAT32) {
            platform::logFormat("FAT volume on %@: its boot sector could not be read; the copy at sector %@ is taken",
                                v.path(), static_cast<unsigned long long>(kFAT32BackupBootSector));
            boot = copy;
        }
    }
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
    // Only clusters that lie on the volume can hold anything of a file.
    const std::uint64_t onVolume = v.sizeInSect() > v.blocksStartsAtSector
                                       ? (v.sizeInSect() - v.blocksStartsAtSector) / boot.sectorsPerCluster
                                       : 0;
    held_.assign(static_cast<std::size_t>(std::min(clusterCount_, onVolume) + 2), false);

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

std::optional<std::uint64_t> FATFileSystem::readVolumeSectors(std::uint64_t sector, std::uint32_t count,
                                                              std::uint8_t* buffer) {
    const std::uint64_t size = volume_.sizeInSect();
    if (count == 0 || count > std::uint32_t(std::numeric_limits<std::int32_t>::max()) || sector >= size ||
        count > size - sector)
        return std::nullopt;
    return volume_.readSectorRange(volume_.HPlusVolStart() + sector, static_cast<std::int32_t>(count), buffer);
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

std::optional<FATEntry> FATFileSystem::fatEntry(std::uint32_t cluster, unsigned fat) {
    const FATType type = *geometry_.type;
    const std::uint64_t offset = FATEntry::offsetOf(type, cluster);
    const std::uint64_t width = FATEntry::bytesOf(type);
    const std::uint64_t fatBytes = std::uint64_t(geometry_.boot.fatSize()) * bytesInSector_;
    if (offset + width > fatBytes) return std::nullopt;
    const std::uint64_t fatStart = geometry_.fatStart() + std::uint64_t(fat) * geometry_.boot.fatSize();
    FatPiece& piece = fatPieces_[fat];
    const std::uint64_t pieceBytes = std::uint64_t(piece.sectors) * bytesInSector_;
    if (piece.bytes.empty() || offset < piece.start || offset + width > piece.start + pieceBytes) {
        const std::uint64_t start = offset / kFatPieceBytes * kFatPieceBytes;
        const std::uint64_t bytes = std::min<std::uint64_t>(kFatPieceBytes + bytesInSector_, fatBytes - start);
        const auto sectors = static_cast<std::uint32_t>((bytes + bytesInSector_ - 1) / bytesInSector_);
        piece.bytes.assign(std::size_t(sectors) * bytesInSector_, 0);
        const std::optional<std::uint64_t> lost =
            readVolumeSectors(fatStart + start / bytesInSector_, sectors, piece.bytes.data());
        if (!lost) {
            piece.bytes.clear();
            return std::nullopt;
        }
        piece.start = start;
        piece.sectors = sectors;
        piece.damaged = *lost != 0;
    }
    // An entry on a sector that could not be read reads as zeros, which
    // would say the cluster is free.
    if (piece.damaged) {
        const std::uint64_t first = fatStart + offset / bytesInSector_;
        const std::uint64_t last = fatStart + (offset + width - 1) / bytesInSector_;
        if (volume_.unreadableSectorsIn(volume_.HPlusVolStart() + first, last - first + 1) != 0) return std::nullopt;
    }
    return FATEntry::decode(type, ByteView(piece.bytes), piece.start, cluster);
}

FATFileSystem::Chain FATFileSystem::followChain(std::uint32_t firstCluster, unsigned fat) {
    Chain chain;
    // An entry whose first cluster a live file or folder holds already
    // shares nothing more with it.
    if (held(firstCluster)) {
        chain.end = ChainEnd::Broken;
        return chain;
    }
    std::unordered_set<std::uint32_t> seen{firstCluster};
    std::uint32_t cluster = firstCluster;
    for (;;) {
        if (volume_.stopTreeThread()) {
            chain.end = ChainEnd::Stopped;
            return chain;
        }
        const std::optional<FATEntry> next = fatEntry(cluster, fat);
        if (!next) {
            chain.end = ChainEnd::Unreadable;
            return chain;
        }
        if (next->kind == FATEntry::Kind::Free || next->kind == FATEntry::Kind::EndOfChain) {
            chain.end = next->kind == FATEntry::Kind::Free ? ChainEnd::Free : ChainEnd::EndValue;
            return chain;
        }
        // A damaged FAT: the chain comes back to a cluster, runs into
        // another's, or leaves the volume.
        if (next->kind != FATEntry::Kind::Next || !isDataCluster(next->value) || held(next->value) ||
            !seen.insert(next->value).second) {
            chain.end = ChainEnd::Broken;
            return chain;
        }
        chain.clusters.push_back(next->value);
        cluster = next->value;
    }
}

FATFileSystem::Chain FATFileSystem::chainOf(std::uint32_t firstCluster, bool live, std::uint64_t clusters) {
    const auto fits = [&](const Chain& c) {
        return c.end == ChainEnd::EndValue && (clusters == 0 || c.clusters.size() + 1 == clusters);
    };
    Chain chain = followChain(firstCluster, 0);
    // A deleted entry's chain is gone from both FATs alike.
    if (live && !fits(chain) && chain.end != ChainEnd::Stopped && geometry_.boot.numberOfFats >= 2) {
        Chain second = followChain(firstCluster, 1);
        if (fits(second)) {
            if (!secondFatLogged_)
                platform::logFormat("FAT volume on %@: chains that FAT 1 gives broken or cut short are taken "
                                    "from FAT 2",
                                    volume_.path());
            secondFatLogged_ = true;
            chain = std::move(second);
        }
    }
    if (live) {
        if (firstCluster < held_.size()) held_[firstCluster] = true;
        for (const std::uint32_t c : chain.clusters)
            if (c < held_.size()) held_[c] = true;
    }
    return chain;
}

std::optional<std::vector<std::uint32_t>> FATFileSystem::storeClusterDetailsOfFolder(std::uint32_t firstCluster,
                                                                                     bool live) {
    if (firstCluster == 0 || !geometry_.type || !isDataCluster(firstCluster))
        return std::vector<std::uint32_t>{kEndOfChain};
    Chain chain = chainOf(firstCluster, live, 0);
    if (chain.end == ChainEnd::Unreadable && chain.clusters.empty()) return std::nullopt;
    std::vector<std::uint32_t> list = std::move(chain.clusters);
    list.push_back(chain.end == ChainEnd::EndValue || chain.end == ChainEnd::Free ? endMarker() : kEndOfChain);
    return list;
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
    if (auto c = storeClusterDetailsOfFolder(cluster, !entry.isDeleted())) chain = std::move(*c);
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
        const bool live = !entry.isDeleted();
        const Chain chain = chainOf(cluster, live, live ? (entry.fileSize + clusterBytes_ - 1ull) / clusterBytes_ : 0);
        // Runs of consecutive clusters, in blocks counted from cluster 2.
        std::uint64_t runStart = cluster - 2, runCount = 1;
        for (const std::uint32_t c : chain.clusters) {
            const std::uint64_t block = c - 2ull;
            if (block == runStart + runCount) {
                ++runCount;
            } else {
                newdir::appendDataExtent(node, runStart, runCount);
                runStart = block;
                runCount = 1;
            }
        }
        std::uint64_t blocks = runCount;
        for (const ExtP& e : node->extents)
            blocks += e.blockCount;
        const std::uint64_t covered = blocks * clusterBytes_;
        // A chain shorter than the size whose FAT entries are gone (a deleted
        // file's, or one that could not be read) goes on with the clusters
        // that follow its last one, as far as the volume. One that broke, or
        // that a FAT ends too soon for a live file, does not: what follows
        // belongs to other files, and it is not this one's to take.
        const bool cut = chain.end == ChainEnd::Broken || (live && chain.end == ChainEnd::EndValue);
        if (chain.end == ChainEnd::Broken || chain.end == ChainEnd::Unreadable || (live && covered < entry.fileSize))
            node->complete = NewDir::kDamaged;
        if (covered < entry.fileSize && !cut) {
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
    // The sectors of the piece in hand that could not be read: their
    // entries are passed over, never taken for the end of the directory.
    std::vector<bool> unreadable(spc, false);

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
        const std::optional<std::uint64_t> lost = readVolumeSectors(at, n, buffer.data());
        for (std::uint32_t k = 0; k < spc; ++k)
            unreadable[k] = lost && *lost != 0 && k < n && v.unreadableSectorsIn(v.HPlusVolStart() + at + k, 1) != 0;
        return lost.has_value();
    };
    if (fixedRoot && rootLeft == 0) return true;
    if (!readPiece()) return false;
    if (!rootDirectory && !unreadable[0] && !(buffer[0] == '.' && buffer[32] == '.' && buffer[33] == '.')) return false;

    std::size_t position = rootDirectory ? 0 : 64;
    std::size_t nextInChain = 0;
    while (!v.stopTreeThread()) {
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
        if (unreadable[position / bytesInSector_]) {
            position = (position / bytesInSector_ + 1) * bytesInSector_;
            continue;
        }
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
            fillProgress();
        }
    }
    return true;
}
