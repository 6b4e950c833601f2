#include "formats/CarvingFormat.h"

#include <algorithm>

namespace {

using F = CarvingFormat;
constexpr std::uint8_t T = F::Tiff, Q = F::QuickTime, J = F::RawJpeg;

constexpr CarvingFormat kTable[] = {
#define CARVING_FORMAT(label, selecting, key, firstByte, folder, folderExtension, family, calculator)                  \
    {label, selecting, key, firstByte, folder, folderExtension, family},
#include "formats/CarvingFormatRows.h"
#undef CARVING_FORMAT
};

} // namespace

std::span<const CarvingFormat> CarvingFormat::table() {
    return kTable;
}

const CarvingFormat* CarvingFormat::byKey(std::string_view key) {
    const auto* row = std::find_if(std::begin(kTable), std::end(kTable), [&](const F& f) { return f.key == key; });
    return row == std::end(kTable) ? nullptr : row;
}
