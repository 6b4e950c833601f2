#pragma once

// Reads keyed archives (binary or XML property lists in the platform's keyed
// layout) back into values and objects. Archives come from disk and may be
// damaged or hostile, so every reference, count and type is checked and any
// problem ends the whole read with a reason instead of a partial result.

#include "platform/Archivable.h"
#include "platform/Value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class KeyedUnarchiver {
public:
    // Rebuilds one object from the entries of its record, the reading half of
    // an Archivable class. Returning nullptr without failWithError gives a
    // null value in the result, as a nil object would.
    using Factory = std::function<ObjectPtr(KeyedUnarchiver& coder)>;
    using ClassTable = std::map<std::string, Factory, std::less<>>;

    // Makes name readable in every later unarchive of the process. A second
    // registration under the same name replaces the first. Thread-safe.
    static void registerClass(const std::string& name, Factory f);

    // The root value of the archive, or nullopt with the reason in *error for
    // anything but a sound archive: garbage, truncation, references past the
    // end of $objects, reference cycles, entries of the wrong type, class
    // names with no factory, nesting deeper than 256 levels, or a factory that
    // rejected its record. Classes in extraClasses take precedence over the
    // process-wide ones for this call only. topIntegers, when given, gets the
    // integers the archive keeps beside its root in "$top" (entries of other
    // kinds are passed over).
    using TopIntegers = std::map<std::string, std::int64_t, std::less<>>;
    static std::optional<Value> unarchiveObjectWithData(const Data& data, std::string* error = nullptr,
                                                        const ClassTable& extraClasses = {},
                                                        TopIntegers* topIntegers = nullptr);

    // The decode calls a factory makes; they read the entries of the record
    // being rebuilt. A missing key gives 0, false or a null value. An entry
    // of the wrong type, or an integer out of range for the call, fails the
    // whole unarchive (see failed()) and gives the same default.
    bool containsValueForKey(std::string_view key) const;
    std::int32_t decodeInt(std::string_view key); // the coder's plain int
    std::int32_t decodeInt32(std::string_view key);
    std::int64_t decodeInt64(std::string_view key);
    bool decodeBool(std::string_view key);
    float decodeFloat(std::string_view key);
    double decodeDouble(std::string_view key);
    Value decodeObject(std::string_view key);

    // A factory's way to reject its record; the first message is the one the
    // caller sees.
    void failWithError(std::string message);
    bool failed() const;

    KeyedUnarchiver(const KeyedUnarchiver&) = delete;
    KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;
    ~KeyedUnarchiver();

private:
    KeyedUnarchiver();
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace platform
