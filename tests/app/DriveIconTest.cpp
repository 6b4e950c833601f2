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

// Rows of every kind: by bus and removability, a volume with its drive's
// icon, and the generic icons when no driver was found.
const std::pair<Dict, Kind> kRows[] = {
    {row("SATA", "Internal.icns", "sd", false), Kind::HardDisk},
    {row("USB", "Removable.icns", "sd", false), Kind::UsbStick},
    {row("USB", "External.icns", "sd", false), Kind::ExternalDisk},
    {row("Secure Digital", "Internal.icns", "mmcblk", false), Kind::FlashCard},
    {row("SATA", "Removable.icns", "sr", false), Kind::Optical},
    {row("SCSI", "Removable.icns", "sd", false), Kind::Removable},
    {row("PCI-Express", "Internal.icns", "nvme", false), Kind::SolidState},
    {row("FireWire", "Internal.icns", "sbp2", false), Kind::ExternalDisk},
    {row("USB", "Removable.icns", "sd", true), Kind::UsbStick},
    {row("USB", "External.icns", "sd", true), Kind::ExternalDisk},
    {row("SCSI", "Removable.icns", "sd", true), Kind::Removable},
    {row("Virtual Interface", "Internal.icns", "loop", false, "nil"), Kind::HardDisk},
    {row("Virtual Interface", "Internal.icns", "loop", true, "nil"), Kind::Removable},
    {Dict{}, Kind::HardDisk},
};

} // namespace

class DriveIconTest : public QObject {
    Q_OBJECT
private slots:
    // Each row is sorted into its kind and has an icon, with the desktop's
    // theme or without one.
    void rowsAreSortedIntoKindsAndEachHasAnIconWithOrWithoutATheme() {
        for (const auto& [r, kind] : kRows)
            QCOMPARE(DriveIcon::kindOfRow(r), kind);
        for (const QString& theme : {QIcon::themeName(), QStringLiteral("no-such-theme")}) {
            QIcon::setThemeName(theme);
            for (const auto& [r, kind] : kRows) {
                const QIcon icon = DriveIcon::iconForRow(r);
                QVERIFY(!icon.isNull() && !icon.pixmap(64, 64).isNull());
            }
        }
    }

    void drawnIconsArePaintedAtBothSizes() {
        for (Kind k : {Kind::HardDisk, Kind::ExternalDisk, Kind::UsbStick, Kind::Removable, Kind::FlashCard,
                       Kind::Optical, Kind::SolidState}) {
            const QIcon icon = DriveIcon::drawnIcon(k);
            QVERIFY(!icon.isNull());
            const QList<QSize> sizes = icon.availableSizes();
            QVERIFY(sizes.contains(QSize(64, 64)) && sizes.contains(QSize(128, 128)));
            // Something was drawn: the middle of the picture is not empty.
            QVERIFY(qAlpha(icon.pixmap(64, 64).toImage().pixel(32, 32)) > 0);
        }
    }
};

QTEST_MAIN(DriveIconTest)
#include "DriveIconTest.moc"
