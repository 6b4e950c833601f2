#include "media/SleepInhibitor.h"

#include "platform/SystemLog.h"

#include <mutex>
#include <unistd.h>

#ifdef DRENTIC_HAVE_SYSTEMD
#include <fcntl.h>
#include <systemd/sd-bus.h>
#endif

SleepInhibitor::~SleepInhibitor() = default;

namespace {
std::mutex gInhibitorMutex;
std::shared_ptr<SleepInhibitor> gInhibitor;
} // namespace

std::shared_ptr<SleepInhibitor> SleepInhibitor::shared() {
    std::lock_guard lock(gInhibitorMutex);
    if (!gInhibitor) gInhibitor = std::make_shared<LoginManagerSleepInhibitor>();
    return gInhibitor;
}

void SleepInhibitor::setShared(std::shared_ptr<SleepInhibitor> inhibitor) {
    std::lock_guard lock(gInhibitorMutex);
    gInhibitor = std::move(inhibitor);
}

struct LoginManagerSleepInhibitor::State {
    std::mutex mutex;
    int lockFd = -1;
    bool unavailable = false;
};

LoginManagerSleepInhibitor::LoginManagerSleepInhibitor() : state_(std::make_unique<State>()) {}

LoginManagerSleepInhibitor::~LoginManagerSleepInhibitor() {
    release();
}

void LoginManagerSleepInhibitor::reportUserActivity() {
    std::lock_guard lock(state_->mutex);
    if (state_->lockFd >= 0 || state_->unavailable) return;
#ifdef DRENTIC_HAVE_SYSTEMD
    sd_bus* bus = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_open_system(&bus);
    if (r >= 0)
        r = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss", "sleep:idle",
                               "Drentic Deleted File Recovery", "A recovery scan is running", "block");
    int fd = -1;
    if (r >= 0) r = sd_bus_message_read(reply, "h", &fd);
    // The descriptor belongs to the reply; keep a copy of our own.
    if (r >= 0 && fd >= 0) state_->lockFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
#endif
    if (state_->lockFd < 0) {
        state_->unavailable = true;
        platform::logLine("No login manager answered; the machine may sleep during the scan");
    }
}

void LoginManagerSleepInhibitor::release() {
    std::lock_guard lock(state_->mutex);
    if (state_->lockFd >= 0) ::close(state_->lockFd);
    state_->lockFd = -1;
}
