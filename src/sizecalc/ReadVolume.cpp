#include "sizecalc/ReadVolume.h"

#include "media/DMedia.h"
#include "platform/AppController.h"

#include <cerrno>
#include <limits>
#include <string>

bool ReadVolume::readSaveSector(std::uint64_t sector, std::uint32_t size, std::uint8_t* buffer) {
    if (deviceGone()) return false;
    if (size > std::uint32_t(std::numeric_limits<std::int32_t>::max())) return false;
    const DMedia::CarvingRead r = medium_.readCarvingSector(sector, static_cast<std::int32_t>(size), buffer);
    if (r == DMedia::CarvingRead::Read) return true;
    const int error = errno;
    if (r == DMedia::CarvingRead::Gone) gone_ = true;
    // One alert a run: a damaged disk fails thousands of reads, and each
    // would stop the scan until the user answered it.
    if (!reported_) {
        reported_ = true;
        if (auto* c = platform::appController())
            c->runAlertPanel(platform::alertRequest("!Error", "Drive cannot open or not found, error: %@", "OK",
                                                    {std::to_string(error)}));
    }
    return false;
}
