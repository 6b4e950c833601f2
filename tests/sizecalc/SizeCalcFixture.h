#pragma once

// Set-up the size-calculator tests share: a sample file made by a real tool,
// written at a known sector of an otherwise empty image, and the carving
// chain of chosen formats offered that sector through a run context over
// the image.

#include "sizecalc/CarvingContext.h"
#include "sizecalc/SizeCalculatorChain.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class SizeCalcFixture : public testsupport::ScanFixture {
protected:
    // A run context over the image (kept until the test ends).
    CarvingContext& contextOver(const std::filesystem::path& image);
    // The sector's first 25 bytes, as the carving hands them over.
    std::vector<std::uint8_t> leadingBytes(const std::filesystem::path& image, std::uint64_t sector);
    // The chain of the given formats over the image, offered the sector.
    SizeCalculatorChain::Hit measureAt(const std::filesystem::path& image, std::uint64_t sector,
                                       std::initializer_list<std::string_view> keys);
    // The same with every format of the carving table, the scan stopped if
    // asked; the run's context is contexts.back().
    SizeCalculatorChain::Hit measureWithEveryFormat(const std::filesystem::path& image, std::uint64_t sector,
                                                    bool stopped = false);
    // Those of the keys whose calculator, asked on its own, accepts the
    // sector.
    std::vector<std::string_view> acceptedBy(const std::filesystem::path& image, std::uint64_t sector,
                                             std::span<const std::string_view> keys);

    // Reads of the volumes made from here on go through it, when set.
    const testsupport::FailingReads* failing = nullptr;
    std::vector<std::unique_ptr<CarvingContext>> contexts;
    std::vector<std::unique_ptr<SizeCalculatorChain>> chains;
};
