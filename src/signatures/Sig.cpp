#include "signatures/Sig.h"

#include "platform/CheckedMath.h"
#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"

Sig::~Sig() = default;

void Sig::addToExtraExts(const Sig& sig) {
    extraExts_.push_back(sig.mutableCopy());
}

std::shared_ptr<Sig> Sig::mutableCopy() const {
    auto copy = std::make_shared<Sig>();
    copy->preInstalled = preInstalled;
    copy->categoryID = categoryID;
    copy->category = category;
    copy->typeOfFile = typeOfFile;
    copy->software = software;
    copy->extension = extension;
    copy->offset = offset;
    copy->headerLength = headerLength;
    copy->header = header;
    copy->defaultSize = defaultSize;
    copy->userSize = userSize;
    copy->foundSize = foundSize;
    copy->skipSize = skipSize;
    copy->skipFileSize = skipFileSize;
    return copy;
}

std::uint64_t Sig::sizeLimitBytes() const {
    // userSize comes from the user's list file and may be anything.
    const std::uint64_t megabytes = userSize != 0 ? userSize : defaultSize;
    return platform::saturatingMulAdd(0, megabytes, std::uint64_t{1} << 20);
}

void Sig::encodeWithCoder(platform::KeyedArchiver& coder) const {
    coder.encodeBool(preInstalled, "preInstalled");
    coder.encodeBool(skipFileSize, "skipFileSize");
    coder.encodeInt(categoryID, "categoryID");
    coder.encodeObject(category, "category");
    coder.encodeInt32(static_cast<std::int32_t>(typeOfFile), "typeOfFile");
    coder.encodeObject(software, "software");
    coder.encodeObject(extension, "extension");
    coder.encodeInt(offset, "offset");
    coder.encodeInt(headerLength, "headerLength");
    coder.encodeInt64(static_cast<std::int64_t>(header), "header");
    coder.encodeInt32(static_cast<std::int32_t>(defaultSize), "defaultSize");
    coder.encodeInt64(static_cast<std::int64_t>(userSize), "userSize");
    coder.encodeInt64(static_cast<std::int64_t>(foundSize), "foundSize");
    coder.encodeInt64(static_cast<std::int64_t>(skipSize), "skipSize");
}

std::shared_ptr<Sig> Sig::initWithCoder(platform::KeyedUnarchiver& coder) {
    auto s = std::make_shared<Sig>();
    s->preInstalled = coder.decodeBool("preInstalled");
    s->skipFileSize = coder.decodeBool("skipFileSize");
    s->categoryID = static_cast<std::uint8_t>(coder.decodeInt("categoryID"));
    s->category = coder.decodeObject("category").stringValue();
    s->typeOfFile = static_cast<std::uint32_t>(coder.decodeInt32("typeOfFile"));
    s->software = coder.decodeObject("software").stringValue();
    s->extension = coder.decodeObject("extension").stringValue();
    s->offset = static_cast<std::uint16_t>(coder.decodeInt("offset"));
    s->headerLength = static_cast<std::uint8_t>(coder.decodeInt("headerLength"));
    s->header = static_cast<std::uint64_t>(coder.decodeInt64("header"));
    s->defaultSize = static_cast<std::uint32_t>(coder.decodeInt32("defaultSize"));
    s->userSize = static_cast<std::uint64_t>(coder.decodeInt64("userSize"));
    s->foundSize = static_cast<std::uint64_t>(coder.decodeInt64("foundSize"));
    s->skipSize = static_cast<std::uint64_t>(coder.decodeInt64("skipSize"));
    return s;
}

void Sig::registerArchiveClass() {
    platform::KeyedUnarchiver::registerClass(
        "Sig", [](platform::KeyedUnarchiver& coder) -> platform::ObjectPtr { return initWithCoder(coder); });
}
