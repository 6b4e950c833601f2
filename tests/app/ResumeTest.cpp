// An interrupted carving goes on where it stopped: the program itself (its
// launch, wizard and scan threads, in a child process started from this test
// with disk images as its drives) carves a disk of thousands of photos until
// it is killed with SIGKILL mid-search; started again with "auto", or
// answering "Resume Recovery?" with YES, it finishes the search with every
// photo an uninterrupted run finds, each at its sector, none twice, and the
// pair is gone; answering NO deletes the pair. The same holds with the disk
// back under another path while another medium has its old one, with an Info
// file that lies, with a snapshot cut inside a record, and with the disk's
// sector 3, one of its spread samples and its last sector unreadable when
// the snapshot was written, at the restart (which asks each of them once) or
// both; with the disk gone the program says so, shows no result and keeps the
// pair.

#include "AppTestSupport.h"
#include "app/ApplicationMain.h"
#include "app/DrivesTableDataSource.h"
#include "app/ScanWizard.h"
#include "app/SignatureListController.h"
#include "app/TreeScreenController.h"
#include "platform/ProcessFlags.h"
#include "platform/RecordingController.h"
#include "session/AutoRecoverySnapshot.h"
#include "session/SessionMediumCheck.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

#include <QFileInfo>
#include <QProcess>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

using platform::Array;
using platform::Dict;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kDiskBytes = 1ULL << 30;
constexpr std::uint64_t kDiskSectors = kDiskBytes / 512;
constexpr int kPhotos = 3000;
// Sector 3, the 17th of the 32 spread samples and the last sector: what the
// program knows its disk by, unreadable.
const QString kUnreadable = QStringLiteral("3,%1,%2").arg(kDiskSectors / 33 * 17).arg(kDiskSectors - 1);

// Where photo i of a disk lies: a few sectors of it every 691, at uneven
// places.
std::uint64_t photoSector(int i, std::uint64_t first, std::uint64_t every) {
    return first + std::uint64_t(i) * every + std::uint64_t(i % 5);
}

// "path sector" for every file below the root: where its data begin.
std::map<std::string, std::uint64_t> filesOf(const NewDir* root) {
    std::map<std::string, std::uint64_t> out;
    for (const auto& [path, node] : testsupport::nodesByPath(root))
        if (node->fileType == NewDir::File && node->extentCount() > 0)
            out[path] = node->dataStartSector + std::uint64_t{node->extents[0].startBlock} * node->sectorsPerBlock;
    return out;
}

// --- the program's side (a child process of this test) ---

// Answers the alerts up, noting their titles in RESUME_TEST_ALERTS.
void answerAlerts(const QString& answer) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
            std::ofstream(qEnvironmentVariable("RESUME_TEST_ALERTS").toStdString(), std::ios::app)
                << box->text().toStdString() << '\n';
            for (QAbstractButton* b : box->buttons())
                if (b->text() == answer || (answer.isEmpty() && b == box->buttons().first())) b->click();
        }
}

void click(MainWindow& window, const char* name) {
    if (auto* b = window.findChild<QAbstractButton*>(QString::fromLatin1(name)); b && b->isEnabled()) b->click();
}

// Photos of the disk, every type marked, as a user starts them.
void startCarving(Quelvar_Recovery_SoftwareAppDelegate& delegate, MainWindow& window, const std::string& disk) {
    click(window, "buttonRecoverPhotos");
    click(window, "buttonRecoverPhotosAdvanced");
    ScanWizard* wizard = ScanWizard::of(delegate);
    for (int i = 0; i < 2000 && (window.selectedIdentifier() != "Drives List" || wizard->loadingDrives()); ++i)
        QTest::qWait(10);
    DrivesTableDataSource::of(delegate)->selectRowWithPath(disk);
    click(window, "nextButtonInDrivesList");
    SignatureListController::of(delegate)->selectAllSig();
    click(window, "nextButtonSigTab");
}

