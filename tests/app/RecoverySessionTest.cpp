#include "AppTestSupport.h"
#include "app/PreviewWindow.h"
#include "app/RecoverySessionController.h"
#include "app/TerminateSignal.h"
#include "app/TreeScreenController.h"
#include "platform/KeyedArchiver.h"
#include "results/qt/ResultOutlineModel.h"
#include "session/RecoverySessionSaving.h"
#include "session/SessionMediumCheck.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/TreeCleanup.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QWindow>
#include <csignal>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::Dict;

namespace {

// Answers every alert with its first button and keeps the titles and
// messages in order.
class AlertLog : public QObject {
public:
    AlertLog() {
        connect(&timer_, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && !box->buttons().isEmpty()) {
                    titles << box->text();
                    messages << box->informativeText();
                    box->buttons().first()->click();
                }
        });
        timer_.start(20);
    }
    QStringList titles, messages;

private:
    QTimer timer_;
};

// Whether a widget was shown at some point.
class ShownSpy : public QObject {
public:
    explicit ShownSpy(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        shown = shown || e->type() == QEvent::Show;
        return false;
    }
    bool shown = false;
};

// Root { Photos { a.jpg, b.jpg (deleted) }, notes.txt } over a pattern image.
std::shared_ptr<Volume> smallVolume(int scanType = 0) {
    const auto image = testsupport::patternImage(64);
    std::shared_ptr<Volume> v = scanType == 2 ? Volume::initWithDictionary(Dict{{"Path", image.string()},
                                                                                {"Preferred Block Size", 512},
                                                                                {"Size", 64 * 512},
                                                                                {"WhetherVolume", true},
                                                                                {"Volume Name", "Fotos"}})
                                              : testsupport::volumeOver(image);
    NewDir* root = v->createRoot();
    NewDir* photos = addNode(root, u"Photos", NewDir::Folder, 0, false);
    addNode(photos, u"a.jpg", NewDir::File, 1000, false);
    addNode(photos, u"b.jpg", NewDir::File, 2000, true);
    addNode(root, u"notes.txt", NewDir::File, 10, false);
    TreeCleanup::rearrangeTreeFromDir(root);
    TreeCleanup::rearrangeDeletedTree(root);
    newdir::fillChildrenDirectArrays(root);
    return v;
}

struct SessionProgram {
    // The drives the program finds whenever it builds its lists.
    std::shared_ptr<platform::Array> drives;
    ProgramUnderTest p;
    TreeScreenController* tree = TreeScreenController::install(p.delegate);
    RecoverySessionController* sessions = RecoverySessionController::install(p.delegate);
    QString folder = QString::fromStdString(testsupport::makeTempDir("sessions").string());

    explicit SessionProgram(platform::Array initial = {})
        : drives(std::make_shared<platform::Array>(std::move(initial))), p([d = drives] {
              return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{*d, {}, {}};
          }) {
        sessions->setPanelSettleDelay(std::chrono::milliseconds(0));
    }
    // The result screen on a tree found by a scan (mode 5 asks nothing there).
    void showResult(std::shared_ptr<Volume> volume) {
        p.delegate.setSelectedVolume(std::move(volume));
        p.delegate.setScanMode(platform::ScanMode::Formatted);
        tree->showTree();
    }
    QFileDialog* openDialog() {
        for (QFileDialog* dialog : p.window.findChildren<QFileDialog*>())
            if (dialog->isVisible()) return dialog;
        return nullptr;
    }
    // The dialog the last command put over the window, answered with a file.
    void chooseInDialog(const QString& file) {
        QFileDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = openDialog()));
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        dialog->selectFile(file);
        static_cast<QDialog*>(dialog)->accept();
    }
    // A session file written by the save thread, away from the window.
    QString writeSession(const std::shared_ptr<Volume>& v, const char* name, SessionFileOutput::RawWrite write = {}) {
        const QString file = folder + "/" + name;
        // The drives listed, so that a sector a drive fails is a bad sector, not a drive that has gone.
        platform::RecordingController quiet;
        quiet.setDriveDictArray(*drives);
        platform::setAppController(&quiet);
        RecoverySessionSaving saving({v, 0, 0, -1, {}, {}, false, {}, {}}, file.toStdString());
        saving.setPanelSettleDelay(std::chrono::milliseconds(0));
        saving.setRawWrite(std::move(write));
        saving.saveScanInfo();
        platform::setAppController(&p.delegate);
        v->freeTree();
        return file;
    }
    // Opens a handed-over file from the home screen (the drive lists built
    // again first) and waits for the end.
    void open(const QString& file) {
        QSignalSpy finished(sessions, &RecoverySessionController::openingFinished);
        p.delegate.initialDriveList();
        sessions->openScanInfoFile(file);
        QVERIFY(finished.wait(10000));
    }
    // Back home the way the result screen's Back does.
    void home() {
        QSignalSpy freed(tree, SIGNAL(treeFreed()));
        tree->freeTree(true);
        QVERIFY(freed.wait(10000));
        p.window.selectTabViewItemWithIdentifier(QStringLiteral("Main Screen"));
    }
    QStringList openAlerts(const QString& file) {
        AlertLog alerts;
        open(file);
        home();
        return alerts.titles;
    }
};

