#include "fs/exfat/ExFATFileSystem.h"

#include "formats/FileDirectoryEntry.h"
#include "formats/FileNameExtensionDirectoryEntry.h"
#include "formats/HFSPlusStructures.h"
#include "formats/MainBootSector.h"
#include "formats/StreamExtensionDirectoryEntery.h"
#include "platform/AppController.h"
#include "platform/ByteView.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <limits>

using platform::ByteView;
using platform::checkedAdd;
using platform::checkedMul;
using platform::saturatingAdd;

namespace {

constexpr std::size_t kEntryBytes = 32;
// A directory is read in pieces of at most this many bytes, so that no more
// of a large cluster is read than its entries take.
constexpr std::uint64_t kPieceBytes = 65536;
// The longest a directory may be.
constexpr std::uint64_t kMaxDirectoryBytes = 256u << 20;
constexpr std::uint8_t kFileEntry = 0x85;
constexpr std::uint8_t kDeletedFileEntry = 0x05;
constexpr std::uint8_t kStreamEntry = 0xC0;
constexpr std::uint8_t kDeletedStreamEntry = 0x40;
constexpr std::uint8_t kNameEntry = 0xC1;
constexpr std::uint8_t kEndOfDirectory = 0x00;
constexpr std::uint8_t kMaxSecondaryCount = 18;
// A whole set: the file entry and its secondaries.
constexpr std::size_t kMaxSetBytes = (kMaxSecondaryCount + 1) * kEntryBytes;
constexpr std::uint16_t kDirectoryAttribute = 0x10;
constexpr std::uint32_t kNoFatChainBit = 1;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFF;
constexpr std::uint32_t kMediaDescriptor = 0xFFFFFFF8;
// The shifts that make sense: sectors of 512 to 4096 bytes, clusters of at
// most 32 MiB.
constexpr std::uint16_t kMinSectorShift = 9;
constexpr std::uint16_t kMaxSectorShift = 12;
constexpr std::uint16_t kMaxClusterShift = 25;
constexpr std::uint64_t kBackupBootSector = 12;
// Folders open at once. A path of exFAT holds at most 32,767 units, so no
// real volume nests folders this deep; a hostile chain ends here instead of
// holding a cluster buffer per level without end.
constexpr std::size_t kMaxOpenClusters = 4096;

// An exFAT timestamp (DOS time in the low half, DOS date in the high half,
// local time) as HFS+ seconds since 1904 (GMT): the 10 ms field adds its
// whole seconds, and a valid UTC offset (bit 7; 15-minute steps in a signed
// 7-bit number) takes the time back to GMT. 0, shown as no date, for a stamp
// that names no day or does not fit.
std::uint32_t hfsSeconds(std::uint32_t stamp, std::uint8_t tenMs, std::uint8_t utcOffset) {
    using namespace std::chrono;
    const year_month_day date{year{1980 + static_cast<int>(stamp >> 25)}, month{(stamp >> 21) & 0xF},
                              day{(stamp >> 16) & 0x1F}};
    const std::uint32_t hours = (stamp >> 11) & 0x1F, minutes = (stamp >> 5) & 0x3F, twoSeconds = stamp & 0x1F;
    if (!date.ok() || hours > 23 || minutes > 59 || twoSeconds > 29) return 0;
    std::int64_t t = duration_cast<seconds>(sys_days(date).time_since_epoch()).count() + hours * 3600 + minutes * 60 +
                     twoSeconds * 2 + (tenMs < 200 ? tenMs / 100 : 0);
    if (utcOffset & 0x80) {
        const int quarters = (utcOffset & 0x40) ? static_cast<int>(utcOffset & 0x7F) - 128 : utcOffset & 0x3F;
        t -= static_cast<std::int64_t>(quarters) * 15 * 60;
    }
    t += hfsplus::kSecondsFrom1904To1970;
    if (t <= 0 || t > std::numeric_limits<std::uint32_t>::max()) return 0;
    return static_cast<std::uint32_t>(t);
}

void post(const platform::Dict& progress) {
    if (auto* c = platform::appController()) c->updateProgress(progress);
}

} // namespace

std::uint64_t ExFATFileSystem::Geometry::clusterOffset(std::uint64_t cluster) const {
    // Only clusters of the heap get here, and the heap's numbers are 32 bits
    // wide and its clusters at most 32 MiB: no sum can wrap.
    return heapOffset + (cluster - 2) * clusterBytes;
}

