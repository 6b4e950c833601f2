#include "hfsplus/LostVolumeSearch.h"

#include "media/ContentKind.h"
#include "media/DMedia.h"
#include "media/DriveRow.h"
#include "media/HFSPlusDriveGeometry.h"
#include "media/PartitionTables.h"
#include "platform/AlignedBuffer.h"
#include "platform/AppController.h"
#include "platform/Format.h"
#include "platform/SystemLog.h"
#include "platform/TextEncoding.h"
#include "volume/BTreeTableClassUInt32.h"

#include <algorithm>
#include <limits>

using platform::Array;
using platform::ByteView;
using platform::Dict;
using platform::Value;

namespace {

// The volume header lies 1024 bytes into its volume, the alternate copy
// 1024 bytes before the volume's end.
constexpr std::uint64_t kHeaderOffset = hfsplus::kVolumeHeaderOffset;
constexpr std::uint64_t kAlternateFromEnd = hfsplus::kAlternateHeaderFromEnd;

// Sector sizes the search can work with: the header has to fit in one.
constexpr std::uint64_t kMinSectorBytes = 512;
constexpr std::uint64_t kMaxSectorBytes = 64u << 10;

// The remaining time of a catalog walk or sweep is posted every this many
// nodes.
constexpr std::uint64_t kNodesPerTimePost = 50;
// A catalog whose header node is damaged is swept as if its nodes were 16
// sectors long, whatever the sector size: 8 KiB on 512-byte sectors.
constexpr std::int32_t kGuessedNodeSectors = 16;
// What a damaged extents header costs the rating.
constexpr int kPartialPercentage = 10;
// The percentage given when the root folder is found but nothing was rated.
constexpr int kRootFoundPercentage = 60;

constexpr const char* kValid = "Valid";
constexpr const char* kPartialValid = "Partial Valid";
constexpr const char* kInvalid = "Invalid";

bool isLeafKind(const BTNodeDescriptor_& d) {
    return d.kind == hfsplus::kLeafNode && d.height == 1;
}

using platform::utf8FromUtf16;

// A B-tree's node size in whole sectors: a damaged size that is not a
// multiple of the sector still places the nodes it can.
std::uint32_t nodeSectors(const BTHeaderRecord& header, std::uint64_t bytesPerSector) {
    return static_cast<std::uint32_t>(header.nodeSize / bytesPerSector);
}

// Runs fn where the display reads the lists: on the main thread, waiting.
template <class F> void onMainThread(F&& fn) {
    if (auto* c = platform::appController())
        c->performOnMainThread(std::forward<F>(fn), true);
    else
        fn();
}

} // namespace

// ---------------------------------------------------------------------------
// The search

LostVolumeSearch::LostVolumeSearch(DMedia& media) noexcept : media_(media) {}
LostVolumeSearch::~LostVolumeSearch() = default;

