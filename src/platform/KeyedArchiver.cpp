#include "platform/KeyedArchiver.h"

#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Archives are kept well inside 32-bit sizes, which is what property-list
// readers (ours included) take.
constexpr std::uint64_t kMaxPayloadBytes = std::uint64_t(1) << 30;

const std::vector<std::string> kArrayChain = {"NSMutableArray", "NSArray", "NSObject"};
const std::vector<std::string> kDictChain = {"NSMutableDictionary", "NSDictionary", "NSObject"};

// Writes the binary property-list format directly. The property-list
// library's writer uniques objects through a fixed-size hash table and slows
// quadratically past a few tens of thousands of objects (100,000 records took
// half a minute); a keyed archive of a large scan has far more than that.
class BinaryPlistWriter {
public:
    using Ref = std::uint32_t;

    Ref boolean(bool b) { return add(Node{b ? kTrue : kFalse, 0, {}, {}}); }

    Ref integer(std::int64_t v) {
        const auto bits = static_cast<std::uint64_t>(v);
        if (auto it = ints_.find(bits); it != ints_.end()) return it->second;
        Ref r = add(Node{kInt, bits, {}, {}});
        ints_.emplace(bits, r);
        return r;
    }

    // Values above INT64_MAX take the format's 16-byte form, which readers
    // know as unsigned; everything else is an ordinary integer.
    Ref unsignedInteger(std::uint64_t v) {
        if (v <= std::uint64_t(INT64_MAX)) return integer(static_cast<std::int64_t>(v));
        return add(Node{kBigUnsigned, v, {}, {}});
    }

    Ref real(double d) {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return add(Node{kReal, bits, {}, {}});
    }

    // The text must already be valid UTF-8 without NUL.
    Ref string(const std::string& s) {
        if (auto it = strings_.find(s); it != strings_.end()) return it->second;
        Ref r = add(Node{kString, 0, s, {}});
        strings_.emplace(s, r);
        return r;
    }

    Ref data(const Data& d) { return add(Node{kData, 0, std::string(d.begin(), d.end()), {}}); }

    Ref uid(std::uint64_t v) {
        if (auto it = uids_.find(v); it != uids_.end()) return it->second;
        Ref r = add(Node{kUid, v, {}, {}});
        uids_.emplace(v, r);
        return r;
    }

    Ref array(std::vector<Ref> items) { return add(Node{kArray, 0, {}, std::move(items)}); }

    // keysThenValues holds n key refs followed by their n value refs.
    Ref dict(std::vector<Ref> keysThenValues) { return add(Node{kDict, 0, {}, std::move(keysThenValues)}); }

    Data finish(Ref top) const {
        const std::uint64_t count = nodes_.size();
        const unsigned refSize = widthFor(count ? count - 1 : 0);
        Data out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        std::vector<std::uint64_t> offsets;
        offsets.reserve(nodes_.size());
        for (const Node& n : nodes_) {
            offsets.push_back(out.size());
            write(out, n, refSize);
        }
        const std::uint64_t table = out.size();
        const unsigned offsetSize = widthFor(table);
        for (auto off : offsets)
            putBE(out, off, offsetSize);
        out.insert(out.end(), 6, 0); // unused, sort version
        out.push_back(std::uint8_t(offsetSize));
        out.push_back(std::uint8_t(refSize));
        putBE(out, count, 8);
        putBE(out, top, 8);
        putBE(out, table, 8);
        return out;
    }

    std::size_t size() const { return nodes_.size(); }

private:
    enum Kind : std::uint8_t { kFalse, kTrue, kInt, kBigUnsigned, kReal, kString, kData, kUid, kArray, kDict };

    struct Node {
        Kind kind;
        std::uint64_t bits;    // integers, reals (bit pattern), UIDs
        std::string payload;   // string text or data bytes
        std::vector<Ref> refs; // array items, or dictionary keys then values
    };

    Ref add(Node n) {
        nodes_.push_back(std::move(n));
        return Ref(nodes_.size() - 1);
    }

