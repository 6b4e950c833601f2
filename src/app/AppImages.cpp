#include "app/AppImages.h"

#include "platform/Paths.h"
#include "results/qt/Utf8Text.h"

#include <QFileInfo>
#include <QHash>

QString AppImages::pathFor(const QString& name) {
    return Utf8Text::toQString(platform::resourcePath("images")) + QLatin1Char('/') + name + QStringLiteral(".png");
}

QPixmap AppImages::imageNamed(const QString& name) {
    // Pictures are main-thread objects, so one plain cache serves everyone.
    static QHash<QString, QPixmap> cache;
    if (auto it = cache.constFind(name); it != cache.constEnd()) return *it;
    QPixmap pixmap;
    const QString path = pathFor(name);
    if (QFileInfo::exists(path)) pixmap.load(path);
    cache.insert(name, pixmap);
    return pixmap;
}
