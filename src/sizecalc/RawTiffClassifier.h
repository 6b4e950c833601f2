#pragma once

// What the Pentax, Olympus, Panasonic, Leica and Hasselblad raw calculators
// share on top of the TIFF family's classification: the maker tests of the
// members that refuse most makers outright, the value of a strip entry (a
// strip array is taken by its last element, since the raw strip is stored
// last), the IFD0 walk that Panasonic and Leica files share, and the JPEG
// preview measured by its markers.

#include "sizecalc/TiffClassifier.h"

#include <initializer_list>
#include <optional>
#include <string_view>

class RawTiffClassifier : public TiffClassifier {
protected:
    static constexpr std::uint64_t kMargin = 512;

    using TiffClassifier::TiffClassifier;

    // A Make beginning with one of `refused` answers no; one beginning with
    // one of `tested` goes through the family's maker table; any other is
    // passed over.
    Verdict makerTestsOf(platform::ByteView make, const Entry& entry, Classification& c,
                         std::initializer_list<std::string_view> refused,
                         std::initializer_list<std::string_view> tested);

    // The strip offset or byte count of the entry at `at` in the window
    // (which holds its directory): the entry's own value, or with a count
    // of 2..arrayLimit the array's last element. Nothing when the array
    // lies beyond the family's offsets or its read failed.
    std::optional<std::uint64_t> stripValue(std::uint64_t sectorNumber, std::uint64_t at, std::uint32_t arrayLimit);

    // Panasonic and Leica: IFD0's strip end (or IFD0's own end when no
    // strip lies beyond it) + 512, and the preview tag 46 points at.
    std::uint64_t ifd0StripSize(platform::ByteView leading, std::uint64_t sectorNumber);

    // The length of the JPEG stream at the byte offset in the device
    // sector, from its markers; 0 when none starts there.
    std::uint64_t jpegSize(std::uint64_t sector, std::uint32_t offset);
};