    static unsigned widthFor(std::uint64_t v) {
        if (v <= 0xFF) return 1;
        if (v <= 0xFFFF) return 2;
        if (v <= 0xFFFFFFFFu) return 4;
        return 8;
    }

    static void putBE(Data& out, std::uint64_t v, unsigned width) {
        for (unsigned i = width; i-- > 0;)
            out.push_back(std::uint8_t(v >> (8 * i)));
    }

    // An object marker with its count: in the low nibble when it fits, else
    // nibble 0xF followed by an integer object.
    static void putMarker(Data& out, std::uint8_t high, std::uint64_t count) {
        if (count < 15) {
            out.push_back(std::uint8_t(high | count));
            return;
        }
        out.push_back(std::uint8_t(high | 0x0F));
        const unsigned w = widthFor(count);
        out.push_back(std::uint8_t(0x10 | (w == 1 ? 0 : w == 2 ? 1 : w == 4 ? 2 : 3)));
        putBE(out, count, w);
    }

    // Decodes validated UTF-8 into UTF-16 code units.
    static std::vector<std::uint16_t> utf16(const std::string& s) {
        std::vector<std::uint16_t> units;
        units.reserve(s.size());
        const auto* p = reinterpret_cast<const unsigned char*>(s.data());
        for (std::size_t i = 0; i < s.size();) {
            std::uint32_t cp = p[i];
            std::size_t len = 1;
            if (cp >= 0xF0) {
                cp &= 0x07;
                len = 4;
            } else if (cp >= 0xE0) {
                cp &= 0x0F;
                len = 3;
            } else if (cp >= 0xC0) {
                cp &= 0x1F;
                len = 2;
            }
            for (std::size_t k = 1; k < len && i + k < s.size(); ++k)
                cp = (cp << 6) | (p[i + k] & 0x3F);
            i += len;
            if (cp >= 0x10000) {
                cp -= 0x10000;
                units.push_back(std::uint16_t(0xD800 | (cp >> 10)));
                units.push_back(std::uint16_t(0xDC00 | (cp & 0x3FF)));
            } else {
                units.push_back(std::uint16_t(cp));
            }
        }
        return units;
    }

    static void write(Data& out, const Node& n, unsigned refSize) {
        switch (n.kind) {
        case kFalse:
            out.push_back(0x08);
            return;
        case kTrue:
            out.push_back(0x09);
            return;
        case kInt: {
            // One-, two- and four-byte integers are unsigned in the format;
            // negative and large values take eight bytes, two's complement.
            const unsigned w = static_cast<std::int64_t>(n.bits) < 0 ? 8 : widthFor(n.bits);
            out.push_back(std::uint8_t(0x10 | (w == 1 ? 0 : w == 2 ? 1 : w == 4 ? 2 : 3)));
            putBE(out, n.bits, w);
            return;
        }
        case kBigUnsigned:
            out.push_back(0x14);
            putBE(out, 0, 8);
            putBE(out, n.bits, 8);
            return;
        case kReal:
            out.push_back(0x23);
            putBE(out, n.bits, 8);
            return;
        case kString: {
            bool ascii = true;
            for (unsigned char c : n.payload)
                ascii = ascii && c < 0x80;
            if (ascii) {
                putMarker(out, 0x50, n.payload.size());
                out.insert(out.end(), n.payload.begin(), n.payload.end());
            } else {
                auto units = utf16(n.payload);
                putMarker(out, 0x60, units.size());
                for (auto u : units)
                    putBE(out, u, 2);
            }
            return;
        }
        case kData:
            putMarker(out, 0x40, n.payload.size());
            out.insert(out.end(), n.payload.begin(), n.payload.end());
            return;
        case kUid: {
            const unsigned w = widthFor(n.bits);
            out.push_back(std::uint8_t(0x80 | (w - 1)));
            putBE(out, n.bits, w);
            return;
        }
        case kArray:
            putMarker(out, 0xA0, n.refs.size());
            for (Ref r : n.refs)
                putBE(out, r, refSize);
            return;
        case kDict:
            putMarker(out, 0xD0, n.refs.size() / 2);
            for (Ref r : n.refs)
                putBE(out, r, refSize);
            return;
        }
    }

