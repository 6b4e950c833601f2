// The preview window on a disk image made here: pictures written by QImage,
// a text file, garbage, and a silent MP3 whose ID3 tag carries lyrics and a
// cover, each a found file whose extents point into the image.

#include "app/PreviewWindow.h"

#include "AppTestSupport.h"
#include "app/TreeScreenController.h"
#include "results/NewDirViewHelper.h"
#include "results/qt/ResultOutlineModel.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes pngOf(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(out.begin(), out.end());
}

using testsupport::be32;
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes bytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
std::uint32_t synchsafe(std::uint32_t v) {
    return ((v & 0x0FE00000u) << 3) | ((v & 0x001FC000u) << 2) | ((v & 0x00003F80u) << 1) | (v & 0x7Fu);
}

// A silent MP3 (MPEG-1 layer III frames of zeros) behind an ID3 2.3 tag with
// a "USLT" and an "APIC" frame.
Bytes taggedMp3(const std::string& lyrics, const Bytes& cover, int frames) {
    auto frame = [](std::string_view id, const Bytes& body) {
        return bytes(id) + be32(static_cast<std::uint32_t>(body.size())) + Bytes{0, 0} + body;
    };
    Bytes uslt = Bytes{0} + bytes("eng") + Bytes{0} + bytes(lyrics);
    Bytes apic = Bytes{0} + bytes("image/png") + Bytes{0, 3} + bytes("cover") + Bytes{0} + cover;
    Bytes body = frame("USLT", uslt) + frame("APIC", apic) + Bytes(64, 0);
    Bytes out = bytes("ID3") + Bytes{3, 0, 0} + be32(synchsafe(static_cast<std::uint32_t>(body.size()))) + body;
    for (int i = 0; i < frames; ++i)
        out = out + Bytes{0xFF, 0xFB, 0x90, 0x00} + Bytes(413, 0);
    return out;
}

} // namespace

class PreviewWindowTest : public QObject {
    Q_OBJECT

    struct Placed {
        std::uint32_t sector;
        std::uint64_t size;
    };

    QTemporaryDir dir_;
    std::string imagePath_;
    std::vector<NewDir*> nodes_;
    Bytes png_, cover_;
    Placed pngAt_{}, textAt_{}, garbageAt_{}, mp3At_{}, notImageAt_{}, faxAt_{}, cutJpegAt_{}, cutPngAt_{},
        cutProgressiveAt_{};
    std::uint32_t nextSector_ = 8;

    Placed place(std::ofstream& out, const Bytes& data) {
        Placed p{nextSector_, data.size()};
        out.seekp(static_cast<std::streamoff>(p.sector) * 512);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        nextSector_ += static_cast<std::uint32_t>((data.size() + 511) / 512) + 4;
        return p;
    }

    std::shared_ptr<Volume> volume(bool sessionSaved = true) {
        auto v = testsupport::volumeOver(imagePath_);
        v->scanInfoSaved = sessionSaved;
        return v;
    }

    NewDir* folder(const char16_t* name) {
        NewDir* n = newdir::allocate();
        n->fileType = NewDir::Folder;
        newdir::setFileName(n, name);
        nodes_.push_back(n);
        return n;
    }
    NewDir* file(const char16_t* name, Placed where, std::uint8_t sectorsPerBlock = 1) {
        NewDir* n = folder(name);
        n->fileType = NewDir::File;
        n->fileSize = where.size;
        newdir::setSectorsPerBlock(n, sectorsPerBlock);
        newdir::appendDataExtent(n, where.sector, std::max<std::uint64_t>((where.size + 511) / 512, 1));
        return n;
    }
    // The preview of a node asked for as the result screen asks for it, on
    // the volume of the image made here unless one is chosen already.
    PreviewWindow* preview(ProgramUnderTest& p, NewDir* node) {
        if (!p.delegate.selectedVolume()) p.delegate.setSelectedVolume(volume());
        PreviewWindow::preview(p.delegate, node);
        return PreviewWindow::of(&p.window);
    }

