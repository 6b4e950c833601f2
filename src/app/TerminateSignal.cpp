#include "app/TerminateSignal.h"

#include <QSocketNotifier>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The handler may only write to a descriptor: the main thread reads the
// other end when its event loop comes round.
int gSignalPipe[2] = {-1, -1};

void onTerminateSignal(int) {
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] auto n = ::write(gSignalPipe[0], &c, 1);
    errno = saved;
}
} // namespace

TerminateSignal::TerminateSignal(QObject* parent) : QObject(parent) {
    if (gSignalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, gSignalPipe) != 0) {
        gSignalPipe[0] = gSignalPipe[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(gSignalPipe[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        // Requests that came together are one request.
        char c[64];
        while (::read(gSignalPipe[1], c, sizeof c) > 0) {
        }
        emit requested();
    });
    struct sigaction sa {};
    sa.sa_handler = onTerminateSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, &previousTerm_);
    ::sigaction(SIGINT, &sa, &previousInt_);
}

TerminateSignal::~TerminateSignal() {
    if (!notifier_) return;
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    ::sigaction(SIGINT, &previousInt_, nullptr);
    delete notifier_;
    ::close(gSignalPipe[0]);
    ::close(gSignalPipe[1]);
    gSignalPipe[0] = gSignalPipe[1] = -1;
}