// Two cards of one model: the same size and the same first sectors. The
// first holds three photos; the other is blank or holds photos of its own.
struct Cards {
    fs::path folder = testsupport::makeTempDir("cards");
    std::vector<std::string> photos;
    static constexpr std::uint64_t kSize = 1 << 20;
    static constexpr std::uint64_t kAt[3] = {100, 700, 1500};

    fs::path make(const std::string& name, int seed) {
        const fs::path card = testsupport::zeroFile(folder / name, kSize);
        testsupport::writeBytesAt(card, 0, std::vector<std::uint8_t>(446, 0x5A));
        testsupport::writeBytesAt(card, 510, {0x55, 0xAA});
        std::vector<std::string> made;
        for (int i = 0; seed != 0 && i < 3; ++i) {
            const fs::path photo = folder / (name + std::to_string(i) + ".jpg");
            testsupport::runCommand("convert -seed " + testsupport::sampleSeed(static_cast<unsigned>(seed + i)) +
                                    " -size 120x90 plasma: " + testsupport::shellQuote(photo.string()));
            made.push_back(testsupport::readText(photo));
            testsupport::writeBytesAt(card, kAt[i] * 512, testsupport::readBytes(photo));
        }
        if (photos.empty()) photos = made;
        return card;
    }
    // The first card's photos as a photo carving lists them, all marked.
    std::shared_ptr<Volume> carved(const fs::path& card) const {
        auto v = testsupport::volumeOver(card);
        NewDir* root = v->createRoot();
        NewDir* folder = addNode(root, u"JPG Files", NewDir::Folder, 0, false);
        root->selected = folder->selected = 1;
        for (std::size_t i = 0; i < photos.size(); ++i) {
            const std::u16string name = u"photo" + std::u16string(1, char16_t(u'0' + i)) + u".jpg";
            NewDir* photo = addNode(folder, name.c_str(), NewDir::File, photos[i].size(), true);
            photo->foundBySignature = photo->selected = 1;
            newdir::setSectorsPerBlock(photo, 1);
            newdir::appendDataExtent(photo, static_cast<std::uint32_t>(kAt[i]),
                                     static_cast<std::uint32_t>((photos[i].size() + 511) / 512));
        }
        TreeCleanup::rearrangeTreeFromDir(root);
        newdir::fillChildrenDirectArrays(root);
        return v;
    }
};

// A session of the first card, the program that opens it and the presses
// the user makes on its tree. A copy of the card waits at "moved.img".
struct CardSession {
    Cards cards;
    fs::path card = cards.make("card.img", 11), moved = cards.folder / "moved.img";
    SessionProgram s{platform::Array{row(card)}};
    QString file = s.writeSession(cards.carved(card), "card.drs");
    AlertLog alerts;

