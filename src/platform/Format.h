#pragma once

// printf-style formatting with the object conversion "%@", as the program's
// alert messages and log lines are written ("Unable to read from the drive %@
// error: %d"). Arguments are Values; "%@" shows a value's description, the
// numeric conversions read it as a number.

#include "platform/Value.h"

#include <string>
#include <string_view>

namespace platform {

std::string formatString(std::string_view format, const Array& arguments);

template <class... Args> std::string format(std::string_view fmt, Args&&... args) {
    return formatString(fmt, Array{Value(std::forward<Args>(args))...});
}

} // namespace platform
