#pragma once

// What the carving does with one examined sector: its first bytes go to the
// size calculators of the selected built-in formats in the table's order;
// the file the first accepting one measures is recorded in its format's
// result folder, with the JPEG preview a raw photo holds beside it, and an
// MP3 or MPEG stream is jumped over. Only a sector no built-in format
// recorded goes on to the signature groups of the other marked types, so a
// sector yields at most one file. A file is its own as far as its walk read
// its structure: the bytes past it (a TIFF's strips after its last
// directory, sound data), the bodies its walk stepped over by their lengths
// (a movie's media data, an AVI file's frames), and a photo's scan data,
// which holds no marker before its end, so that a file written over its
// later sectors that holds no 0xFF byte (plain text, a document written
// without compression) reads as its data, nothing vouches for. The file is
// held open while the sectors there are examined, across the run's
// checkpoints too (each keeps its first sector, where a resumed run measures
// it again), so a movie of gigabytes is held as one of megabytes; a file
// found there that is known to begin there (measured by a size calculator
// whose walk read past what chance makes, or
// RecogniserDispatch::vouchesForStart) cuts it at that sector, marked. A
// header that compressed data begins a sector with by chance, with a first
// record whose length leads nowhere, cuts nothing. The signature groups'
// recognisers are offered the sectors of the files they find in the same
// way, and this detection answers them as the carving would: a size
// calculator or a group finds a file known to begin there.

#include "carving/BlockSearchEngine.h"
#include "signatures/FileStartProbe.h"
#include "sizecalc/CarvingContext.h"

#include <cstdint>
#include <optional>

class CarvedFileRecorder;
class CarvingResultFolders;
class SignatureGroupDetection;
class SizeCalculator;
class SizeCalculatorChain;
class Volume;

class CarvingDetection final : public BlockSearchEngine::Detection, private FileStartProbe {
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
    CarvingDetection(Volume& volume, const Parts& parts, std::uint64_t origin);
    ~CarvingDetection() override;
    // The groups' recognisers ask this detection for lookups.
    CarvingDetection(const CarvingDetection&) = delete;
    CarvingDetection& operator=(const CarvingDetection&) = delete;

    BlockSearchEngine::Skip examineSector(std::uint64_t sector, platform::ByteView bytes) override;
    // Writes the open file's record as it stands.
    void settle() override;
    // Settles the open file when its unvouched bytes end before the sector;
    // otherwise it stays open, and its first sector is returned.
    std::optional<std::uint64_t> checkpointAt(std::uint64_t sector) override;
    // Measures and records again the file the interrupted run held open
    // (the volume's heldFileBeforeResume), when it begins before the sector
    // and the restored tree lacks it, holding it open as that run did; its
    // raw preview, recorded with it then, is not recorded again.
    void resumeAt(std::uint64_t sector) override;

private:
    // A file whose bytes that nothing vouches for run over sectors not
    // examined yet; its record waits until the examined sectors pass their
    // end, or a file found inside them cuts it, however many checkpoints
    // lie between.
    struct OpenFile {
        NewDir* file = nullptr;
        std::uint64_t sector = 0;
        CarvingContext::Unvouched unvouched;
    };

    // Records a measured file; false when it could not be.
    bool record(const SizeCalculator& calculator, std::uint64_t measured, std::uint64_t sector);
    // Whether the examined sectors have reached past the open file's
    // unvouched bytes at the sector.
    bool pastOpenFile(std::uint64_t sector) const;
    // Clears what the calculators left of the sector measured last.
    void forgetMeasure();
    // A file known to begin at the sector was recorded there: the open file
    // whose unvouched bytes hold the sector's start is cut there, marked, and
    // measured to it (a photo, and the margin a carved photo has past its
    // end).
    void foundAt(std::uint64_t sector);
    // Whether the run would record a file known to begin at the sector: a
    // size calculator measures one there, or a group's recogniser vouches
    // for one.
    bool startsFile(std::uint64_t sector, platform::ByteView bytes) override;

    Volume& volume_;
    Parts p_;
    std::uint64_t origin_;
    std::optional<OpenFile> open_;
};
