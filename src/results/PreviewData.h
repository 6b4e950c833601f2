#pragma once

// Reading a found file's bytes for the preview window, straight from the
// medium through the file's extents and the volume's preview reader, and
// the first block of a file as printable text.
//
// The preview runs on a worker thread that may outlive the tree it was asked
// about (going back from the result screen frees the tree while a read can
// still be under way), so the reading works on a Source: a copy, taken on
// the main thread, of what it needs of the node. The volume is held by the
// caller's shared pointer.

#include "platform/ByteView.h"
#include "volume/NewDir.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class Volume;

class PreviewData {
public:
    // Bounds a file that is shown as an image or movie, each single read and
    // the total read for one preview (decimal, not 2^26).
    static constexpr std::uint64_t kPreviewSizeLimit = 50'000'000;
    // Allocation blocks per read outside APFS.
    static constexpr std::uint32_t kBlocksPerRead = 8;

    struct Source {
        std::uint64_t fileSize = 0;
        std::uint16_t fileType = 0;
        std::uint8_t sectorsPerBlock = 0;
        std::uint32_t dataStartSector = 0;
        std::uint32_t firstSectorOffset = 0;
        std::vector<ExtP> extents;
        std::u16string name;
        static Source of(const NewDir& node);
    };

    enum class Outcome {
        Loaded,     // data holds what was read
        Aborted,    // a newer request, or a read length out of bounds
        ReadFailed, // the reader failed and has already told the user
    };
    struct Result {
        Outcome outcome = Outcome::Aborted;
        std::vector<std::uint8_t> data;
    };

    // Reads the file's data through its extents, in runs of eight blocks
    // (one sector at a time on APFS), polling previewThreadAbort between
    // reads. The data begin firstSectorOffset bytes into the extents (an
    // offset at or past their end leaves nothing to read, and the data
    // empty). Never more than the file's size is kept: the block that holds
    // the file's end contributes only the bytes up to it, and when the
    // extents hold fewer blocks than the size needs, the last block gives
    // what was read of it and no more. A read length above the limit or
    // below one byte sets previewThreadAbort and ends the reading.
    static Result getPreviewData(Volume& volume, const Source& node, std::atomic<bool>& previewThreadAbort);

    // The first block of the file, from its first sector offset on, as the
    // text tab shows it (see printableText); empty optional when the file
    // has no extents or the read failed (the reader has told the user).
    static std::optional<std::string> previewTextData(Volume& volume, const Source& node);

    // Every byte below 32 or from 127 up becomes "."; the block's last byte
    // and every byte at a position not below the file's size end the text.
    static std::string printableText(platform::ByteView block, std::uint64_t fileSize);

    // The lowercased last "."-separated component of a name ("" when the
    // name ends with "." or is empty; the whole name when it has no ".").
    static std::u16string extensionOf(std::u16string_view name);

private:
    // Sector on the device of block `block` of an extent, or empty when the
    // sum does not fit in 64 bits.
    static std::optional<std::uint64_t> sectorOfBlock(const Volume& volume, const Source& node,
                                                      std::uint64_t startBlock, std::uint64_t block);
};
