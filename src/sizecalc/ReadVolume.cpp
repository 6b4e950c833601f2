#include "sizecalc/ReadVolume.h"

#include "media/DMedia.h"
#include "platform/AppController.h"

#include <limits>
#include <optional>

bool ReadVolume::readSaveSector(std::uint64_t sector, std::uint32_t size, std::uint8_t* buffer) {
    if (deviceGone()) return false;
    if (size > std::uint32_t(std::numeric_limits<std::int32_t>::max())) return false;
    const std::optional<std::uint64_t> lost =
        medium_.readExaminedRange(sector, static_cast<std::int32_t>(size), buffer, DMedia::RangeReader::Carving);
    if (medium_.mediumGone()) gone_ = true;
    if (!lost) return false;
    if (*lost != 0) lost_.noteLoss(*this, sector, size);
    // One alert a run, a damaged disk failing thousands of reads; and it is
    // not waited for: as it says, the search goes on, also through a night
    // nobody is there to answer it.
    if (*lost != 0 && !reported_) {
        reported_ = true;
        if (auto* c = platform::appController())
            c->postAlertPanel(platform::alertRequest(
                "!Error",
                "Some sectors of the drive could not be read. They are taken as zeros and the search goes "
                "on; files found on them are marked \"Bad\", and the end of the scan says how many "
                "sectors were lost.",
                "OK"));
    }
    return true;
}

std::uint64_t ReadVolume::unreadableSectorsIn(std::uint64_t sector, std::uint64_t count) const {
    return medium_.unreadableSectorsIn(sector, count);
}
