#pragma once

// Low-level failures and a few milestones go to the system log (syslog) and
// to standard error, the way a user or a support person would look for them.

#include "platform/Format.h"

#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Every line is written through escapedText: names from a damaged or hostile
// medium can hold newlines and terminal escapes, and a log line must stay
// one line that shows what it says.
void logLine(const std::string& line);

template <class... Args> void logFormat(std::string_view fmt, Args&&... args) {
    logLine(format(fmt, std::forward<Args>(args)...));
}

// Tests capture log lines through a sink; nullptr restores the default.
void setLogSink(std::function<void(const std::string&)> sink);

// Text made safe for one line of a log or a listing: the backslash, control
// characters (C0, DEL, C1) and bytes that are not UTF-8 are written as \\,
// \n, \t, \r or \xHH (each byte of a C1 character); everything else, UTF-8
// included, stays as it is.
std::string escapedText(std::string_view text);

} // namespace platform