void LostVolumeSearch::initializeForVolumeThoroughScan(Array& argument) {
    DMedia& m = media_;
    platform::AppController* controller = platform::appController();
    Array* handedOver = !argument.empty() ? argument[0].array() : nullptr;
    rows_ = argument.size() > 1 ? argument[1].array() : nullptr;

    m.volFoundAtSectorArray.clear();
    handledByDate_.clear();

    const std::uint64_t bps = m.u32BytesInSector();
    const bool usableSectors = bps >= kMinSectorBytes && bps <= kMaxSectorBytes && bps % kMinSectorBytes == 0;
    if (!usableSectors)
        platform::logFormat("Drive %@ has sectors of %d bytes; no volume header can be searched for on it", m.path(),
                            static_cast<unsigned>(bps));
    totalSectors_ = usableSectors ? m.sizeInBytes() / bps : 0;
    chunks_ = totalSectors_ / kChunkSectors;
    // The sectors after the last whole chunk are searched too, as a shorter
    // chunk: a lost volume's only surviving header may lie there.
    const std::uint64_t allChunks = chunks_ + (totalSectors_ % kChunkSectors != 0 ? 1 : 0);

    post(Dict{{"BarMaxValue", allChunks}});
    post(Dict{{"BarDoubleValue", 0}});
    post(Dict{{"TimeRemaining", ""}});
    if (controller) controller->performOnMainThread([controller] { controller->setUpTimerForDMedia(); }, false);

    estimateBase_ = allChunks;
    sinceEstimate_ = 0;
    chunkCounter_ = 0;
    estimateStart_ = Clock::now();

    // A header sits 1024 bytes into its volume, so on sectors of 512 or 1024
    // bytes it begins a sector and on larger ones it lies 1024 bytes in. The
    // alternate copy ends 1024 bytes before the volume's end: on sectors of
    // 4096 bytes and more that is another place in the sector.
    std::vector<std::uint64_t> headerOffsets;
    if (usableSectors) {
        headerOffsets.push_back(kHeaderOffset % bps);
        const std::uint64_t alternate = (bps - kAlternateFromEnd % bps) % bps;
        if (alternate != headerOffsets.front() && alternate + hfsplus::kVolumeInformationBlockSize <= bps)
            headerOffsets.push_back(alternate);
    }

    const std::uint64_t chunksPerBatch =
        usableSectors ? std::max<std::uint64_t>(1, kBatchBytes / (kChunkSectors * bps)) : 1;
    const std::uint64_t batchSectors = chunksPerBatch * kChunkSectors;
    platform::AlignedBuffer batch;

    for (std::uint64_t first = 0; first < totalSectors_ && !m.abortVolumeScan(); first += batchSectors) {
        const std::uint64_t inBatch = std::min(batchSectors, totalSectors_ - first);
        // Unreadable sectors read as zeros, which hold no signature; the rest
        // of their batch is searched.
        batch.resize(static_cast<std::size_t>(inBatch * bps));
        m.readSweepSectors(first, static_cast<std::int32_t>(inBatch), batch.data());
        const ByteView view = batch.view();

        for (std::uint64_t chunk = 0; chunk < inBatch; chunk += kChunkSectors) {
            if (m.abortVolumeScan()) break;
            ++chunkCounter_;
            ++sinceEstimate_;
            if (!m.timerFireMethodCanRun()) {
                const double elapsed = std::chrono::duration<double>(Clock::now() - estimateStart_).count();
                const double left = estimateBase_ > sinceEstimate_ ? double(estimateBase_ - sinceEstimate_) : 0.0;
                m.dataUpdate = Dict{{"BarDoubleValue", chunkCounter_},
                                    {"TimeRemaining", timeText(elapsed * left / double(sinceEstimate_))}};
                m.setTimerFireMethodCanRun(true);
            }

            const std::uint64_t chunkEnd = std::min(chunk + kChunkSectors, inBatch);
            for (std::uint64_t i = chunk; i < chunkEnd; ++i) {
                if (m.abortVolumeScan()) break;
                const ByteView sector = view.sub(static_cast<std::size_t>(i * bps), static_cast<std::size_t>(bps));
                for (const std::uint64_t offset : headerOffsets) {
                    if (!hfsplus::isHFSPlusSignature(sector.be16(static_cast<std::size_t>(offset)))) continue;
                    const std::uint64_t s = first + i;
                    examineCandidate(
                        s, s * bps + offset,
                        sector.sub(static_cast<std::size_t>(offset), hfsplus::kVolumeInformationBlockSize));
                    if (m.abortVolumeScan()) break;
                }
            }
        }
    }

    onMainThread([&] {
        if (handedOver)
            for (const Value& d : m.volumeScanArray)
                handedOver->push_back(d);
    });
    batch.clear();
    node_.clear();
    node_.shrink_to_fit();
    post(Dict{{"Scan Complete", true}});
    if (controller) controller->invalidateTimer();
    rows_ = nullptr;
}

