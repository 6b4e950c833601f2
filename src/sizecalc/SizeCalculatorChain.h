#pragma once

// The size calculators of one carving run, in the carving table's order,
// and the way a sector is offered to them: the first that accepts the
// sector measures it. As the table is ordered by the header's first byte,
// the offer stops at the first calculator whose first byte lies above the
// sector's, except that a sector whose byte 4 could begin a box type ('f'
// to 'x') still reaches the QuickTime family at the end when one of its
// formats is marked.

#include "platform/ByteView.h"
#include "sizecalc/ReadWindow.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

class CarvingContext;
class SizeCalculator;

class SizeCalculatorChain {
public:
    // A calculator for each key of the carving table that is named (in
    // table order, whatever the order of keys); keys without a calculator in
    // this build are left out.
    SizeCalculatorChain(CarvingContext& context, std::span<const std::string_view> keys);
    ~SizeCalculatorChain();

    // A calculator for the key, or nullptr where this build has none.
    static std::unique_ptr<SizeCalculator> make(std::string_view key, CarvingContext& context);

    struct Hit {
        SizeCalculator* calculator = nullptr;
        std::uint64_t size = 0;
        explicit operator bool() const { return calculator != nullptr && size != 0; }
    };
    // Offers the sector (its first bytes, at least 25, and its number on the
    // device) and measures it with the calculator that accepts it. No hit
    // when none accepts it or the one that did measured 0. The embedded-JPEG
    // record is cleared before the measurement, so what it holds afterwards
    // belongs to this file; the TIFF classification is cleared after it.
    Hit measure(platform::ByteView leading, std::uint64_t sectorNumber);

    // The first device sector from `from` on, before `end`, that the chain
    // measures a file known to begin there at, as the carving would find it; what its
    // calculators leave in the run's context is put back. Nothing when none
    // is found, the run was stopped, or a calculator measuring for this
    // asks again.
    std::optional<std::uint64_t> firstFileFrom(std::uint64_t from, std::uint64_t end);
    // Whether the chain measures a file known to begin at the device sector
    // whose first bytes (at least 25) are `leading`, as the carving would;
    // what its calculators leave in the run's context is put back. False
    // when the run was stopped, or a calculator measuring for this asks
    // again.
    bool measuresFileAt(platform::ByteView leading, std::uint64_t sectorNumber);

    std::span<const std::unique_ptr<SizeCalculator>> calculators() const { return calculators_; }

private:
    Hit offer(platform::ByteView leading, std::uint64_t sectorNumber);
    // Keeps what the calculators left in the run's context while the chain
    // offers sectors ahead of the file being measured, and puts it back.
    class LookingAhead;

    CarvingContext& context_;
    // The sectors firstFileFrom offers, and whether it is offering them.
    ReadWindow ahead_;
    bool lookingAhead_ = false;
    std::vector<std::unique_ptr<SizeCalculator>> calculators_;
    bool quickTimeMarked_ = false;
};