    std::vector<Node> nodes_;
    std::unordered_map<std::string, Ref> strings_;
    std::unordered_map<std::uint64_t, Ref> uids_;
    std::unordered_map<std::uint64_t, Ref> ints_;
};

using Ref = BinaryPlistWriter::Ref;
constexpr Ref kNoRef = ~Ref(0);

} // namespace

struct KeyedArchiver::Impl {
    BinaryPlistWriter out;
    // The property-list object of each archive UID. A slot stays kNoRef while
    // the object's contents are written, so a container always precedes its
    // contents, as in the platform's archives.
    std::vector<Ref> slots;
    std::map<std::string, std::uint64_t, std::less<>> strings;
    std::map<std::string, std::uint64_t, std::less<>> classes;
    std::map<const Object*, std::uint64_t> archived;
    std::set<const Object*> inProgress;
    // Objects made on the fly inside encodeWithCoder would otherwise die
    // after their encodeObject call and let a later object reuse the address,
    // which the identity table would take for the same object.
    std::vector<ObjectPtr> retained;
    // The entries the encode calls fill, for the object being written.
    std::map<std::string, Ref>* record = nullptr;
    KeyedArchiver* self = nullptr; // handed to encodeWithCoder
    int depth = 0;
    std::uint64_t payloadBytes = 0;
    std::optional<std::string> error;

    void fail(std::string message) {
        if (!error) error = std::move(message);
    }

    std::uint64_t reserveSlot() {
        slots.push_back(kNoRef);
        return slots.size() - 1;
    }

    std::uint64_t append(Ref node) {
        slots.push_back(node);
        return slots.size() - 1;
    }

    bool countPayload(std::uint64_t bytes) {
        payloadBytes += bytes;
        if (payloadBytes > kMaxPayloadBytes) {
            fail("the archive would be larger than 1 GiB");
            return false;
        }
        return true;
    }

    // Keeps the nesting within what the unarchiver will read back.
    struct Nest {
        Impl& d;
        bool ok;
        explicit Nest(Impl& impl) : d(impl), ok(++impl.depth <= keyedarchive::kMaxNesting) {
            if (!ok) d.fail("values are nested more than 256 levels deep");
        }
        ~Nest() { --d.depth; }
    };

    // A record as a dictionary, its $class reference last.
    Ref recordNode(const std::map<std::string, Ref>& entries, std::uint64_t classUID) {
        std::vector<Ref> refs;
        refs.reserve(2 * entries.size() + 2);
        for (const auto& e : entries)
            refs.push_back(out.string(e.first));
        refs.push_back(out.string("$class"));
        for (const auto& e : entries)
            refs.push_back(e.second);
        refs.push_back(out.uid(classUID));
        return out.dict(std::move(refs));
    }

    std::uint64_t encodeString(const std::string& s) {
        if (!keyedarchive::isStorableText(s)) {
            fail("a string is not valid UTF-8 text or contains a NUL character");
            return 0;
        }
        if (auto it = strings.find(s); it != strings.end()) return it->second;
        if (!countPayload(s.size() + 8)) return 0;
        std::uint64_t uid = append(out.string(s));
        strings.emplace(s, uid);
        return uid;
    }

    std::uint64_t classRecord(const std::string& name, std::vector<std::string> chain) {
        if (auto it = classes.find(name); it != classes.end()) return it->second;
        if (chain.empty()) chain = {name, "NSObject"};
        if (!keyedarchive::isStorableText(name)) {
            fail("a class name is not valid UTF-8 text or contains a NUL character");
            return 0;
        }
        std::vector<Ref> list;
        for (const auto& c : chain) {
            if (!keyedarchive::isStorableText(c)) {
                fail("a class chain entry of " + name + " is not storable text");
                return 0;
            }
            if (!countPayload(c.size() + 8)) return 0;
            list.push_back(out.string(c));
        }
        Ref rec =
            out.dict({out.string("$classes"), out.string("$classname"), out.array(std::move(list)), out.string(name)});
        std::uint64_t uid = append(rec);
        classes.emplace(name, uid);
        return uid;
    }

