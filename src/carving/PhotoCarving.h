#pragma once

// The photo and file carving of the user's marked file types: six drivers,
// one for each thing a scan carves, each a small policy run in the batch
// frame with the carving detection as the work done per sector. The built-in
// formats (measured by their size calculators) are tried first on every
// examined sector, then the signature groups of the other marked types; a
// sector yields at most one carved file. The argument is the checkpoint an
// interrupted scan is resumed from (used only when the volume's
// autoCrashRecovery is set). The search's sigArray holds the marked types;
// the drivers make their own signature groups from it.

#include "carving/AutoRecoveryAppend.h"
#include "carving/BlockSearchEngine.h"
#include "formats/Extent.h"
#include "fs/fat/FATGeometry.h"

#include <cstdint>
#include <vector>

class SignatureSearchState;
class Volume;

class PhotoCarving {
public:
    PhotoCarving(Volume& volume, SignatureSearchState& search, AutoRecoveryAppend& fileDesc) noexcept
        : volume_(volume), search_(search), fileDesc_(fileDesc) {}

    // A whole HFS+ volume (allocation blocks) or FAT volume (clusters) after
    // its tree build; blocks where a file the tree build found begins are
    // passed over.
    void signatureSearchVolPhotoAndFileRecoveryMethodStartAt(std::uint64_t resumeBlock);
    // A whole exFAT or APFS volume, sector by sector.
    void signatureSearchVolPhotoAndFileRecoveryExFATMethodStartAt(std::uint64_t resumeSector);
    void signatureSearchVolPhotoAndFileRecoveryAPFSMethodStartAt(std::uint64_t resumeSector);
    // Every sector of a whole disk.
    void signatureSearchDiskPhotoMethodStartAt(std::uint64_t resumeSector);
    // The free allocation blocks of an HFS+ volume, by the extents of its
    // allocation file.
    void signatureSearchOnFreeSpaceOnlyStartAt(std::uint64_t resumeBlock, const std::vector<Extent>& allocationExt);
    // The free clusters of a FAT volume of that layout.
    void signatureSearchOnFreeSpaceOnFATVolumeStartAt(std::uint64_t resumeCluster, const FATGeometry& fat);
    // The sectors of an APFS volume whose blocks its space manager has free.
    void signatureSearchOnFreeSpaceOnAPFSVolumeStartAt(std::uint64_t resumeSector);

private:
    // The exFAT and APFS carving: every sector of the volume, or those the
    // used flags leave free.
    void carveSectors(std::uint64_t resumeSector, decltype(BlockSearchEngine::Policy::usedFlags) usedFlags = {});
    void run(BlockSearchEngine::Policy& policy, std::uint64_t resumeUnit, bool skipsAfterPrimaryHits);

    Volume& volume_;
    SignatureSearchState& search_;
    AutoRecoveryAppend& fileDesc_;
};
