#pragma once

// Low-level failures and a few milestones go to the system log (syslog) and
// to standard error, the way a user or a support person would look for them.

#include "platform/Format.h"

#include <functional>
#include <string>

namespace platform {

void logLine(const std::string& line);

template <class... Args> void logFormat(std::string_view fmt, Args&&... args) {
    logLine(format(fmt, std::forward<Args>(args)...));
}

// Tests capture log lines through a sink; nullptr restores the default.
void setLogSink(std::function<void(const std::string&)> sink);

} // namespace platform
