#include "sizecalc/SizeCalculatorChain.h"

#include "formats/CarvingFormat.h"
#include "sizecalc/AifFileCheck.h"
#include "sizecalc/AmrFileCheck.h"
#include "sizecalc/ArwFileCheck.h"
#include "sizecalc/AviFileCheck.h"
#include "sizecalc/BmpFileCheck.h"
#include "sizecalc/CarvingContext.h"
#include "sizecalc/Cr2FileCheck.h"
#include "sizecalc/CrwFileCheck.h"
#include "sizecalc/DngFileCheck.h"
#include "sizecalc/GifFileCheck.h"
#include "sizecalc/HeifFileCheck.h"
#include "sizecalc/JpgFileCheck.h"
#include "sizecalc/KodakFileCheck.h"
#include "sizecalc/LeicaFileCheck.h"
#include "sizecalc/M4aFileCheck.h"
#include "sizecalc/M4bFileCheck.h"
#include "sizecalc/M4vFileCheck.h"
#include "sizecalc/MidFileCheck.h"
#include "sizecalc/MovFileCheck.h"
#include "sizecalc/Mp3FileCheck.h"
#include "sizecalc/Mp4FileCheck.h"
#include "sizecalc/MpgFileCheck.h"
#include "sizecalc/MrwFileCheck.h"
#include "sizecalc/NefFileCheck.h"
#include "sizecalc/OrfFileCheck.h"
#include "sizecalc/PefFileCheck.h"
#include "sizecalc/PngFileCheck.h"
#include "sizecalc/PsdFileCheck.h"
#include "sizecalc/RaFileCheck.h"
#include "sizecalc/RafFileCheck.h"
#include "sizecalc/RawPanasonicFileCheck.h"
#include "sizecalc/RmFileCheck.h"
#include "sizecalc/Sr2FileCheck.h"
#include "sizecalc/ThreeGTwoFileCheck.h"
#include "sizecalc/ThreeGpFileCheck.h"
#include "sizecalc/ThreefrFileCheck.h"
#include "sizecalc/TiffFileCheck.h"
#include "sizecalc/WavFileCheck.h"
#include "sizecalc/X3fFileCheck.h"

#include <algorithm>
#include <utility>

namespace {

template <class C> std::unique_ptr<SizeCalculator> make(CarvingContext& context) {
    return std::make_unique<C>(context);
}

using Maker = std::unique_ptr<SizeCalculator> (*)(CarvingContext&);

// Each row's maker, from the rows the carving table is made of.
const std::pair<std::string_view, Maker> kMakers[] = {
#define CARVING_FORMAT(label, selecting, key, firstByte, folder, folderExtension, family, calculator)                  \
    {key, make<calculator>},
#include "formats/CarvingFormatRows.h"
#undef CARVING_FORMAT
};

} // namespace

std::unique_ptr<SizeCalculator> SizeCalculatorChain::make(std::string_view key, CarvingContext& context) {
    for (const auto& [k, maker] : kMakers)
        if (k == key) return maker(context);
    return nullptr;
}

SizeCalculatorChain::SizeCalculatorChain(CarvingContext& context, std::span<const std::string_view> keys)
    : context_(context), ahead_(context) {
    context.setChain(this);
    for (const CarvingFormat& row : CarvingFormat::table()) {
        if (std::find(keys.begin(), keys.end(), row.key) == keys.end()) continue;
        if (auto c = make(row.key, context)) {
            quickTimeMarked_ = quickTimeMarked_ || row.is(CarvingFormat::QuickTime);
            if (row.is(CarvingFormat::Tiff)) context.markInUse(row.key);
            calculators_.push_back(std::move(c));
        }
    }
}

SizeCalculatorChain::~SizeCalculatorChain() {
    if (context_.chain() == this) context_.setChain(nullptr);
}

SizeCalculatorChain::Hit SizeCalculatorChain::measure(platform::ByteView leading, std::uint64_t sectorNumber) {
    const Hit hit = offer(leading, sectorNumber);
    // What the TIFF family learnt of this sector says nothing of the next.
    context_.tiff = {};
    return hit;
}