    CardSession() { fs::copy_file(card, moved); }
    static Dict row(const fs::path& at) { return diskRow(at.string(), Cards::kSize); }
    void clearAlerts() {
        alerts.titles.clear();
        alerts.messages.clear();
    }
    void open() {
        clearAlerts();
        s.open(file);
        QTRY_VERIFY(alerts.titles.contains(QStringLiteral("Recovery Session Opened")));
        s.p.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.p.window));
    }
    // Save and Preview pressed on the first photo: each only says the drive
    // is not there; no folder is asked for, no preview shows, and the
    // drive's readers refuse it.
    void expectOnlyAlerts() {
        clearAlerts();
        QVERIFY(s.p.enabled("saveButton"));
        s.p.widget<QAbstractButton>("saveButton")->click();
        QCOMPARE(alerts.titles, QStringList{"Drive Not Connected"});
        QVERIFY(!s.openDialog());
        QTreeView* outline = s.tree->outline();
        outline->expandAll();
        const QModelIndex photo =
            s.tree->model()->index(0, 0, s.tree->model()->index(0, 0, s.tree->model()->index(0, 0)));
        QTest::mouseClick(outline->viewport(), Qt::LeftButton, {}, outline->visualRect(photo).center());
        QTest::mouseClick(s.p.widget<QAbstractButton>("previewButton"), Qt::LeftButton);
        QTRY_COMPARE(alerts.titles, (QStringList{"Drive Not Connected", "Drive Not Connected"}));
        const PreviewWindow* preview = PreviewWindow::made(&s.p.window);
        QVERIFY(!preview || !preview->isVisible());
        QVERIFY(s.p.delegate.selectedVolume()->mediumUnconfirmed());
    }
    // Save pressed: every photo saved whole into a new folder.
    void expectSavedWhole() {
        clearAlerts();
        const fs::path destination = testsupport::makeTempDir("saved");
        s.p.widget<QAbstractButton>("saveButton")->click();
        s.chooseInDialog(QString::fromStdString(destination.string()));
        QTRY_VERIFY_WITH_TIMEOUT(alerts.titles.contains(QStringLiteral("Saving Completed")), 10000);
        // The save thread still tells the window it has ended.
        QTRY_VERIFY(!s.tree->savingRunning());
        for (std::size_t i = 0; i < cards.photos.size(); ++i)
            QCOMPARE(testsupport::readText(destination / "Root" / "JPG Files" / ("photo" + std::to_string(i) + ".jpg")),
                     cards.photos[i]);
    }
};

} // namespace

class RecoverySessionTest : public QObject {
    Q_OBJECT
private slots:
    // From the result screen, shown with deleted files only: the dialog over
    // the window, the saving sheet, the whole tree in the file and on the
    // screen afterwards.
    void saveRecoverySessionWritesTheWholeTreeBehindTheSavingSheet() {
        SessionProgram s;
        auto volume = smallVolume();
        s.p.delegate.setSelectedVolume(volume);
        s.p.delegate.setScanMode(platform::ScanMode::Formatted);
        s.tree->showTree();
        QVERIFY(s.p.window.saveRecoverySessionAction()->isEnabled());
        QSignalSpy shown(s.tree, SIGNAL(treeShown()));
        s.p.widget<QAbstractButton>("buttonTreeShowDeleted")->click();
        QVERIFY(shown.wait(10000));
        QCOMPARE(s.p.text("buttonTreeShowDeleted"), QStringLiteral("Show  All"));

        ShownSpy sheet(s.p.delegate.element(QStringLiteral("windowSavingRecoverySession")));
        AlertLog alerts;
        QSignalSpy saved(s.sessions, &RecoverySessionController::savingFinished);
        s.p.widget<QAbstractButton>("saveScanButton")->click();
        s.chooseInDialog(s.folder + "/mine.drs");
        QVERIFY(saved.wait(10000));
        QCOMPARE(saved.first().first().toBool(), true);
        QTRY_COMPARE(alerts.titles, QStringList{"Recovery Session File Saved"});
        QVERIFY(sheet.shown && volume->scanInfoSaved);
        QCOMPARE(s.p.texts({"textFieldTreeStatus", "buttonTreeShowDeleted"}),
                 (QStringList{"Recovery Session Saved", "Show Deleted"}));
        QVERIFY(s.p.enabled("saveScanButton") && s.p.enabled("buttonTreeBackToPartitions"));
        std::string error;
        auto in = SessionFileInput::open((s.folder + "/mine.drs").toStdString(), &error);
        RecoverySession read;
        QVERIFY(in && RecoverySessionFile::readHead(*in, nullptr) == RecoverySessionFile::Head::Complete &&
                RecoverySessionFile::readSettings(*in, read));
        NewDir* root = RecoverySessionFile::readTree(*in);
        QVERIFY(root);
        QCOMPARE(testsupport::nodesByPath(root).size(), std::size_t(4));
        newdir::freeNDir(root);
    }

