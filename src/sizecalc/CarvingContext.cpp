#include "sizecalc/CarvingContext.h"

#include "media/DMedia.h"
#include "volume/Volume.h"

CarvingContext::CarvingContext(DMedia& medium)
    : reader_(medium), bytesPerSector_(medium.u32BytesInSector()),
      endSector_(medium.sizeInSect() == 0 ? 0 : medium.HPlusVolStart() + medium.sizeInSect()) {}

bool CarvingContext::stopped() const {
    return Volume::stopByte() || reader_.deviceGone();
}