ExFATFileSystem::ExFATFileSystem(Volume& volume) noexcept : volume_(volume) {}

bool ExFATFileSystem::startExFATFileSystemRecovery() {
    Volume& v = volume_;
    std::vector<std::uint8_t> first;
    const std::optional<std::uint64_t> lost = readVolumeBytes(0, v.u32BytesInSector(), first);
    // A main boot sector the medium would not give reads as zeros; the
    // backup boot region begins at sector 12, in the file system's own
    // sectors of 512 to 4096 bytes, which its copy names.
    if (lost && *lost != 0) {
        for (std::uint16_t shift = kMinSectorShift; shift <= kMaxSectorShift; ++shift) {
            std::vector<std::uint8_t> backup;
            const std::uint64_t at = kBackupBootSector << shift;
            const std::optional<std::uint64_t> backupLost = readVolumeBytes(at, v.u32BytesInSector(), backup);
            const MainBootSector copy{ByteView(backup)};
            if (!backupLost || *backupLost != 0 || copy.file_system_name() != "EXFAT   " ||
                copy.boot_signature() != 0xAA55 || copy.bytes_per_sector() != shift)
                continue;
            platform::logFormat("exFAT recovery on %@: the main boot sector could not be read; its backup at byte "
                                "%@ is taken",
                                v.path(), static_cast<unsigned long long>(at));
            first = std::move(backup);
            break;
        }
    }
    const MainBootSector mbs{ByteView(first)};
    if (mbs.file_system_name() != "EXFAT   " || mbs.boot_signature() != 0xAA55) {
        platform::logFormat("exFAT recovery on %@: no exFAT boot sector at sector %@", v.path(),
                            static_cast<unsigned long long>(v.HPlusVolStart()));
        return false;
    }
    const std::optional<Geometry> g = geometryOf(mbs);
    if (!g) return false;
    declaredSectors_ = (mbs.volume_length() > (std::numeric_limits<std::uint64_t>::max() >> mbs.bytes_per_sector())
                            ? std::numeric_limits<std::uint64_t>::max()
                            : mbs.volume_length() << mbs.bytes_per_sector()) /
                       g->sectorBytes;
    if (declaredSectors_ > v.sizeInSect())
        platform::logFormat("exFAT recovery on %@: the volume is %@ sectors long, its medium ends after %@; what lies "
                            "past the end cannot be read",
                            v.path(), static_cast<unsigned long long>(declaredSectors_),
                            static_cast<unsigned long long>(v.sizeInSect()));
    if (mbs.number_of_fats() != 1) {
        platform::logFormat("exFAT recovery on %@: %@ FATs, nothing walked", v.path(), mbs.number_of_fats());
        return true;
    }
    const std::uint32_t root = mbs.root_directory_first_cluster();
    if (!g->inHeap(root)) {
        platform::logFormat("exFAT recovery on %@: root directory cluster %@ lies outside the cluster heap", v.path(),
                            root);
        return true;
    }
    if (v.dirRoot)
        readExFatDirectoryOffset(v.HPlusVolStart() + g->clusterOffset(root) / g->sectorBytes, mbs, v.dirRoot);
    return true;
}

std::optional<ExFATFileSystem::Geometry> ExFATFileSystem::geometryOf(const MainBootSector& mbs) const {
    const Volume& v = volume_;
    const std::uint16_t sectorShift = mbs.bytes_per_sector();
    const std::uint16_t clusterShift = mbs.sectors_per_cluster();
    if (sectorShift < kMinSectorShift || sectorShift > kMaxSectorShift ||
        sectorShift + clusterShift > kMaxClusterShift) {
        platform::logFormat("exFAT recovery on %@: sector shift %@ and cluster shift %@ refused", v.path(), sectorShift,
                            clusterShift);
        return std::nullopt;
    }
    Geometry g;
    g.sectorBytes = v.u32BytesInSector();
    const std::uint64_t sector = std::uint64_t{1} << sectorShift;
    g.clusterBytes = std::uint64_t{1} << (sectorShift + clusterShift);
    g.fatOffset = mbs.fat_offset() * sector;
    g.fatLength = mbs.fat_length() * sector;
    g.heapOffset = mbs.cluster_heap_offset() * sector;
    g.clusterCount = mbs.cluster_count();
    if (g.sectorBytes == 0 || g.clusterBytes % g.sectorBytes != 0 || g.heapOffset % g.sectorBytes != 0 ||
        g.fatOffset % g.sectorBytes != 0) {
        platform::logFormat("exFAT recovery on %@: clusters of %@ bytes do not fall on its %@-byte sectors", v.path(),
                            static_cast<unsigned long long>(g.clusterBytes),
                            static_cast<unsigned long long>(g.sectorBytes));
        return std::nullopt;
    }
    return g;
}

