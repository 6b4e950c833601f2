#include "walks/Tiff_DE.h"

std::uint32_t Tiff_DE::valueSize(std::uint16_t fieldType) {
    switch (fieldType) {
    case 1: // BYTE
    case 2: // ASCII
    case 6: // SBYTE
    case 7: // UNDEFINED
        return 1;
    case 3: // SHORT
    case 8: // SSHORT
        return 2;
    case 4:  // LONG
    case 9:  // SLONG
    case 11: // FLOAT
        return 4;
    case 5:  // RATIONAL
    case 10: // SRATIONAL
    case 12: // DOUBLE
        return 8;
    default:
        return 0;
    }
}

bool Tiff_DE::valuesOutside() const {
    return static_cast<std::uint64_t>(DE_.count) * valueSize(DE_.fieldType) > 4;
}
