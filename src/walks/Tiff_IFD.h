#pragma once

// One TIFF image file directory as the directory walks read it: where it
// lies, its entries in file order and where the next directory lies. It
// lives for one walk.

#include "walks/Tiff_DE.h"

#include <cstdint>
#include <vector>

class Tiff_IFD {
public:
    struct Record {
        // Set when the directory failed a structure test; the candidate is
        // then refused.
        bool rejected = false;
        std::uint64_t position = 0;
        // 2 + 12 x entryCount + 4: the count, the entries, the next position.
        std::uint32_t length = 0;
        std::uint16_t entryCount = 0;
        // As stored; 0 ends the chain.
        std::uint64_t nextPosition = 0;
    };

    Record& IFD() { return IFD_; }
    const Record& IFD() const { return IFD_; }
    // Empty for a directory without entries.
    const std::vector<Tiff_DE>& DEArray() const { return DEArray_; }
    void addDE(const Tiff_DE& entry);

private:
    Record IFD_;
    std::vector<Tiff_DE> DEArray_;
};