void LostVolumeSearch::examineCandidate(std::uint64_t sector, std::uint64_t headerByte, ByteView header) {
    DMedia& m = media_;
    const std::uint64_t bps = m.u32BytesInSector();

    m.vib = convertVIB(header);
    if (!verifyVIB(m.vib)) return;

    // verifyVIB made the block a whole number (1 to 16) of sectors, so the
    // length is below 2^36 sectors and no product below overflows.
    const std::uint64_t length = static_cast<std::uint64_t>(m.vib.totalBlocks) * (m.vib.blockSize / bps);

    // A volume's alternate header carries the creation date of its primary
    // one and lies 1024 bytes before the end of the volume; the copies of
    // the header a volume's journal keeps lie inside it. Such headers are
    // passed over, so each volume is handled once. Other volumes may share
    // the date (a copy of a volume, volumes made in the same second) and are
    // examined like any other: only a volume whose catalog checked out is
    // known to hold no other.
    std::vector<HandledVolume>& sameDate = handledByDate_[m.vib.createDate];
    const auto keptBy = [&](const HandledVolume& v) {
        return (v.start + length) * bps == headerByte + kAlternateFromEnd ||
               (v.catalogSound && headerByte >= v.start * bps && headerByte < (v.start + v.length) * bps);
    };
    if (std::any_of(sameDate.begin(), sameDate.end(), keptBy)) return;

    // As a primary header: the volume starts 1024 bytes before it. One in
    // the drive's first 1024 bytes cannot be one.
    bool primarySound = false;
    if (headerByte >= kHeaderOffset && (headerByte - kHeaderOffset) % bps == 0) {
        const std::uint64_t start = (headerByte - kHeaderOffset) / bps;
        m.setHPlusVolStart(start);
        // A volume that ends exactly at the drive's end fits on it.
        primarySound = length <= totalSectors_ && start <= totalSectors_ - length && tryVolumeAt(start, 0);
        sameDate.push_back({start, length, primarySound});
    }

    // As an alternate header, when the volume it would end starts on the
    // drive (one at the drive's first sector included, whose primary header
    // a failing sector may have taken). A header whose primary reading
    // fitted is tried this way too: it may be the one surviving copy at a
    // volume's end. Not
    // one whose primary reading found a sound catalog: that header is its
    // volume's own, and the volume it would end overlaps it, so it could
    // only add a swept "Untitled" ghost beside the real volume.
    if (!primarySound && (headerByte + kAlternateFromEnd) % bps == 0 &&
        headerByte + kAlternateFromEnd >= length * bps && headerByte > kHeaderOffset) {
        m.vib = convertVIB(header);
        if (!verifyVIB(m.vib)) return;
        const std::uint64_t end = (headerByte + kAlternateFromEnd) / bps;
        if (end < length) return;
        const bool sound = tryVolumeAt(end - length, sector);
        sameDate.push_back({end - length, length, sound});
    }
}

bool LostVolumeSearch::tryVolumeAt(std::uint64_t start, std::uint64_t whetherAlternateSector) {
    DMedia& m = media_;
    m.setHPlusVolStart(start);
    post(Dict{{"Start Animation", true}, {"Progress Status", true}});
    Array result;
    const std::size_t before = m.volumeScanArray.size();
    verifyVolumeAndGetData(result, whetherAlternateSector);
    resetEstimate();
    post(Dict{{"Stop Animation", true}});

    // Only a verification that kept a volume dictionary has something to
    // show: its row and its dictionary go together.
    if (m.volumeScanArray.size() <= before) return false;
    if (result.size() > 1 && result[1].stringValue() == kInvalid) {
        m.volumeScanArray.erase(m.volumeScanArray.begin() + static_cast<std::ptrdiff_t>(before),
                                m.volumeScanArray.end());
        return false;
    }
    reportVolumeAt(start, result, before);
    // A catalog swept for want of its header node has no leaf to begin at.
    return m.firstLeafNode != 0;
}

void LostVolumeSearch::reportVolumeAt(std::uint64_t start, const Array& result, std::size_t dictionaryIndex) {
    DMedia& m = media_;
    for (const Value& found : m.volFoundAtSectorArray) {
        if (found.uint64Value() != start) continue;
        // Reached before: this verification's own dictionary goes, and no
        // second row is made.
        if (dictionaryIndex < m.volumeScanArray.size())
            m.volumeScanArray.erase(m.volumeScanArray.begin() + static_cast<std::ptrdiff_t>(dictionaryIndex));
        return;
    }
    const Value startValue(static_cast<unsigned long long>(start));
    Dict row{{"Found Column", platform::format("Volume Found @ Sector: %@", startValue)},
             {"Validity Column", Value(result)},
             {"Volume Start", startValue}};
    m.volFoundAtSectorArray.push_back(startValue);
    onMainThread([this, &row] {
        if (rows_) rows_->push_back(row);
    });
    post(Dict{{"Volumes Found", true}});
}

