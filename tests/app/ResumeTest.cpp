// An interrupted carving goes on where it stopped: the program itself (its
// launch, wizard and scan threads, in a child process started from this test
// with a disk image as its one drive) carves photos until it is killed with
// SIGKILL mid-search; started again with "auto", or answering "Resume
// Recovery?" with YES, it finishes the search from its checkpoint with every
// file of the killed run and the rest, none twice, and the pair is gone;
// answering NO deletes the pair.

#include "AppTestSupport.h"
#include "app/ApplicationMain.h"
#include "app/DrivesTableDataSource.h"
#include "app/ScanWizard.h"
#include "app/SignatureListController.h"
#include "app/TreeScreenController.h"
#include "platform/ProcessFlags.h"
#include "platform/RecordingController.h"
#include "session/AutoRecoverySnapshot.h"
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

constexpr std::uint64_t kDiskBytes = 3ULL << 30;
// Photos before the first checkpoint (found before any kill), and far past
// where the kill lands (found by the resumed search).
constexpr std::uint64_t kEarly[] = {2048, 6001, 12000};
constexpr std::uint64_t kLate[] = {800'000, 2'000'003, 4'000'000, 6'200'000};

// "path sector" for every file below the root: where its data begin.
std::map<std::string, std::uint64_t> filesOf(const NewDir* root) {
    std::map<std::string, std::uint64_t> out;
    for (const auto& [path, node] : testsupport::nodesByPath(root))
        if (node->fileType == NewDir::File && node->extentCount() > 0)
            out[path] = node->dataStartSector + std::uint64_t{node->extents[0].startBlock} * node->sectorsPerBlock;
    return out;
}

// --- the program's side (a child process of this test) ---

void answerAlerts(const QString& answer) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            for (QAbstractButton* b : box->buttons())
                if (b->text() == answer || (answer.isEmpty() && b == box->buttons().first())) b->click();
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
    const std::string disk = qEnvironmentVariable("RESUME_TEST_DISK").toStdString();
    const QString role = qEnvironmentVariable("RESUME_TEST_ROLE");
    const QString answer = qEnvironmentVariable("RESUME_TEST_ANSWER");
    const QString out = qEnvironmentVariable("RESUME_TEST_OUT");
    ApplicationOptions options;
    options.drives = [disk] {
        return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{Array{diskRow(disk, kDiskBytes)}, Array{}, Array{}};
    };
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
        if (role == QStringLiteral("carve")) {
            QTimer::singleShot(0, &delegate, [&delegate, &window, disk] { startCarving(delegate, window, disk); });
        } else if (role == QStringLiteral("finish")) {
            reportTree(delegate, out);
        } else {
            // Home after the launch: nothing resumed.
            QTimer::singleShot(2000, &delegate, [&window, out] {
                std::ofstream(out.toStdString()) << window.selectedIdentifier().toStdString() << '\n';
                QCoreApplication::quit();
            });
        }
    };
    return runApplication(argc, argv, options);
}

// --- the test's side ---

struct Run {
    fs::path state = testsupport::makeTempDir("resume-state");
    fs::path out = state / "tree.txt";
    fs::path disk;

    QProcess* start(const QString& role, const QString& answer, bool automatic) {
        auto* p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DRENTIC_STATE_DIR", QString::fromStdString(state.string()));
        // The built-in file-type lists are made in the build tree.
        env.insert("DRENTIC_RESOURCE_DIR", QStringLiteral(DRENTIC_BUILT_IN_LISTS));
        env.insert("RESUME_TEST_DISK", QString::fromStdString(disk.string()));
        env.insert("RESUME_TEST_ROLE", role);
        env.insert("RESUME_TEST_ANSWER", answer);
        env.insert("RESUME_TEST_OUT", QString::fromStdString(out.string()));
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
    // The carving started, killed once its checkpoint has moved on; the
    // files it had recorded by then, by the snapshot's own reading.
    std::map<std::string, std::uint64_t> carveAndKill(std::uint64_t& killedAt) {
        std::unique_ptr<QProcess> p(start(QStringLiteral("carve"), {}, false));
        std::optional<std::uint64_t> at;
        for (int i = 0; i < 30000 && p->state() != QProcess::NotRunning && !(at = checkpoint()); ++i)
            QTest::qWait(2);
        p->kill();
        p->waitForFinished(10000);
        if (!at) {
            qWarning("the carving never wrote a checkpoint");
            return {};
        }
        killedAt = *at;
        platform::RecordingController quiet;
        platform::setAppController(&quiet);
        std::string why;
        auto read = AutoRecoverySnapshot::openScanInfoAutoRecovery(state.string(), &why);
        platform::setAppController(nullptr);
        if (!read || !read->volume || !read->volume->dirRoot) {
            qWarning("the snapshot of the killed run does not read: %s", why.c_str());
            return {};
        }
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
};

} // namespace

class ResumeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!testsupport::haveTool("convert")) QSKIP("ImageMagick is needed for the photos");
        disk_ = testsupport::zeroFile(testsupport::makeTempDir("resume-disk") / "disk.img", kDiskBytes);
        int n = 0;
        std::vector<std::uint64_t> sectors(std::begin(kEarly), std::end(kEarly));
        sectors.insert(sectors.end(), std::begin(kLate), std::end(kLate));
        for (std::uint64_t sector : sectors) {
            const std::string jpg = testsupport::toolSample(
                "convert -seed " + std::to_string(++n) + " -size 320x240 plasma: \"$OUT\"", "jpg");
            testsupport::writeBytesAt(disk_, sector * 512, std::vector<std::uint8_t>(jpg.begin(), jpg.end()));
        }
    }

    void aKilledCarvingGoesOnFromItsCheckpoint_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("auto") << "auto";
        QTest::newRow("YES") << "YES";
        QTest::newRow("NO") << "NO";
    }
    void aKilledCarvingGoesOnFromItsCheckpoint() {
        QFETCH(QString, how);
        Run run;
        run.disk = disk_;
        std::uint64_t killedAt = 0;
        const auto before = run.carveAndKill(killedAt);
        QVERIFY(before.size() >= std::size(kEarly) && killedAt < kLate[0]);
        const bool resumed = how != QStringLiteral("NO");
        const QStringList lines =
            run.finish(resumed ? QStringLiteral("finish") : QStringLiteral("home"), how, how == QStringLiteral("auto"));
        // Either way the pair is gone at the end.
        QVERIFY(!fs::exists(run.state / AutoRecoverySnapshot::kDataFile));
        QVERIFY(!fs::exists(run.state / AutoRecoverySnapshot::kInfoFile));
        if (!resumed) {
            QCOMPARE(lines, QStringList{"Main Screen"});
            return;
        }
        std::map<std::string, std::uint64_t> after;
        std::set<std::uint64_t> sectors;
        for (const QString& line : lines) {
            const auto space = line.lastIndexOf(' ');
            after[line.left(space).toStdString()] = line.mid(space + 1).toULongLong();
            // One file per place on the disk: nothing found twice.
            QVERIFY2(sectors.insert(line.mid(space + 1).toULongLong()).second, qPrintable(line));
        }
        for (const auto& [path, sector] : before)
            QVERIFY2(after.contains(path) && after.at(path) == sector, path.c_str());
        for (std::uint64_t sector : kLate)
            QVERIFY2(sectors.contains(sector), qPrintable(QString::number(sector)));
    }

private:
    fs::path disk_;
};

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--program") return runProgram(argc, argv);
    QApplication app(argc, argv);
    ResumeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ResumeTest.moc"
