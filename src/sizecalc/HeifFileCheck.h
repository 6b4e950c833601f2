#pragma once

// The HEIF images, declared once: a HEIC photo (HEVC-coded, the "heic"
// brand), one of any coding under the format's own brand ("mif1") and an
// AVIF photo (AV1-coded, "avif"). Each is a file of ISO base media boxes as
// an MP4 movie is: an ftyp box of its brand, a meta box that names the
// images and where their data lie, and the data, mostly in an mdat box.
// They are measured by the walk the QuickTime family shares, box by box,
// and told apart by the brand alone.

#include "sizecalc/AtomWalk.h"
#include "sizecalc/SizeCalculator.h"

enum class HeifBrand { Heic, Mif1, Avif };

template <HeifBrand Brand> class HeifFileCheck final : public SizeCalculator {
public:
    explicit HeifFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    AtomWalk walk_;
};

extern template class HeifFileCheck<HeifBrand::Heic>;
extern template class HeifFileCheck<HeifBrand::Mif1>;
extern template class HeifFileCheck<HeifBrand::Avif>;

using HeicFileCheck = HeifFileCheck<HeifBrand::Heic>;
using Mif1FileCheck = HeifFileCheck<HeifBrand::Mif1>;
using AvifFileCheck = HeifFileCheck<HeifBrand::Avif>;