void LostVolumeSearch::resetEstimate() {
    estimateBase_ = chunks_ + (totalSectors_ % kChunkSectors != 0 ? 1 : 0);
    estimateBase_ = estimateBase_ > chunkCounter_ ? estimateBase_ - chunkCounter_ : 0;
    sinceEstimate_ = 0;
    estimateStart_ = Clock::now();
}

// ---------------------------------------------------------------------------
// Header plausibility

bool LostVolumeSearch::verifyVIB(const VolumeInformationBlock& v) const {
    const std::uint64_t bps = media_.u32BytesInSector();
    if (bps == 0 || v.blockSize == 0 || v.blockSize % bps != 0) return false;
    const std::uint64_t ratio = v.blockSize / bps;
    // Allocation blocks of 2 to 16 sectors. On sectors of 1024 bytes and
    // more a block of one sector is the usual format (4 KiB blocks on a
    // 4 KiB-sector drive), as 8 sectors are on 512-byte sectors.
    const bool blockSizeUsual = ratio == 2 || ratio == 4 || ratio == 8 || ratio == 16 || (ratio == 1 && bps >= 1024);
    if (!blockSizeUsual) return false;
    const HFSPlusForkData_& catalog = v.catalogFile;
    const HFSPlusForkData_& extents = v.extentsFile;
    return catalog.logicalSize != 0 && catalog.totalBlocks != 0 && catalog.clumpSize != 0 &&
           catalog.extents[0].startBlock != 0 && catalog.extents[0].blockCount != 0 && v.createDate != 0 &&
           v.dataClumpSize != 0 && extents.clumpSize != 0 && extents.logicalSize != 0 && extents.totalBlocks != 0 &&
           extents.extents[0].blockCount != 0 && extents.extents[0].startBlock != 0 && v.fileCount != 0 &&
           v.folderCount != 0 && v.modifyDate != 0 && v.signature != 0 && v.totalBlocks != 0;
}

// ---------------------------------------------------------------------------
// Verification of one candidate volume

