#pragma once

// Names that APFS records hold as plain bytes: up to the first zero byte or the
// end of the field, shown as UTF-8 with ill-formed bytes replaced.

#include "platform/ByteView.h"

#include <string>

std::string apfsByteString(platform::ByteView bytes);