    // A file of `root` at a placed sample, attached as a scan attaches it.
    static NewDir* addPlaced(NewDir* root, const char16_t* name, Placed at) {
        NewDir* file = addNode(root, name, NewDir::File, at.size, false);
        newdir::setSectorsPerBlock(file, 1);
        newdir::appendDataExtent(file, at.sector, static_cast<std::uint32_t>((at.size + 511) / 512));
        return file;
    }
    // The result screen of `v`'s tree under `root`, shown with no row selected.
    static void showResult(ProgramUnderTest& p, TreeScreenController* tree, const std::shared_ptr<Volume>& v,
                           NewDir* root) {
        newdir::fillChildrenDirectArrays(root);
        p.delegate.setSelectedVolume(v);
        p.delegate.setIsPTListOrPTScanListChosen(0);
        tree->showTree();
        p.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
    }

    // A photo of 1000 x 750 whose top 150 rows are red over a plasma, as ImageMagick writes it.
    Bytes madePicture(unsigned seed, const char* extension, const std::string& options = {}) {
        const QString path = dir_.filePath(QStringLiteral("made.") + QLatin1String(extension));
        const std::string command = "MAGICK_THREAD_LIMIT=1 convert -seed " + testsupport::sampleSeed(seed) +
                                    " -size 1000x750 plasma: -fill red -draw 'rectangle 0,0 999,149' " + options + " " +
                                    testsupport::shellQuote(path.toStdString());
        if (!testsupport::runCommand(command)) return {};
        return testsupport::readBytes(path.toStdString());
    }

