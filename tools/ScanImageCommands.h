#pragma once

// The subcommands of scan-image, one source file each. Each takes the
// arguments after the subcommand's name and returns the exit status.

#include "media/DMedia.h"

#include <string>
#include <vector>

int contentCommand(const std::vector<std::string>& args);
// `rawRead`, when set, is what every byte of the disk is read through (see
// DMedia::setRawRead): only tests set it, to give the reading failing sectors.
int partitionsCommand(const std::vector<std::string>& args, const DMedia::RawRead& rawRead = {});
int lostVolumesCommand(const std::vector<std::string>& args, const DMedia::RawRead& rawRead = {});
int saveCommand(const std::vector<std::string>& args);
int sessionCommand(const std::vector<std::string>& args);
