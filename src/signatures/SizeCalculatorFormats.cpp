#include "signatures/SizeCalculatorFormats.h"

#include "formats/CarvingFormat.h"

#include <algorithm>
#include <vector>

std::span<const std::string_view> SizeCalculatorFormats::extensions() {
    static const std::vector<std::string_view> keys = [] {
        std::vector<std::string_view> out;
        for (const CarvingFormat& f : CarvingFormat::table())
            out.push_back(f.key);
        return out;
    }();
    return keys;
}

bool SizeCalculatorFormats::has(std::string_view extension) {
    return CarvingFormat::byKey(extension) != nullptr;
}