    Ref uidArray(const std::vector<std::uint64_t>& uids) {
        std::vector<Ref> refs;
        refs.reserve(uids.size());
        for (auto u : uids)
            refs.push_back(out.uid(u));
        return out.array(std::move(refs));
    }

    std::uint64_t encodeArray(const Array& a) {
        std::uint64_t uid = reserveSlot();
        std::vector<std::uint64_t> items;
        items.reserve(a.size());
        for (const auto& v : a) {
            items.push_back(encodeValue(v));
            if (error) return 0;
        }
        if (!countPayload(a.size() * 8)) return 0;
        std::map<std::string, Ref> entries{{"NS.objects", uidArray(items)}};
        std::uint64_t cls = classRecord(kArrayChain.front(), kArrayChain);
        if (error) return 0;
        slots[uid] = recordNode(entries, cls);
        return uid;
    }

    std::uint64_t encodeDict(const Dict& dict) {
        std::uint64_t uid = reserveSlot();
        std::vector<std::uint64_t> keys, values;
        keys.reserve(dict.size());
        values.reserve(dict.size());
        for (const auto& [k, v] : dict) {
            {
                // Keys are objects one level down, like the values.
                Nest nest(*this);
                if (!nest.ok) return 0;
                keys.push_back(encodeString(k));
            }
            values.push_back(encodeValue(v));
            if (error) return 0;
        }
        if (!countPayload(dict.size() * 16)) return 0;
        std::map<std::string, Ref> entries{{"NS.keys", uidArray(keys)}, {"NS.objects", uidArray(values)}};
        std::uint64_t cls = classRecord(kDictChain.front(), kDictChain);
        if (error) return 0;
        slots[uid] = recordNode(entries, cls);
        return uid;
    }

    std::uint64_t encodeArchivable(const ObjectPtr& obj) {
        const Object* key = obj.get();
        if (auto it = archived.find(key); it != archived.end()) return it->second;
        if (inProgress.count(key)) {
            fail("an object of class " + obj->className() +
                 " contains itself; cyclic object graphs cannot be archived");
            return 0;
        }
        auto* archivable = dynamic_cast<const Archivable*>(key);
        if (!archivable) {
            fail("an object of class " + obj->className() + " is not archivable");
            return 0;
        }
        retained.push_back(obj);
        std::string name = archivable->className();
        std::vector<std::string> chain = archivable->classChain();

        std::uint64_t uid = reserveSlot();
        std::map<std::string, Ref> entries;
        auto* outer = record;
        record = &entries;
        inProgress.insert(key);
        try {
            archivable->encodeWithCoder(*self);
        } catch (const std::exception& e) {
            fail("encoding an object of class " + name + " failed: " + e.what());
        } catch (...) {
            fail("encoding an object of class " + name + " failed");
        }
        inProgress.erase(key);
        record = outer;
        if (error) return 0;

        std::uint64_t cls = classRecord(name, std::move(chain));
        if (error) return 0;
        slots[uid] = recordNode(entries, cls);
        archived.emplace(key, uid);
        return uid;
    }

    std::uint64_t encodeValue(const Value& v) {
        if (error) return 0;
        Nest nest(*this);
        if (!nest.ok) return 0;
        switch (v.type()) {
        case Value::Type::Null:
            return 0;
        case Value::Type::Bool:
            return append(out.boolean(v.boolValue()));
        case Value::Type::Int:
            return append(out.integer(v.int64Value()));
        case Value::Type::UInt:
            return append(out.unsignedInteger(v.uint64Value()));
        case Value::Type::Double:
            return append(out.real(v.doubleValue()));
        case Value::Type::String:
            return encodeString(v.stringValue());
        case Value::Type::Data:
            if (!countPayload(v.dataValue().size() + 8)) return 0;
            return append(out.data(v.dataValue()));
        case Value::Type::Array:
            return encodeArray(v.arrayValue());
        case Value::Type::Dict:
            return encodeDict(v.dictValue());
        case Value::Type::Object:
            return encodeArchivable(v.object());
        }
        fail("a value of an unknown kind cannot be archived");
        return 0;
    }

