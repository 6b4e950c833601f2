#include "app/MainWindow.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstring>
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
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Drentic Deleted File Recovery"));

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) == 0) {
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

    Quelvar_Recovery_SoftwareAppDelegate delegate;
    MainWindow window;
    delegate.setWindow(&window);
    window.show();
    return app.exec();
}
