#pragma once

// The base of objects that keyed archives can hold. An archivable object
// writes its state as keyed entries through KeyedArchiver; reading it back is
// the job of a factory registered with KeyedUnarchiver under the same class
// name, so the reading side never has to know the concrete C++ type.

#include "platform/Value.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform {

class KeyedArchiver;
class KeyedUnarchiver;

class Archivable : public Object {
public:
    ~Archivable() override;
    // Writes the object's state with the coder's encode calls.
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
    // The class and its ancestors, most derived first, as recorded in the
    // archive's class record. The default is the class name followed by the
    // root class, which is all a reader needs to find the factory.
    virtual std::vector<std::string> classChain() const;
};

namespace keyedarchive {

// Both sides share one nesting limit, so anything the archiver writes the
// unarchiver can read, and a hostile archive cannot run the stack out.
inline constexpr int kMaxNesting = 256;

// The archive's own bookkeeping keys ("$class", "$classname", ...) begin with
// '$'. A caller's key that begins with '$' gets one more '$' in front, so it
// can never be mistaken for bookkeeping; both sides apply the same rule.
std::string escapedKey(std::string_view key);

// Whether text survives a trip through a property-list string unchanged:
// valid UTF-8 (no overlong forms, no surrogates) and no NUL character, where
// property-list readers, the library we read with among them, cut the text.
bool isStorableText(std::string_view text);

} // namespace keyedarchive

} // namespace platform
