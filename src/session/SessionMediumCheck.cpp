#include "session/SessionMediumCheck.h"

#include "media/DMedia.h"
#include "volume/Volume.h"

#include <algorithm>
#include <cstring>
#include <vector>

bool SessionMediumCheck::isSectorSize(std::uint32_t bytes) {
    return bytes >= 512 && bytes <= 65536 && (bytes & (bytes - 1)) == 0;
}

SessionMediumCheck::Found SessionMediumCheck::checkVolumeAvailability(const Volume& volume,
                                                                      const platform::Array& volumeDictArray) {
    Found found;
    const std::uint32_t bps = volume.u32BytesInSector();
    if (!isSectorSize(bps)) return found;
    for (const platform::Value& v : volumeDictArray) {
        const platform::Dict& row = v.dictValue();
        if (row.get("Size").uint64Value() / bps != volume.sizeInSect()) continue;
        if (row.get("Volume Name").description() != volume.volumeName) continue;
        found.notConnected = false;
        found.path = row.get("Path").description();
        found.pathIsDifferent = found.path != volume.path();
        break;
    }
    return found;
}

SessionMediumCheck::Found SessionMediumCheck::checkDriveAvailability(const Volume& volume,
                                                                     const platform::Data& first5Sectors,
                                                                     const platform::Array& driveDictArray) {
    Found found;
    const std::uint32_t bps = volume.u32BytesInSector();
    const std::size_t stored = 5 * std::size_t{bps};
    if (!isSectorSize(bps) || first5Sectors.size() < stored) return found;
    for (const platform::Value& v : driveDictArray) {
        std::shared_ptr<DMedia> drive = DMedia::initWithDictionary(v.dictValue());
        if (!drive || !isSectorSize(drive->u32BytesInSector())) continue;
        std::vector<std::uint8_t> buffer(5 * std::size_t{std::max(drive->u32BytesInSector(), bps)}, 0);
        // Quietly: a drive the user may not read (most need root) is simply
        // not the session's, and an alert per drive would bury the answer.
        if (drive->readCarvingSector(0, 5, buffer.data()) != DMedia::CarvingRead::Read) continue;
        if (std::memcmp(buffer.data(), first5Sectors.data(), stored) != 0) continue;
        found.notConnected = false;
        found.path = drive->path();
        found.pathIsDifferent = found.path != volume.path();
        break;
    }
    return found;
}

void SessionMediumCheck::adoptDrivePath(Volume& volume, const std::string& newPath,
                                        platform::Array& partitionListDictArray,
                                        platform::Array& partitionScanListDictArray) {
    const std::string oldPath = volume.path();
    for (platform::Array* list : {&partitionListDictArray, &partitionScanListDictArray})
        for (platform::Value& v : *list)
            if (platform::Dict* row = v.dict(); row && row->get("Path").description() == oldPath)
                row->set("Path", newPath);
    volume.setPath(newPath);
    volume.setCPath();
}
