#pragma once

// The texts the result screens show for a found entry: its size, its dates
// and the marked and total lines under the outline. They are the same in the
// outline's cells, in its tool tips and in the totals.

#include <cstdint>
#include <string>

class ResultText {
public:
    // The one size text of the program, shared by the result screens, the
    // progress screen and the saving: "%.2f KB", "%.2f MB" or "%.2f GB" in
    // units of 1000, the unit chosen on the exact count (999,999 bytes read
    // 1000.00 KB). Each place keeps the rounding and the zero it always had:
    // the lists write nothing as "0 KB", the progress screen as "0.00 KB";
    // the lists and the progress screen divide in single precision, the
    // saving's running total in double precision (5 bytes: "0.00 KB" and
    // "0.01 KB").
    enum class ZeroSize { WholeKB, TwoPlaces };
    enum class Precision { Single, Double };
    static std::string sizeString(std::uint64_t bytes, ZeroSize zero = ZeroSize::WholeKB,
                                  Precision precision = Precision::Single);
    // " - " for 0; an HFS+ time (seconds since 1904, GMT) in the local time
    // zone as "%Y-%m-%d %H:%M:%S"; a DOS date and time when isFATEntry is 1;
    // nothing for any other value of the byte.
    static std::string dateString(std::uint32_t time, std::uint8_t isFATEntry);
    // DOS date in the high 16 bits, DOS time in the low ones, as
    // "%d-%d-%d %d:%d:%d" without padding, or "-" for an impossible value.
    static std::string getStringForDOSDate(std::uint32_t dosDateTime);
    // "%@ in %@ Files": the size text and the number of files.
    static std::string dataInFilesString(std::uint64_t bytes, std::uint32_t files);
};
