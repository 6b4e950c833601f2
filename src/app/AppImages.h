#pragma once

#include <QPixmap>
#include <QString>

// The pictures of the user interface, loaded by name from the resource
// folder's images/ once and shared for the whole run: the hover buttons, the
// picture areas and the list cells all draw from these objects and never
// load a picture themselves. A name without a file gives a null pixmap, and
// whoever shows it falls back to text.
class AppImages {
public:
    static QPixmap imageNamed(const QString& name);
    // Where the picture of that name is looked for.
    static QString pathFor(const QString& name);
};
