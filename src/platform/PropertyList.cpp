#include "platform/PropertyList.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <plist/plist.h>

namespace platform {

namespace {
constexpr int kMaxDepth = 128;

std::optional<Value> toValue(plist_t node, int depth) {
    if (!node || depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return Value(b != 0);
    }
    case PLIST_UINT: {
        std::uint64_t u = 0;
        plist_get_uint_val(node, &u);
        // The binary form stores signed 64-bit integers; values with the top
        // bit set are read back as negative numbers.
        return Value(static_cast<long long>(u));
    }
    case PLIST_UID: {
        std::uint64_t u = 0;
        plist_get_uid_val(node, &u);
        return Value(static_cast<unsigned long long>(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return Value(d);
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return Value(double(sec) + double(usec) / 1e6);
    }
    case PLIST_STRING: {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        std::string str = s ? s : "";
        free(s);
        return Value(std::move(str));
    }
    case PLIST_KEY: {
        char* s = nullptr;
        plist_get_key_val(node, &s);
        std::string str = s ? s : "";
        free(s);
        return Value(std::move(str));
    }
    case PLIST_DATA: {
        char* d = nullptr;
        uint64_t len = 0;
        plist_get_data_val(node, &d, &len);
        Data data(d, d + (d ? len : 0));
        free(d);
        return Value(std::move(data));
    }
    case PLIST_ARRAY: {
        Array a;
        uint32_t n = plist_array_get_size(node);
        a.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            auto v = toValue(plist_array_get_item(node, i), depth + 1);
            if (!v) return std::nullopt;
            a.push_back(std::move(*v));
        }
        return Value(std::move(a));
    }
    case PLIST_DICT: {
        Dict d;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it) return Value(std::move(d));
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, it, &key, &item);
            if (!item) {
                free(key);
                break;
            }
            auto v = toValue(item, depth + 1);
            std::string k = key ? key : "";
            free(key);
            if (!v) {
                free(it);
                return std::nullopt;
            }
            d.set(std::move(k), std::move(*v));
        }
        free(it);
        return Value(std::move(d));
    }
    default:
        return std::nullopt;
    }
}

plist_t fromValue(const Value& v, int depth) {
    if (depth > kMaxDepth) return nullptr;
    switch (v.type()) {
    case Value::Type::Bool:
        return plist_new_bool(v.boolValue());
    case Value::Type::Int:
    case Value::Type::UInt:
        return plist_new_uint(v.uint64Value());
    case Value::Type::Double:
        return plist_new_real(v.doubleValue());
    case Value::Type::String:
        return plist_new_string(v.stringValue().c_str());
    case Value::Type::Data:
        return plist_new_data(reinterpret_cast<const char*>(v.dataValue().data()), v.dataValue().size());
    case Value::Type::Array: {
        plist_t a = plist_new_array();
        for (const auto& item : v.arrayValue()) {
            plist_t n = fromValue(item, depth + 1);
            if (!n) {
                plist_free(a);
                return nullptr;
            }
            plist_array_append_item(a, n);
        }
        return a;
    }
    case Value::Type::Dict: {
        plist_t d = plist_new_dict();
        for (const auto& [k, item] : v.dictValue()) {
            plist_t n = fromValue(item, depth + 1);
            if (!n) {
                plist_free(d);
                return nullptr;
            }
            plist_dict_set_item(d, k.c_str(), n);
        }
        return d;
    }
    default:
        return nullptr;
    }
}
} // namespace

std::optional<Value> PropertyList::read(const Data& bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()), &root);
    if (!root) return std::nullopt;
    auto v = toValue(root, 0);
    plist_free(root);
    return v;
}

std::optional<Value> PropertyList::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return read(bytes);
}

std::optional<std::string> PropertyList::toXml(const Value& value) {
    plist_t root = fromValue(value, 0);
    if (!root) return std::nullopt;
    char* xml = nullptr;
    uint32_t len = 0;
    plist_to_xml(root, &xml, &len);
    plist_free(root);
    if (!xml) return std::nullopt;
    std::string out(xml, len);
    plist_to_xml_free(xml);
    return out;
}

} // namespace platform
