#pragma once

// What one carving run shares with its size calculators: the reader of the
// device being carved, and the results a calculator leaves for the run to
// act on right after it measured a file (the JPEG preview found inside a
// camera raw file, and whether to jump over the file). A run owns one; its
// calculators hold it by reference, so two runs (or two tests) never meet.

#include "sizecalc/ReadVolume.h"

#include <cstdint>

class DMedia;

class CarvingContext {
public:
    // The device whose sectors the calculators are given, numbered from its
    // first sector.
    explicit CarvingContext(DMedia& medium);

    ReadVolume& reader() { return reader_; }
    std::uint32_t bytesPerSector() const { return bytesPerSector_; }
    // The device sector after the carved volume's last (0: not known). What
    // lies beyond it belongs to another partition, or to nothing.
    std::uint64_t endSector() const { return endSector_; }
    // The user stopped the scan, or the device has gone: walks end with what
    // they measured.
    bool stopped() const;

    // The JPEG preview inside the camera raw file measured last.
    struct RawJpeg {
        bool found = false;
        // The device sector holding its first byte, its length, and its
        // offset inside that sector.
        std::uint64_t sectorNumber = 0;
        std::uint64_t fileSize = 0;
        std::uint32_t extraBytes = 0;
    };
    RawJpeg rawJpeg;
    // The file measured last covers its sectors: the run jumps over them.
    bool skipCarvedFileBlocks = false;

private:
    ReadVolume reader_;
    std::uint32_t bytesPerSector_;
    std::uint64_t endSector_;
};
