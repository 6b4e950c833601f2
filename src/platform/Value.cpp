#include "platform/Value.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace platform {

Object::~Object() = default;

std::string Object::description() const {
    return "<" + className() + ">";
}

namespace {
const std::string kEmptyString;
const Data kEmptyData;
const Array kEmptyArray;
const Dict kEmptyDict;
const Value kNullValue;

// Indents every line after the first, for nested list descriptions.
std::string indentNested(const std::string& s) {
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '\n') out += "    ";
    }
    return out;
}

std::string describeDouble(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}
} // namespace

Value::Value() = default;
Value::Value(std::nullptr_t) {}
Value::Value(bool b) : v_(b) {}
Value::Value(int i) : v_(std::int64_t(i)) {}
Value::Value(unsigned int u) : v_(std::uint64_t(u)) {}
Value::Value(long i) : v_(std::int64_t(i)) {}
Value::Value(unsigned long u) : v_(std::uint64_t(u)) {}
Value::Value(long long i) : v_(std::int64_t(i)) {}
Value::Value(unsigned long long u) : v_(std::uint64_t(u)) {}
Value::Value(double d) : v_(d) {}
Value::Value(float f) : v_(double(f)) {}
Value::Value(const char* s) {
    if (s) v_ = std::string(s);
}
Value::Value(std::string s) : v_(std::move(s)) {}
Value::Value(std::string_view s) : v_(std::string(s)) {}
Value::Value(platform::Data d) : v_(std::move(d)) {}
Value::Value(platform::Array a) : v_(detail::Box<platform::Array>(std::move(a))) {}
Value::Value(platform::Dict d) : v_(detail::Box<platform::Dict>(std::move(d))) {}
Value::Value(ObjectPtr o) {
    if (o) v_ = std::move(o);
}

Value::Value(const Value&) = default;
// A moved-from value is left empty rather than holding a hollow box.
Value::Value(Value&& o) noexcept : v_(std::move(o.v_)) {
    o.v_ = std::monostate{};
}
Value& Value::operator=(const Value&) = default;
Value& Value::operator=(Value&& o) noexcept {
    if (this != &o) {
        v_ = std::move(o.v_);
        o.v_ = std::monostate{};
    }
    return *this;
}
Value::~Value() = default;

Value::Type Value::type() const {
    return static_cast<Type>(v_.index());
}

bool Value::isNumber() const {
    auto t = type();
    return t == Type::Bool || t == Type::Int || t == Type::UInt || t == Type::Double;
}

std::int64_t Value::int64Value() const {
    switch (type()) {
    case Type::Bool:
        return std::get<bool>(v_) ? 1 : 0;
    case Type::Int:
        return std::get<std::int64_t>(v_);
    case Type::UInt:
        return static_cast<std::int64_t>(std::get<std::uint64_t>(v_));
    case Type::Double: {
        double d = std::get<double>(v_);
        if (!(d == d)) return 0;
        if (d >= 9223372036854775807.0) return INT64_MAX;
        if (d <= -9223372036854775808.0) return INT64_MIN;
        return static_cast<std::int64_t>(d);
    }
    default:
        return 0;
    }
}

std::uint64_t Value::uint64Value() const {
    if (type() == Type::UInt) return std::get<std::uint64_t>(v_);
    if (type() == Type::Double) {
        double d = std::get<double>(v_);
        if (d >= 0 && d < 18446744073709551616.0) return static_cast<std::uint64_t>(d);
    }
    return static_cast<std::uint64_t>(int64Value());
}

bool Value::boolValue() const {
    if (type() == Type::Double) return std::get<double>(v_) != 0.0;
    return uint64Value() != 0;
}
std::int32_t Value::intValue() const {
    return static_cast<std::int32_t>(uint64Value());
}
std::uint32_t Value::unsignedIntValue() const {
    return static_cast<std::uint32_t>(uint64Value());
}

double Value::doubleValue() const {
    switch (type()) {
    case Type::Double:
        return std::get<double>(v_);
    case Type::UInt:
        return static_cast<double>(std::get<std::uint64_t>(v_));
    default:
        return static_cast<double>(int64Value());
    }
}

