#include "formats/XfSize.h"

XfSize XfSize::read(platform::ByteView v) {
    return XfSize{v.le64(0), v.le64(8), v.le64(16), v.le64(24), v.le64(32)};
}
