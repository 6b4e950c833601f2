#pragma once

// What the carving does with one examined sector: its first bytes go to the
// size calculators of the selected built-in formats in the table's order;
// the file the first accepting one measures is recorded in its format's
// result folder, with the JPEG preview a raw photo holds beside it, and an
// MP3 or MPEG stream is jumped over. Only a sector no built-in format
// recorded goes on to the signature groups of the other marked types, so a
// sector yields at most one file. A photo's scan data holds no marker before
// its end, so a file written over its later sectors that holds no 0xFF byte
// (plain text, a document written without compression) reads as its data:
// the photo is held open while the sectors inside its data are examined, and
// a file found there that is known to begin there (measured by a size
// calculator, or RecogniserDispatch::vouchesForStart) cuts it at that
// sector. A header taken alone that compressed data begins a sector with by
// chance cuts nothing.

#include "carving/BlockSearchEngine.h"
#include "sizecalc/CarvingContext.h"

#include <cstdint>
#include <optional>

class CarvedFileRecorder;
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
    // Writes the open photo's record as it stands.
    void settle() override;

private:
    // A photo whose scan data runs over sectors not examined yet; its record
    // waits until the examined sectors pass that data's end, or a file found
    // inside it cuts the photo.
    struct OpenPhoto {
        NewDir* file = nullptr;
        std::uint64_t sector = 0;
        CarvingContext::ScanData scan;
    };

    // Records a measured file; false when it could not be.
    bool record(const SizeCalculator& calculator, std::uint64_t measured, std::uint64_t sector);
    // A file known to begin at the sector was recorded there: the open
    // photo whose scan data holds the sector's start is cut there, and
    // measured to it and the margin a carved photo has past its end.
    void foundAt(std::uint64_t sector);

    Volume& volume_;
    Parts p_;
    std::uint64_t origin_;
    std::optional<OpenPhoto> open_;
};
