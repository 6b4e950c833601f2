#pragma once

// The folder a carved RTF document with pictures was filed in ("File1.rtfd"),
// held by the last entry of the volume's pending picture list so that the
// pictures found after the document go into it. It names a node of the
// found-file tree and owns nothing; the list is emptied before the tree goes.

#include "platform/Value.h"

#include <string>

struct NewDir;

class RtfPackageFolder final : public platform::Object {
public:
    explicit RtfPackageFolder(NewDir* folder) noexcept : folder_(folder) {}
    ~RtfPackageFolder() override;

    NewDir* newDir() const noexcept { return folder_; }
    std::string className() const override { return "RtfPackageFolder"; }

private:
    NewDir* folder_;
};
