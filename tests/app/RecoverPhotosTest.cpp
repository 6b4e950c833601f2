// Recover Photos driven through the window as a user runs it, on a card:
// every type the photo search offers and finds is listed on the result
// screen, beside the photos.

#include "AppTestSupport.h"
#include "ScanWizardDriver.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <QtTest>
#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;
using namespace testsupport;

class RecoverPhotosTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void theWebPsOfACardAreListedWholeBesideItsPhoto();
};

void RecoverPhotosTest::initTestCase() {
    // The built-in lists as the user's own, in a folder of the test's.
    const fs::path data = makeTempDir("recover-photos-lists");
    ::setenv("DRENTIC_STATE_DIR", data.c_str(), 1);
    for (const char* list : {"Sig_FR", "Sig_PR", "Sig_AL"})
        for (const std::string& name : {std::string(list) + ".dat", std::string(list) + "_backup.dat"})
            fs::copy_file(fs::path(DRENTIC_BUILT_IN_LISTS) / name, data / name);
}

// A FAT16 card that mkfs.vfat made and mtools filled with a lossy and a lossless WebP of ImageMagick's and a photo,
// the lossless WebP deleted again. Recover Photos ▸ Advanced of the card, every type marked: each WebP is found, at its
// RIFF length, and has its row on the result screen, as the photo has.
void RecoverPhotosTest::theWebPsOfACardAreListedWholeBesideItsPhoto() {
    if (!haveTool("convert") || !haveTool("mkfs.vfat") || !haveTool("mcopy")) QSKIP("needs ImageMagick and mtools");
    const fs::path dir = makeTempDir("recover-photos-card");
    const std::map<std::string, std::string> files{
        {"lossy.webp",
         toolSample("convert -seed " + sampleSeed(31) + " -size 640x480 plasma: -quality 80 \"$OUT\"", "webp")},
        {"lossless.webp",
         toolSample("convert -seed " + sampleSeed(32) + " -size 320x240 plasma: -define webp:lossless=true \"$OUT\"",
                    "webp")},
        {"photo.jpg",
         toolSample("convert -seed " + sampleSeed(33) + " -size 640x480 plasma: -quality 90 \"$OUT\"", "jpg")}};
    const fs::path card = mkfsVfat(dir, "-F 16", "16384");
    for (const auto& [name, bytes] : files) {
        QVERIFY2(bytes.size() > 1000, name.c_str());
        writeText(dir / name, bytes);
        mtools(card, "mcopy", shellQuoted(dir / name) + " ::" + name);
    }
    mtools(card, "mdel", "::lossless.webp");

    const platform::Array drives{diskRow(card.string(), fs::file_size(card))};
    Wizard w([drives] { return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{drives, {}, {}}; }, false);
    QVERIFY(!w.shownPhotoScanOf(card.string()).isEmpty());
    std::shared_ptr<Volume> v = w.p.delegate.selectedVolume();
    QVERIFY(v && v->dirRoot);
    std::map<std::string, int> listed;
    for (const auto& [path, node] : nodesByPath(v->dirRoot)) {
        if (node->isFolder()) continue;
        const std::string bytes = readThroughExtents(*v, *node);
        for (const auto& [name, original] : files) {
            // A photo is measured with a margin past its end; a WebP by its RIFF length.
            const bool same = name.ends_with(".jpg") ? bytes.starts_with(original) : bytes == original;
            if (!same) continue;
            const QModelIndex row = w.tree->model()->indexOfNode(node);
            QVERIFY2(row.isValid(), path.c_str());
            QVERIFY2(row.data().toString().endsWith(QString::fromStdString(fs::path(name).extension().string())),
                     qPrintable(row.data().toString()));
            ++listed[name];
        }
    }
    for (const auto& [name, original] : files)
        QVERIFY2(listed[name] == 1,
                 qPrintable(QStringLiteral("%1 is listed %2 times").arg(name.c_str()).arg(listed[name])));
}

QTEST_MAIN(RecoverPhotosTest)
#include "RecoverPhotosTest.moc"