SizeCalculatorChain::Hit SizeCalculatorChain::offer(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint8_t first = leading.u8(0);
    const std::uint8_t boxTypeStart = leading.u8(4);
    const bool maybeBox = quickTimeMarked_ && boxTypeStart >= 'f' && boxTypeStart <= 'x';
    for (const auto& c : calculators_) {
        if (c->isFile(leading, sectorNumber)) {
            context_.rawJpeg = {};
            context_.thumbnails.clear();
            context_.measuredOnHeaderAlone = false;
            return Hit{c.get(), c->fileSizeCalculation(leading, sectorNumber)};
        }
        if (first < c->firstByteOfHeader() && !maybeBox) break;
    }
    return {};
}

class SizeCalculatorChain::LookingAhead {
public:
    explicit LookingAhead(SizeCalculatorChain& chain)
        : chain_(chain), context_(chain.context_), rawJpeg_(context_.rawJpeg), tiff_(context_.tiff),
          skip_(context_.skipCarvedFileBlocks), checked_(context_.checkedBytes), cut_(context_.measuredCut),
          unvouched_(context_.measuredUnvouched), onHeaderAlone_(context_.measuredOnHeaderAlone),
          thumbnails_(context_.thumbnails) {
        chain_.lookingAhead_ = true;
    }
    ~LookingAhead() {
        context_.rawJpeg = rawJpeg_;
        context_.tiff = tiff_;
        context_.skipCarvedFileBlocks = skip_;
        context_.checkedBytes = checked_;
        context_.measuredCut = cut_;
        context_.measuredUnvouched = std::move(unvouched_);
        context_.measuredOnHeaderAlone = onHeaderAlone_;
        context_.thumbnails = std::move(thumbnails_);
        chain_.lookingAhead_ = false;
    }
    LookingAhead(const LookingAhead&) = delete;
    LookingAhead& operator=(const LookingAhead&) = delete;

private:
    // What the calculators leave in the context belongs to the file being
    // measured, not to those found ahead of it.
    SizeCalculatorChain& chain_;
    CarvingContext& context_;
    CarvingContext::RawJpeg rawJpeg_;
    CarvingContext::TiffClassification tiff_;
    bool skip_;
    std::optional<std::uint64_t> checked_;
    bool cut_;
    CarvingContext::Unvouched unvouched_;
    bool onHeaderAlone_;
    std::vector<std::uint64_t> thumbnails_;
};

std::optional<std::uint64_t> SizeCalculatorChain::firstFileFrom(std::uint64_t from, std::uint64_t end) {
    const std::uint32_t bps = context_.bytesPerSector();
    if (lookingAhead_ || bps == 0 || bps > ReadWindow::kBytes) return std::nullopt;
    const LookingAhead ahead(*this);
    const std::uint64_t windowSectors = ReadWindow::kBytes / bps;
    for (std::uint64_t sector = from; sector < end && !context_.stopped(); ++sector) {
        // A window that could not be read holds zeros, in which no file is
        // found.
        if (sector == from || sector - ahead_.sector() >= windowSectors) ahead_.readAt(sector);
        if (ahead_.beyondVolume()) break;
        const platform::ByteView leading =
            ahead_.view().sub((sector - ahead_.sector()) * bps, SizeCalculator::kLeadingBytes);
        context_.tiff = {};
        if (offer(leading, sector) && !context_.measuredOnHeaderAlone) return sector;
    }
    return std::nullopt;
}

bool SizeCalculatorChain::measuresFileAt(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (lookingAhead_ || leading.size() < SizeCalculator::kLeadingBytes || context_.stopped()) return false;
    const LookingAhead ahead(*this);
    context_.tiff = {};
    return offer(leading.sub(0, SizeCalculator::kLeadingBytes), sectorNumber) && !context_.measuredOnHeaderAlone;
}
