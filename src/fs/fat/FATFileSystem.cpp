#include "fs/fat/FATFileSystem.h"

#include "platform/AppController.h"
#include "platform/ByteView.h"
#include "platform/SystemLog.h"
#include "platform/TextEncoding.h"
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

bool isPowerOfTwo(std::uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

void alertCorrupted() {
    if (auto* c = platform::appController())
        c->runAlertPanel(platform::alertRequest(
            "!Volume corrupted",
            "File system based recovery not possible. Recommend for Advanced scan or Signature Search", "OK"));
}

} // namespace

// One 32-byte short directory entry, as the walk reads it.
struct FATFileSystem::Entry {
    explicit Entry(ByteView e) : bytes(e) {}
    ByteView bytes;
    std::uint8_t first() const { return bytes.u8(0); }
    std::uint8_t attributes() const { return bytes.u8(11); }
    bool isDeleted() const { return first() == 0xE5; }
    std::uint32_t firstCluster() const { return (std::uint32_t(bytes.le16(20)) << 16) | bytes.le16(26); }
    std::uint32_t size() const { return bytes.le32(28); }
    std::uint32_t created() const { return (std::uint32_t(bytes.le16(16)) << 16) + bytes.le16(14); }
    std::uint32_t modified() const { return (std::uint32_t(bytes.le16(24)) << 16) + bytes.le16(22); }
    // The 8.3 name as stored, blanks kept: the name part alone for a folder,
    // "name.ext" for a file. A deleted entry's marker becomes a blank; 0x05
    // stands for a name that begins with the byte 0xE5.
    std::u16string name(bool folder) const {
        std::string raw(8, ' ');
        bytes.copyTo(0, reinterpret_cast<std::uint8_t*>(raw.data()), 8);
        if (isDeleted())
            raw[0] = ' ';
        else if (first() == 0x05)
            raw[0] = static_cast<char>(0xE5);
        if (!folder) {
            std::string ext(3, ' ');
            bytes.copyTo(8, reinterpret_cast<std::uint8_t*>(ext.data()), 3);
            raw += '.';
            raw += ext;
        }
        return platform::utf16FromCodePage437(raw);
    }
};

FATFileSystem::FATFileSystem(Volume& volume) noexcept : volume_(volume) {}

// ---------------------------------------------------------------------------
// Check and geometry

