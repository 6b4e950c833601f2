#include "results/ResultText.h"

#include <cstdio>
#include <ctime>

std::string ResultText::sizeString(std::uint64_t bytes, ZeroSize zero, Precision precision) {
    if (bytes == 0 && zero == ZeroSize::WholeKB) return "0 KB";
    const char* format = "%.2f GB";
    double unit = 1000000000.0;
    if (bytes < 1000000ULL) {
        format = "%.2f KB";
        unit = 1000.0;
    } else if (bytes < 1000000000ULL) {
        format = "%.2f MB";
        unit = 1000000.0;
    }
    const double value = precision == Precision::Single
                             ? static_cast<double>(static_cast<float>(bytes) / static_cast<float>(unit))
                             : static_cast<double>(bytes) / unit;
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string ResultText::dateString(std::uint32_t time, std::uint8_t isFATEntry) {
    if (time == 0) return " - ";
    if (isFATEntry == 1) return getStringForDOSDate(time);
    if (isFATEntry != 0) return {};
    // 2,082,844,800 seconds lie between 1904-01-01 and 1970-01-01 (GMT).
    const std::time_t unixTime = static_cast<std::time_t>(static_cast<std::int64_t>(time) - 2082844800LL);
    std::tm local{};
    if (!localtime_r(&unixTime, &local)) return {};
    char text[64];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) return {};
    return text;
}

std::string ResultText::getStringForDOSDate(std::uint32_t value) {
    const unsigned date = value >> 16;
    const unsigned time = value & 0xFFFF;
    const unsigned day = date & 0x1F;
    const unsigned month = (date >> 5) & 0x0F;
    const unsigned yearField = (date >> 9) & 0x7F;
    const unsigned seconds = 2 * (time & 0x1F);
    const unsigned minute = (time >> 5) & 0x3F;
    const unsigned hour = (time >> 11) & 0x1F;
    // Midnight and the first minute of an hour are ordinary times (00:30 is
    // half past midnight), so only values past the clock's end are refused.
    if (day == 0 || month == 0 || month > 12 || yearField == 0 || minute > 59 || hour > 23) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u", 1980 + yearField, month, day, hour, minute, seconds);
    return text;
}

std::string ResultText::dataInFilesString(std::uint64_t bytes, std::uint32_t files) {
    return sizeString(bytes) + " in " + std::to_string(files) + " Files";
}
