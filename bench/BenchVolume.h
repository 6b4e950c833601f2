#pragma once

// The HFS+ volume the fragment-search benchmarks sweep: sectors [start,
// start + sectors) of the image, read as an advanced scan without a volume
// header reads it (eight-sector blocks), with an empty tree to fill.

#include "volume/Volume.h"

#include <cstdint>
#include <memory>
#include <string>

inline std::shared_ptr<Volume> volumeForFragmentSearch(const std::string& image, std::uint64_t start,
                                                       std::uint64_t sectors) {
    auto v =
        Volume::initWithDictionary(platform::Dict{{"Path", image},
                                                  {"Preferred Block Size", 512},
                                                  {"Volume Start", static_cast<unsigned long long>(start)},
                                                  {"Volume Size In Sectors", static_cast<unsigned long long>(sectors)},
                                                  {"Volume Scan Type", 0},
                                                  {"Content", "Apple_HFS"},
                                                  {"Volume Name", "bench"},
                                                  {"device model", "-"},
                                                  {"device serial", "-"},
                                                  {"device revision", "-"}});
    if (!v) return nullptr;
    v->resetSigArraysAndBtreesAndOthers();
    v->setBlockSize(8);
    v->createRoot();
    return v;
}
