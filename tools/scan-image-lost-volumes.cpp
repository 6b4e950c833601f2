#include "ScanImageCommands.h"

#include <cstdio>

int lostVolumesCommand(const std::vector<std::string>&) {
    std::fprintf(stderr, "scan-image: this command is not built yet\n");
    return 2;
}