    // From the home screen through File > Open: the tree on the tree screen,
    // browsable, with the session's drive found by its first sectors.
    void openRecoverySessionShowsTheTree() {
        auto volume = smallVolume();
        SessionProgram s({Dict{{"Path", volume->path()}, {"Preferred Block Size", 512}}});
        const QString file = s.writeSession(volume, "home.drs");
        AlertLog alerts;
        QSignalSpy opened(s.sessions, &RecoverySessionController::openingFinished);
        s.p.window.openRecoverySessionAction()->trigger();
        s.chooseInDialog(file);
        QVERIFY(opened.wait(10000));
        QTRY_COMPARE(alerts.titles, QStringList{"Recovery Session Opened"});
        QCOMPARE(alerts.messages, QStringList{"From File: " + file});
        QCOMPARE(s.p.window.selectedIdentifier(), QStringLiteral("Tree"));
        const QModelIndex root = s.tree->model()->index(0, 0);
        QCOMPARE(root.data().toString(), QStringLiteral("Root"));
        QCOMPARE(s.tree->model()->rowCount(root), 2);
        QCOMPARE(s.p.texts({"textFieldTotalData", "textFieldTreeStatus"}),
                 (QStringList{"3.01 KB in 3 Files", "Recovery Session Opened"}));
        QVERIFY(!s.p.enabled("saveScanButton") && s.p.enabled("buttonTreeBackToPartitions"));
        QVERIFY(!s.p.window.saveRecoverySessionAction()->isEnabled());
        QVERIFY(s.p.delegate.selectedVolume()->openedScanInfo && s.p.delegate.scanInfoOrSavingNotProcessing());
    }

    // The refusals and warnings of opening, each in its own case.
    void openingSaysWhatIsWrong() {
        SessionProgram s;
        const QString complete = s.writeSession(smallVolume(), "drive.drs");
        QCOMPARE(s.openAlerts(complete), (QStringList{"Drive Not Connected", "Recovery Session Opened"}));
        QCOMPARE(s.openAlerts(s.writeSession(smallVolume(2), "volume.drs")),
                 (QStringList{"Volume Not Mounted", "Recovery Session Opened"}));

        const QString unfinished = s.writeSession(
            smallVolume(), "full.drs", [](int fd, const std::uint8_t* data, std::size_t n, std::uint64_t at) {
                if (at >= 1024) return errno = ENOSPC, std::int64_t{-1};
                return std::int64_t{::pwrite(fd, data, n, static_cast<off_t>(at))};
            });
        AlertLog alerts;
        s.sessions->openScanInfoFile(unfinished);
        QCOMPARE(alerts.messages, QStringList{"This recovery session file is incomplete."});

        // Another version's head over a complete file.
        std::vector<std::uint8_t> head;
        for (const char* text : {"Complete", "Drentic Recovery Software Recovery Session Version 9"}) {
            const auto archive = platform::KeyedArchiver::archivedDataWithRootObject(platform::Value(text));
            head.resize(head.size() + 4);
            testsupport::putBE(head, head.size() - 4, archive->size(), 4);
            head.insert(head.end(), archive->begin(), archive->end());
        }
        testsupport::writeBytesAt(complete.toStdString(), 0, head);
        s.sessions->openScanInfoFile(complete);
        QCOMPARE(alerts.messages.mid(1),
                 QStringList{"This recovery session file belongs to Drentic Recovery Software Recovery Session "
                             "Version 9. Can not process."});

        s.p.window.selectTabViewItemWithIdentifier(QStringLiteral("Drives List"));
        s.p.window.openRecoverySessionAction()->trigger();
        s.sessions->openScanInfoFile(complete);
        QCOMPARE(alerts.titles.mid(2),
                 (QStringList{"! Can not open recovery session file now", "! Can not open recovery session file now"}));
        QVERIFY(!s.p.window.findChild<QFileDialog*>());
    }

