#pragma once

// Writes values and archivable objects as a keyed archive: a binary property
// list whose "$objects" array holds every object once, with references
// between them as UIDs, in the layout the platform's own keyed archives use,
// so archives we write read back there and theirs read back here.

#include "platform/Archivable.h"
#include "platform/Value.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class KeyedArchiver {
public:
    // The archive of root, or nullopt with the reason in *error when the
    // value holds something an archive cannot carry: an object that is not
    // Archivable, text that is not valid UTF-8 or holds a NUL, nesting deeper
    // than the unarchiver accepts, or an object that contains itself.
    static std::optional<Data> archivedDataWithRootObject(const Value& root, std::string* error = nullptr);
    // The same with integers beside the root in the archive's "$top", where
    // the platform's archiver puts an int encoded at the top level; a reader
    // that looks only for the root passes over them. "root" is no such key.
    using TopIntegers = std::map<std::string, std::int64_t, std::less<>>;
    static std::optional<Data> archivedDataWithRootObject(const Value& root, std::string* error,
                                                          const TopIntegers& topIntegers);

    // The encode calls an Archivable makes from encodeWithCoder. Each stores
    // one entry under key in the object's record; a repeated key replaces the
    // earlier entry.
    void encodeInt(std::int32_t v, const std::string& key); // the coder's plain int
    void encodeInt32(std::int32_t v, const std::string& key);
    void encodeInt64(std::int64_t v, const std::string& key);
    void encodeBool(bool v, const std::string& key);
    void encodeFloat(float v, const std::string& key);
    void encodeDouble(double v, const std::string& key);
    // Stores a reference to v, which is archived once however often it is
    // referenced (objects by identity, strings by content). A null Value
    // stores the nil reference.
    void encodeObject(const Value& v, const std::string& key);

    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;
    ~KeyedArchiver();

private:
    KeyedArchiver();
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace platform