bool FATFileSystem::checkFATFileSystemHealthy() {
    Volume& v = volume_;
    bytesInSector_ = v.u32BytesInSector();
    const std::string& content = v.volumeContent;
    type_ = content == "FAT12"   ? Type::FAT12
            : content == "FAT16" ? Type::FAT16
            : content == "FAT32" ? Type::FAT32
                                 : Type::None;
    if (bytesInSector_ == 0 || bytesInSector_ > 65536) return false;
    const std::uint32_t probeSectors = std::max<std::uint32_t>(1, 4096 / bytesInSector_);
    std::vector<std::uint8_t> buffer(std::size_t(probeSectors) * bytesInSector_);
    if (!readVolumeSectors(0, probeSectors, buffer.data())) return false;
    const ByteView boot(buffer);
    v.u32RootDirectorySectors = 0;

    const bool jump = (boot.u8(0) == 0xEB && boot.u8(2) == 0x90) || boot.u8(0) == 0xE9;
    if (!jump || boot.u8(510) != 0x55 || boot.u8(511) != 0xAA) return false;

    const std::uint8_t sectorsPerCluster = boot.u8(13);
    v.u8SectorPerCluster = sectorsPerCluster;
    v.setBlockSize(sectorsPerCluster);
    v.u16ReservedSectorCount = boot.le16(14);
    v.u16NumberOfFats = boot.u8(16);
    const std::uint8_t media = boot.u8(21);
    const std::uint16_t bootBytesPerSector = boot.le16(11);
    if (type_ == Type::FAT12 || type_ == Type::FAT16)
        v.u32RootDirectorySectors =
            static_cast<std::uint32_t>((std::uint64_t(boot.le16(17)) * 32 + bytesInSector_ - 1) / bytesInSector_);
    v.u32FATSize = boot.le16(22) != 0 ? boot.le16(22) : boot.le32(36);
    rootCluster_ = type_ == Type::FAT32 ? boot.le32(44) : 0;

    // Clusters of no sector, or of a size no FAT allows, would make every
    // cluster computation meaningless.
    if (bootBytesPerSector % 512 != 0 || bootBytesPerSector < 512 || bootBytesPerSector > 4096) return false;
    if (!isPowerOfTwo(sectorsPerCluster)) return false;
    if (v.u16NumberOfFats != 2) return false;
    // The geometry fields are 32 bits wide; a boot sector whose areas do not
    // fit them describes no volume.
    const std::uint64_t rootStart = std::uint64_t(v.u16ReservedSectorCount) + 2ull * v.u32FATSize;
    if (rootStart + v.u32RootDirectorySectors > std::numeric_limits<std::uint32_t>::max()) return false;

    if (!readVolumeSectors(v.u16ReservedSectorCount, probeSectors, buffer.data())) return false;
    if (buffer[0] == media) return true;
    if (!readVolumeSectors(std::uint64_t(v.u16ReservedSectorCount) + v.u32FATSize, probeSectors, buffer.data()))
        return false;
    return buffer[0] == media;
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
    v.u32RootDirectoryStart = v.u16ReservedSectorCount + v.u16NumberOfFats * v.u32FATSize;
    v.blocksStartsAtSector = std::uint64_t(v.u32RootDirectoryStart) + v.u32RootDirectorySectors;
    clusterBytes_ = std::uint32_t(v.u8SectorPerCluster) * bytesInSector_;

    // The cluster range is what the boot sector's sector count leaves after
    // the data area begins, and no more than the FAT has entries for.
    std::vector<std::uint8_t> boot(bytesInSector_);
    std::uint64_t totalSectors = v.sizeInSect();
    if (readVolumeSectors(0, 1, boot.data())) {
        const ByteView b(boot);
        const std::uint64_t stated = b.le16(19) != 0 ? b.le16(19) : b.le32(32);
        if (stated != 0) totalSectors = stated;
    }
    const std::uint64_t dataSectors = totalSectors > v.blocksStartsAtSector ? totalSectors - v.blocksStartsAtSector : 0;
    const std::uint64_t bitsPerEntry = type_ == Type::FAT12 ? 12 : type_ == Type::FAT16 ? 16 : 32;
    const std::uint64_t fatEntries = std::uint64_t(v.u32FATSize) * bytesInSector_ * 8 / bitsPerEntry;
    clusterCount_ = std::min(dataSectors / v.u8SectorPerCluster, fatEntries > 2 ? fatEntries - 2 : 0);

    NewDir* root = v.dirRoot;
    bool result = false;
    if (type_ == Type::FAT32) {
        // The FAT32 root is a cluster chain like any folder, wherever its
        // first cluster lies, and has no "." and ".." entries.
        std::vector<std::uint32_t> chain;
        if (isDataCluster(rootCluster_)) {
            walkedDirectoryClusters_.insert(rootCluster_);
            if (auto c = storeClusterDetailsOfFolder(rootCluster_)) chain = std::move(*c);
            result =
                enumerateDirectoryEntry(static_cast<std::uint32_t>(sectorOfCluster(rootCluster_)), true, &chain, root);
        } else {
            platform::logFormat("FAT32 volume on %@: root cluster %@ lies outside the volume", v.path(), rootCluster_);
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
    return std::uint64_t(cluster - 2) * volume_.u8SectorPerCluster + volume_.u32RootDirectoryStart +
           volume_.u32RootDirectorySectors;
}

std::uint32_t FATFileSystem::endMarker() const {
    return type_ == Type::FAT12 ? 0xFFF : type_ == Type::FAT16 ? 0xFFFF : kEndOfChain;
}

std::optional<std::uint32_t> FATFileSystem::fatEntry(std::uint32_t cluster) {
    const std::uint64_t offset = type_ == Type::FAT32   ? std::uint64_t(cluster) * 4
                                 : type_ == Type::FAT16 ? std::uint64_t(cluster) * 2
                                                        : std::uint64_t(cluster) + cluster / 2;
    const std::uint64_t width = type_ == Type::FAT32 ? 4 : 2;
    const std::uint64_t fatBytes = std::uint64_t(volume_.u32FATSize) * bytesInSector_;
    if (offset + width > fatBytes) return std::nullopt;
    const std::uint64_t pieceBytes = std::uint64_t(fatPieceSectors_) * bytesInSector_;
    if (fatPiece_.empty() || offset < fatPieceStart_ || offset + width > fatPieceStart_ + pieceBytes) {
        const std::uint64_t start = offset / kFatPieceBytes * kFatPieceBytes;
        const std::uint64_t bytes = std::min<std::uint64_t>(kFatPieceBytes + bytesInSector_, fatBytes - start);
        const auto sectors = static_cast<std::uint32_t>((bytes + bytesInSector_ - 1) / bytesInSector_);
        fatPiece_.assign(std::size_t(sectors) * bytesInSector_, 0);
        if (!readVolumeSectors(volume_.u16ReservedSectorCount + start / bytesInSector_, sectors, fatPiece_.data())) {
            fatPiece_.clear();
            return std::nullopt;
        }
        fatPieceStart_ = start;
        fatPieceSectors_ = sectors;
    }
    const ByteView piece(fatPiece_);
    const std::size_t at = static_cast<std::size_t>(offset - fatPieceStart_);
    switch (type_) {
    case Type::FAT32:
        // The top four bits are reserved and say nothing about the chain.
        return piece.le32(at) & 0x0FFFFFFF;
    case Type::FAT16:
        return piece.le16(at);
    default: {
        const std::uint16_t pair = piece.le16(at);
        return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
    }
    }
}

std::optional<std::vector<std::uint32_t>> FATFileSystem::storeClusterDetailsOfFolder(std::uint32_t firstCluster) {
    std::vector<std::uint32_t> chain;
    if (firstCluster == 0 || type_ == Type::None) return std::vector<std::uint32_t>{kEndOfChain};
    const std::uint32_t endAbove = type_ == Type::FAT32 ? 0x0FFFFFF8 : type_ == Type::FAT16 ? 0xFFF8 : 0xFF8;
    // A chain longer than the volume has clusters, or one that comes back to
    // a cluster, is a damaged FAT; either ends the chain there.
    std::unordered_set<std::uint32_t> seen{firstCluster};
    std::uint32_t cluster = firstCluster;
    while (!volume_.stopTreeThread() && isDataCluster(cluster) && chain.size() <= clusterCount_ + 2) {
        const std::optional<std::uint32_t> next = fatEntry(cluster);
        if (!next) return std::nullopt;
        if (*next == 0 || *next > endAbove) {
            chain.push_back(*next == 0 ? endMarker() : (type_ == Type::FAT16 ? 0xFFFF : *next));
            return chain;
        }
        if (!isDataCluster(*next) || !seen.insert(*next).second) break;
        chain.push_back(*next);
        cluster = *next;
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

NewDir* FATFileSystem::makeNode(const Entry& entry, NewDir* parent, bool folder) {
    Volume& v = volume_;
    NewDir* node = newdir::allocate();
    node->fileType = folder ? NewDir::Folder : NewDir::File;
    node->fileSize = entry.size();
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
    node->sectorsPerBlock = folder ? 0 : v.u8SectorPerCluster;
    v.addChild(node, parent);
    const std::uint64_t size = entry.size();
    newdir::forEachAncestor(parent, [&](NewDir* a) {
        ++a->childrenCount;
        if (!folder) ++a->fileCount;
        a->fileSize += size;
    });
    v.dataSize += size;
    v.setFileName(entry.name(folder), node);
    v.setPathBelow(parent, node);
    return node;
}

void FATFileSystem::addFolder(const Entry& entry, NewDir* parent) {
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

void FATFileSystem::addFile(const Entry& entry, NewDir* parent) {
    Volume& v = volume_;
    ++v.fileCount;
    ++v.entryCount;
    NewDir* node = makeNode(entry, parent, false);
    const std::uint32_t cluster = entry.firstCluster();
    if (entry.size() != 0 && isDataCluster(cluster)) {
        // Runs of consecutive clusters, in blocks counted from cluster 2.
        std::uint64_t runStart = cluster - 2, runCount = 1;
        if (auto chain = storeClusterDetailsOfFolder(cluster))
            for (std::size_t i = 0; i + 1 < chain->size(); ++i) {
                const std::uint64_t block = (*chain)[i] - 2ull;
                if (block == runStart + runCount) {
                    ++runCount;
                } else {
                    v.addDataExtStartBlock(runStart, runCount, node);
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
        if (covered < entry.size()) {
            const std::uint64_t more = (entry.size() - covered + clusterBytes_ - 1) / clusterBytes_;
            const std::uint64_t next = runStart + runCount;
            runCount += next < clusterCount_ ? std::min(more, clusterCount_ - next) : 0;
        }
        v.addDataExtStartBlock(runStart, runCount, node);
    }
    if (v.btreeFirstFileBlock) v.btreeFirstFileBlock->insert(std::make_unique<ItemTypeUInt32>(cluster));
}

bool FATFileSystem::enumerateDirectoryEntry(std::uint32_t sector, bool rootDirectory,
                                            const std::vector<std::uint32_t>* FATDetails, NewDir* andParent) {
    Volume& v = volume_;
    postProgressStart();
    const std::uint32_t spc = v.u8SectorPerCluster;
    if (spc == 0 || bytesInSector_ == 0 || andParent == nullptr) return false;
    const std::size_t pieceBytes = std::size_t(spc) * bytesInSector_;
    std::vector<std::uint8_t> buffer(pieceBytes + bytesInSector_);

    // The fixed root of FAT12/16 is read in pieces of a cluster up to its
    // last sector; everything else cluster by cluster along its chain.
    const bool fixedRoot = rootDirectory && FATDetails == nullptr;
    std::uint64_t rootLeft = fixedRoot ? v.u32RootDirectorySectors : 0;
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
        const Entry entry(ByteView(buffer.data() + position, 32));
        position += 32;
        if (entry.first() == 0x00) return true;
        const std::uint8_t attributes = entry.attributes();
        const bool dotEntry = entry.first() == '.' && (entry.bytes.u8(1) == ' ' || entry.bytes.u8(1) == '.');
        const bool passedOver = dotEntry || attributes == 0x0F || attributes == 0x00 || (attributes & 0x04) != 0;
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
