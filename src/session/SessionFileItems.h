#pragma once

// The items that recovery-session files and the scan snapshot share: an
// archive as a u32 length followed by that many bytes of a keyed archive,
// a mode number that is -1 outside its range, and the partition lists that
// follow the modes. Both files are read by the
// same rules, so a length is held against the bytes left before anything is
// allocated for it.

#include "platform/Value.h"
#include "session/SessionFileInput.h"
#include "session/SessionFileOutput.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

class SessionFileItems {
public:
    // Integers an archive keeps beside its root, which readers that look
    // only for the root pass over: how a file says more than its readers of
    // an earlier time knew of, without their reading it any differently.
    using TopIntegers = std::map<std::string, std::int64_t, std::less<>>;
    // False when the value cannot be archived (the reason in *error) or the
    // file failed.
    static bool writeArchive(SessionFileOutput& out, const platform::Value& value, std::string* error,
                             const TopIntegers& topIntegers = {});
    // The next archive's value; nothing when the file ends first or the bytes
    // are no archive. No archive may reach past `limit`. `topIntegers`, when
    // given, gets those the archive keeps beside its root.
    static std::optional<platform::Value> readArchive(SessionFileInput& in, std::uint64_t limit = UINT64_MAX,
                                                      TopIntegers* topIntegers = nullptr);
    // The stored number as a signed mode, -1 outside low..high.
    static std::int32_t inRange(std::uint32_t v, std::int32_t low, std::int32_t high);

    // With search mode 4 or 5: the partition list when it was chosen from a
    // list (origin 0 or 1), then the partition-search list (origin 1);
    // nothing otherwise. The reader applies the same condition to the modes
    // it read, and fails on an archive that is missing or no array.
    static bool writePartitionLists(SessionFileOutput& out, std::int32_t rawSearchMode, std::int32_t origin,
                                    const platform::Array& list, const platform::Array& scanList, std::string* error);
    static bool readPartitionLists(SessionFileInput& in, std::int32_t rawSearchMode, std::int32_t origin,
                                   platform::Array& list, platform::Array& scanList);
};
