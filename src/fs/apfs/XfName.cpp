#include "fs/apfs/XfName.h"

#include "fs/apfs/ByteString.h"

XfName XfName::read(platform::ByteView value) {
    return XfName{apfsByteString(value)};
}
