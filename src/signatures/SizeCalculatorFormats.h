#pragma once

// The extensions that select a format the carving measures with a size
// calculator of its own (the carving table's selecting extensions: "tif",
// and "raw" for two makers' raw photos). A built-in file type with
// typeOfFile 1 is served by the calculator its extension selects, so that
// extension must be one of these.

#include <span>
#include <string_view>

class SizeCalculatorFormats {
public:
    static std::span<const std::string_view> extensions();
    static bool has(std::string_view extension);
};
