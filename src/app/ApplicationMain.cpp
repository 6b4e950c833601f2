#include "app/ApplicationMain.h"

#include "app/AutoRecoveryController.h"
#include "app/DriveListMonitor.h"
#include "app/MainWindow.h"
#include "app/RecoverySessionController.h"
#include "app/ScanWizard.h"
#include "app/TreeScreenController.h"
#include "platform/ProcessFlags.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int gSignalPipe[2] = {-1, -1};

// A terminate request from outside (session logout, kill) ends the event
// loop like the Quit command, so windows and threads wind down in order.
void onTerminateSignal(int) {
    char c = 1;
    [[maybe_unused]] auto n = ::write(gSignalPipe[0], &c, 1);
}

void endOnTerminateSignal(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0) return;
    struct sigaction sa {};
    sa.sa_handler = onTerminateSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    auto* notifier = new QSocketNotifier(gSignalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char c;
        [[maybe_unused]] auto n = ::read(gSignalPipe[1], &c, 1);
        QCoreApplication::quit();
    });
}
} // namespace

int runApplication(int argc, char** argv, const ApplicationOptions& options) {
    Quelvar_Recovery_SoftwareAppDelegate::handleLaunchArguments(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Drentic Deleted File Recovery"));
    QApplication::setOrganizationName(QStringLiteral("drentic-recovery"));
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Highlight, QColor(0x2F, 0x6F, 0xDB));
    QApplication::setPalette(palette);
    endOnTerminateSignal(app);

    Quelvar_Recovery_SoftwareAppDelegate delegate(options.drives);
    MainWindow window;
    delegate.setWindow(&window);
    delegate.awakeFromNib();
    TreeScreenController::install(delegate);
    ScanWizard::install(delegate)->watchDrives(new DriveListMonitor);
    RecoverySessionController* sessions = RecoverySessionController::install(delegate);
    AutoRecoveryController::install(delegate);
    const QStringList arguments = QCoreApplication::arguments();
    QTimer::singleShot(0, &delegate, [&delegate, &window, &options, sessions, arguments] {
        // A session file given on the command line ("Open With" in a file
        // manager) opens as a handed-over path does; a resumed scan has the
        // window to itself.
        const bool resuming = platform::autoResumeFlag();
        if (options.launched) options.launched(delegate, window);
        delegate.applicationDidFinishLaunching();
        if (arguments.size() > 1 && !resuming) sessions->openScanInfoFile(arguments.at(1));
    });
    return app.exec();
}
