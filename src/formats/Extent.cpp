#include "formats/Extent.h"

#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"

Extent::~Extent() = default;

std::string Extent::description() const {
    return "<Extent startBlock " + std::to_string(startBlock_) + " blockCount " + std::to_string(blockCount_) + ">";
}

void Extent::encodeWithCoder(platform::KeyedArchiver& coder) const {
    coder.encodeInt32(static_cast<std::int32_t>(startBlock_), "startBlock");
    coder.encodeInt32(static_cast<std::int32_t>(blockCount_), "blockCount");
}

std::shared_ptr<Extent> Extent::initWithCoder(platform::KeyedUnarchiver& coder) {
    auto e = std::make_shared<Extent>();
    e->setStartBlock(static_cast<std::uint32_t>(coder.decodeInt32("startBlock")));
    e->setBlockCount(static_cast<std::uint32_t>(coder.decodeInt32("blockCount")));
    return e;
}

void Extent::registerArchiveClass() {
    platform::KeyedUnarchiver::registerClass(
        "Extent", [](platform::KeyedUnarchiver& coder) -> platform::ObjectPtr { return initWithCoder(coder); });
}
