#pragma once

// The frame of the recogniser targets: the input is a candidate file written
// at sector 0 of a 1 MiB image (the rest zero) and each recogniser of the
// target's family is asked about sectors 0 to 7, as the signature search
// would ask after a header hit, once with the image whole and once with one
// sector inside the input failing. A walk may reach anywhere in the image,
// and must end there. A seed is any sample file cut to a few KiB:
//
//   head -c 8192 sample.gif > seed
//
// Header-only, so that every target still builds from its one source file.

#include "FuzzImage.h"
#include "signatures/RecogniserDispatch.h"
#include "signatures/Sig.h"
#include "signatures/SignatureSearchState.h"
#include "volume/Volume.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <vector>

inline int fuzzRecognisers(const std::uint8_t* data, std::size_t size, std::initializer_list<std::uint32_t> types) {
    constexpr std::uint64_t kImageSectors = 2048;
    constexpr std::uint64_t kOfferedSectors = 8;
    if (size > kImageSectors * 512) return 0;
    static FuzzImage image("fuzz-recognisers", FuzzImage::Controller::Recording, FuzzImage::Storage::Memory);
    std::vector<std::uint8_t> bytes(kImageSectors * 512, 0);
    std::copy(data, data + size, bytes.begin());
    if (!image.writeWhole(bytes.data(), bytes.size())) return 0;
    image.controller().clear();

    // Each input is read whole, then with one of its sectors failing.
    const std::uint64_t lost = FuzzImage::badSectorFor(data, size, (size + 511) / 512);
    for (const bool failing : {false, true}) {
        // A fresh volume for every input, as for a scan: its reader keeps a
        // window of the image it read, which must not serve the bytes of an
        // earlier input, and the search's per-scan lists start empty.
        const auto volume = Volume::initWithDictionary(image.foundVolume(kImageSectors));
        if (!volume) std::abort();
        volume->setRawRead(
            FuzzImage::failingReader(failing ? std::vector<std::uint64_t>{lost} : std::vector<std::uint64_t>{}));
        volume->setBlockSize(1);
        volume->setTotalBlocks(kImageSectors);
        SignatureSearchState search;
        RecogniserDispatch dispatch(*volume, search);
        for (std::uint64_t sector = 0; sector < kOfferedSectors; ++sector)
            for (std::uint32_t type : types) {
                Sig sig;
                sig.typeOfFile = type;
                sig.defaultSize = 8; // MB: walks meet the size limit too
                const std::uint8_t* first = bytes.data() + sector * 512;
                bool mp3Ran = false;
                // A skip past the volume's end would make the search lose its
                // place: every walk is bounded by the volume.
                if (dispatch.runCheckForSig(sig, static_cast<std::uint16_t>(first[0] << 8 | first[1]), mp3Ran,
                                            sector) &&
                    sig.skipFileSize && sector + sig.skipSize > kImageSectors)
                    std::abort();
            }
        image.controller().clear();
    }
    return 0;
}
