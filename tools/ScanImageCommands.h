#pragma once

// The subcommands of scan-image, one source file each. Each takes the
// arguments after the subcommand's name and returns the exit status.

#include <string>
#include <vector>

int partitionsCommand(const std::vector<std::string>& args);
int contentCommand(const std::vector<std::string>& args);
int lostVolumesCommand(const std::vector<std::string>& args);
int saveCommand(const std::vector<std::string>& args);
int sessionCommand(const std::vector<std::string>& args);
