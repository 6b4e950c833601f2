#pragma once

// The extended field that names an inode.

#include "platform/ByteView.h"

#include <string>

struct XfName {
    std::string name;

    // The field's value, and nothing after it.
    static XfName read(platform::ByteView value);

    const std::string& getXfName() const { return name; }
};
