#pragma once

// One entry of a TIFF image file directory as the directory walks measure
// it. The numbers are in host order, converted from the file's byte order
// when the entry was read.

#include <cstdint>

class Tiff_DE {
public:
    struct Record {
        std::uint16_t tag = 0;
        std::uint16_t fieldType = 0;
        std::uint32_t count = 0;
        // The values themselves when they fit in the entry (two SHORTs: the
        // first in the low half, whatever the byte order), else where they
        // lie.
        std::uint32_t value = 0;
    };

    Tiff_DE() = default;
    explicit Tiff_DE(const Record& record) : DE_(record) {}

    Record& DE() { return DE_; }
    const Record& DE() const { return DE_; }

    // Bytes of one value of a field type; 0 for the types TIFF does not
    // define (0 and above 12).
    static std::uint32_t valueSize(std::uint16_t fieldType);
    // Whether the values take more than the entry's four bytes, so that
    // `value` says where they lie.
    bool valuesOutside() const;

private:
    Record DE_;
};
