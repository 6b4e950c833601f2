#include "carving/PhotoCarving.h"

#include "carving/CarvedFileRecorder.h"
#include "carving/CarvingDetection.h"
#include "carving/CarvingResultFolders.h"
#include "carving/CarvingSelection.h"
#include "carving/SignatureGroupDetection.h"
#include "carving/UsedBlockMaps.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "signatures/SignatureGroups.h"
#include "signatures/SignatureSearchState.h"
#include "sizecalc/CarvingContext.h"
#include "sizecalc/SizeCalculatorChain.h"
#include "volume/Volume.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kMultiSectorStride = 2500;
constexpr std::uint32_t kSectorStride = 20000;
// The first data cluster of a FAT volume.
constexpr std::uint64_t kFirstCluster = 2;

std::uint32_t strideFor(std::uint32_t sectorsPerBlock) {
    return sectorsPerBlock > 1 ? kMultiSectorStride : kSectorStride;
}

std::optional<std::uint64_t> sameKey(std::uint64_t unit) {
    return unit;
}

} // namespace

void PhotoCarving::run(BlockSearchEngine::Policy& policy, std::uint64_t resumeUnit, bool skipsAfterPrimaryHits) {
    Volume& v = volume_;
    if (!v.dirRoot) v.createRoot();
    CarvingSelection selection;
    selection.select(search_.sigArray);

    CarvingContext context(v);
    const std::vector<std::string_view> keys = selection.selectedKeys();
    SizeCalculatorChain chain(context, keys);
    CarvedFileRecorder recorder(v, search_);
    CarvingResultFolders folders(v, recorder);
    folders.prepare(selection, v.autoCrashRecovery);
    // The groups hold only the types no size calculator measures.
    search_.btreeSigArray.clear();
    SignatureGroups::populateBTreeSigArray(search_, selection.userSignatures());
    SignatureGroupDetection groups(v, search_, recorder, fileDesc_);
    groups.setSkipsAfterPrimaryHits(skipsAfterPrimaryHits);

    const std::uint64_t origin = platform::saturatingAdd(v.HPlusVolStart(), v.blocksStartsAtSector);
    CarvingDetection detection(v, {context, chain, folders, recorder, groups, fileDesc_}, origin);
    BlockSearchEngine(v, fileDesc_).run(policy, detection, resumeUnit, recorder.lastRecordedBlock());
}

void PhotoCarving::signatureSearchVolPhotoAndFileRecoveryMethodStartAt(std::uint64_t resumeBlock) {
    Volume& v = volume_;
    const std::uint32_t blockSize = v.blockSize();
    if (blockSize == 0) {
        platform::logFormat("Photo and file carving of %@ skipped: its block size is not known", v.path());
        return;
    }
    BlockSearchEngine::Policy p;
    p.sectorsPerUnit = blockSize;
    p.stride = strideFor(blockSize);
    p.checkpointEverySector = true;
    p.progressPerBatch = true;
    p.knownFileKey = sameKey;
    if (v.blocksStartsAtSector == 0) {
        v.totalBlocks = v.sizeInSect() / blockSize;
    } else {
        // A FAT volume: its blocks are the clusters of the data area,
        // numbered from 2 as the FAT and its directory walk number them, so
        // that every block lines up with a cluster and a known file's first
        // cluster is found by its own number.
        const std::uint64_t dataSectors =
            v.sizeInSect() > v.blocksStartsAtSector ? v.sizeInSect() - v.blocksStartsAtSector : 0;
        v.totalBlocks = kFirstCluster + dataSectors / blockSize;
        p.unitBase = p.firstUnit = kFirstCluster;
    }
    p.totalUnits = v.totalBlocks;
    run(p, resumeBlock, true);
}

void PhotoCarving::signatureSearchVolPhotoAndFileRecoveryExFATMethodStartAt(std::uint64_t resumeSector) {
    carveSectors(resumeSector);
}

void PhotoCarving::signatureSearchVolPhotoAndFileRecoveryAPFSMethodStartAt(std::uint64_t resumeSector) {
    carveSectors(resumeSector);
}