void LostVolumeSearch::verifyVolumeAndGetData(Array& result, std::uint64_t whetherAlternateSector) {
    DMedia& m = media_;
    const std::uint64_t bps = m.u32BytesInSector();
    const std::uint64_t volumeStart = m.HPlusVolStart();

    m.catalogExt.clear();
    m.extentsExt.clear();
    const std::size_t before = m.volumeScanArray.size();
    m.setBlockSize(bps != 0 ? static_cast<std::uint32_t>(m.vib.blockSize / bps) : 0);
    btreeForUsedCatNodeSector_ = std::make_unique<BTreeTableClassUInt32>();
    // Nothing of the volume examined before may be taken for this one's.
    m.extNodeSize = 0;
    m.catNodeSize = 0;
    m.extRootNode = 0;
    m.catRootNode = 0;
    m.firstLeafNode = 0;

    auto finish = [&] { node_.clear(); };
    auto rateInvalid = [&](const char* why) {
        platform::logFormat("Volume at sector %@ of %@ not taken: %@", static_cast<unsigned long long>(volumeStart),
                            m.path(), why);
        result.clear();
        result.push_back(0);
        result.push_back(kInvalid);
        m.volumeScanArray.resize(before);
        finish();
    };
    // An abort takes back what this verification found.
    auto rateAborted = [&] {
        result.push_back(0);
        result.push_back(kInvalid);
        m.volumeScanArray.resize(before);
        finish();
    };

    if (bps == 0 || m.blockSize() == 0 || m.vib.blockSize % bps != 0)
        return rateInvalid("its allocation block is not a whole number of sectors");
    const std::uint64_t blockSectors = m.blockSize();
    HFSPlusDriveGeometry geometry(m);
    const HFSPlusDriveGeometry::SectorReader readNode = nodeReader();

    // --- the extents-overflow file ---
    // Its header node only has to pass the header-node test; a node size
    // below one sector then leaves the overflow records unread.
    HFSPlusDriveGeometry::appendListedExtents(m.vib.extentsFile, m.extentsExt);
    const auto extentsHeader =
        m.extentsExt.empty() ? std::nullopt : geometry.readHeaderNode(m.extentsExt.front().startBlock(), readNode);
    const bool extentsGood = extentsHeader.has_value();
    if (extentsGood) {
        m.extNodeSize = static_cast<std::int32_t>(nodeSectors(extentsHeader->record, bps));
        m.extRootNode = extentsHeader->record.rootNode;
    } else {
        result.push_back(kPartialPercentage);
        result.push_back(kPartialValid);
    }

    // --- the catalog file's extents ---
    const std::uint64_t listed = HFSPlusDriveGeometry::appendListedExtents(m.vib.catalogFile, m.catalogExt);
    const std::uint32_t catalogBlocks = m.vib.catalogFile.totalBlocks;
    if (extentsGood && listed < catalogBlocks) {
        if (auto more = geometry.extentsForID(hfsplus::kCatalogFileID, hfsplus::kDataFork,
                                              static_cast<std::uint32_t>(listed), catalogBlocks, readNode))
            m.catalogExt.insert(m.catalogExt.end(), more->begin(), more->end());
    }
    std::uint64_t catalogSectors = 0;
    for (const Extent& e : m.catalogExt)
        catalogSectors += static_cast<std::uint64_t>(e.blockCount()) * blockSectors;

    // --- the catalog's header node ---
    if (m.catalogExt.empty()) return rateInvalid("its header lists no catalog extent");
    const auto headerNode = geometry.readHeaderNode(m.catalogExt.front().startBlock(), readNode);
    if (!headerNode) {
        result.push_back(kPartialPercentage);
        result.push_back(kPartialValid);

        // Damaged header: sweep the catalog with a guessed node size.
        m.catNodeSize = kGuessedNodeSectors;
        const std::uint64_t nodes = catalogSectors / kGuessedNodeSectors;
        std::uint64_t leaves = 0;
        if (!sweepCatalog(kGuessedNodeSectors, nodes, leaves)) return rateAborted();
        // A catalog shorter than one guessed node (under 64 KiB on 4096-byte
        // sectors) has nothing to sweep; its header still passed every test,
        // so the volume is listed, rated 0, rather than hidden.
        const std::uint64_t percent = nodes == 0 ? 0 : leaves * 100 / nodes;
        result.clear();
        result.push_back(percent);
        result.push_back(kValid);
        m.volumeScanArray.push_back(volumeDictionary(whetherAlternateSector, percent, std::string("Untitled")));
    } else {
        const BTHeaderRecord& h = headerNode->record;
        m.catNodeSize = static_cast<std::int32_t>(nodeSectors(h, bps));
        if (m.catNodeSize == 0) return rateInvalid("its catalog nodes are smaller than a sector");
        m.catRootNode = h.rootNode;
        m.firstLeafNode = h.firstLeafNode;
        const std::uint64_t leafRecords = h.leafRecords;

        // Sound header: walk the leaf chain, reading each node's descriptor.
        BTreeTableClassUInt32& used = *btreeForUsedCatNodeSector_;
        std::uint64_t walked = 0;
        std::uint64_t records = 0;
        const Clock::time_point walkStart = Clock::now();
        for (std::uint32_t n = m.firstLeafNode; n != 0;) {
            if (m.abortVolumeScan()) break;
            // A chain that comes back to a node it has passed ends there.
            if (used.retrieveKeyField(n)) break;
            used.insert(std::make_unique<ItemTypeUInt32>(n));
            ++walked;
            const std::uint64_t sector = geometry.catalogNodeToSector(n).value_or(0);
            if (sector != 0)
                readDriveSectors(sector, 1, node_);
            else
                node_.assign(static_cast<std::size_t>(bps), 0);
            const BTNodeDescriptor_ d = convertBTNodeDesc(ByteView(node_));
            records += d.numRecords;
            if (walked % kNodesPerTimePost == 0) {
                const double elapsed = std::chrono::duration<double>(Clock::now() - walkStart).count();
                const double left = leafRecords > records ? double(leafRecords - records) : 0.0;
                post(Dict{{"Time Remaining For SubTask", timeText(records ? elapsed * left / double(records) : 0.0)},
                          {"Progress Status", true}});
            }
            if (!isLeafDescriptor(d)) break;
            n = d.fLink;
        }
        std::uint64_t validity = 100;
        if (records < leafRecords) validity = records * 100 / leafRecords;
        result.push_back(validity);
        result.push_back(kValid);

        // Name the volume from the root folder's record, the first of the
        // first leaf.
        const std::uint64_t firstSector = geometry.catalogNodeToSector(m.firstLeafNode).value_or(0);
        if (firstSector != 0)
            readDriveSectors(firstSector, 2, node_);
        else
            node_.assign(static_cast<std::size_t>(2 * bps), 0);
        const ByteView leaf(node_);
        const BTNodeDescriptor_ d = convertBTNodeDesc(leaf);
        if (d.bLink == 0 && d.kind == hfsplus::kLeafNode && d.height == 1) {
            constexpr std::size_t keyAt = hfsplus::kBTNodeDescriptorSize;
            const std::size_t keyLength = leaf.be16(keyAt);
            // The name is read no further than the key says it reaches.
            const HFSPlusCatalogKey_ key =
                convertHPlusCatalogKey(leaf.sub(keyAt, std::min(2 + keyLength, hfsplus::kCatalogKeyMaxSize)));
            if (key.parentID == hfsplus::kRootParentID) {
                const HFSPlusCatalogFolder_ folder = convertHPlusCatalogFolder(leaf.sub(keyAt + 2 + keyLength));
                if (folder.recordType == hfsplus::kFolderRecord && folder.folderID == hfsplus::kRootFolderID) {
                    std::optional<std::string> name;
                    if (key.nameLengthValid() && !key.nodeName.unicode.empty())
                        name = utf8FromUtf16(key.nodeName.unicode);
                    m.volumeScanArray.push_back(volumeDictionary(whetherAlternateSector, validity, name));
                    if (result.empty()) {
                        result.push_back(kRootFoundPercentage);
                        result.push_back(kValid);
                    } else if (result.size() == 1) {
                        result.push_back(kValid);
                    } else {
                        result.back() = Value(kValid);
                    }
                }
            }
        } else {
            // The first leaf is not where the header says: sweep the catalog
            // with the header's node size and rate it by the nodes in use.
            const std::uint64_t nodes = catalogSectors / static_cast<std::uint64_t>(m.catNodeSize);
            std::uint64_t leaves = 0;
            sweepCatalog(m.catNodeSize, nodes, leaves); // an abort is taken back below
            // A header counting no node in use (or more free nodes than
            // nodes) gives the sweep nothing to rate against: the walk's
            // rating stands, and the volume is listed with it.
            const std::uint64_t percent = h.totalNodes > h.freeNodes
                                              ? leaves * 100 / (static_cast<std::uint64_t>(h.totalNodes) - h.freeNodes)
                                              : 0;
            if (percent > validity) {
                validity = percent;
                result[0] = Value(percent);
            }
            m.volumeScanArray.push_back(volumeDictionary(whetherAlternateSector, validity, std::string("Untitled")));
        }
    }

    if (m.abortVolumeScan() && m.volumeScanArray.size() > before) return rateAborted();
    finish();
}

