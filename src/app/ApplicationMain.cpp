#include "app/ApplicationMain.h"

#include "app/AutoRecoveryController.h"
#include "app/DriveListMonitor.h"
#include "app/MainWindow.h"
#include "app/RecoverySessionController.h"
#include "app/ScanWizard.h"
#include "app/TerminateSignal.h"
#include "app/TreeScreenController.h"
#include "platform/ProcessFlags.h"

#include <QApplication>
#include <QTimer>

int runApplication(int argc, char** argv, const ApplicationOptions& options) {
    Quelvar_Recovery_SoftwareAppDelegate::handleLaunchArguments(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Drentic Deleted File Recovery"));
    QApplication::setOrganizationName(QStringLiteral("drentic-recovery"));
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Highlight, QColor(0x2F, 0x6F, 0xDB));
    QApplication::setPalette(palette);
    // Made before anything else, so that a terminate request that comes
    // while the drives are first listed waits for the event loop.
    auto* terminate = new TerminateSignal(&app);

    Quelvar_Recovery_SoftwareAppDelegate delegate(options.drives);
    MainWindow window;
    delegate.setWindow(&window);
    delegate.awakeFromNib();
    delegate.followTerminateSignals(*terminate);
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