// Waits for the result screen, writes "path sector" lines of the files it
// shows to `out`, and ends the program.
void reportTree(Quelvar_Recovery_SoftwareAppDelegate& delegate, const QString& out) {
    auto* timer = new QTimer(&delegate);
    auto reported = std::make_shared<bool>(false);
    QObject::connect(timer, &QTimer::timeout, &delegate, [&delegate, out, reported] {
        // Once reported, the offer to keep the result as a session is
        // declined on the way out.
        answerAlerts(*reported ? QStringLiteral("No") : QStringLiteral("OK"));
        if (*reported || !delegate.dirRootTemp() || platform::scanRunningFlag()) return;
        *reported = true;
        std::ofstream file(out.toStdString());
        for (const auto& [path, sector] : filesOf(delegate.dirRootTemp()))
            file << path << ' ' << sector << '\n';
        file.close();
        // Queued: quitting closes the window, whose question this timer
        // answers once its own tick has returned.
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    timer->start(50);
}

int runProgram(int argc, char** argv) {
    // The drives, the first of which the carving is started on.
    const QStringList drives = qEnvironmentVariable("RESUME_TEST_DRIVES").split(':', Qt::SkipEmptyParts);
    const QString role = qEnvironmentVariable("RESUME_TEST_ROLE");
    const QString answer = qEnvironmentVariable("RESUME_TEST_ANSWER");
    const QString out = qEnvironmentVariable("RESUME_TEST_OUT");
    // Sectors the drives do not give the reads that recognise them.
    static testsupport::FailingReads unreadable;
    if (const QStringList bad = qEnvironmentVariable("RESUME_TEST_UNREADABLE").split(',', Qt::SkipEmptyParts);
        !bad.isEmpty()) {
        for (const QString& sector : bad)
            unreadable.failSectors(sector.toULongLong());
        SessionMediumCheck::setRawReadFor([](const std::string&) { return unreadable.reader(); });
    }
    ApplicationOptions options;
    options.drives = [drives] {
        Array rows;
        for (const QString& path : drives)
            rows.emplace_back(diskRow(path.toStdString(), kDiskBytes));
        return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{rows, Array{}, Array{}};
    };
    const std::string disk = drives.isEmpty() ? std::string() : drives.first().toStdString();
    options.launched = [role, answer, out, disk](Quelvar_Recovery_SoftwareAppDelegate& delegate, MainWindow& window) {
        // The launch question is modal: answered from a timer.
        auto* answerer = new QTimer(&delegate);
        QObject::connect(answerer, &QTimer::timeout, [answer] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w);
                    box && box->isVisible() && box->text() == QStringLiteral("Resume Recovery?"))
                    answerAlerts(answer);
        });
        answerer->start(50);
        if (role == QStringLiteral("carve") || role == QStringLiteral("fresh"))
            QTimer::singleShot(0, &delegate, [&delegate, &window, disk] { startCarving(delegate, window, disk); });
        if (role == QStringLiteral("finish") || role == QStringLiteral("fresh")) {
            reportTree(delegate, out);
        } else if (role == QStringLiteral("home")) {
            // Nothing resumed: what the window shows once the launch is over.
            auto* ok = new QTimer(&delegate);
            QObject::connect(ok, &QTimer::timeout, [] { answerAlerts(QStringLiteral("OK")); });
            ok->start(50);
            QTimer::singleShot(3000, &delegate, [&window, out] {
                std::ofstream(out.toStdString()) << window.selectedIdentifier().toStdString() << '\n';
                QCoreApplication::quit();
            });
        }
    };
    const int exit = runApplication(argc, argv, options);
    // What the unreadable sectors cost this run, for the test to count.
    if (const QString failed = qEnvironmentVariable("RESUME_TEST_FAILED"); !failed.isEmpty())
        std::ofstream(failed.toStdString()) << unreadable.failedReads() << '\n';
    return exit;
}

// --- the test's side ---

// "path sector" lines: the sectors, each once.
std::optional<std::set<std::uint64_t>> sectorsOnce(const QStringList& lines) {
    std::set<std::uint64_t> sectors;
    for (const QString& line : lines)
        if (!sectors.insert(line.mid(line.lastIndexOf(' ') + 1).toULongLong()).second) {
            qWarning("found twice: %s", qPrintable(line));
            return std::nullopt;
        }
    return sectors;
}

