#include "platform/SystemLog.h"

#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace platform {

namespace {
std::mutex gLogMutex;
std::function<void(const std::string&)> gSink;
bool gOpened = false;
} // namespace

void logLine(const std::string& line) {
    std::lock_guard lock(gLogMutex);
    if (gSink) {
        gSink(line);
        return;
    }
    if (!gOpened) {
        openlog("drentic-recovery", LOG_PID, LOG_USER);
        gOpened = true;
    }
    syslog(LOG_NOTICE, "%s", line.c_str());
    std::fprintf(stderr, "drentic-recovery: %s\n", line.c_str());
}

void setLogSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(gLogMutex);
    gSink = std::move(sink);
}

} // namespace platform
