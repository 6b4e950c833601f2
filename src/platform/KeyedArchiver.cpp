#include "platform/KeyedArchiver.h"

#include <plist/plist.h>

#include <cstdlib>
#include <exception>
#include <map>
#include <new>
#include <set>
#include <utility>
#include <vector>

namespace platform {

namespace {

struct PlistFree {
    void operator()(void* node) const {
        if (node) plist_free(static_cast<plist_t>(node));
    }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// The property-list library reports its output length in 32 bits; staying
// far below that keeps the writer out of its overflow territory.
constexpr std::uint64_t kMaxPayloadBytes = std::uint64_t(1) << 30;

const std::vector<std::string> kArrayChain = {"NSMutableArray", "NSArray", "NSObject"};
const std::vector<std::string> kDictChain = {"NSMutableDictionary", "NSDictionary", "NSObject"};

} // namespace

struct KeyedArchiver::Impl {
    // $objects, indexed by UID. A slot is reserved (null) while the object's
    // contents are written, so a container always precedes its contents, as
    // in the platform's archives.
    std::vector<PlistPtr> objects;
    std::map<std::string, std::uint64_t, std::less<>> strings;
    std::map<std::string, std::uint64_t, std::less<>> classes;
    std::map<const Object*, std::uint64_t> archived;
    std::set<const Object*> inProgress;
    // Objects made on the fly inside encodeWithCoder would otherwise die
    // after their encodeObject call and let a later object reuse the address,
    // which the identity table would take for the same object.
    std::vector<ObjectPtr> retained;
    plist_t record = nullptr; // the record the encode calls fill
    KeyedArchiver* self = nullptr; // handed to encodeWithCoder
    int depth = 0;
    std::uint64_t payloadBytes = 0;
    std::optional<std::string> error;

    void fail(std::string message) {
        if (!error) error = std::move(message);
    }

