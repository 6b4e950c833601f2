#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

#include <optional>

// A GIF is measured by following its blocks (extensions, images with their
// data sub-blocks, and the zero bytes that end them) from the end of the
// global colour table to the trailer.
class GifFileCheck final : public SizeCalculator {
public:
    explicit GifFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // The byte at a file offset, the window moved to the offset's 64 KiB
    // block first when it holds another; nothing when that read failed.
    std::optional<std::uint8_t> byteAt(std::uint64_t offset);

    ReadWindow window_;
    std::uint64_t fileSector_ = 0;
    // The 64 KiB block of the file the window was read for, and the file
    // offset of its first byte.
    std::uint64_t windowBlock_ = 0;
    std::uint64_t windowStart_ = 0;
};
