#include "sizecalc/SizeCalculator.h"

#include "formats/CarvingFormat.h"

#include <cstdlib>

namespace {
const CarvingFormat& rowOf(std::string_view key) {
    const CarvingFormat* row = CarvingFormat::byKey(key);
    // Every calculator names a row of the table; one that does not is a
    // programming error found by the first test that makes it.
    if (!row) std::abort();
    return *row;
}
} // namespace

SizeCalculator::SizeCalculator(std::string_view key, CarvingContext& context)
    : context_(context), format_(rowOf(key)) {}

SizeCalculator::~SizeCalculator() = default;

std::string_view SizeCalculator::parentKey() const {
    return format_.key;
}