    void setEntry(const std::string& key, Ref node) {
        if (!keyedarchive::isStorableText(key)) {
            fail("an entry key is not valid UTF-8 text or contains a NUL character");
            return;
        }
        if (!countPayload(key.size() + 16)) return;
        (*record)[keyedarchive::escapedKey(key)] = node;
    }

    bool canEncode() const { return !error && record; }

    std::optional<Data> finish(std::uint64_t rootUID, const KeyedArchiver::TopIntegers& topIntegers) {
        std::vector<Ref> list;
        list.reserve(slots.size());
        for (Ref r : slots) {
            if (r == kNoRef) {
                fail("internal error: an object slot was never filled");
                return std::nullopt;
            }
            list.push_back(r);
        }
        Ref objects = out.array(std::move(list));
        std::vector<Ref> topKeys{out.string("root")}, topValues{out.uid(rootUID)};
        for (const auto& [key, value] : topIntegers) {
            if (key == "root" || !keyedarchive::isStorableText(key)) {
                fail("a top-level key is \"root\", or is not valid UTF-8 text, or contains a NUL character");
                return std::nullopt;
            }
            topKeys.push_back(out.string(key));
            topValues.push_back(out.integer(value));
        }
        topKeys.insert(topKeys.end(), topValues.begin(), topValues.end());
        Ref top = out.dict(std::move(topKeys));
        Ref archive =
            out.dict({out.string("$archiver"), out.string("$top"), out.string("$objects"), out.string("$version"),
                      out.string("NSKeyedArchiver"), top, objects, out.integer(100000)});
        if (out.size() > 0x7FFFFFFF) {
            fail("the archive has too many objects");
            return std::nullopt;
        }
        return out.finish(archive);
    }
};

KeyedArchiver::KeyedArchiver() : d_(std::make_unique<Impl>()) {
    d_->self = this;
}
KeyedArchiver::~KeyedArchiver() = default;

std::optional<Data> KeyedArchiver::archivedDataWithRootObject(const Value& root, std::string* error) {
    return archivedDataWithRootObject(root, error, {});
}

std::optional<Data> KeyedArchiver::archivedDataWithRootObject(const Value& root, std::string* error,
                                                              const TopIntegers& topIntegers) {
    std::string why;
    try {
        KeyedArchiver coder;
        Impl& d = *coder.d_;
        d.append(d.out.string("$null")); // UID 0 is nil
        std::uint64_t rootUID = d.encodeValue(root);
        if (!d.error) {
            if (auto out = d.finish(rootUID, topIntegers)) return out;
        }
        why = d.error.value_or("the archive could not be written");
    } catch (const std::bad_alloc&) {
        why = "out of memory while archiving";
    } catch (const std::exception& e) {
        why = std::string("archiving failed: ") + e.what();
    } catch (...) {
        why = "archiving failed";
    }
    if (error) *error = std::move(why);
    return std::nullopt;
}

void KeyedArchiver::encodeInt(std::int32_t v, const std::string& key) {
    encodeInt64(v, key);
}

void KeyedArchiver::encodeInt32(std::int32_t v, const std::string& key) {
    encodeInt64(v, key);
}

void KeyedArchiver::encodeInt64(std::int64_t v, const std::string& key) {
    if (d_->canEncode()) d_->setEntry(key, d_->out.integer(v));
}

void KeyedArchiver::encodeBool(bool v, const std::string& key) {
    if (d_->canEncode()) d_->setEntry(key, d_->out.boolean(v));
}

void KeyedArchiver::encodeFloat(float v, const std::string& key) {
    if (d_->canEncode()) d_->setEntry(key, d_->out.real(static_cast<double>(v)));
}

void KeyedArchiver::encodeDouble(double v, const std::string& key) {
    if (d_->canEncode()) d_->setEntry(key, d_->out.real(v));
}

void KeyedArchiver::encodeObject(const Value& v, const std::string& key) {
    Impl& d = *d_;
    if (!d.canEncode()) return;
    std::uint64_t uid = d.encodeValue(v);
    if (d.error) return;
    d.setEntry(key, d.out.uid(uid));
}

} // namespace platform
