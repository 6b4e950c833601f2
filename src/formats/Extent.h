#pragma once

// One HFS+ extent: a run of contiguous allocation blocks. Ordered lists of
// them say where the special files of a volume lie (catalog, extents-overflow
// and allocation files) and carry what an extents-overflow lookup finds. It
// is a plain value and owns nothing. No archive the program writes holds an
// Extent, but it stays archivable so the lists it lives in can be.

#include "platform/Archivable.h"

#include <cstdint>
#include <memory>
#include <string>

class Extent : public platform::Archivable {
public:
    // Both fields 0.
    Extent() = default;
    Extent(std::uint32_t startBlock, std::uint32_t blockCount) : startBlock_(startBlock), blockCount_(blockCount) {}
    Extent(const Extent&) = default;
    Extent& operator=(const Extent&) = default;
    ~Extent() override;

    std::uint32_t startBlock() const { return startBlock_; }
    std::uint32_t blockCount() const { return blockCount_; }
    void setStartBlock(std::uint32_t startBlock) { startBlock_ = startBlock; }
    void setBlockCount(std::uint32_t blockCount) { blockCount_ = blockCount; }

    bool operator==(const Extent& o) const { return startBlock_ == o.startBlock_ && blockCount_ == o.blockCount_; }

    // A new, independent Extent with the same two fields.
    std::shared_ptr<Extent> copyWithZone() const { return std::make_shared<Extent>(*this); }

    // Keyed archiving: "startBlock" then "blockCount", each a 32-bit integer
    // holding the unsigned value's bits, so every value comes back unchanged.
    std::string className() const override { return "Extent"; }
    std::string description() const override;
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    // A missing key reads as 0.
    static std::shared_ptr<Extent> initWithCoder(platform::KeyedUnarchiver& coder);
    // Makes "Extent" readable by KeyedUnarchiver; safe to call more than once.
    static void registerArchiveClass();

private:
    std::uint32_t startBlock_ = 0;
    std::uint32_t blockCount_ = 0;
};
