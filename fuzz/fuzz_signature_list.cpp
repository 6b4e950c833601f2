// Feeds arbitrary bytes to the reading of a file-type list: the keyed
// archive of Sig and SigNode records the user's list files hold. Whatever is
// read is counted as the list screen counts it and must archive and read
// back again.

#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"
#include "signatures/SigNode.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool registered = (SigNode::registerArchiveClass(), true);
    (void)registered;
    const platform::Data bytes(data, data + size);
    auto value = platform::KeyedUnarchiver::unarchiveObjectWithData(bytes);
    if (!value || !value->isArray()) return 0;
    std::uint64_t nodes = 0;
    for (const platform::Value& v : value->arrayValue())
        if (auto node = v.isObject() ? std::dynamic_pointer_cast<SigNode>(v.object()) : nullptr) {
            nodes += node->childrenCount() + node->childrenSelected();
            if (node->sig()) nodes += node->sig()->sizeLimitBytes() != 0;
        }
    if (auto again = platform::KeyedArchiver::archivedDataWithRootObject(*value))
        if (!platform::KeyedUnarchiver::unarchiveObjectWithData(*again)) __builtin_trap();
    return static_cast<int>(nodes & 0);
}
