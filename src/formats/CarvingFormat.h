#pragma once

// The built-in carved formats, one row each, in the order in which the
// carving offers a sector to their size calculators (the rows and their
// order are in CarvingFormatRows.h, which also names each row's size
// calculator). The size calculators, the carving's result folders and the
// file-type checks all read this one table.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

struct CarvingFormat {
    enum Family : std::uint8_t {
        None = 0,
        // Has a TIFF-family in-use flag.
        Tiff = 1,
        // Recognised by the box type at byte 4.
        QuickTime = 2,
        // Its calculator can report a JPEG preview inside the file.
        RawJpeg = 4,
    };

    std::string_view label;
    // The marked signature's extension that selects the row (the two "raw"
    // rows also look at the signature's software).
    std::string_view selectingExtension;
    // The calculator's parentKey: names the row's result folder in a run.
    std::string_view key;
    std::uint8_t firstByteOfHeader;
    std::string_view resultFolder;
    // Extension of the result folder and of the files carved into it.
    std::string_view folderExtension;
    std::uint8_t family;

    bool is(Family f) const { return (family & f) != 0; }

    // Every row, in checker order, and how many there are.
    static std::span<const CarvingFormat> table();
    static constexpr std::size_t kRowCount = 0
#define CARVING_FORMAT(label, selecting, key, firstByte, folder, folderExtension, family, calculator) +1
#include "formats/CarvingFormatRows.h"
#undef CARVING_FORMAT
        ;
    // The row of a key, or nullptr.
    static const CarvingFormat* byKey(std::string_view key);
};
