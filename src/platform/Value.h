#pragma once

// One small value type for the dictionaries, arrays, numbers, strings and data
// that travel between the scan code and the user interface (drive and volume
// dictionaries, progress dictionaries, alert requests) and through keyed
// archives. Values are copied deeply, so a dictionary handed to another
// thread is that thread's own.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

// Base of every object that can ride inside a Value (signature records,
// volumes, user-interface handles). The class name is what keyed archives
// record for it.
class Object {
public:
    virtual ~Object();
    virtual std::string className() const = 0;
    // What "%@" shows for the object.
    virtual std::string description() const;
};
using ObjectPtr = std::shared_ptr<Object>;

using Data = std::vector<std::uint8_t>;

class Value;
class Dict;
using Array = std::vector<Value>;

namespace detail {
// Owns a heap copy of T and copies it deeply; lets Value hold the recursive
// Array and Dict types by value.
template <class T> class Box {
public:
    Box();
    explicit Box(T v);
    Box(const Box& o);
    Box(Box&&) noexcept;
    Box& operator=(const Box& o);
    Box& operator=(Box&&) noexcept;
    ~Box();
    T& get() { return *p_; }
    const T& get() const { return *p_; }

private:
    std::unique_ptr<T> p_;
};
} // namespace detail

class Value {
public:
    enum class Type { Null, Bool, Int, UInt, Double, String, Data, Array, Dict, Object };

    Value();
    Value(std::nullptr_t);
    Value(bool b);
    Value(int i);
    Value(unsigned int u);
    Value(long i);
    Value(unsigned long u);
    Value(long long i);
    Value(unsigned long long u);
    Value(double d);
    Value(float f);
    Value(const char* s);
    Value(std::string s);
    Value(std::string_view s);
    Value(platform::Data d);
    Value(platform::Array a);
    Value(platform::Dict d);
    Value(ObjectPtr o);
    template <class T>
    requires std::is_base_of_v<Object, T> Value(std::shared_ptr<T> o) : Value(ObjectPtr(std::move(o))) {}

    Value(const Value&);
    Value(Value&&) noexcept;
    Value& operator=(const Value&);
    Value& operator=(Value&&) noexcept;
    ~Value();

    Type type() const;
    bool isNull() const { return type() == Type::Null; }
    bool isNumber() const;
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isArray() const { return type() == Type::Array; }
    bool isDict() const { return type() == Type::Dict; }
    bool isObject() const { return type() == Type::Object; }

    // Number readings in the manner of a number object: anything that is not
    // a number reads as 0 (a message to nothing answers 0), a double is
    // truncated toward zero, and integers keep their low bits.
    bool boolValue() const;
    std::int32_t intValue() const;
    std::uint32_t unsignedIntValue() const;
    std::int64_t int64Value() const;
    std::uint64_t uint64Value() const;
    double doubleValue() const;

    // Empty for any other type.
    const std::string& stringValue() const;
    const platform::Data& dataValue() const;
    const platform::Array& arrayValue() const;
    const platform::Dict& dictValue() const;
    // Mutable access, or nullptr when the value is of another type.
    platform::Array* array();
    platform::Dict* dict();
    ObjectPtr object() const;
    template <class T> std::shared_ptr<T> objectAs() const { return std::dynamic_pointer_cast<T>(object()); }

    // The text "%@" gives: "(null)" for nothing, digits for numbers, the
    // string itself, and list forms for arrays and dictionaries.
    std::string description() const;

    // Numbers compare by value whatever their kind; objects by identity.
    bool operator==(const Value& o) const;

private:
    using Storage = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, platform::Data,
                                 detail::Box<platform::Array>, detail::Box<platform::Dict>, ObjectPtr>;
    Storage v_;
};

// String-keyed dictionary. Reading a missing key gives a null Value.
class Dict {
public:
    using Map = std::map<std::string, Value, std::less<>>;
    Dict() = default;
    Dict(std::initializer_list<std::pair<const std::string, Value>> init) : m_(init) {}

    const Value& get(std::string_view key) const;
    bool contains(std::string_view key) const;
    void set(std::string key, Value v) { m_[std::move(key)] = std::move(v); }
    void remove(std::string_view key);
    Value& operator[](const std::string& key) { return m_[key]; }
    const Value& operator[](std::string_view key) const { return get(key); }

    std::size_t size() const { return m_.size(); }
    bool empty() const { return m_.empty(); }
    void clear() { m_.clear(); }
    Map::const_iterator begin() const { return m_.begin(); }
    Map::const_iterator end() const { return m_.end(); }
    Map::iterator begin() { return m_.begin(); }
    Map::iterator end() { return m_.end(); }

    bool operator==(const Dict& o) const { return m_ == o.m_; }

private:
    Map m_;
};

// --- out-of-line members that need Array and Dict complete ---

namespace detail {
template <class T> Box<T>::Box() : p_(std::make_unique<T>()) {}
template <class T> Box<T>::Box(T v) : p_(std::make_unique<T>(std::move(v))) {}
template <class T> Box<T>::Box(const Box& o) : p_(std::make_unique<T>(*o.p_)) {}
template <class T> Box<T>::Box(Box&& o) noexcept : p_(std::move(o.p_)) {}
template <class T> Box<T>& Box<T>::operator=(const Box& o) {
    if (this != &o) p_ = std::make_unique<T>(*o.p_);
    return *this;
}
template <class T> Box<T>& Box<T>::operator=(Box&& o) noexcept {
    p_ = std::move(o.p_);
    return *this;
}
template <class T> Box<T>::~Box() = default;
} // namespace detail

} // namespace platform