struct Run {
    fs::path state = testsupport::makeTempDir("resume-state");
    fs::path out = state / "tree.txt";
    fs::path alerts = state / "alerts.txt";
    fs::path failed = state / "failed.txt";
    std::vector<fs::path> drives;
    QString unreadable;

    QProcess* start(const QString& role, const QString& answer, bool automatic) {
        auto* p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DRENTIC_STATE_DIR", QString::fromStdString(state.string()));
        // The built-in file-type lists are made in the build tree.
        env.insert("DRENTIC_RESOURCE_DIR", QStringLiteral(DRENTIC_BUILT_IN_LISTS));
        QStringList paths;
        for (const fs::path& d : drives)
            paths << QString::fromStdString(d.string());
        env.insert("RESUME_TEST_DRIVES", paths.join(':'));
        env.insert("RESUME_TEST_ROLE", role);
        env.insert("RESUME_TEST_ANSWER", answer);
        env.insert("RESUME_TEST_OUT", QString::fromStdString(out.string()));
        env.insert("RESUME_TEST_ALERTS", QString::fromStdString(alerts.string()));
        env.insert("RESUME_TEST_UNREADABLE", unreadable);
        env.insert("RESUME_TEST_FAILED", QString::fromStdString(failed.string()));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{QStringLiteral("--program")};
        if (automatic) args << QStringLiteral("auto");
        p->start(QCoreApplication::applicationFilePath(), args);
        return p;
    }
    std::optional<std::uint64_t> checkpoint() const {
        const auto bytes = testsupport::readBytes(state / AutoRecoverySnapshot::kInfoFile);
        if (bytes.size() < 8) return std::nullopt;
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v = v << 8 | bytes[i];
        return v;
    }
    void setCheckpoint(std::uint64_t unit) const {
        std::vector<std::uint8_t> bytes(8);
        for (int i = 0; i < 8; ++i)
            bytes[i] = static_cast<std::uint8_t>(unit >> (56 - 8 * i));
        testsupport::writeBytesAt(state / AutoRecoverySnapshot::kInfoFile, 0, bytes);
    }
    // The carving started, killed with SIGKILL once its checkpoint has
    // passed `atLeast`; the files it had recorded by then, by the snapshot's
    // own reading.
    std::map<std::string, std::uint64_t> carveAndKill(std::uint64_t atLeast, std::uint64_t& killedAt) {
        std::unique_ptr<QProcess> p(start(QStringLiteral("carve"), {}, false));
        std::optional<std::uint64_t> at;
        for (int i = 0; i < 60000 && p->state() != QProcess::NotRunning && !((at = checkpoint()) && *at >= atLeast);
             ++i)
            QTest::qWait(1);
        p->kill();
        p->waitForFinished(10000);
        if (!(at = checkpoint())) {
            qWarning("the carving never wrote a checkpoint");
            return {};
        }
        killedAt = *at;
        return readSnapshot();
    }
    std::map<std::string, std::uint64_t> readSnapshot(std::optional<std::uint64_t>* checkpointRead = nullptr,
                                                      std::optional<MediumIdentity>* medium = nullptr) {
        platform::RecordingController quiet;
        platform::setAppController(&quiet);
        std::string why;
        auto read = AutoRecoverySnapshot::openScanInfoAutoRecovery(state.string(), &why);
        platform::setAppController(nullptr);
        if (!read || !read->volume || !read->volume->dirRoot) {
            qWarning("the snapshot does not read: %s", why.c_str());
            return {};
        }
        if (checkpointRead) *checkpointRead = read->autoRecBeginSize;
        if (medium) *medium = read->medium;
        const auto files = filesOf(read->volume->dirRoot);
        read->volume->freeTree();
        return files;
    }
    // Runs the program to its end; its output lines.
    QStringList finish(const QString& role, const QString& answer, bool automatic) {
        fs::remove(out);
        std::unique_ptr<QProcess> p(start(role, answer, automatic));
        if (!p->waitForFinished(180000)) p->kill();
        // A program that did not end cleanly (a sanitizer's report, say)
        // reports nothing.
        if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0) return {};
        return QString::fromStdString(testsupport::readText(out)).split('\n', Qt::SkipEmptyParts);
    }
    // The reads of the unreadable sectors that failed in the program's last run.
    std::uint64_t failedReads() const { return std::stoull("0" + testsupport::readText(failed)); }
    QStringList alertsShown() const {
        return QString::fromStdString(testsupport::readText(alerts)).split('\n', Qt::SkipEmptyParts);
    }
    int pairFiles() const {
        return fs::exists(state / AutoRecoverySnapshot::kDataFile) +
               fs::exists(state / AutoRecoverySnapshot::kInfoFile);
    }
};

