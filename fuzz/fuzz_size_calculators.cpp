// Offers every sector of an image made from the input to the whole chain of
// size calculators, the way the carving does, and measures what one of them
// accepts: headers, box and chunk walks, frame walks, all over damaged or
// hostile files.
//
// The input is the file itself, written at sector 0 of a 1 MiB image (the
// rest zero), and the chain is offered sectors 0 to 7: a carved file begins
// at a sector, and its walk may reach anywhere in the image. Each input is
// measured twice: whole, and with one sector inside it failing, whose zeros
// the walks must take for data lost. A seed is any
// sample file cut to a few KiB:
//
//   head -c 8192 sample.mp4 > seed

#include "FuzzImage.h"
#include "formats/CarvingFormat.h"
#include "sizecalc/CarvingContext.h"
#include "sizecalc/SizeCalculator.h"
#include "sizecalc/SizeCalculatorChain.h"
#include "volume/Volume.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::uint64_t kImageSectors = 2048;
constexpr std::uint64_t kOfferedSectors = 8;

FuzzImage& image() {
    static FuzzImage image("fuzz-size-calculators", FuzzImage::Controller::Recording, FuzzImage::Storage::Memory);
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kImageSectors * 512) return 0;
    FuzzImage& img = image();
    std::vector<std::uint8_t> bytes(kImageSectors * 512, 0);
    std::copy(data, data + size, bytes.begin());
    if (!img.writeWhole(bytes.data(), bytes.size())) return 0;
    img.controller().clear();

    // One run's calculators serve every input, as they serve every sector
    // of a carving run; only the image changes under them, and the sector
    // that fails: each input is measured whole, then with one of its sectors
    // unreadable.
    static std::vector<std::uint64_t> unreadable;
    static auto v = [&] {
        auto volume = Volume::initWithDictionary(img.foundVolume(kImageSectors));
        if (!volume) std::abort();
        volume->setRawRead([](int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) {
            return FuzzImage::failingReader(unreadable)(fd, buffer, length, offset);
        });
        return volume;
    }();
    static CarvingContext context(*v);
    static SizeCalculatorChain chain = [] {
        std::vector<std::string_view> keys;
        for (const CarvingFormat& f : CarvingFormat::table())
            keys.push_back(f.key);
        return SizeCalculatorChain(context, keys);
    }();
    for (const bool failing : {false, true}) {
        unreadable.clear();
        if (failing) unreadable.push_back(FuzzImage::badSectorFor(data, size, (size + 511) / 512));
        v->forgetUnreadableSectors();
        for (std::uint64_t sector = 0; sector < kOfferedSectors; ++sector) {
            const platform::ByteView leading(bytes.data() + sector * 512, SizeCalculator::kLeadingBytes);
            if (auto hit = chain.measure(leading, sector); hit && hit.size > (std::uint64_t{1} << 40)) std::abort();
        }
    }
    unreadable.clear();
    v->forgetUnreadableSectors();
    return 0;
}