void PhotoCarving::signatureSearchOnFreeSpaceOnAPFSVolumeStartAt(std::uint64_t resumeSector) {
    UsedBlockMaps maps(volume_);
    carveSectors(resumeSector, [&](std::uint64_t sector, UsedBlockMaps::Flags& f) {
        maps.get40BlocksUsedStatusFromBlockApfs(sector, f);
    });
}

void PhotoCarving::carveSectors(std::uint64_t resumeSector, decltype(BlockSearchEngine::Policy::usedFlags) usedFlags) {
    Volume& v = volume_;
    // One sector is one block for the whole run, for the recognisers' end
    // of the volume and the carved sizes too.
    v.totalBlocks = v.sizeInSect();
    v.setBlockSize(1);
    BlockSearchEngine::Policy p;
    p.totalUnits = v.totalBlocks;
    p.stride = kMultiSectorStride;
    p.checkpointEverySector = true;
    p.progressPerBatch = true;
    p.usedFlags = std::move(usedFlags);
    // The type the tree holds for a key does not jump: what follows it is
    // examined whatever its recogniser measured.
    run(p, resumeSector, false);
}

void PhotoCarving::signatureSearchDiskPhotoMethodStartAt(std::uint64_t resumeSector) {
    Volume& v = volume_;
    if (v.blockSize() == 0) v.setBlockSize(1);
    if (v.totalBlocks == 0) v.totalBlocks = v.sizeInSect();
    BlockSearchEngine::Policy p;
    p.progressStatus = "default";
    p.totalUnits = v.totalBlocks;
    p.stride = kSectorStride;
    p.checkpointEverySector = true;
    p.progressPerBatch = true;
    run(p, resumeSector, true);
}

void PhotoCarving::signatureSearchOnFreeSpaceOnlyStartAt(std::uint64_t resumeBlock,
                                                         const std::vector<Extent>& allocationExt) {
    Volume& v = volume_;
    const std::uint32_t blockSize = v.blockSize();
    if (blockSize == 0) {
        platform::logFormat("Photo carving of the free space of %@ skipped: its block size is not known", v.path());
        return;
    }
    UsedBlockMaps maps(v, allocationExt);
    BlockSearchEngine::Policy p;
    // The volume header's block count, as the HFS+ pass left it.
    p.totalUnits = v.totalBlocks;
    p.sectorsPerUnit = blockSize;
    p.stride = strideFor(blockSize);
    p.progressPerBatch = true;
    p.usedFlags = [&](std::uint64_t block, UsedBlockMaps::Flags& f) { maps.get40BlocksUsedStatusFromBlock(block, f); };
    p.knownFileKey = sameKey;
    run(p, resumeBlock, true);
}

void PhotoCarving::signatureSearchOnFreeSpaceOnFATVolumeStartAt(std::uint64_t resumeCluster, const FATGeometry& fat) {
    Volume& v = volume_;
    const std::uint32_t clusterSectors = fat.sectorsPerCluster();
    if (clusterSectors == 0) {
        platform::logFormat("Photo carving of the free space of FAT volume %@ skipped: its cluster size is not known",
                            v.path());
        return;
    }
    // The data clusters only: what lies before the data area is the FAT
    // file system's own, clusters 0 and 1 do not exist, and what follows the
    // last cluster the FAT has (to the end of the volume's partition) is no
    // free space of it.
    const std::uint64_t dataSectors =
        v.sizeInSect() > v.blocksStartsAtSector ? v.sizeInSect() - v.blocksStartsAtSector : 0;
    v.totalBlocks =
        kFirstCluster + std::min(dataSectors / clusterSectors, fat.clusterCount(v.sizeInSect(), v.u32BytesInSector()));
    UsedBlockMaps maps(v, fat);
    BlockSearchEngine::Policy p;
    p.totalUnits = v.totalBlocks;
    p.sectorsPerUnit = clusterSectors;
    p.unitBase = p.firstUnit = kFirstCluster;
    p.stride = strideFor(v.blockSize());
    p.usedFlags = [&](std::uint64_t cluster, UsedBlockMaps::Flags& f) {
        maps.get40BlocksUsedStatusOfFATFromBlock(cluster, f);
    };
    // The FAT walk indexes a file by its first cluster number as stored.
    p.knownFileKey = sameKey;
    run(p, resumeCluster, true);
}
