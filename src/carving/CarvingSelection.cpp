#include "carving/CarvingSelection.h"

#include "formats/CarvingFormat.h"
#include "signatures/Sig.h"
#include "signatures/SigNode.h"

namespace {

constexpr std::uint32_t kBuiltInFormat = 1;

std::size_t rowIndex(const CarvingFormat& row) {
    return static_cast<std::size_t>(&row - CarvingFormat::table().data());
}

bool selects(const CarvingFormat& row, const Sig& sig) {
    if (row.selectingExtension != sig.extension) return false;
    // Two makers write ".raw": the software name tells them apart.
    if (row.key == "raw") return sig.software.starts_with("Panasonic");
    if (row.key == "lei") return sig.software.starts_with("Leica");
    return true;
}

} // namespace

void CarvingSelection::select(const platform::Array& sigArray) {
    flags_.reset();
    srf_ = false;
    userSignatures_.clear();
    for (const platform::Value& entry : sigArray) {
        const auto node = entry.objectAs<SigNode>();
        if (!node || !node->sig()) continue;
        const Sig& sig = *node->sig();
        if (sig.typeOfFile != kBuiltInFormat) {
            userSignatures_.push_back(entry);
            continue;
        }
        for (const CarvingFormat& row : CarvingFormat::table())
            if (selects(row, sig)) flags_.set(rowIndex(row));
        if (sig.extension == "srf") srf_ = true;
    }
}

bool CarvingSelection::selected(const CarvingFormat& row) const {
    const std::size_t i = rowIndex(row);
    return i < kRows && flags_.test(i);
}

std::vector<std::string_view> CarvingSelection::selectedKeys() const {
    std::vector<std::string_view> keys;
    for (const CarvingFormat& row : CarvingFormat::table())
        if (selected(row)) keys.push_back(row.key);
    return keys;
}

bool CarvingSelection::needsRawJpgFolder() const {
    for (const CarvingFormat& row : CarvingFormat::table())
        if (selected(row) && row.is(CarvingFormat::RawJpeg)) return true;
    return false;
}
