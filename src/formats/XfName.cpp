#include "formats/XfName.h"

#include "formats/ApfsByteString.h"

XfName XfName::read(platform::ByteView value) {
    return XfName{apfsByteString(value)};
}