const std::string& Value::stringValue() const {
    if (auto* s = std::get_if<std::string>(&v_)) return *s;
    return kEmptyString;
}
const platform::Data& Value::dataValue() const {
    if (auto* d = std::get_if<platform::Data>(&v_)) return *d;
    return kEmptyData;
}
const platform::Array& Value::arrayValue() const {
    if (auto* a = std::get_if<detail::Box<platform::Array>>(&v_)) return a->get();
    return kEmptyArray;
}
const platform::Dict& Value::dictValue() const {
    if (auto* d = std::get_if<detail::Box<platform::Dict>>(&v_)) return d->get();
    return kEmptyDict;
}
platform::Array* Value::array() {
    if (auto* a = std::get_if<detail::Box<platform::Array>>(&v_)) return &a->get();
    return nullptr;
}
platform::Dict* Value::dict() {
    if (auto* d = std::get_if<detail::Box<platform::Dict>>(&v_)) return &d->get();
    return nullptr;
}
ObjectPtr Value::object() const {
    if (auto* o = std::get_if<ObjectPtr>(&v_)) return *o;
    return nullptr;
}

std::string Value::description() const {
    switch (type()) {
    case Type::Null:
        return "(null)";
    case Type::Bool:
        return std::get<bool>(v_) ? "1" : "0";
    case Type::Int:
        return std::to_string(std::get<std::int64_t>(v_));
    case Type::UInt:
        return std::to_string(std::get<std::uint64_t>(v_));
    case Type::Double:
        return describeDouble(std::get<double>(v_));
    case Type::String:
        return std::get<std::string>(v_);
    case Type::Data: {
        static const char* hex = "0123456789abcdef";
        std::string s = "<";
        const auto& d = std::get<platform::Data>(v_);
        for (std::size_t i = 0; i < d.size(); ++i) {
            if (i && i % 4 == 0) s += ' ';
            s += hex[d[i] >> 4];
            s += hex[d[i] & 15];
        }
        return s + ">";
    }
    case Type::Array: {
        const auto& a = arrayValue();
        if (a.empty()) return "(\n)";
        std::string s = "(";
        for (std::size_t i = 0; i < a.size(); ++i) {
            s += "\n    " + indentNested(a[i].description());
            if (i + 1 < a.size()) s += ",";
        }
        return s + "\n)";
    }
    case Type::Dict: {
        std::string s = "{";
        for (const auto& [k, v] : dictValue())
            s += "\n    " + k + " = " + indentNested(v.description()) + ";";
        return s + "\n}";
    }
    case Type::Object:
        return std::get<ObjectPtr>(v_)->description();
    }
    return "(null)";
}

bool Value::operator==(const Value& o) const {
    if (isNumber() && o.isNumber()) {
        if (type() == Type::Double || o.type() == Type::Double) return doubleValue() == o.doubleValue();
        bool neg = type() == Type::Int && std::get<std::int64_t>(v_) < 0;
        bool oneg = o.type() == Type::Int && std::get<std::int64_t>(o.v_) < 0;
        if (neg != oneg) return false;
        return uint64Value() == o.uint64Value();
    }
    if (type() != o.type()) return false;
    switch (type()) {
    case Type::Null:
        return true;
    case Type::String:
        return stringValue() == o.stringValue();
    case Type::Data:
        return dataValue() == o.dataValue();
    case Type::Array:
        return arrayValue() == o.arrayValue();
    case Type::Dict:
        return dictValue() == o.dictValue();
    case Type::Object:
        return object() == o.object();
    default:
        return false;
    }
}

const Value& Dict::get(std::string_view key) const {
    auto it = m_.find(key);
    return it == m_.end() ? kNullValue : it->second;
}

bool Dict::contains(std::string_view key) const {
    return m_.find(key) != m_.end();
}

void Dict::remove(std::string_view key) {
    auto it = m_.find(key);
    if (it != m_.end()) m_.erase(it);
}

} // namespace platform
