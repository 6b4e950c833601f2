#pragma once

// The plain signature search of the user's marked file types (the search of
// the file scans): five members, one for each kind of medium, each a small
// policy run in the batch frame with the signature groups as the work done
// per sector. The search's signature groups (btreeSigArray) are built before
// a member is called. The argument is the checkpoint an interrupted scan is resumed
// from (used only when the volume's autoCrashRecovery is set).

#include "carving/AutoRecoveryAppend.h"
#include "carving/BlockSearchEngine.h"
#include "formats/Extent.h"
#include "fs/fat/FATGeometry.h"

#include <cstdint>
#include <vector>

class SignatureSearchState;
class Volume;

class PlainSignatureSearch {
public:
    PlainSignatureSearch(Volume& volume, SignatureSearchState& search, AutoRecoveryAppend& fileDesc) noexcept
        : volume_(volume), search_(search), fileDesc_(fileDesc) {}

    // Free allocation blocks of an HFS+ volume, by the extents of its
    // allocation file.
    void signatureSearchStartAt(std::uint64_t resumeBlock, const std::vector<Extent>& allocationExt);
    // Free clusters of a FAT volume of that layout.
    void signatureSearchFATStartAt(std::uint64_t resumeBlock, const FATGeometry& fat);
    // Free sectors of an APFS volume.
    void signatureSearchAPFSStartAt(std::uint64_t resumeBlock);
    // Every sector of an exFAT volume.
    void signatureSearchExFATStartAt(std::uint64_t resumeBlock);
    // Every sector of a whole disk.
    void signatureSearchDiskStartAt(std::uint64_t resumeBlock);

private:
    // Checkpoints every 2500 sectors on volumes of multi-sector blocks, every
    // 20000 otherwise.
    static std::uint32_t strideFor(std::uint32_t sectorsPerBlock);
    void run(const BlockSearchEngine::Policy& policy, std::uint64_t resumeBlock);

    Volume& volume_;
    SignatureSearchState& search_;
    AutoRecoveryAppend& fileDesc_;
};
