#pragma once

// Which built-in formats a carving run measures with their size calculators,
// chosen from the marked file types: a built-in type (typeOfFile 1) selects
// the rows of the carving table whose selecting extension is its extension,
// exactly and case-sensitively ("tif", not "tiff"), the two "raw" rows also
// by the maker its software name begins with. Every other marked type goes to
// the user-signature list that the signature groups are made of. A built-in
// type that selects no row takes no part in the run.

#include "formats/CarvingFormat.h"
#include "platform/Value.h"

#include <bitset>
#include <cstddef>
#include <string_view>
#include <vector>

class CarvingSelection {
public:
    // Clears the selection, then walks the marked SigNodes in list order.
    void select(const platform::Array& sigArray);

    bool selected(const CarvingFormat& row) const;
    // The selected rows' keys, in the table's order.
    std::vector<std::string_view> selectedKeys() const;
    // A marked Sony SRF type: no row carves it.
    bool srfFileSelectionFlag() const { return srf_; }
    // Some selected row's calculator can report a JPEG preview inside a raw
    // photo, so the run needs the "RAW Jpg Files" folder.
    bool needsRawJpgFolder() const;
    // The marked types that are not built-in formats, in list order.
    const platform::Array& userSignatures() const { return userSignatures_; }

private:
    static constexpr std::size_t kRows = CarvingFormat::kRowCount;
    std::bitset<kRows> flags_;
    bool srf_ = false;
    platform::Array userSignatures_;
};
