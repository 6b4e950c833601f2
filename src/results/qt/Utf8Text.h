#pragma once

// The program's one crossing between the core's UTF-8 std::string and Qt's
// QString, both ways, so that every text from the medium, a scan or the user
// is converted the same way everywhere.

#include <QString>
#include <string>

class Utf8Text {
public:
    static QString toQString(const std::string& text);
    static std::string fromQString(const QString& text);
};