bool LostVolumeSearch::sweepCatalog(std::int32_t nodeSectors, std::uint64_t nodesInCatalog, std::uint64_t& leaves) {
    DMedia& m = media_;
    const std::uint64_t blockSectors = m.blockSize();
    const auto size = static_cast<std::uint64_t>(nodeSectors);
    if (size == 0 || blockSectors == 0) return true;
    std::uint64_t counted = 0;
    const Clock::time_point sweepStart = Clock::now();
    for (const Extent& e : m.catalogExt) {
        if (m.abortVolumeScan()) return false;
        const std::uint64_t first = m.HPlusVolStart() + static_cast<std::uint64_t>(e.startBlock()) * blockSectors;
        // Nodes past the drive's end read as nothing, so no leaf is missed by
        // leaving them out; a damaged extent could list billions of them.
        const std::uint64_t onDrive = first < driveSectors() ? (driveSectors() - first + size - 1) / size : 0;
        const std::uint64_t nodes = std::min(static_cast<std::uint64_t>(e.blockCount()) * blockSectors / size, onDrive);
        for (std::uint64_t n = 0; n < nodes; ++n) {
            if (m.abortVolumeScan()) return false;
            ++counted;
            if (counted % kNodesPerTimePost == 0) {
                const double elapsed = std::chrono::duration<double>(Clock::now() - sweepStart).count();
                const double left = nodesInCatalog > counted ? double(nodesInCatalog - counted) : 0.0;
                post(Dict{{"Time Remaining For SubTask", timeText(elapsed * left / double(counted))},
                          {"Progress Status", true}});
            }
            readDriveSectors(first + n * size, 1, node_);
            if (isLeafDescriptor(convertBTNodeDesc(ByteView(node_)))) ++leaves;
        }
    }
    return true;
}

