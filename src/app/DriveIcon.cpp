#include "app/DriveIcon.h"

#include "results/qt/Utf8Text.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

using platform::Dict;

namespace {

QString textOf(const Dict& row, std::string_view key) {
    return Utf8Text::toQString(row.get(key).stringValue());
}

// One picture of a kind at one size, drawn on a 64-unit grid.
QPixmap paint(DriveIcon::Kind kind, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    const QColor edge(70, 74, 82);
    const QColor body(188, 193, 201);
    const QColor light(232, 235, 240);
    p.setPen(QPen(edge, 2));

    using Kind = DriveIcon::Kind;
    switch (kind) {
    case Kind::UsbStick: {
        p.setBrush(light);
        p.drawRect(QRectF(22, 6, 20, 14)); // plug
        p.setBrush(edge);
        p.drawRect(QRectF(26, 10, 4, 4));
        p.drawRect(QRectF(34, 10, 4, 4));
        p.setBrush(QColor(52, 101, 164));
        p.drawRoundedRect(QRectF(16, 20, 32, 38), 5, 5);
        break;
    }
    case Kind::FlashCard: {
        QPainterPath card;
        card.moveTo(14, 6);
        card.lineTo(42, 6);
        card.lineTo(52, 16);
        card.lineTo(52, 58);
        card.lineTo(14, 58);
        card.closeSubpath();
        p.setBrush(QColor(60, 63, 70));
        p.drawPath(card);
        p.setBrush(QColor(214, 170, 60));
        for (int i = 0; i < 4; ++i)
            p.drawRect(QRectF(18 + 7 * i, 10, 4, 9));
        p.setBrush(light);
        p.drawRect(QRectF(19, 30, 28, 20));
        break;
    }
    case Kind::Optical: {
        p.setBrush(light);
        p.drawEllipse(QPointF(32, 32), 26, 26);
        p.setBrush(body);
        p.drawEllipse(QPointF(32, 32), 10, 10);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(32, 32), 3, 3);
        break;
    }
    case Kind::Removable: {
        p.setBrush(body);
        p.drawRoundedRect(QRectF(6, 20, 52, 30), 4, 4);
        p.setBrush(edge);
        // The eject mark.
        QPainterPath eject;
        eject.moveTo(32, 26);
        eject.lineTo(40, 35);
        eject.lineTo(24, 35);
        eject.closeSubpath();
        p.drawPath(eject);
        p.drawRect(QRectF(24, 38, 16, 3));
        break;
    }
    case Kind::HardDisk:
    case Kind::ExternalDisk:
    case Kind::SolidState: {
        p.setBrush(kind == Kind::SolidState ? QColor(90, 96, 108) : body);
        p.drawRoundedRect(QRectF(6, 18, 52, 30), 5, 5);
        p.setPen(QPen(edge, 1.5));
        p.drawLine(QPointF(8, 38), QPointF(56, 38));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(115, 210, 22)); // the activity light
        p.drawEllipse(QPointF(49, 43), 2.5, 2.5);
        if (kind == Kind::ExternalDisk) {
            p.setPen(QPen(edge, 3));
            p.drawLine(QPointF(20, 48), QPointF(20, 58));
        }
        break;
    }
    }
    return pm;
}

} // namespace

DriveIcon::Kind DriveIcon::kindOfRow(const Dict& row) {
    const bool volume = row.contains("WhetherVolume");
    if (textOf(row, "bundle path") == QLatin1String("nil")) return volume ? Kind::Removable : Kind::HardDisk;
    const QString bus = textOf(row, "Physical Interconnect");
    const QString resource = textOf(row, "IOBundleResourceFile");
    const QString driver = textOf(row, "CFBundleIdentifier");
    const bool removable = resource == QLatin1String("Removable.icns");
    if (bus == QLatin1String("Secure Digital")) return Kind::FlashCard;
    if (driver == QLatin1String("sr")) return Kind::Optical;
    if (bus == QLatin1String("USB")) return removable ? Kind::UsbStick : Kind::ExternalDisk;
    if (removable) return Kind::Removable;
    if (resource == QLatin1String("External.icns") || bus == QLatin1String("FireWire") ||
        bus == QLatin1String("Thunderbolt"))
        return Kind::ExternalDisk;
    if (bus == QLatin1String("PCI-Express")) return Kind::SolidState;
    return Kind::HardDisk;
}

QStringList DriveIcon::themeNames(Kind kind) {
    switch (kind) {
    case Kind::UsbStick:
        return {"drive-removable-media-usb-pendrive", "drive-removable-media-usb", "drive-removable-media",
                "media-removable"};
    case Kind::ExternalDisk:
        return {"drive-harddisk-usb", "drive-harddisk-ieee1394", "drive-harddisk"};
    case Kind::FlashCard:
        return {"media-flash-sd-mmc", "media-flash", "drive-removable-media", "media-removable"};
    case Kind::Optical:
        return {"drive-optical", "media-optical"};
    case Kind::Removable:
        return {"drive-removable-media", "media-removable", "drive-harddisk"};
    case Kind::SolidState:
        return {"drive-harddisk-solidstate", "drive-harddisk"};
    case Kind::HardDisk:
        return {"drive-harddisk"};
    }
    return {"drive-harddisk"};
}

QIcon DriveIcon::iconForRow(const Dict& row) {
    const Kind kind = kindOfRow(row);
    for (const QString& name : themeNames(kind)) {
        QIcon icon = QIcon::fromTheme(name);
        if (!icon.isNull()) return icon;
    }
    return drawnIcon(kind);
}

QIcon DriveIcon::drawnIcon(Kind kind) {
    QIcon icon;
    icon.addPixmap(paint(kind, 64));
    icon.addPixmap(paint(kind, 128));
    return icon;
}
