#pragma once

// The formats the carving measures with a size calculator of their own: the
// keys of the carving table, each the lower-case extension that also names
// its result folder. A built-in file type with typeOfFile 1 is served by the
// calculator of its extension, so that extension must be one of these.

#include <span>
#include <string_view>

class SizeCalculatorFormats {
public:
    static std::span<const std::string_view> extensions();
    static bool has(std::string_view extension);
};