std::vector<std::uint8_t> photo(int seed) {
    const std::string jpg = testsupport::toolSample(
        "convert -seed " + testsupport::sampleSeed(static_cast<unsigned>(seed)) + " -size 64x48 plasma: \"$OUT\"",
        "jpg");
    return std::vector<std::uint8_t>(jpg.begin(), jpg.end());
}

} // namespace

class ResumeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!testsupport::haveTool("convert")) QSKIP("ImageMagick is needed for the photos");
        const fs::path dir = testsupport::makeTempDir("resume-disk");
        const std::vector<std::vector<std::uint8_t>> photos{photo(1), photo(2), photo(3), photo(4)};
        disk_ = testsupport::zeroFile(dir / "disk.img", kDiskBytes);
        for (int i = 0; i < kPhotos; ++i)
            testsupport::writeBytesAt(disk_, photoSector(i, 2048, 691) * 512, photos[i % photos.size()]);
        // Another disk of the same size, blank where the first one's photos lie.
        other_ = testsupport::zeroFile(dir / "other.img", kDiskBytes);
        for (int i = 0; i < 40; ++i)
            testsupport::writeBytesAt(other_, photoSector(i, 7777, 40001) * 512, photos[0]);

        // What an uninterrupted run finds, and the alerts it ends with.
        Run fresh;
        fresh.drives = {disk_};
        const auto found = sectorsOnce(fresh.finish(QStringLiteral("fresh"), {}, false));
        QVERIFY(found && found->size() == std::size_t(kPhotos));
        expected_ = *found;
        freshAlerts_ = fresh.alertsShown();

        // A carving killed in the middle: its pair, kept for every row.
        Run killed;
        killed.drives = {disk_};
        std::uint64_t killedAt = 0;
        before_ = killed.carveAndKill(kDiskSectors / 3, killedAt);
        QVERIFY2(before_.size() > 100 && killedAt < kDiskSectors * 9 / 10, qPrintable(QString::number(killedAt)));
        killedState_ = killed.state;

        // The same while the disk would not give the sectors it is known by:
        // the snapshot keeps them marked.
        Run failing;
        failing.drives = {disk_};
        failing.unreadable = kUnreadable;
        beforeFailing_ = failing.carveAndKill(kDiskSectors / 3, killedAt);
        QVERIFY2(beforeFailing_.size() > 100 && killedAt < kDiskSectors * 9 / 10,
                 qPrintable(QString::number(killedAt)));
        std::optional<MediumIdentity> medium;
        failing.readSnapshot(nullptr, &medium);
        QVERIFY(medium);
        QCOMPARE(std::count_if(medium->samples.begin(), medium->samples.end(), [](const auto& s) { return !s.digest; }),
                 std::ptrdiff_t(3));
        failingState_ = failing.state;
    }

    void aKilledCarvingGoesOnWithEveryPhotoOnceOnItsOwnMedium_data() {
        QTest::addColumn<QString>("how");
        for (const char* how : {"auto", "YES", "NO", "moved", "gone", "info past end", "info zero", "cut record",
                                "unreadable at restart", "unreadable when kept", "unreadable when kept and at restart",
                                "gone, unreadable when kept and at restart"})
            QTest::newRow(how) << how;
    }
    void aKilledCarvingGoesOnWithEveryPhotoOnceOnItsOwnMedium() {
        QFETCH(QString, how);
        const bool keptFailing = how.contains(QStringLiteral("when kept"));
        const bool gone = how.startsWith(QStringLiteral("gone"));
        Run run;
        for (const char* name : {AutoRecoverySnapshot::kDataFile, AutoRecoverySnapshot::kInfoFile})
            fs::copy_file((keptFailing ? failingState_ : killedState_) / name, run.state / name);
        run.drives = {disk_};
        if (how.contains(QStringLiteral("at restart"))) run.unreadable = kUnreadable;
        // The disk comes back under another path; another medium has its
        // old one (or it does not come back at all).
        const fs::path moved = disk_.string() + ".moved";
        struct Restore {
            fs::path disk, moved;
            ~Restore() {
                if (!fs::exists(moved)) return;
                fs::remove(disk);
                fs::rename(moved, disk);
            }
        } restore{disk_, moved};
        if (how == "moved" || gone) {
            fs::rename(disk_, moved);
            fs::create_hard_link(other_, disk_);
            run.drives = how == "moved" ? std::vector<fs::path>{disk_, moved} : std::vector<fs::path>{disk_};
        }
        if (how == "info past end") run.setCheckpoint(kDiskSectors + 1000);
        if (how == "info zero") run.setCheckpoint(0);
        if (how == "cut record") {
            const fs::path data = run.state / AutoRecoverySnapshot::kDataFile;
            fs::resize_file(data, fs::file_size(data) * 3 / 4 + 37);
            std::optional<std::uint64_t> checkpoint;
            QVERIFY(!run.readSnapshot(&checkpoint).empty());
            QCOMPARE(checkpoint, std::optional<std::uint64_t>(AutoRecoveryState::kRecordsCut));
        }
        const bool resumes = how != "NO" && !gone;
        const QStringList lines = run.finish(resumes ? QStringLiteral("finish") : QStringLiteral("home"),
                                             how == "NO" ? QStringLiteral("NO") : QStringLiteral("YES"), how == "auto");
        if (gone) {
            // No result, the user told, the pair kept for the disk's return.
            QCOMPARE(lines, QStringList{"Main Screen"});
            QVERIFY(run.alertsShown().contains(QStringLiteral("Drive Not Connected")));
            QCOMPARE(run.pairFiles(), 2);
            return;
        }
        // Either way the pair is gone at the end.
        QCOMPARE(run.pairFiles(), 0);
        if (!resumes) {
            QCOMPARE(lines, QStringList{"Main Screen"});
            return;
        }
        std::map<std::string, std::uint64_t> after;
        for (const QString& line : lines)
            after[line.left(line.lastIndexOf(' ')).toStdString()] = line.mid(line.lastIndexOf(' ') + 1).toULongLong();
        const auto sectors = sectorsOnce(lines);
        QVERIFY(sectors);
        QCOMPARE(*sectors, expected_);
        if (how != "cut record")
            for (const auto& [path, sector] : keptFailing ? beforeFailing_ : before_)
                QVERIFY2(after.contains(path) && after.at(path) == sector, path.c_str());
        // Its start asks each unreadable place the disk is known by once: the disk found by them, and the resumed
        // search's snapshot keeping what was read.
        if (how.contains(QStringLiteral("at restart"))) QCOMPARE(run.failedReads(), std::uint64_t(3));
        // The resumed run ends as a fresh one does.
        QStringList ending = run.alertsShown();
        ending.removeAll(QStringLiteral("Resume Recovery?"));
        QCOMPARE(ending.join('|'), freshAlerts_.join('|'));
    }

private:
    fs::path disk_, other_, killedState_, failingState_;
    std::set<std::uint64_t> expected_;
    std::map<std::string, std::uint64_t> before_, beforeFailing_;
    QStringList freshAlerts_;
};

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--program") return runProgram(argc, argv);
    QApplication app(argc, argv);
    ResumeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ResumeTest.moc"
