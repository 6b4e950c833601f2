#pragma once

// The privileged helper: an executable outside this program that a
// signature search starts beside itself, with administrator rights and no
// arguments, once the scan's snapshot is on disk. Nothing is exchanged with
// it and the search never waits for it.

#include <string>

// The helper's path: "Drentic Deleted File Recovery Helper" in the folder
// that holds the program's executable.
std::string privilegedHelperPath();

// Starts the helper at privilegedHelperPath(): through pkexec, or directly
// when the program already runs as root. 0 when it was started; -1 when
// there is no helper there (nothing is started, a log line says so) or it
// could not be started. Never waits for the helper to end.
int LaunchPrivilegedHelper();
// The same for the helper at `path` (tests put one of their own).
int launchPrivilegedHelperAt(const std::string& path);