    std::uint64_t append(plist_t node) {
        objects.emplace_back(node);
        return objects.size() - 1;
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

    std::uint64_t encodeString(const std::string& s) {
        if (!keyedarchive::isStorableText(s)) {
            fail("a string is not valid UTF-8 text or contains a NUL character");
            return 0;
        }
        if (auto it = strings.find(s); it != strings.end()) return it->second;
        if (!countPayload(s.size() + 8)) return 0;
        std::uint64_t uid = append(plist_new_string(s.c_str()));
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
        PlistPtr rec(plist_new_dict());
        PlistPtr list(plist_new_array());
        for (const auto& c : chain) {
            if (!keyedarchive::isStorableText(c)) {
                fail("a class chain entry of " + name + " is not storable text");
                return 0;
            }
            plist_array_append_item(static_cast<plist_t>(list.get()), plist_new_string(c.c_str()));
        }
        plist_dict_set_item(static_cast<plist_t>(rec.get()), "$classes",
                            static_cast<plist_t>(list.release()));
        plist_dict_set_item(static_cast<plist_t>(rec.get()), "$classname",
                            plist_new_string(name.c_str()));
        std::uint64_t uid = append(static_cast<plist_t>(rec.release()));
        classes.emplace(name, uid);
        return uid;
    }

    static plist_t uidArray(const std::vector<std::uint64_t>& uids) {
        plist_t a = plist_new_array();
        for (auto u : uids) plist_array_append_item(a, plist_new_uid(u));
        return a;
    }

    std::uint64_t encodeArray(const Array& a) {
        std::uint64_t uid = append(nullptr);
        std::vector<std::uint64_t> items;
        items.reserve(a.size());
        for (const auto& v : a) {
            items.push_back(encodeValue(v));
            if (error) return 0;
        }
        if (!countPayload(a.size() * 8)) return 0;
        PlistPtr rec(plist_new_dict());
        plist_dict_set_item(static_cast<plist_t>(rec.get()), "NS.objects", uidArray(items));
        std::uint64_t cls = classRecord(kArrayChain.front(), kArrayChain);
        if (error) return 0;
        plist_dict_set_item(static_cast<plist_t>(rec.get()), "$class", plist_new_uid(cls));
        objects[uid].reset(rec.release());
        return uid;
    }

    std::uint64_t encodeDict(const Dict& dict) {
        std::uint64_t uid = append(nullptr);
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
        PlistPtr rec(plist_new_dict());
        plist_dict_set_item(static_cast<plist_t>(rec.get()), "NS.keys", uidArray(keys));
        plist_dict_set_item(static_cast<plist_t>(rec.get()), "NS.objects", uidArray(values));
        std::uint64_t cls = classRecord(kDictChain.front(), kDictChain);
        if (error) return 0;
        plist_dict_set_item(static_cast<plist_t>(rec.get()), "$class", plist_new_uid(cls));
        objects[uid].reset(rec.release());
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

        std::uint64_t uid = append(nullptr);
        PlistPtr rec(plist_new_dict());
        plist_t outer = record;
        record = static_cast<plist_t>(rec.get());
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
        plist_dict_set_item(static_cast<plist_t>(rec.get()), "$class", plist_new_uid(cls));
        objects[uid].reset(rec.release());
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
            return append(plist_new_bool(v.boolValue() ? 1 : 0));
        case Value::Type::Int:
            // Integers are stored as their 64-bit two's-complement pattern,
            // which is how the binary format writes a negative number.
            return append(plist_new_uint(static_cast<std::uint64_t>(v.int64Value())));
        case Value::Type::UInt:
            return append(plist_new_uint(v.uint64Value()));
        case Value::Type::Double:
            return append(plist_new_real(v.doubleValue()));
        case Value::Type::String:
            return encodeString(v.stringValue());
        case Value::Type::Data: {
            const Data& bytes = v.dataValue();
            if (!countPayload(bytes.size() + 8)) return 0;
            static const char kNoBytes = 0;
            const char* p = bytes.empty() ? &kNoBytes : reinterpret_cast<const char*>(bytes.data());
            return append(plist_new_data(p, bytes.size()));
        }
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


    void setEntry(const std::string& key, plist_t node) {
        PlistPtr owned(node);
        if (error || !record) return;
        if (!keyedarchive::isStorableText(key)) {
            fail("an entry key is not valid UTF-8 text or contains a NUL character");
            return;
        }
        if (!countPayload(key.size() + 16)) return;
        std::string stored = keyedarchive::escapedKey(key);
        plist_dict_set_item(record, stored.c_str(), static_cast<plist_t>(owned.release()));
    }

    std::optional<Data> finish(std::uint64_t rootUID) {
        PlistPtr top(plist_new_dict());
        plist_t t = static_cast<plist_t>(top.get());
        plist_dict_set_item(t, "$archiver", plist_new_string("NSKeyedArchiver"));
        plist_dict_set_item(t, "$version", plist_new_uint(100000));
        plist_t topDict = plist_new_dict();
        plist_dict_set_item(topDict, "root", plist_new_uid(rootUID));
        plist_dict_set_item(t, "$top", topDict);
        plist_t list = plist_new_array();
        plist_dict_set_item(t, "$objects", list);
        for (auto& slot : objects) {
            if (!slot) {
                fail("internal error: an object slot was never filled");
                return std::nullopt;
            }
            plist_array_append_item(list, static_cast<plist_t>(slot.release()));
        }
        char* bin = nullptr; // the library refuses to write into a non-null pointer
        std::uint32_t length = 0;
        plist_to_bin(t, &bin, &length);
        if (!bin) {
            fail("the property-list library could not write the archive");
            return std::nullopt;
        }
        std::unique_ptr<char, decltype(&std::free)> owned(bin, &std::free);
        return Data(reinterpret_cast<const std::uint8_t*>(bin),
                    reinterpret_cast<const std::uint8_t*>(bin) + length);
    }
};

KeyedArchiver::KeyedArchiver() : d_(std::make_unique<Impl>()) {
    d_->self = this;
}
KeyedArchiver::~KeyedArchiver() = default;

std::optional<Data> KeyedArchiver::archivedDataWithRootObject(const Value& root,
                                                              std::string* error) {
    std::string why;
    try {
        KeyedArchiver coder;
        Impl& d = *coder.d_;
        d.append(plist_new_string("$null")); // UID 0 is nil
        std::uint64_t rootUID = d.encodeValue(root);
        if (!d.error) {
            if (auto out = d.finish(rootUID)) return out;
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
    d_->setEntry(key, plist_new_uint(static_cast<std::uint64_t>(v)));
}

void KeyedArchiver::encodeBool(bool v, const std::string& key) {
    d_->setEntry(key, plist_new_bool(v ? 1 : 0));
}

void KeyedArchiver::encodeFloat(float v, const std::string& key) {
    d_->setEntry(key, plist_new_real(static_cast<double>(v)));
}

void KeyedArchiver::encodeDouble(double v, const std::string& key) {
    d_->setEntry(key, plist_new_real(v));
}

void KeyedArchiver::encodeObject(const Value& v, const std::string& key) {
    Impl& d = *d_;
    if (d.error || !d.record) return;
    std::uint64_t uid = d.encodeValue(v);
    if (d.error) return;
    d.setEntry(key, plist_new_uid(uid));
}

} // namespace platform
