#include "carving/RtfPackageFolder.h"

RtfPackageFolder::~RtfPackageFolder() = default;
