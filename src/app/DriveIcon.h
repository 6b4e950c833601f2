#pragma once

#include "platform/Value.h"

#include <QIcon>
#include <QStringList>

// The icon of a row of the drive list and of the partition lists. A row
// carries its drive's icon keys: "IOBundleResourceFile" says what kind of
// drive it is ("Internal.icns", "External.icns", "Removable.icns"),
// "Physical Interconnect" its bus and "CFBundleIdentifier" its driver;
// "bundle path" is "nil" when the driver was not found, and the row then
// shows the generic icon (the ejectable-media icon for a volume, the hard
// disk for a disk). The icon comes from the desktop's icon theme, most
// specific name first; where the theme has none of them, a drawn one of the
// same kind stands in, so no row is ever without an icon.
class DriveIcon {
public:
    enum class Kind { HardDisk, ExternalDisk, UsbStick, Removable, FlashCard, Optical, SolidState };

    static Kind kindOfRow(const platform::Dict& row);
    // The theme names tried for a kind, most specific first.
    static QStringList themeNames(Kind kind);
    static QIcon iconForRow(const platform::Dict& row);
    // The icon painted in code for a kind: 64 x 64 and 128 x 128.
    static QIcon drawnIcon(Kind kind);
};
