// Feeds arbitrary bytes to the reading of a file-type list, as the list
// loader reads the user's list files. Whatever it accepts is linked and
// counted as the list screen counts it, and must archive and read back again.

#include "platform/KeyedArchiver.h"
#include "signatures/SigLists.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto list = SigLists::decodeList(std::vector<std::uint8_t>(data, data + size));
    if (!list) return 0;
    SigLists::linkTree(*list);
    platform::Array root;
    std::uint64_t counted = 0;
    for (const auto& category : *list) {
        counted += category->childrenCount() + category->childrenSelected();
        for (const auto& child : category->children())
            counted += child->sig()->sizeLimitBytes() != 0;
        root.emplace_back(category);
    }
    auto again = platform::KeyedArchiver::archivedDataWithRootObject(root);
    if (again && !SigLists::decodeList(*again)) __builtin_trap();
    return static_cast<int>(counted & 0);
}