std::optional<std::uint64_t> ExFATFileSystem::readVolumeBytes(std::uint64_t offset, std::uint64_t length,
                                                              std::vector<std::uint8_t>& buffer) const {
    Volume& v = volume_;
    const std::uint64_t sectorBytes = v.u32BytesInSector();
    buffer.assign(length, 0);
    if (length == 0 || sectorBytes == 0 || offset % sectorBytes != 0 || length % sectorBytes != 0) return std::nullopt;
    const std::uint64_t sectors = length / sectorBytes;
    const auto end = checkedAdd(offset / sectorBytes, sectors);
    const auto first = checkedAdd(v.HPlusVolStart(), offset / sectorBytes);
    if (!end || !first || sectors > std::numeric_limits<std::int32_t>::max() ||
        *end > std::max(v.sizeInSect(), declaredSectors_))
        return std::nullopt;
    if (*end <= v.sizeInSect()) return v.readSectorRange(*first, static_cast<std::int32_t>(sectors), buffer.data());
    // The volume goes on past its medium's end: those sectors cannot be had.
    const std::uint64_t onMedium = offset / sectorBytes < v.sizeInSect() ? v.sizeInSect() - offset / sectorBytes : 0;
    v.noteUnreadableSectors(*first + onMedium, *first + sectors);
    if (onMedium == 0) return sectors;
    const std::optional<std::uint64_t> lost =
        v.readSectorRange(*first, static_cast<std::int32_t>(onMedium), buffer.data());
    if (!lost) return std::nullopt;
    return *lost + (sectors - onMedium);
}

void ExFATFileSystem::readExFatDirectoryOffset(std::uint64_t sector, const MainBootSector& mainBootSector,
                                               NewDir* Parent) {
    const std::optional<Geometry> g = geometryOf(mainBootSector);
    if (!g || !Parent || sector < volume_.HPlusVolStart()) return;
    const auto offset = checkedMul(sector - volume_.HPlusVolStart(), g->sectorBytes);
    if (!offset || *offset < g->heapOffset || (*offset - g->heapOffset) % g->clusterBytes != 0) return;
    const std::uint64_t cluster = (*offset - g->heapOffset) / g->clusterBytes + 2;
    if (!g->inHeap(cluster)) return;
    open_.clear();
    walked_.clear();
    tooDeepLogged_ = false;
    // The root has a FAT chain and no length of its own.
    openFolder(*g, FolderToWalk{Parent, static_cast<std::uint32_t>(cluster), true, 0});
    // Depth first, as a recursion would go, with the open folders on a list
    // of our own: a folder is walked as soon as its set is met.
    while (!open_.empty() && !volume_.stopTreeThread()) {
        OpenDirectory& d = open_.back();
        while (d.bytes.size() - d.position < kMaxSetBytes && readNextPiece(*g, d)) {
        }
        if (d.position + kEntryBytes > d.bytes.size()) {
            open_.pop_back();
            continue;
        }
        const std::size_t at = d.position;
        d.position += kEntryBytes;
        if (!d.readable[at / kEntryBytes]) continue;
        // Nothing follows the end of a directory in its cluster: no more of
        // that cluster is read, but what is in hand is still looked at.
        if (d.bytes[at] == kEndOfDirectory) {
            if (at >= d.clusterStart) d.offsetInCluster = g->clusterBytes;
            continue;
        }
        const std::optional<FolderToWalk> walk = takeSet(*g, d, at);
        if (walk && g->inHeap(walk->firstCluster)) openFolder(*g, *walk);
    }
    open_.clear();
}

void ExFATFileSystem::openFolder(const Geometry& g, const FolderToWalk& folder) {
    if (open_.size() >= kMaxOpenClusters) {
        if (!tooDeepLogged_)
            platform::logFormat("exFAT recovery on %@: folders nested deeper than %@ levels are not walked",
                                volume_.path(), static_cast<unsigned long long>(kMaxOpenClusters));
        tooDeepLogged_ = true;
        return;
    }
    // A cluster met again (a folder whose first cluster is one of an
    // ancestor's, or a chain back into a walked folder) is walked as empty.
    if (!walked_.insert(folder.firstCluster).second) return;
    OpenDirectory d;
    d.parent = folder.folder;
    d.cluster = folder.firstCluster;
    d.clustersTaken = 1;
    d.fatChain = folder.fatChain;
    // A folder without a chain lies in one run, as long as its length says.
    d.runClusters =
        std::clamp<std::uint64_t>((folder.dataLength + g.clusterBytes - 1) / g.clusterBytes, 1, kMaxDirectoryClusters);
    open_.push_back(std::move(d));
}

