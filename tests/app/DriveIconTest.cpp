#include "app/DriveIcon.h"

#include <QGuiApplication>
#include <QtTest>

using platform::Dict;
using Kind = DriveIcon::Kind;

namespace {

Dict row(const char* bus, const char* resource, const char* driver, bool volume, const char* bundlePath = "/sys/x") {
    Dict d{{"Physical Interconnect", bus},
           {"IOBundleResourceFile", resource},
           {"CFBundleIdentifier", driver},
           {"bundle path", bundlePath}};
    if (volume) d.set("WhetherVolume", true);
    return d;
}

} // namespace

class DriveIconTest : public QObject {
    Q_OBJECT
private slots:
    void rowsAreSortedIntoKindsByBusAndRemovability() {
        QCOMPARE(DriveIcon::kindOfRow(row("SATA", "Internal.icns", "sd", false)), Kind::HardDisk);
        QCOMPARE(DriveIcon::kindOfRow(row("USB", "Removable.icns", "sd", false)), Kind::UsbStick);
        QCOMPARE(DriveIcon::kindOfRow(row("USB", "External.icns", "sd", false)), Kind::ExternalDisk);
        QCOMPARE(DriveIcon::kindOfRow(row("Secure Digital", "Internal.icns", "mmcblk", false)), Kind::FlashCard);
        QCOMPARE(DriveIcon::kindOfRow(row("SATA", "Removable.icns", "sr", false)), Kind::Optical);
        QCOMPARE(DriveIcon::kindOfRow(row("SCSI", "Removable.icns", "sd", false)), Kind::Removable);
        QCOMPARE(DriveIcon::kindOfRow(row("PCI-Express", "Internal.icns", "nvme", false)), Kind::SolidState);
        QCOMPARE(DriveIcon::kindOfRow(row("FireWire", "Internal.icns", "sbp2", false)), Kind::ExternalDisk);
        // A volume shows its drive's icon.
        QCOMPARE(DriveIcon::kindOfRow(row("USB", "Removable.icns", "sd", true)), Kind::UsbStick);
        // No driver found: the generic icons.
        QCOMPARE(DriveIcon::kindOfRow(row("Virtual Interface", "Internal.icns", "loop", false, "nil")), Kind::HardDisk);
        QCOMPARE(DriveIcon::kindOfRow(row("Virtual Interface", "Internal.icns", "loop", true, "nil")), Kind::Removable);
        QCOMPARE(DriveIcon::kindOfRow(Dict{}), Kind::HardDisk);
    }

    void everyRowKindHasAnIconWithOrWithoutATheme() {
        const QList<Dict> rows{row("SATA", "Internal.icns", "sd", false),
                               row("USB", "Removable.icns", "sd", false),
                               row("USB", "External.icns", "sd", true),
                               row("Secure Digital", "Internal.icns", "mmcblk", false),
                               row("SATA", "Removable.icns", "sr", false),
                               row("SCSI", "Removable.icns", "sd", true),
                               row("PCI-Express", "Internal.icns", "nvme", false),
                               row("Virtual Interface", "Internal.icns", "loop", false, "nil"),
                               row("Virtual Interface", "Internal.icns", "loop", true, "nil"),
                               Dict{}};
        for (const QString& theme : {QIcon::themeName(), QStringLiteral("no-such-theme")}) {
            QIcon::setThemeName(theme);
            for (const Dict& r : rows) {
                const QIcon icon = DriveIcon::iconForRow(r);
                QVERIFY(!icon.isNull());
                QVERIFY(!icon.pixmap(64, 64).isNull());
            }
        }
    }

    void drawnIconsArePaintedAtBothSizes() {
        for (Kind k : {Kind::HardDisk, Kind::ExternalDisk, Kind::UsbStick, Kind::Removable, Kind::FlashCard,
                       Kind::Optical, Kind::SolidState}) {
            const QIcon icon = DriveIcon::drawnIcon(k);
            QVERIFY(!icon.isNull());
            const QList<QSize> sizes = icon.availableSizes();
            QVERIFY(sizes.contains(QSize(64, 64)));
            QVERIFY(sizes.contains(QSize(128, 128)));
            // Something was drawn: the middle of the picture is not empty.
            const QImage image = icon.pixmap(64, 64).toImage();
            QVERIFY(qAlpha(image.pixel(32, 32)) > 0);
        }
    }
};

QTEST_MAIN(DriveIconTest)
#include "DriveIconTest.moc"