    // A session of a card, opened while another card of the same model sits at the card's old path (blank, or
    // holding photos of its own): the tree shows, but Save and Preview read nothing and say the drive is not
    // there, naming this program. The card itself, back at another path or at its own, saves every photo whole.
    void aSessionReadsAndSavesOnlyItsOwnDrive() {
        CardSession c;
        for (const int impostor : {0, 31}) {
            c.cards.make("card.img", impostor);
            c.open();
            QCOMPARE(c.alerts.titles, (QStringList{"Drive Not Connected", "Recovery Session Opened"}));
            QVERIFY(c.alerts.messages.first().endsWith("Please connect the drive and restart Drentic Deleted File "
                                                       "Recovery."));
            c.expectOnlyAlerts();
            if (impostor == 31) break;
            c.s.home();
        }
        // The card is connected at another path: the next Save finds it there.
        c.s.drives->push_back(CardSession::row(c.moved));
        c.expectSavedWhole();
        // And back at its own path, found when the session opens.
        c.s.home();
        fs::copy_file(c.moved, c.card, fs::copy_options::overwrite_existing);
        *c.s.drives = {CardSession::row(c.card)};
        c.open();
        QCOMPARE(c.alerts.titles, QStringList{"Recovery Session Opened"});
        c.expectSavedWhole();
    }

    // A session opened with its card found there: the card is then swapped at its path for another of the same
    // model (blank, or holding photos of its own), so Save and Preview only say the drive is not there. The
    // card back at its own path, or at another, is found by the next Save, which saves every photo whole.
    void aSessionLooksForItsDriveAgainAtEverySaveAndPreview() {
        CardSession c;
        for (const int impostor : {0, 31}) {
            c.open();
            QCOMPARE(c.alerts.titles, QStringList{"Recovery Session Opened"});
            c.cards.make("card.img", impostor);
            c.expectOnlyAlerts();
            const fs::path back = impostor == 0 ? c.card : c.moved;
            if (impostor == 0)
                fs::copy_file(c.moved, c.card, fs::copy_options::overwrite_existing);
            else
                c.s.drives->push_back(CardSession::row(c.moved));
            c.expectSavedWhole();
            QCOMPARE(c.s.p.delegate.selectedVolume()->path(), back.string());
            if (impostor == 31) {
                // Found where it now is, it stays there when a twin appears at its old path.
                fs::copy_file(c.moved, c.card, fs::copy_options::overwrite_existing);
                c.expectSavedWhole();
                QCOMPARE(c.s.p.delegate.selectedVolume()->path(), c.moved.string());
            }
            c.s.home();
        }
    }

    // A session of a card whose sector 3 cannot be read when the session is saved, when it is opened, or both:
    // it opens on the card, known by its other first sectors and its photos, and saves every photo whole; another
    // card of the same model that fails the same sector is still refused, Save and Preview only saying so.
    void aSessionOfAFailingCardOpensOnItAndOnNoOtherCard() {
        // The checks' own reader back however the test ends.
        const auto reset = qScopeGuard([] { SessionMediumCheck::setRawReadFor({}); });
        for (const int when : {1, 2, 3}) {
            testsupport::FailingReads saving, opening;
            if (when & 1) saving.failSectors(3);
            if (when & 2) opening.failSectors(3);
            const testsupport::FailingReads* now = &saving;
            SessionMediumCheck::setRawReadFor([&](const std::string&) { return now->reader(); });
            CardSession c;
            QCOMPARE(saving.failedReads(), std::uint64_t(when & 1));
            now = &opening;
            c.open();
            QCOMPARE(c.alerts.titles, QStringList{"Recovery Session Opened"});
            c.expectSavedWhole();
            c.s.home();
            c.cards.make("card.img", 31);
            c.open();
            QCOMPARE(c.alerts.titles, (QStringList{"Drive Not Connected", "Recovery Session Opened"}));
            c.expectOnlyAlerts();
            c.s.home();
        }
    }

