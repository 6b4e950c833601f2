#include "hfsplus/HFSPlusReaderState.h"

#include "volume/BTreeTableClassOrph.h"
#include "volume/BTreeTableClassUInt32.h"

HFSPlusReaderState::HFSPlusReaderState(Volume& v)
    : volume(v), btreeForUsedCatNodeSector(std::make_unique<BTreeTableClassUInt32>()),
      btreeOrph(std::make_unique<BTreeTableClassOrph>()),
      btreeOrphAdvScanEntries(std::make_unique<BTreeTableClassOrph>()) {}

HFSPlusReaderState::~HFSPlusReaderState() = default;
