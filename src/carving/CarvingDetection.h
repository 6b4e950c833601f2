#pragma once

// What the carving does with one examined sector: its first bytes go to the
// size calculators of the selected built-in formats in the table's order;
// the file the first accepting one measures is recorded in its format's
// result folder, with the JPEG preview a raw photo holds beside it, and an
// MP3 or MPEG stream is jumped over. Only a sector no built-in format
// recorded goes on to the signature groups of the other marked types, so a
// sector yields at most one file.

#include "carving/BlockSearchEngine.h"

#include <cstdint>

class CarvedFileRecorder;
class CarvingContext;
class CarvingResultFolders;
class SignatureGroupDetection;
class SizeCalculator;
class SizeCalculatorChain;
class Volume;

class CarvingDetection final : public BlockSearchEngine::Detection {
public:
    struct Parts {
        CarvingContext& context;
        SizeCalculatorChain& chain;
        CarvingResultFolders& folders;
        CarvedFileRecorder& recorder;
        SignatureGroupDetection& groups;
        AutoRecoveryAppend& fileDesc;
    };
    // `origin`: the device sector of the search's sector 0, where the size
    // calculators, which read the device, are told a sector lies.
    CarvingDetection(Volume& volume, const Parts& parts, std::uint64_t origin) noexcept
        : volume_(volume), p_(parts), origin_(origin) {}

    BlockSearchEngine::Skip examineSector(std::uint64_t sector, platform::ByteView bytes) override;

private:
    // Records a measured file; false when it could not be.
    bool record(const SizeCalculator& calculator, std::uint64_t measured, std::uint64_t sector);

    Volume& volume_;
    Parts p_;
    std::uint64_t origin_;
};
