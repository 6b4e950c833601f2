// Recover Photos driven through the window as a user runs it, on a card:
// every type the photo search offers and finds is listed on the result
// screen, beside the photos; and the save of them from a card that has
// gone bad since, stopped with the sheet's button in its second pass.

#include "AppTestSupport.h"
#include "ScanWizardDriver.h"
#include "app/ProgressIndicator.h"
#include "app/SavingDataSheet.h"
#include "platform/SystemLog.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

namespace fs = std::filesystem;
using namespace testsupport;

class RecoverPhotosTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void theWebPsOfACardAreListedWholeBesideItsPhoto();
    void theStopButtonInASavesSecondPassKeepsWhatBothPassesWrote();
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

// A FAT16 card that mkfs.vfat made and mtools filled with photos, Recover Photos ▸ Advanced of it, everything marked,
// then the card goes bad before the save: its large photo lies on bad sectors but a readable island of 128 KiB in its
// middle, the next photo wholly on bad sectors. Save: the first pass writes the readable photos; the second comes back
// to the bad ones, its progress the places asked of those to ask on the sheet's bar, and once its asks are past the
// island the user clicks the sheet's stop button. The save ends "Saving Aborted", counting the photo it did not write:
// every readable photo is kept whole, the large one holds the island at its place, and no file of zeros is left (the
// photo not one of whose sectors was read is not there).
void RecoverPhotosTest::theStopButtonInASavesSecondPassKeepsWhatBothPassesWrote() {
    if (!haveTool("convert") || !haveTool("mkfs.vfat") || !haveTool("mcopy")) QSKIP("needs ImageMagick and mtools");
    const fs::path dir = makeTempDir("stopped-second-pass");
    const fs::path card = mkfsVfat(dir, "-F 16", "16384");
    std::vector<std::pair<std::string, std::string>> photos;
    for (const auto& [name, size] : std::vector<std::pair<std::string, std::string>>{
             {"A", "320x240"}, {"BIG", "1600x1200"}, {"MID", "640x480"}, {"C", "320x240"}, {"D", "400x300"}}) {
        photos.emplace_back(name, toolSample("convert -seed " + sampleSeed(40 + static_cast<int>(photos.size())) +
                                                 " -size " + size + " plasma: -quality 95 \"$OUT\"",
                                             "jpg"));
        writeText(dir / (name + ".JPG"), photos.back().second);
        mtools(card, "mcopy", shellQuoted(dir / (name + ".JPG")) + " ::" + name + ".JPG");
    }
    const std::string image = readText(card);
    std::map<std::string, std::uint64_t> first;
    for (const auto& [name, bytes] : photos) {
        const std::size_t at = image.find(bytes);
        QVERIFY2(at != std::string::npos && at % 512 == 0, name.c_str());
        first[name] = at / 512;
    }
    const std::string& big = photos[1].second;
    const std::uint64_t bigSectors = (big.size() + 511) / 512, island = (first["BIG"] + bigSectors / 2) / 8 * 8;
    QVERIFY(bigSectors > 1024);
    testsupport::FailingReads failing;
    failing.failSectors(first["BIG"], island - first["BIG"]);
    failing.failSectors(island + 256, first["BIG"] + bigSectors - island - 256);
    failing.failSectors(first["MID"], (photos[2].second.size() + 511) / 512);

    const platform::Array drives{diskRow(card.string(), fs::file_size(card))};
    Wizard w([drives] { return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{drives, {}, {}}; }, false);
    QVERIFY(!w.shownPhotoScanOf(card.string()).isEmpty());
    // The card goes bad. Once the second pass asks past the island, the save waits at its next failed read until
    // the test lets it go.
    std::atomic<bool> second{false}, held{false};
    std::mutex mutex;
    std::condition_variable letGo;
    bool goOn = false;
    platform::setLogSink([&](const std::string& line) {
        if (line.find("the save comes back to the") != std::string::npos) second = true;
    });
    struct SinkRestored {
        ~SinkRestored() { platform::setLogSink(nullptr); }
    } sinkRestored;
    w.p.delegate.selectedVolume()->setRawRead(
        [&, read = failing.reader()](int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) {
            const std::int64_t got = read(fd, buffer, length, offset);
            if (got < 0 && second && offset > (island + 512) * 512) {
                held = true;
                std::unique_lock lock(mutex);
                letGo.wait(lock, [&] { return goOn; });
            }
            return got;
        },
        {}, failing.pastEveryCacheReader());
    w.markEverything();
    const fs::path out = makeTempDir("stopped-second-pass-save");
    AlertAnswerer ended(QStringLiteral("OK"));
    {
        AlertAnswerer notTheSameVolume(QStringLiteral("Yes"));
        w.saveTo(out);
        QTRY_VERIFY_WITH_TIMEOUT(held.load(), 60000);
    }
    // The sheet says that stopping keeps what is saved; its bar goes by the places asked of those to ask, a few
    // thousand sectors, and has moved.
    auto* sheet = w.p.window.findChild<SavingDataSheet*>(QStringLiteral("windowSavingData"));
    QVERIFY(sheet && sheet->isVisible());
    QVERIFY(sheet->messageLabel()->text().contains(QStringLiteral("Stop Saving keeps all that is saved")));
    QVERIFY(sheet->progressTree()->maxValue() < static_cast<double>(image.size() / 512));
    QTRY_VERIFY_WITH_TIMEOUT(sheet->progressTree()->doubleValue() > 0, 5000);
    QTest::mouseClick(sheet->stopSaveButton(), Qt::LeftButton);
    {
        std::lock_guard lock(mutex);
        goOn = true;
    }
    letGo.notify_all();
    QTRY_VERIFY_WITH_TIMEOUT(ended.answered(), 60000);
    // The photo never written is counted as a whole save's end counts it: one not one of whose sectors asked for
    // could be read, among the files not saved.
    QCOMPARE(ended.title(), QStringLiteral("Saving Aborted"));
    QVERIFY2(ended.message().contains(QStringLiteral("\n\n1 of the marked files and folders could not be saved")) &&
                 ended.message().contains(QStringLiteral("Marked files not saved as not one of their sectors that were "
                                                         "asked for could be read from the medium: 1.")),
             qPrintable(ended.message()));
    QTRY_VERIFY_WITH_TIMEOUT(!w.tree->savingRunning(), 20000);

    // Each saved file is a photo, its bytes at the start; the large one zeros but for the island; none zeros.
    std::map<std::string, int> saved;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(out, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        const std::string bytes = readText(it->path());
        QVERIFY2(bytes.find_first_not_of('\0') != std::string::npos, it->path().c_str());
        for (const auto& [name, photo] : photos) {
            const std::uint64_t at = (island - first[name]) * 512;
            const bool mine = name == "BIG" ? bytes.size() >= photo.size() &&
                                                  bytes.compare(at, 256 * 512, photo, at, 256 * 512) == 0 &&
                                                  bytes.find_first_not_of('\0') == at
                                            : bytes.starts_with(photo);
            saved[name] += mine ? 1 : 0;
        }
    }
    for (const char* name : {"A", "BIG", "C", "D"})
        QVERIFY2(saved[name] == 1, name);
    QCOMPARE(saved["MID"], 0);
}
