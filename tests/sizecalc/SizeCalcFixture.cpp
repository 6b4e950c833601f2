#include "SizeCalcFixture.h"

#include "formats/CarvingFormat.h"
#include "sizecalc/SizeCalculator.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

namespace fs = std::filesystem;
using namespace testsupport;

CarvingContext& SizeCalcFixture::contextOver(const fs::path& image) {
    auto v = keep(volumeOver(image, 0, 0, 512, ""));
    if (failing) v->setRawRead(failing->reader());
    contexts.push_back(std::make_unique<CarvingContext>(*v));
    return *contexts.back();
}

std::vector<std::uint8_t> SizeCalcFixture::leadingBytes(const fs::path& image, std::uint64_t sector) {
    return readBytesAt(image, sector * 512, SizeCalculator::kLeadingBytes);
}

SizeCalculatorChain::Hit SizeCalcFixture::measureAt(const fs::path& image, std::uint64_t sector,
                                                    std::initializer_list<std::string_view> keys) {
    const std::vector<std::string_view> list(keys);
    chains.push_back(std::make_unique<SizeCalculatorChain>(contextOver(image), list));
    const auto leading = leadingBytes(image, sector);
    return chains.back()->measure(platform::ByteView(leading), sector);
}

SizeCalculatorChain::Hit SizeCalcFixture::measureWithEveryFormat(const fs::path& image, std::uint64_t sector,
                                                                 bool stopped) {
    std::vector<std::string_view> keys;
    for (const CarvingFormat& f : CarvingFormat::table())
        keys.push_back(f.key);
    chains.push_back(std::make_unique<SizeCalculatorChain>(contextOver(image), keys));
    Volume::setStopByte(stopped);
    const auto hit = chains.back()->measure(platform::ByteView(leadingBytes(image, sector)), sector);
    Volume::setStopByte(false);
    return hit;
}

std::vector<std::string_view> SizeCalcFixture::acceptedBy(const fs::path& image, std::uint64_t sector,
                                                          std::span<const std::string_view> keys) {
    std::vector<std::string_view> accepted;
    const auto leading = leadingBytes(image, sector);
    CarvingContext& context = contextOver(image);
    for (std::string_view key : keys)
        if (SizeCalculatorChain::make(key, context)->isFile(platform::ByteView(leading), sector))
            accepted.push_back(key);
    return accepted;
}
