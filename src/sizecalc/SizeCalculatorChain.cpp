#include "sizecalc/SizeCalculatorChain.h"

#include "formats/CarvingFormat.h"
#include "sizecalc/AifFileCheck.h"
#include "sizecalc/AmrFileCheck.h"
#include "sizecalc/AviFileCheck.h"
#include "sizecalc/BmpFileCheck.h"
#include "sizecalc/CarvingContext.h"
#include "sizecalc/GifFileCheck.h"
#include "sizecalc/JpgFileCheck.h"
#include "sizecalc/M4aFileCheck.h"
#include "sizecalc/M4bFileCheck.h"
#include "sizecalc/M4vFileCheck.h"
#include "sizecalc/MidFileCheck.h"
#include "sizecalc/MovFileCheck.h"
#include "sizecalc/Mp3FileCheck.h"
#include "sizecalc/Mp4FileCheck.h"
#include "sizecalc/MpgFileCheck.h"
#include "sizecalc/PngFileCheck.h"
#include "sizecalc/PsdFileCheck.h"
#include "sizecalc/RaFileCheck.h"
#include "sizecalc/RmFileCheck.h"
#include "sizecalc/ThreeGTwoFileCheck.h"
#include "sizecalc/ThreeGpFileCheck.h"
#include "sizecalc/WavFileCheck.h"

#include <algorithm>
#include <utility>

namespace {

template <class C> std::unique_ptr<SizeCalculator> make(CarvingContext& context) {
    return std::make_unique<C>(context);
}

using Maker = std::unique_ptr<SizeCalculator> (*)(CarvingContext&);

const std::pair<std::string_view, Maker> kMakers[] = {
    {"mpg", make<MpgFileCheck>}, {"amr", make<AmrFileCheck>},     {"ra", make<RaFileCheck>},
    {"rm", make<RmFileCheck>},   {"psd", make<PsdFileCheck>},     {"bmp", make<BmpFileCheck>},
    {"aif", make<AifFileCheck>}, {"gif", make<GifFileCheck>},     {"mp3", make<Mp3FileCheck>},
    {"mid", make<MidFileCheck>}, {"avi", make<AviFileCheck>},     {"wav", make<WavFileCheck>},
    {"png", make<PngFileCheck>}, {"jpg", make<JpgFileCheck>},     {"mov", make<MovFileCheck>},
    {"mp4", make<Mp4FileCheck>}, {"m4a", make<M4aFileCheck>},     {"m4b", make<M4bFileCheck>},
    {"m4v", make<M4vFileCheck>}, {"3gp", make<ThreeGpFileCheck>}, {"3g2", make<ThreeGTwoFileCheck>},
};

} // namespace

std::unique_ptr<SizeCalculator> SizeCalculatorChain::make(std::string_view key, CarvingContext& context) {
    for (const auto& [k, maker] : kMakers)
        if (k == key) return maker(context);
    return nullptr;
}

SizeCalculatorChain::SizeCalculatorChain(CarvingContext& context, std::span<const std::string_view> keys)
    : context_(context) {
    for (const CarvingFormat& row : CarvingFormat::table()) {
        if (std::find(keys.begin(), keys.end(), row.key) == keys.end()) continue;
        if (auto c = make(row.key, context)) {
            quickTimeMarked_ = quickTimeMarked_ || row.is(CarvingFormat::QuickTime);
            calculators_.push_back(std::move(c));
        }
    }
}

SizeCalculatorChain::~SizeCalculatorChain() = default;

SizeCalculatorChain::Hit SizeCalculatorChain::measure(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint8_t first = leading.u8(0);
    const std::uint8_t boxTypeStart = leading.u8(4);
    const bool maybeBox = quickTimeMarked_ && boxTypeStart >= 'f' && boxTypeStart <= 'x';
    for (const auto& c : calculators_) {
        if (c->isFile(leading, sectorNumber)) {
            context_.rawJpeg = {};
            return Hit{c.get(), c->fileSizeCalculation(leading, sectorNumber)};
        }
        if (first < c->firstByteOfHeader() && !maybeBox) break;
    }
    return {};
}