    // "openFile.dat" in the state folder: the session it names opens at
    // launch (UTF-16 with a byte-order mark; an unfinished scan's pair then
    // waits, unasked, for a later launch) and while the program runs
    // (without one, found by the watcher); the file goes either way, and one
    // that holds no path opens nothing.
    void aSessionHandedOverInOpenFileDatOpens() {
        const QByteArray state = QByteArray::fromStdString(testsupport::makeTempDir("handover").string());
        qputenv("DRENTIC_STATE_DIR", state);
        SessionProgram s;
        const QString file = s.writeSession(smallVolume(), "handed.drs");
        const QString handOver = RecoverySessionController::openFilePath();
        const auto write = [&](const QByteArray& bytes) {
            QFile f(handOver);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        };
        QByteArray littleEndian("\xFF\xFE", 2), bigEndian;
        for (QChar c : file) {
            littleEndian.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
            bigEndian.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
        }
        AlertLog alerts;
        QSignalSpy opened(s.sessions, &RecoverySessionController::openingFinished);
        write(littleEndian);
        for (const char* name : {"/QuelvarMediaAutoRecovery.dat", "/QuelvarMediaAutoRecoveryInfo.dat"})
            testsupport::writeText((state + name).toStdString(), "x");
        s.p.delegate.applicationDidFinishLaunching();
        QVERIFY(opened.wait(10000) && !QFileInfo::exists(handOver));
        QVERIFY(!alerts.titles.contains(QStringLiteral("Resume Recovery?")));
        QVERIFY(QFileInfo::exists(state + "/QuelvarMediaAutoRecovery.dat"));
        QSignalSpy freed(s.tree, SIGNAL(treeFreed()));
        s.tree->freeTree(true);
        QVERIFY(freed.wait(10000));
        s.p.window.selectTabViewItemWithIdentifier(QStringLiteral("Main Screen"));

        write(bigEndian);
        QVERIFY(opened.wait(15000) && !QFileInfo::exists(handOver));
        QCOMPARE(alerts.titles.count(QStringLiteral("Recovery Session Opened")), 2);

        for (const QByteArray& garbled : {QByteArray("\x00", 1), QByteArray("\xD8\x00\x00\x41", 4), QByteArray()}) {
            write(garbled);
            s.sessions->openFilePathFileDetected();
            QVERIFY(!QFileInfo::exists(handOver));
        }
        QVERIFY(!s.sessions->openHandedOverSession());
        QTest::qWait(100);
        QCOMPARE(opened.count(), 2);
        qunsetenv("DRENTIC_STATE_DIR");
    }

    // Quitting on the result screen offers to save the session first:
    // "Cancel" stays; "Yes" ends the program once the session is written and
    // only then: a cancelled or failed save disarms the end, so a later save
    // of its own does not end it.
    void quitOnTheResultScreenOffersToSaveTheSession() {
        SessionProgram s;
        s.showResult(smallVolume());
        QSignalSpy ended(s.sessions, &RecoverySessionController::savingFinished);
        const auto saveThen = [&](const std::function<void()>& start, const QString& file) {
            AlertLog yes;
            return programEnds(
                [&] {
                    start();
                    QTRY_VERIFY(s.openDialog());
                    file.isEmpty() ? s.openDialog()->reject() : s.chooseInDialog(file);
                    QTRY_VERIFY_WITH_TIMEOUT(!ended.isEmpty(), 10000);
                    ended.clear();
                },
                300);
        };
        const auto quit = [&] { s.p.delegate.terminateApplication(); };
        AlertAnswerer cancel("Cancel");
        QVERIFY(!programEnds(quit, 100) && cancel.answered());
        QVERIFY(!saveThen(quit, QString()) && !saveThen(quit, "/nowhere/here.drs"));
        QVERIFY(!saveThen([&] { s.p.widget<QAbstractButton>("saveScanButton")->click(); }, s.folder + "/own.drs"));
        const std::shared_ptr<Volume> saved = s.p.delegate.selectedVolume();
        s.showResult(smallVolume());
        saved->freeTree();
        QVERIFY(saveThen(quit, s.folder + "/last.drs") && s.p.delegate.selectedVolume()->scanInfoSaved);
    }