    static QString text(PreviewWindow* w) { return w->findChild<QPlainTextEdit*>("previewText")->toPlainText(); }
    static QString label(PreviewWindow* w, const char* name) { return w->findChild<QLabel*>(name)->text(); }
    static QPixmap pixmap(PreviewWindow* w, const char* name) { return w->findChild<QLabel*>(name)->pixmap(); }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        imagePath_ = dir_.filePath(QStringLiteral("disk.img")).toStdString();
        png_ = pngOf(40, 30, Qt::red);
        cover_ = pngOf(16, 16, Qt::blue);
        std::ofstream out(imagePath_, std::ios::binary);
        pngAt_ = place(out, png_);
        textAt_ = place(out, Bytes{'A', 0x0A, 'B'});
        garbageAt_ = place(out, Bytes(5000, 'x'));
        notImageAt_ = place(out, bytes("plain words, not a picture"));
        mp3At_ = place(out, taggedMp3("one\ntwo\nthree\nfour\nfive", cover_, 200));
        const std::filesystem::path fax = dir_.filePath(QStringLiteral("fax.tif")).toStdString();
        QVERIFY2(testsupport::writeFax(fax), "ImageMagick and tiffcp made no fax");
        faxAt_ = place(out, testsupport::readBytes(fax));
        // Photos whose top band is red, cut halfway as a carving lists a first fragment that another photo follows:
        // to the other photo's first sector, the JPEG with its 512 bytes of margin past it.
        const Bytes jpeg = madePicture(61, "jpg"), png = madePicture(62, "png"), next = madePicture(63, "jpg"),
                    progressive = madePicture(64, "jpg", "-interlace Plane");
        QVERIFY2(!jpeg.empty() && !png.empty() && next.size() > 512 && !progressive.empty(),
                 "ImageMagick made no photos");
        const auto firstHalf = [](const Bytes& photo) {
            return Bytes(photo.begin(), photo.begin() + photo.size() / 1024 * 512);
        };
        cutJpegAt_ = place(out, firstHalf(jpeg) + Bytes(next.begin(), next.begin() + 512));
        cutPngAt_ = place(out, firstHalf(png));
        // A progressive photo decodes its first scans over the whole picture: the next photo's start marker in the
        // margin ends the decoding before any row comes out.
        cutProgressiveAt_ = place(out, firstHalf(progressive) + Bytes(next.begin(), next.begin() + 512));
        out.seekp(std::max<std::streamoff>(4096, nextSector_) * 512 - 1);
        out.put('\0');
    }
    void cleanupTestCase() {
        for (NewDir* n : nodes_)
            newdir::freeNDir(n);
    }

    void showsAnImageWrittenByQImageAndTheFailedPictureForABlockOfNoBytes() {
        ProgramUnderTest p;
        auto* w = preview(p, file(u"photo.PNG", pngAt_));
        QVERIFY(w);
        QCOMPARE(w->objectName(), QStringLiteral("previewWindow"));
        QCOMPARE(p.delegate.element(QStringLiteral("previewWindow")), w);
        QVERIFY(w->isVisible());
        QCOMPARE(w->supportedFileType(), int(PreviewWindow::Image));
        QTRY_VERIFY(!w->previewLoading());
        QCOMPARE(w->selectedPreviewTab(), QStringLiteral("Image"));
        QCOMPARE(w->previewImageName(), QString());
        QCOMPARE(w->previewData().size(), qsizetype(png_.size()));
        const QPixmap shown = pixmap(w, "previewImage");
        QVERIFY(!shown.isNull());
        QCOMPARE(shown.toImage().pixelColor(5, 5), QColor(Qt::red));
        QCOMPARE(label(w, "previewFileName"), QStringLiteral("photo.PNG"));

        preview(p, file(u"broken.png", pngAt_, 0));
        QTRY_VERIFY(!w->previewLoading());
        QCOMPARE(w->previewImageName(), QStringLiteral("preview-failed"));
        QCOMPARE(w->selectedPreviewTab(), QStringLiteral("Image"));

        // Closing through the program clears the window and the count.
        p.delegate.previewClose();
        QVERIFY(!w->isVisible());
        QCOMPARE(w->numPreviewAttempts(), 0);
        QVERIFY(pixmap(w, "previewImage").isNull());
    }

    // Text, a file without an extension, data no image reader takes, and a
    // file of the size limit (its first block) show as printable characters;
    // folders show only while the window is open.
    void textShowsAsPrintableCharactersAndFoldersOnlyWhileTheWindowIsOpen() {
        ProgramUnderTest p;
        p.delegate.setSelectedVolume(volume());
        NewDir* photos = folder(u"Photos");
        PreviewWindow::preview(p.delegate, photos);
        auto* existing = p.window.findChild<PreviewWindow*>();
        QVERIFY(!existing || !existing->isVisible());
        auto* w = preview(p, file(u"notes.txt", textAt_));
        QCOMPARE(w->supportedFileType(), int(PreviewWindow::Text));
        QCOMPARE(w->selectedPreviewTab(), QStringLiteral("Text"));
        QCOMPARE(text(w), QStringLiteral("A.B"));
        preview(p, file(u"README", textAt_));
        QCOMPARE(text(w), QStringLiteral("A.B"));

        preview(p, file(u"fake.jpg", notImageAt_));
        QTRY_VERIFY(!w->previewLoading());
        QCOMPARE(w->selectedPreviewTab(), QStringLiteral("Text"));
        QCOMPARE(text(w), QStringLiteral("plain words, not a picture"));

        NewDir* big = file(u"huge.png", textAt_);
        big->fileSize = 50'000'000;
        preview(p, big);
        QVERIFY(!w->previewLoading());
        QCOMPARE(w->selectedPreviewTab(), QStringLiteral("Text"));
        QCOMPARE(text(w).left(3), QStringLiteral("A.B"));
        QCOMPARE(text(w).size(), 511);

        preview(p, photos);
        QCOMPARE(label(w, "previewFileName"), QStringLiteral("Photos"));
        QCOMPARE(w->selectedPreviewTab(), QStringLiteral("Image"));
        QCOMPARE(w->previewImageName(), QString());
        QVERIFY(!w->previewLoading());
    }

    void garbageAsAMovieShowsTheFailedPicture() {
        ProgramUnderTest p;
        auto* w = preview(p, file(u"clip.mov", garbageAt_));
        QCOMPARE(w->supportedFileType(), int(PreviewWindow::Movie));
        QTRY_COMPARE_WITH_TIMEOUT(w->previewImageName(), QStringLiteral("preview-failed"), 15000);
        QCOMPARE(w->selectedPreviewTab(), QStringLiteral("Image"));
        QCOMPARE(label(w, "movieStatus"), QStringLiteral("!Error: could not initialize"));
    }

    void anMp3ShowsItsTagsCoverAndLyrics() {
        ProgramUnderTest p;
        auto* w = preview(p, file(u"song.mp3", mp3At_));
        QTRY_VERIFY_WITH_TIMEOUT(w->selectedPreviewTab() == QStringLiteral("Movie") ||
                                     w->previewImageName() == QStringLiteral("preview-failed"),
                                 15000);
        if (w->previewImageName() == QStringLiteral("preview-failed"))
            QSKIP("no multimedia back end here opens MP3 data from memory");
        QCOMPARE(label(w, "movieSizeLoaded"), QStringLiteral("Loaded 100.00 %"));
        QVERIFY(label(w, "movieDuration").startsWith(QStringLiteral("Duration: 0:00:00:0")));
        QVERIFY(!pixmap(w, "posterView").isNull());
        QCOMPARE(pixmap(w, "bigPosterView").toImage().pixelColor(2, 2), QColor(Qt::blue));
        QVERIFY(w->lyricsScrolling());
        QVERIFY(w->lyricsText() == QStringLiteral("one\ntwo") || w->lyricsText() == QStringLiteral("three\nfour"));
        w->previewClose();
        QVERIFY(!w->lyricsScrolling());
    }

    void lyricsScrollTwoLinesAtATimeAndNeverShowTheLastLine() {
        ProgramUnderTest p;
        auto* w = PreviewWindow::of(&p.window);
        // 9 characters over 2.7 s: each pair of one-letter lines holds 0.6 s.
        w->scrollLyrics(QStringLiteral("a\r\nb\nc\rd\ne"), 2.7, 9);
        QCOMPARE(w->lyricsText(), QStringLiteral("a\nb"));
        QVERIFY(w->lyricsScrolling());
        QTRY_COMPARE_WITH_TIMEOUT(w->lyricsText(), QStringLiteral("c\nd"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!w->lyricsScrolling(), 5000);
        QCOMPARE(w->lyricsText(), QStringLiteral(" "));
    }

    void aNewerRequestReplacesTheOneInProgressAndAThirdWaitingOneIsRefused() {
        ProgramUnderTest p;
        p.delegate.setSelectedVolume(volume());
        auto* w = PreviewWindow::of(&p.window);
        NewDir* a = file(u"a.png", pngAt_);
        NewDir* b = file(u"b.txt", textAt_);
        NewDir* c = file(u"c.png", pngAt_);
        // Asks for a node and checks the count of requests then waiting.
        auto ask = [&](NewDir* node, int attempts) {
            w->showPreviewFor(p.delegate.selectedVolume(), node);
            QCOMPARE(w->numPreviewAttempts(), attempts);
        };
        // The reader's end comes back through the event loop, so until it is
        // served the first request stays in progress.
        ask(a, 0);
        QVERIFY(w->previewLoading());
        ask(b, 1);
        ask(c, 2);
        ask(b, 2);
        // a gives up, c (which took b's place) is shown.
        QTRY_VERIFY(w->previewHDir() == c && !w->previewLoading());
        QCOMPARE(w->previewImageName(), QString());
        QCOMPARE(w->numPreviewAttempts(), 1);

        // From then on one request can wait behind a running one; a third
        // is refused and leaves the count at 2.
        ask(a, 1);
        QVERIFY(w->previewLoading());
        ask(c, 2);
        ask(b, 2);
        QTRY_VERIFY(w->previewHDir() == c && !w->previewLoading());
    }

    void theSessionWarningComesOncePerVolume() {
        ProgramUnderTest p;
        auto v = volume(false);
        p.delegate.setSelectedVolume(v);
        NewDir* notes = file(u"notes.txt", textAt_);
        {
            AlertAnswerer goBack(QStringLiteral("Go Back"));
            PreviewWindow::preview(p.delegate, notes);
            QVERIFY(goBack.answered());
            QCOMPARE(QStringList{goBack.title()} << goBack.buttons(),
                     (QStringList{"Information", "Go Back", "Preview"}));
            QVERIFY(goBack.message().startsWith("It is strongly recommended to save \"Recovery Session\""));
        }
        QVERIFY(v->previewWarningShown);
        auto* w = PreviewWindow::of(&p.window);
        QVERIFY(!w->isVisible() && w->numPreviewAttempts() == 0);
        // The next request goes straight to the preview.
        PreviewWindow::preview(p.delegate, notes);
        QVERIFY(w->isVisible());
        QCOMPARE(text(w), QStringLiteral("A.B"));
    }

    // On the result screen a user picks a file and presses "Preview": a PNG, and a fax TIFF, which Qt reads through
    // its image-format plug-ins.
    void thePreviewButtonShowsTheSelectedFile() {
        QVERIFY2(PreviewWindow::imageFileTypes().contains(QStringLiteral("tif")),
                 "Qt reads no TIFF here: the package qt6-image-formats-plugins is missing");
        ProgramUnderTest p;
        TreeScreenController* tree = TreeScreenController::install(p.delegate);
        auto v = volume();
        NewDir* root = v->createRoot();
        addNode(root, u"notes.txt", NewDir::File, textAt_.size, false);
        NewDir* photo = addPlaced(root, u"photo.png", pngAt_);
        NewDir* fax = addPlaced(root, u"fax.tif", faxAt_);
        showResult(p, tree, v, root);
        QVERIFY(!p.enabled("previewButton"));
        QTreeView* outline = tree->outline();
        const QModelIndex top = tree->model()->index(0, 0);
        const struct {
            NewDir* file;
            bool (*shown)(const QPixmap&);
        } cases[] = {{photo, [](const QPixmap& shown) { return shown.toImage().pixelColor(5, 5) == QColor(Qt::red); }},
                     {fax, &showsTheFaxFirstPage}};
        for (const auto& c : cases) {
            const QString name = QString::fromStdU16String(newdir::fileName(c.file));
            const QModelIndexList rows = tree->model()->match(tree->model()->index(0, 0, top), Qt::DisplayRole, name);
            QVERIFY2(rows.size() == 1, qPrintable(name));
            QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(rows.front()).center());
            QVERIFY(tree->selectedItem() && tree->selectedItem()->newDir() == c.file);
            QTest::mouseClick(p.widget<QAbstractButton>("previewButton"), Qt::LeftButton);
            auto* w = PreviewWindow::of(&p.window);
            QTRY_VERIFY(w->isVisible() && w->previewHDir() == c.file && !w->previewLoading());
            QCOMPARE(w->selectedPreviewTab(), QStringLiteral("Image"));
            QVERIFY2(c.shown(pixmap(w, "previewImage")), qPrintable(name));
            // Closed, so that selecting the next file previews nothing before its button is pressed.
            p.delegate.previewClose();
        }
    }

    // A photo marked Bad, cut halfway by another file, previews through the Preview button as a picture of what its
    // bytes decode to, its top rows the photo's, as image viewers show a cut photo; a progressive one too, though its
    // margin holds the next photo's start.
    void aPhotoMarkedBadShowsAsThePictureItsBytesDecodeTo() {
        ProgramUnderTest p;
        TreeScreenController* tree = TreeScreenController::install(p.delegate);
        auto v = volume();
        NewDir* root = v->createRoot();
        NewDir* const cut[] = {addPlaced(root, u"cut.jpg", cutJpegAt_), addPlaced(root, u"cut.png", cutPngAt_),
                               addPlaced(root, u"cut-progressive.jpg", cutProgressiveAt_)};
        for (NewDir* file : cut)
            file->complete = NewDir::kDamaged;
        showResult(p, tree, v, root);
        QTreeView* outline = tree->outline();
        for (NewDir* file : cut) {
            const QByteArray name = QString::fromStdU16String(newdir::fileName(file)).toUtf8();
            const QModelIndex row = tree->model()->indexOfNode(file);
            QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(row).center());
            QVERIFY(tree->selectedItem() && tree->selectedItem()->newDir() == file);
            QTest::mouseClick(p.widget<QAbstractButton>("previewButton"), Qt::LeftButton);
            auto* w = PreviewWindow::of(&p.window);
            QTRY_VERIFY(w->isVisible() && w->previewHDir() == file && !w->previewLoading());
            QCOMPARE(w->selectedPreviewTab(), QStringLiteral("Image"));
            QCOMPARE(w->previewImageName(), QString());
            const QImage shown = pixmap(w, "previewImage").toImage();
            QVERIFY2(!shown.isNull(), name.constData());
            // The red band, across the picture, wherever it was scaled to.
            for (const int x : {1, 5, 9}) {
                const QColor top = shown.pixelColor(x * shown.width() / 10, shown.height() / 10);
                QVERIFY2(top.red() > 200 && top.green() < 60 && top.blue() < 60, name.constData());
            }
            p.delegate.previewClose();
        }
    }

    // A file over a sector the drive, still connected, cannot read: the preview, read on a worker for a picture
    // and at once for text, ends on the failed picture and says why instead of staying on the loading picture.
    void aFileOverASectorThatCannotBeReadSaysSoInsteadOfLoading() {
        ProgramUnderTest p;
        TreeScreenController* tree = TreeScreenController::install(p.delegate);
        auto v = volume();
        testsupport::FailingReads bad;
        bad.failSectors(pngAt_.sector);
        bad.failSectors(textAt_.sector);
        v->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
        p.delegate.setDriveDictArray(platform::Array{platform::Dict{{"Path", v->path()}}});
        NewDir* root = v->createRoot();
        addPlaced(root, u"photo.png", pngAt_);
        addPlaced(root, u"notes.txt", textAt_);
        showResult(p, tree, v, root);
        QTreeView* outline = tree->outline();
        auto* w = PreviewWindow::of(&p.window);
        for (int row = 0; row < 2; ++row) {
            const QModelIndex index = tree->model()->index(row, 0, tree->model()->index(0, 0));
            QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(index).center());
            AlertAnswerer answer(QStringLiteral("OK"));
            QTest::mouseClick(p.widget<QAbstractButton>("previewButton"), Qt::LeftButton);
            QTRY_VERIFY(answer.answered());
            QCOMPARE(answer.title(), QStringLiteral("! Can not show preview"));
            QCOMPARE(answer.message(), QStringLiteral("Some sectors of the file could not be read from the drive."));
            QVERIFY(w->isVisible() && !w->previewLoading());
            QCOMPARE(w->previewImageName(), QStringLiteral("preview-failed"));
            QCOMPARE(w->selectedPreviewTab(), QStringLiteral("Image"));
            // Closed, so that selecting the next file previews nothing before its button is pressed.
            p.delegate.previewClose();
        }
    }
};

QTEST_MAIN(PreviewWindowTest)
#include "PreviewWindowTest.moc"
