#pragma once

// The size calculators' reader of the device being carved. It reads through
// the medium's range reader, so a sector that cannot be read costs only
// itself and reads as zeros: a file with a bad sector is still measured;
// what the carving holds in memory (its batch window and the one read ahead)
// is taken from there, and only the rest is read. It never shows an alert
// per read: the first sector lost in a run is reported
// once, and a device that has gone ends the run's walks
// (CarvingContext::stopped).

#include "media/FirstLostSector.h"
#include "media/SectorSource.h"

#include <atomic>
#include <cstdint>

class DMedia;

class ReadVolume final : public SectorSource {
public:
    explicit ReadVolume(DMedia& medium) noexcept : medium_(medium) {}

    // Reads size sectors (of the medium's size) at a sector of the device
    // into buffer, which holds them. A read that reaches past the end of the
    // device succeeds with the rest zero-filled, and so does one that holds
    // sectors that cannot be read. False when the request is out of range or
    // the device has gone.
    bool readSaveSector(std::uint64_t sector, std::uint32_t size, std::uint8_t* buffer);
    bool readSectors(std::uint64_t sector, std::uint32_t count, std::uint8_t* buffer) override {
        return readSaveSector(sector, count, buffer);
    }
    std::uint64_t unreadableSectorsIn(std::uint64_t sector, std::uint64_t count) const override;
    bool deviceGone() const { return gone_.load(std::memory_order_relaxed); }
    // The first sector the calculators' reads lost since the carving began
    // to measure the file at a sector.
    FirstLostSector& lostSector() { return lost_; }

private:
    DMedia& medium_;
    FirstLostSector lost_;
    bool reported_ = false;
    std::atomic<bool> gone_{false};
};
