#include "signatures/SizeCalculatorFormats.h"

#include "formats/CarvingFormat.h"

#include <algorithm>
#include <vector>

std::span<const std::string_view> SizeCalculatorFormats::extensions() {
    static const std::vector<std::string_view> keys = [] {
        std::vector<std::string_view> out;
        for (const CarvingFormat& f : CarvingFormat::table())
            if (std::find(out.begin(), out.end(), f.selectingExtension) == out.end())
                out.push_back(f.selectingExtension);
        return out;
    }();
    return keys;
}

bool SizeCalculatorFormats::has(std::string_view extension) {
    const auto e = extensions();
    return std::find(e.begin(), e.end(), extension) != e.end();
}