bool ExFATFileSystem::readNextPiece(const Geometry& g, OpenDirectory& d) {
    if (!d.more) return false;
    // What was visited goes; the rest comes before the next piece.
    d.bytes.erase(d.bytes.begin(), d.bytes.begin() + static_cast<std::ptrdiff_t>(d.position));
    d.readable.erase(d.readable.begin(), d.readable.begin() + static_cast<std::ptrdiff_t>(d.position / kEntryBytes));
    d.clusterStart -= std::min(d.clusterStart, d.position);
    d.position = 0;
    if (d.offsetInCluster >= g.clusterBytes) {
        std::optional<std::uint32_t> next;
        if (d.clustersTaken < kMaxDirectoryClusters) {
            if (d.fatChain)
                next = nextCluster(g, d.cluster);
            else if (d.clustersTaken < d.runClusters && g.inHeap(std::uint64_t{d.cluster} + 1))
                next = d.cluster + 1;
        }
        if (!next || !walked_.insert(*next).second) {
            d.more = false;
            return false;
        }
        d.cluster = *next;
        d.offsetInCluster = 0;
        d.clusterStart = d.bytes.size();
        ++d.clustersTaken;
    }
    const std::uint64_t length =
        std::min(g.clusterBytes - d.offsetInCluster, (kPieceBytes + g.sectorBytes - 1) / g.sectorBytes * g.sectorBytes);
    if (d.bytesRead + length > kMaxDirectoryBytes) {
        d.more = false;
        return false;
    }
    const std::uint64_t offset = g.clusterOffset(d.cluster) + d.offsetInCluster;
    d.offsetInCluster += length;
    d.bytesRead += length;
    std::vector<std::uint8_t> piece;
    const std::optional<std::uint64_t> lost = readVolumeBytes(offset, length, piece);
    d.bytes.insert(d.bytes.end(), piece.begin(), piece.end());
    const Volume& v = volume_;
    for (std::uint64_t e = 0; e < length / kEntryBytes; ++e)
        d.readable.push_back(
            lost && (*lost == 0 ||
                     v.unreadableSectorsIn(v.HPlusVolStart() + (offset + e * kEntryBytes) / g.sectorBytes, 1) == 0));
    return true;
}

