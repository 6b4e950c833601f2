#include "signatures/SignatureGroups.h"

#include "signatures/BTreeTableClassSig.h"
#include "signatures/Sig.h"
#include "signatures/SigNode.h"
#include "signatures/SignatureSearchState.h"

#include <memory>

namespace {

constexpr const char* kOffsetKey = "Signature Offset";
constexpr const char* kLengthKey = "Signature Header Length";
constexpr const char* kTreeKey = "Signature BTree";

// Packed headers are at most eight bytes wide.
constexpr std::uint8_t kMaxHeaderLength = 8;

void insertInto(BTreeTableClassSig& tree, Sig& sig) {
    tree.insert(std::make_unique<ItemTypeSig>(sig.header, &sig));
}

platform::Dict newGroup(Sig& sig) {
    auto tree = std::make_shared<BTreeTableClassSig>();
    insertInto(*tree, sig);
    platform::Dict group;
    group.set(kOffsetKey, static_cast<int>(sig.offset));
    group.set(kLengthKey, static_cast<int>(sig.headerLength));
    group.set(kTreeKey, tree);
    return group;
}

} // namespace

void SignatureGroups::populateBTreeSigArray(SignatureSearchState& search) {
    populateBTreeSigArray(search, search.sigArray);
}

void SignatureGroups::populateBTreeSigArray(SignatureSearchState& search, const platform::Array& signatures) {
    for (const platform::Value& entry : signatures) {
        const auto node = entry.objectAs<SigNode>();
        if (!node || !node->sig()) continue;
        Sig& sig = *node->sig();
        // At most one group matches: one is made only for a pair that has none.
        bool matched = false;
        for (platform::Value& groupValue : search.btreeSigArray) {
            const platform::Dict* group = groupValue.dict();
            if (group == nullptr) continue;
            if (static_cast<std::uint16_t>(group->get(kOffsetKey).intValue()) != sig.offset ||
                static_cast<std::uint8_t>(group->get(kLengthKey).intValue()) != sig.headerLength)
                continue;
            if (const auto tree = group->get(kTreeKey).objectAs<BTreeTableClassSig>()) {
                insertInto(*tree, sig);
                matched = true;
            }
        }
        if (!matched) search.btreeSigArray.emplace_back(newGroup(sig));
    }
}

std::optional<std::uint64_t> SignatureGroups::keyOfGroup(const platform::Dict& group, platform::ByteView sector) {
    const std::int32_t offset = group.get(kOffsetKey).intValue();
    const std::int32_t length = group.get(kLengthKey).intValue();
    if (offset < 0 || length < 0) return std::nullopt;
    return keyAt(sector, static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

std::optional<std::uint64_t> SignatureGroups::keyAt(platform::ByteView sector, std::size_t offset, std::size_t length) {
    if (length < 1 || length > kMaxHeaderLength || !sector.has(offset, length)) return std::nullopt;
    // Eight bytes at once where the view holds them: a search asks for every
    // group of every sector.
    if (sector.has(offset, 8)) return sector.be64(offset) >> (8 * (8 - length));
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < length; ++i)
        key = (key << 8) | sector.u8(offset + i);
    return key;
}

std::optional<SignatureGroups::Group> SignatureGroups::groupOf(const platform::Dict& group) {
    const std::int32_t offset = group.get(kOffsetKey).intValue();
    const std::int32_t length = group.get(kLengthKey).intValue();
    auto tree = group.get(kTreeKey).objectAs<BTreeTableClassSig>();
    if (offset < 0 || length < 1 || length > kMaxHeaderLength || !tree) return std::nullopt;
    return Group{static_cast<std::size_t>(offset), static_cast<std::size_t>(length), std::move(tree)};
}

ItemTypeSig* SignatureGroups::retrieveKeyField(const platform::Dict& group, platform::ByteView sector) {
    const std::optional<std::uint64_t> key = keyOfGroup(group, sector);
    if (!key) return nullptr;
    const auto tree = group.get(kTreeKey).objectAs<BTreeTableClassSig>();
    return tree ? tree->retrieveKeyField(*key) : nullptr;
}
