#include "session/SessionFileItems.h"

#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"
#include "volume/Volume.h"

using platform::Value;

bool SessionFileItems::writeArchive(SessionFileOutput& out, const Value& value, std::string* error,
                                    const TopIntegers& topIntegers) {
    std::string why;
    const std::optional<platform::Data> data =
        platform::KeyedArchiver::archivedDataWithRootObject(value, &why, topIntegers);
    if (!data) {
        if (error) *error = why;
        return false;
    }
    if (data->size() > UINT32_MAX) {
        if (error) *error = "an archive is too large for the file";
        return false;
    }
    return out.writeBE32(static_cast<std::uint32_t>(data->size())) && out.write(data->data(), data->size());
}

std::optional<Value> SessionFileItems::readArchive(SessionFileInput& in, std::uint64_t limit,
                                                   TopIntegers* topIntegers) {
    std::uint32_t length = 0;
    if (!in.readBE32(length) || length > in.left() || in.position() + length > limit) return std::nullopt;
    platform::Data bytes(length);
    if (!in.read(bytes.data(), bytes.size())) return std::nullopt;
    static const platform::KeyedUnarchiver::ClassTable classes = {
        {"Volume", [](platform::KeyedUnarchiver& c) -> platform::ObjectPtr { return Volume::initWithCoder(c); }}};
    return platform::KeyedUnarchiver::unarchiveObjectWithData(bytes, nullptr, classes, topIntegers);
}

std::int32_t SessionFileItems::inRange(std::uint32_t v, std::int32_t low, std::int32_t high) {
    const auto s = static_cast<std::int32_t>(v);
    return s >= low && s <= high ? s : -1;
}

namespace {

int partitionListCount(std::int32_t rawSearchMode, std::int32_t origin) {
    if (rawSearchMode != 4 && rawSearchMode != 5) return 0;
    return origin == 1 ? 2 : origin == 0 ? 1 : 0;
}

} // namespace

bool SessionFileItems::writePartitionLists(SessionFileOutput& out, std::int32_t rawSearchMode, std::int32_t origin,
                                           const platform::Array& list, const platform::Array& scanList,
                                           std::string* error) {
    const int lists = partitionListCount(rawSearchMode, origin);
    for (int i = 0; i < lists; ++i)
        if (!writeArchive(out, Value(i == 0 ? list : scanList), error)) return false;
    return true;
}

bool SessionFileItems::readPartitionLists(SessionFileInput& in, std::int32_t rawSearchMode, std::int32_t origin,
                                          platform::Array& list, platform::Array& scanList) {
    const int lists = partitionListCount(rawSearchMode, origin);
    for (int i = 0; i < lists; ++i) {
        const std::optional<Value> read = readArchive(in);
        if (!read || !read->isArray()) return false;
        (i == 0 ? list : scanList) = read->arrayValue();
    }
    return true;
}