std::optional<ExFATFileSystem::FolderToWalk> ExFATFileSystem::takeSet(const Geometry& g, OpenDirectory& d,
                                                                      std::size_t at) {
    Volume& v = volume_;
    const ByteView cluster(d.bytes);
    const std::uint8_t type = cluster.u8(at);
    if (type != kFileEntry && type != kDeletedFileEntry) return std::nullopt;
    const FileDirectoryEntry file(cluster.sub(at, kEntryBytes));
    const std::size_t secondaries = file.secondary_count();
    const std::size_t end = at + (secondaries + 1) * kEntryBytes;
    if (secondaries > kMaxSecondaryCount || file.reserved1() != 0 || end > cluster.size()) return std::nullopt;
    const StreamExtensionDirectoryEntery stream(cluster.sub(at + kEntryBytes, kEntryBytes));
    const std::uint8_t streamType = stream.entry_type();
    if ((streamType != kStreamEntry && streamType != kDeletedStreamEntry && streamType != kNameEntry) ||
        stream.reserved1() != 0 || stream.reserved2() != 0 || stream.reserved3() != 0)
        return std::nullopt;

    const bool folder = (file.file_attributes() & kDirectoryAttribute) != 0;
    NewDir* parent = d.parent;
    // Live files of live folders are still on the volume for the user.
    if (!folder && type == kFileEntry && !parent->deleted) return std::nullopt;

    std::u16string name;
    for (std::size_t i = 2; i <= secondaries; ++i)
        name += FileNameExtensionDirectoryEntry(cluster.sub(at + i * kEntryBytes, kEntryBytes)).file_name();
    name.resize(std::min<std::size_t>(name.size(), stream.name_length()));

    NewDir* node = newdir::allocate();
    node->fileType = folder ? NewDir::Folder : NewDir::File;
    node->parentID = parent->fileID;
    node->pndirPointer = parent;
    node->deleted = type == kDeletedFileEntry || parent->deleted || !folder;
    node->createDate = hfsSeconds(file.create_date(), file.create_10ms(), file.create_tz_offset());
    node->modDate = hfsSeconds(file.last_modified(), file.last_modified_10ms(), file.last_modified_tz_offset());
    newdir::setDataStartSector(node, v.blocksStartsAtSector & 0xFFFFFFFF);
    newdir::setSectorsPerBlock(node, 1);
    newdir::appendChild(parent, node);
    newdir::setFileName(node, name);
    newdir::setPathBelow(node, parent);
    ++v.entryCount;

    if (folder) {
        ++v.folderCount;
        node->fileID = v.folderCount;
        newdir::forEachAncestor(parent, [](NewDir* a) { ++a->childrenCount; });
        d.progress.set("Folders", v.folderCount);
        post(d.progress);
        return FolderToWalk{node, stream.first_cluster(), !IsBitSet(stream.general_secondary_flags(), kNoFatChainBit),
                            stream.data_length()};
    }

    const std::uint64_t size = stream.data_length();
    ++v.fileCount;
    v.dataSize = saturatingAdd(v.dataSize, size);
    node->fileID = v.fileCount;
    node->fileSize = size;
    newdir::forEachAncestor(parent, [size](NewDir* a) {
        ++a->childrenCount;
        a->fileSize = saturatingAdd(a->fileSize, size);
    });
    // The file is taken as one run of sectors from its first cluster on,
    // whatever its FAT chain says (a deleted file's chain is gone), and ends
    // with the cluster heap: what lies past it is not the file's.
    if (size != 0 && g.inHeap(stream.first_cluster())) {
        const std::uint64_t start = g.clusterOffset(stream.first_cluster()) / g.sectorBytes;
        const std::uint64_t heapEnd = (g.heapOffset + g.clusterCount * g.clusterBytes) / g.sectorBytes;
        const std::uint64_t onMedium = std::min(heapEnd, v.sizeInSect());
        const std::uint64_t wanted = size / g.sectorBytes + (size % g.sectorBytes != 0 ? 1 : 0);
        const std::uint64_t sectors = start < onMedium ? std::min(wanted, onMedium - start) : 0;
        if (sectors < wanted) node->complete = NewDir::kDamaged;
        // What the heap holds of it past the medium's end cannot be read.
        const std::uint64_t end = start < heapEnd ? start + std::min(wanted, heapEnd - start) : start;
        if (end > v.sizeInSect())
            v.noteUnreadableSectors(v.HPlusVolStart() + std::max(start, v.sizeInSect()), v.HPlusVolStart() + end);
        if (sectors != 0 && newdir::appendDataExtent(node, start, 1) && sectors > 1)
            newdir::appendDataExtent(node, start + 1, sectors - 1);
    }
    d.progress.set("Files", v.fileCount);
    d.progress.set("Data", static_cast<unsigned long long>(v.dataSize));
    post(d.progress);
    return std::nullopt;
}

std::optional<std::uint32_t> ExFATFileSystem::nextCluster(const Geometry& g, std::uint32_t cluster) {
    // Only the FAT sector that holds this cluster's entry is read.
    const std::uint64_t entry = std::uint64_t{cluster} * 4;
    if (entry + 4 > g.fatLength) return std::nullopt;
    const std::uint64_t at = g.fatOffset + entry;
    const std::uint64_t sectorStart = at / g.sectorBytes * g.sectorBytes;
    if (sectorStart != fatSectorAt_) {
        fatSectorAt_ = UINT64_MAX;
        // A FAT sector that cannot be read says nothing of the chain.
        const std::optional<std::uint64_t> lost = readVolumeBytes(sectorStart, g.sectorBytes, fatSector_);
        if (!lost || *lost != 0) return std::nullopt;
        fatSectorAt_ = sectorStart;
    }
    const std::uint32_t next = ByteView(fatSector_).le32(at - sectorStart);
    if (next == kMediaDescriptor || next == kEndOfChain || !g.inHeap(next)) return std::nullopt;
    return next;
}

bool ExFATFileSystem::IsBitSet(std::uint32_t value, std::uint32_t bit) {
    return ((value & 0xFF) >> (bit % 32)) & 1;
}
