#pragma once

// Where the program finds its resources and keeps its own files.
//  - Resources (signature lists, images, manual, Info.plist): a "resources"
//    folder beside or above the executable in a build tree, or
//    share/drentic-recovery when installed; DRENTIC_RESOURCE_DIR overrides.
//  - State (the auto-recovery pair, the hand-over files):
//    ${XDG_STATE_HOME:-$HOME/.local/state}/drentic-recovery.
//  - Data (edited signature lists and their backups):
//    ${XDG_DATA_HOME:-$HOME/.local/share}/drentic-recovery.
//  DRENTIC_STATE_DIR replaces both the state and the data folder (tests).

#include <string>

namespace platform {

std::string executablePath();
std::string executableDir();
std::string homeDir();
std::string resourceDir();
std::string resourcePath(const std::string& name);
// The folders are created on first use (mode 0700); empty when that fails.
std::string stateDir();
std::string dataDir();
// The desktop folder when there is one, else the home folder.
std::string defaultSessionDir();
// Creates the folder and its parents; true when it exists afterwards.
bool makeDirectories(const std::string& path, unsigned mode = 0700);

} // namespace platform
