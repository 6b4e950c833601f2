#pragma once

// The few process-wide flags that the engine and the program share.

#include <atomic>

namespace platform {

// Set while the current scan is an automatic resume of an interrupted scan.
std::atomic<bool>& autoResumeFlag();
// Set while a scan or a lost-volume search runs; the quit path reads it.
std::atomic<bool>& scanRunningFlag();

} // namespace platform
