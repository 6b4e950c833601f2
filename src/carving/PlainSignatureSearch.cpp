#include "carving/PlainSignatureSearch.h"

#include "carving/CarvedFileRecorder.h"
#include "carving/SignatureGroupDetection.h"
#include "carving/UsedBlockMaps.h"
#include "platform/SystemLog.h"
#include "volume/Volume.h"

#include <algorithm>

namespace {
constexpr std::uint32_t kMultiSectorStride = 2500;
constexpr std::uint32_t kSectorStride = 20000;
// A whole disk is read in batches of 315 sectors.
constexpr std::uint32_t kDiskBatchSectors = 315;
// The first data cluster of a FAT volume.
constexpr std::uint64_t kFirstCluster = 2;
} // namespace

std::uint32_t PlainSignatureSearch::strideFor(std::uint32_t sectorsPerBlock) {
    return sectorsPerBlock > 1 ? kMultiSectorStride : kSectorStride;
}

void PlainSignatureSearch::run(const BlockSearchEngine::Policy& policy, std::uint64_t resumeBlock) {
    CarvedFileRecorder recorder(volume_, search_);
    SignatureGroupDetection detection(volume_, search_, recorder, fileDesc_);
    BlockSearchEngine(volume_, fileDesc_).run(policy, detection, resumeBlock, recorder.lastRecordedBlock());
}

void PlainSignatureSearch::signatureSearchStartAt(std::uint64_t resumeBlock, const std::vector<Extent>& allocationExt) {
    UsedBlockMaps maps(volume_, allocationExt);
    BlockSearchEngine::Policy p;
    p.totalUnits = volume_.totalBlocks;
    p.sectorsPerUnit = volume_.blockSize();
    p.stride = strideFor(volume_.blockSize());
    p.usedFlags = [&](std::uint64_t block, UsedBlockMaps::Flags& f) { maps.get40BlocksUsedStatusFromBlock(block, f); };
    p.knownFileKey = [](std::uint64_t block) { return std::optional<std::uint64_t>(block); };
    run(p, resumeBlock);
}

void PlainSignatureSearch::signatureSearchFATStartAt(std::uint64_t resumeBlock, const FATGeometry& fat) {
    const std::uint32_t clusterSectors = fat.sectorsPerCluster();
    if (clusterSectors == 0) {
        platform::logFormat("Signature search of FAT volume %@ skipped: its cluster size is not known", volume_.path());
        return;
    }
    // Nothing after the FAT's last cluster is free space of it.
    volume_.totalBlocks = std::min(volume_.sizeInSect() / clusterSectors,
                                   kFirstCluster + fat.clusterCount(volume_.sizeInSect(), volume_.u32BytesInSector()));
    UsedBlockMaps maps(volume_, fat);
    BlockSearchEngine::Policy p;
    p.totalUnits = volume_.totalBlocks;
    p.sectorsPerUnit = clusterSectors;
    // Clusters are numbered from 2 at the data area, where the search's
    // sector numbering starts (blocksStartsAtSector), and clusters 0 and 1
    // do not exist: a range from 0 % starts at cluster 2.
    p.unitBase = p.firstUnit = kFirstCluster;
    p.stride = strideFor(volume_.blockSize());
    p.checkpointEverySector = true;
    p.usedFlags = [&](std::uint64_t cluster, UsedBlockMaps::Flags& f) {
        maps.get40BlocksUsedStatusOfFATFromBlock(cluster, f);
    };
    // The FAT walk indexes a file by its first cluster number as stored.
    p.knownFileKey = [](std::uint64_t cluster) { return std::optional<std::uint64_t>(cluster); };
    run(p, resumeBlock);
}

void PlainSignatureSearch::signatureSearchAPFSStartAt(std::uint64_t resumeBlock) {
    volume_.totalBlocks = volume_.sizeInSect();
    volume_.setBlockSize(1);
    UsedBlockMaps maps(volume_);
    BlockSearchEngine::Policy p;
    p.totalUnits = volume_.totalBlocks;
    p.stride = kMultiSectorStride;
    p.checkpointEverySector = true;
    p.skipBatchAtZero = true;
    p.usedFlags = [&](std::uint64_t sector, UsedBlockMaps::Flags& f) {
        maps.get40BlocksUsedStatusFromBlockApfs(sector, f);
    };
    p.knownFileKey = [](std::uint64_t sector) {
        return sector >= 2 ? std::optional<std::uint64_t>(sector - 2) : std::nullopt;
    };
    run(p, resumeBlock);
}

void PlainSignatureSearch::signatureSearchExFATStartAt(std::uint64_t resumeBlock) {
    volume_.totalBlocks = volume_.sizeInSect();
    volume_.setBlockSize(1);
    BlockSearchEngine::Policy p;
    p.totalUnits = volume_.totalBlocks;
    p.stride = kMultiSectorStride;
    p.checkpointEverySector = true;
    p.progressPerBatch = true;
    const std::uint64_t less = volume_.blocksStartsAtSector != 0 ? 2 : 0;
    p.knownFileKey = [less](std::uint64_t sector) {
        return sector >= less ? std::optional<std::uint64_t>(sector - less) : std::nullopt;
    };
    run(p, resumeBlock);
}

void PlainSignatureSearch::signatureSearchDiskStartAt(std::uint64_t resumeBlock) {
    // A disk's unit is its sector. Its length stays the whole disk's, so a
    // file found in a part of the range is measured up to the disk's end.
    if (volume_.blockSize() == 0) volume_.setBlockSize(1);
    volume_.totalBlocks = volume_.sizeInSect();
    BlockSearchEngine::Policy p;
    p.progressStatus = "default";
    p.totalUnits = volume_.sizeInSect();
    p.unitsPerBatch = kDiskBatchSectors;
    p.stride = strideFor(volume_.blockSize());
    p.checkpointEverySector = true;
    run(p, resumeBlock);
}
