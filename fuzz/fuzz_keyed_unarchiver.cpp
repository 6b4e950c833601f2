// Feeds arbitrary bytes to the keyed unarchiver. Two small classes are
// registered so the fuzzer also reaches the typed decode calls and object
// references of archivable records, not only the foundation types.

#include "platform/Archivable.h"
#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

using namespace platform;

class FuzzNode : public Archivable {
public:
    std::int32_t count = 0;
    std::int64_t total = 0;
    bool flag = false;
    double ratio = 0;
    float scale = 0;
    Value payload;
    Value children;

    std::string className() const override { return "DRFuzzNode"; }
    void encodeWithCoder(KeyedArchiver& c) const override {
        c.encodeInt(count, "count");
        c.encodeInt64(total, "total");
        c.encodeBool(flag, "flag");
        c.encodeDouble(ratio, "ratio");
        c.encodeFloat(scale, "scale");
        c.encodeObject(payload, "payload");
        c.encodeObject(children, "children");
    }
    static ObjectPtr decode(KeyedUnarchiver& c) {
        auto n = std::make_shared<FuzzNode>();
        n->count = c.decodeInt32("count");
        n->total = c.decodeInt64("total");
        n->flag = c.decodeBool("flag");
        n->ratio = c.decodeDouble("ratio");
        n->scale = c.decodeFloat("scale");
        n->payload = c.decodeObject("payload");
        n->children = c.decodeObject("children");
        if (c.containsValueForKey("reject")) c.failWithError("rejected");
        return n;
    }
};

class FuzzLeaf : public Archivable {
public:
    std::string name;
    std::string className() const override { return "DRFuzzLeaf"; }
    void encodeWithCoder(KeyedArchiver& c) const override { c.encodeObject(name, "name"); }
    static ObjectPtr decode(KeyedUnarchiver& c) {
        auto l = std::make_shared<FuzzLeaf>();
        l->name = c.decodeObject("name").stringValue();
        (void)c.decodeInt("n");
        return l;
    }
};

const KeyedUnarchiver::ClassTable& fuzzClasses() {
    static const KeyedUnarchiver::ClassTable table = {
        {"DRFuzzNode", &FuzzNode::decode},
        {"DRFuzzLeaf", &FuzzLeaf::decode},
    };
    return table;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Data bytes(data, data + size);
    std::string error;
    auto value = KeyedUnarchiver::unarchiveObjectWithData(bytes, &error, fuzzClasses());
    if (value) {
        // Whatever was read must archive again (unless it holds text the
        // format cannot carry) and what we write we must be able to read.
        if (auto again = KeyedArchiver::archivedDataWithRootObject(*value)) {
            if (!KeyedUnarchiver::unarchiveObjectWithData(*again, &error, fuzzClasses())) __builtin_trap();
        }
    }
    return 0;
}
