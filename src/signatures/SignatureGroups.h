#pragma once

// Before a signature search the marked file types are sorted into groups, one
// per pair of header offset and header length, each with a lookup tree keyed
// by the packed header. The search then costs one tree lookup per group and
// sector, however many types are marked.

#include "platform/ByteView.h"
#include "platform/Value.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

class BTreeTableClassSig;
class ItemTypeSig;
class SignatureSearchState;

class SignatureGroups {
public:
    // Builds the search's btreeSigArray from its sigArray (SigNode objects in
    // list order): groups in the order their pair first appears, types with
    // the same header chained on the first of them. Appends to what is there,
    // so the per-scan reset is what makes a search start afresh.
    static void populateBTreeSigArray(SignatureSearchState& search);
    // The same from the given SigNodes (a carving groups only the types its
    // size calculators do not measure).
    static void populateBTreeSigArray(SignatureSearchState& search, const platform::Array& signatures);

    // The key a sector carries for a group: its header length of bytes at its
    // offset, first byte most significant. None when those bytes do not lie
    // wholly inside the bytes given, or the record is not a usable group.
    static std::optional<std::uint64_t> keyOfGroup(const platform::Dict& group, platform::ByteView sector);
    // The same for a group's offset and header length taken out of its record
    // once (a search asks for every sector).
    static std::optional<std::uint64_t> keyAt(platform::ByteView sector, std::size_t offset, std::size_t length);

    // A group record's fields, taken out once for a search that asks for
    // every sector; none when the record is not a usable group.
    struct Group {
        std::size_t offset = 0;
        std::size_t length = 0;
        std::shared_ptr<BTreeTableClassSig> tree;
    };
    static std::optional<Group> groupOf(const platform::Dict& group);

    // The stored item of the group for the key the sector carries, or null.
    // Its record and that record's extraExts are the candidates.
    static ItemTypeSig* retrieveKeyField(const platform::Dict& group, platform::ByteView sector);
};