Dict LostVolumeSearch::volumeDictionary(std::uint64_t whetherAlternateSector, std::uint64_t validity,
                                        const std::optional<std::string>& name) const {
    const DMedia& m = media_;
    const std::uint64_t bps = m.u32BytesInSector();
    const std::uint64_t sectors = bps ? static_cast<std::uint64_t>(m.vib.totalBlocks) * (m.vib.blockSize / bps) : 0;
    // A volume known by an alternate header in the last sector of a drive
    // that stopped short has its final sector past the end: it is read as
    // far as the drive reaches, as the partition list reads its partitions.
    const auto onDrive = PartitionTables::onMedium({m.HPlusVolStart(), sectors}, driveSectors());
    return DriveRow{.path = m.path(),
                    .content = contentString(ContentKind::HFSPlus),
                    .volumeName = name,
                    .volumeStart = m.HPlusVolStart(),
                    .volumeSizeInSectors = onDrive ? onDrive->sectors : 0,
                    .volumeScanType = 1,
                    .whetherAlternateSector = whetherAlternateSector,
                    .volumeValidity = validity,
                    .model = m.model(),
                    .serial = m.serial(),
                    .revision = m.revision()}
        .toDict();
}

// ---------------------------------------------------------------------------
// Small helpers

HFSPlusDriveGeometry::SectorReader LostVolumeSearch::nodeReader() {
    // Sector 0 is where a node that has none would be.
    return [this](std::uint64_t sector, std::int32_t sectors, std::vector<std::uint8_t>& buffer) {
        return sector != 0 && readDriveSectors(sector, static_cast<std::uint64_t>(sectors), buffer);
    };
}

bool LostVolumeSearch::readDriveSectors(std::uint64_t sector, std::uint64_t count, std::vector<std::uint8_t>& buffer) {
    const std::uint64_t bps = media_.u32BytesInSector();
    buffer.resize(static_cast<std::size_t>(count * bps));
    const std::uint64_t onDrive = driveSectors();
    // Only the part inside the drive is read; the rest reads as zeros.
    const std::uint64_t inside = sector < onDrive ? std::min(count, onDrive - sector) : 0;
    bool read = false;
    if (inside > 0 && inside <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        read = media_.readSector(sector, static_cast<std::int32_t>(inside), buffer.data());
    const std::size_t valid = read ? static_cast<std::size_t>(inside * bps) : 0;
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(valid), buffer.end(), 0);
    return read && inside == count;
}

std::uint64_t LostVolumeSearch::driveSectors() const {
    const std::uint64_t bps = media_.u32BytesInSector();
    return bps ? media_.sizeInBytes() / bps : 0;
}

bool LostVolumeSearch::isLeafDescriptor(const BTNodeDescriptor_& d) {
    return isLeafKind(d) && d.numRecords != 0;
}

void LostVolumeSearch::post(Dict progress) const {
    if (auto* c = platform::appController()) c->updateVolumeScanProgress(progress);
}

std::string LostVolumeSearch::timeText(double seconds) const {
    if (!(seconds >= 0) || seconds > 1e15) seconds = 0;
    return media_.getTimeFormStringForInterval(seconds);
}
