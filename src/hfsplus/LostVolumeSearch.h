#pragma once

// The search of a whole drive for lost HFS+ and HFSX volumes, for when its
// partition table is gone or wrong. Every sector is looked at for a volume
// header signature; a header that is plausible is measured by walking (or,
// when its catalog header node is damaged, sweeping) the volume's catalog,
// and rated by how much of the catalog is intact. Each volume found becomes
// a row of the found-volume list at once; when the search ends every volume
// dictionary found is handed over, ready to build a Volume from
// ("Volume Scan Type" 1, "WhetherAlternateSector" saying where the header
// was).
//
// The search works on the drive's DMedia and keeps its working state there
// (vib, HPlusVolStart, blockSize, the extent lists and node fields,
// volumeScanArray, volFoundAtSectorArray, dataUpdate), so it runs on the
// thread that owns that DMedia, one search at a time. Its two indexes (the
// volumes handled by their headers' creation dates, the catalog nodes of the
// candidate being verified) are its own.
//
// Everything on the drive is untrusted. Sizes and sectors are 64-bit; a read
// is only made inside the drive (anything else reads as zeros, so a header
// naming far-away structures cannot make the reader take the drive for
// vanished, and a candidate whose catalog lies partly outside its volume or
// the drive is rated by what can be read); a catalog node smaller than a
// sector, and a count that a percentage would be divided by being 0, rate
// the candidate "Invalid"; sweeps stop at the drive's end, the leaf-chain
// walk keeps the nodes it has met and the extents lookup its leaves and a
// depth limit, so no loop of links or huge extent can hold the search.

#include "formats/HFSPlusStructures.h"
#include "media/HFSPlusDriveGeometry.h"
#include "platform/Value.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class BTreeTableClassUInt32;
class DMedia;

class LostVolumeSearch {
public:
    explicit LostVolumeSearch(DMedia& media) noexcept;
    ~LostVolumeSearch();

    // The search; meant as the body of a detached thread. `argument` holds
    // two arrays: element 0 receives, when the search ends, every volume
    // dictionary found; element 1 receives one row dictionary ("Found
    // Column", "Validity Column", and "Volume Start" linking it to its
    // volume dictionary) the moment a volume is found. Both are appended to
    // on the main thread, so the display may read them between progress
    // posts; the caller keeps `argument` alive until "Scan Complete".
    void initializeForVolumeThoroughScan(platform::Array& argument);

    // The plausibility test of a candidate header (in host order).
    bool verifyVIB(const VolumeInformationBlock& vib) const;

    // Measures the volume whose header is in the drive's vib and whose first
    // sector is HPlusVolStart: appends its volume dictionary to
    // volumeScanArray (at most one) and fills `result` with pairs of a
    // percentage and "Valid", "Partial Valid" or "Invalid". Element 1 is the
    // rating the search goes by.
    void verifyVolumeAndGetData(platform::Array& result, std::uint64_t whetherAlternateSector);

    // The drive is searched in chunks of this many sectors; the abort flag
    // is looked at before each of them (and before each sector, catalog
    // node and extent).
    static constexpr std::uint32_t kChunkSectors = 63;
    // Several chunks are read at once, up to about this many bytes: enough
    // to stream, and little enough to be still in the processor's cache when
    // the sectors are looked at (a sweep in 4 MiB batches took 1.2 times as
    // long as reading the drive, in 1 MiB batches 1.05 times).
    static constexpr std::size_t kBatchBytes = 1u << 20;

private:
    using Clock = std::chrono::steady_clock;

    // A header candidate at byte `headerByte` of the drive, found in sector
    // `sector`, whose 512 bytes are `header`.
    void examineCandidate(std::uint64_t sector, std::uint64_t headerByte, platform::ByteView header);
    // Verifies the volume starting at `start` and reports it when it rates;
    // true when its catalog's header node checked out too.
    bool tryVolumeAt(std::uint64_t start, std::uint64_t whetherAlternateSector);
    // Report of a start sector whose verification added the volume
    // dictionary at `dictionaryIndex` of volumeScanArray.
    void reportVolumeAt(std::uint64_t start, const platform::Array& result, std::size_t dictionaryIndex);
    void resetEstimate();

    // Reads `count` sectors into `buffer` (resized and zeroed first). Only
    // sectors wholly inside the drive are read; false, with zeros, for
    // anything else or a failed read.
    bool readDriveSectors(std::uint64_t sector, std::uint64_t count, std::vector<std::uint8_t>& buffer);
    // The drive's length in its own sectors.
    std::uint64_t driveSectors() const;
    // readDriveSectors as the reader of the volume's B-tree nodes, for the
    // node mapping and extents lookup this search shares with the other
    // HFS+ readers; sector 0 is where a node that has none would be.
    HFSPlusDriveGeometry::SectorReader nodeReader();

    // Leaf test on a node descriptor: kind leaf, height 1, some records.
    static bool isLeafDescriptor(const BTNodeDescriptor_& descriptor);
    // Sweep of the catalog's extents node by node (first sector of each);
    // counts the nodes that pass the leaf test. False when an abort ended it.
    bool sweepCatalog(std::int32_t nodeSectors, std::uint64_t nodesInCatalog, std::uint64_t& leaves);
    // The volume dictionary of the volume examined, with or without a name.
    platform::Dict volumeDictionary(std::uint64_t whetherAlternateSector, std::uint64_t validity,
                                    const std::optional<std::string>& name) const;

    void post(platform::Dict progress) const;
    std::string timeText(double seconds) const;

    DMedia& media_;

    // Sectors of the drive and the whole chunks in it.
    std::uint64_t totalSectors_ = 0;
    std::uint64_t chunks_ = 0;
    // Remaining-time estimate: chunks left at its start, chunks since it
    // started, chunks searched so far, and when it started.
    std::uint64_t estimateBase_ = 0;
    std::uint64_t sinceEstimate_ = 0;
    std::uint64_t chunkCounter_ = 0;
    Clock::time_point estimateStart_{};

    // Element 1 of the running search's argument: the rows shown so far.
    platform::Array* rows_ = nullptr;
    // The volumes handled (first sector, length, whether their catalog
    // checked out), by their headers' creation dates.
    struct HandledVolume {
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        bool catalogSound = false;
    };
    std::unordered_map<std::uint32_t, std::vector<HandledVolume>> handledByDate_;
    std::unique_ptr<BTreeTableClassUInt32> btreeForUsedCatNodeSector_;
    std::vector<std::uint8_t> node_;
};
