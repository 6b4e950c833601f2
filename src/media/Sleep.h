#pragma once

// Keeping the machine awake during a scan: each long phase of a scan is
// bracketed by the volume's startPreventingSleep and stopPreventingSleep.
// Between the two, a detached thread reports user activity every 25 seconds.

#include <chrono>

// Starts one detached keep-awake thread. It reports at once, then every
// interval, until it sees the stop flag.
void StartThread();

// The process-wide stop flag: set by stopPreventingSleep, cleared by
// startPreventingSleep, read by the keep-awake threads once per pass.
void setPreventSleepStopFlag(bool stop);
bool preventSleepStopFlag();

// Tests shorten the 25-second pause.
void setKeepAwakeInterval(std::chrono::milliseconds interval);