    // A quit on the result screen taken back at the session question by Escape, or by the question's close box, is
    // taken back as by its Cancel: the program goes on, on the same page with the same found files.
    void aQuitTakenBackByEscapeOrTheCloseBoxKeepsTheFoundFiles() {
        SessionProgram s;
        s.showResult(smallVolume());
        s.p.window.show();
        const std::shared_ptr<Volume> volume = s.p.delegate.selectedVolume();
        const int rows = s.tree->model()->rowCount(s.tree->model()->index(0, 0));
        for (const auto& back :
             {std::function<void(QMessageBox*)>([](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Escape); }),
              std::function<void(QMessageBox*)>([](QMessageBox* b) { b->windowHandle()->close(); })}) {
            s.p.window.activateWindow(); // the shortcut goes to the active window
            QVERIFY(QTest::qWaitForWindowActive(&s.p.window));
            AlertAnswerer question(QString(), back);
            QVERIFY(!programEnds([&] { QTest::keyClick(&s.p.window, Qt::Key_Q, Qt::ControlModifier); }, 300));
            QCOMPARE(question.title(), QStringLiteral("Do you want to save recovery session?"));
            QVERIFY(s.p.window.isVisible() && s.p.window.selectedIdentifier() == QStringLiteral("Tree"));
            QVERIFY(s.p.delegate.selectedVolume() == volume && s.p.delegate.dirRootTemp() == volume->dirRoot);
            QCOMPARE(s.tree->model()->rowCount(s.tree->model()->index(0, 0)), rows);
        }
    }

    // A terminate while a save of the found files runs is refused as a quit is. One that comes while the save's last
    // alert is up leaves that alert to be read, and the program then ends as a quit on the result screen does.
    void aTerminateAtASavesLastAlertEndsTheProgramOnceItIsRead() {
        Cards cards;
        const fs::path card = cards.make("card.img", 11);
        SessionProgram s{platform::Array{diskRow(card.string(), Cards::kSize)}};
        TerminateSignal terminate;
        s.p.delegate.followTerminateSignals(terminate);
        s.p.delegate.initialDriveList();
        const std::shared_ptr<Volume> volume = cards.carved(card);
        // The card answers only once the test lets it: the save is held in its first read.
        auto held = std::make_shared<std::atomic<bool>>(true);
        volume->setRawRead([held](int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t at) {
            while (held->load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return static_cast<std::int64_t>(::pread(fd, buffer, length, static_cast<off_t>(at)));
        });
        s.showResult(volume);
        QVERIFY(s.tree->model()->setData(s.tree->model()->index(0, ResultOutlineModel::MarkColumn), Qt::Checked,
                                         Qt::CheckStateRole));
        AlertAnswerer yes("Yes");
        s.p.widget<QAbstractButton>("saveButton")->click();
        s.chooseInDialog(QString::fromStdString(testsupport::makeTempDir("saved").string()));
        AlertAnswerer refused("OK");
        QCOMPARE(::raise(SIGTERM), 0);
        QTRY_VERIFY(refused.answered());
        QCOMPARE(refused.title(), QStringLiteral("Process Running"));

        bool readAfterTheTerminate = false, terminated = false;
        AlertAnswerer no("No", [&](QMessageBox* box) {
            if (box->text() != QStringLiteral("Saving Completed") || std::exchange(terminated, true)) return;
            QSignalSpy taken(&terminate, &TerminateSignal::requested);
            QCOMPARE(::raise(SIGTERM), 0);
            QVERIFY(taken.wait(5000) && box->isVisible());
            readAfterTheTerminate = true;
            box->buttons().first()->click();
        });
        QVERIFY(programEnds([&] { *held = false; }, 30000));
        QVERIFY(readAfterTheTerminate);
        QCOMPARE(no.title(), QStringLiteral("Do you want to save recovery session?"));
    }

    // "No" ends the program, by the close button as by the Quit command; an
    // end the program asks for itself (a lost drive) asks nothing.
    void quitAnsweredNoOrAskedByTheProgramEndsIt() {
        for (bool lostDrive : {false, true}) {
            SessionProgram s;
            s.showResult(smallVolume());
            AlertAnswerer no("No");
            QVERIFY(programEnds([&] { lostDrive ? s.p.delegate.terminateApp() : (void)s.p.window.close(); }, 5000));
            QCOMPARE(no.answered(), !lostDrive);
        }
    }
};

QTEST_MAIN(RecoverySessionTest)
#include "RecoverySessionTest.moc"
