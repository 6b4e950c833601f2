#pragma once

// What keeps the machine from sleeping while a scan runs. On Linux the login
// manager hands out sleep inhibitor locks over D-Bus; holding one has the
// effect of telling the system, again and again, that the user is active.
// Tests install a counting stand-in.

#include <memory>

class SleepInhibitor {
public:
    virtual ~SleepInhibitor();
    // Called at once when keeping awake starts and then every 25 seconds.
    virtual void reportUserActivity() = 0;
    // Called when the keep-awake loop ends.
    virtual void release() = 0;

    // The process-wide inhibitor; the login-manager one unless replaced.
    static std::shared_ptr<SleepInhibitor> shared();
    static void setShared(std::shared_ptr<SleepInhibitor> inhibitor);
};

// Takes a "sleep:idle" block lock from the login manager on the first report
// and holds it until released. Without a login manager (a CI machine, a
// container) it does nothing and says so once in the log.
class LoginManagerSleepInhibitor : public SleepInhibitor {
public:
    LoginManagerSleepInhibitor();
    ~LoginManagerSleepInhibitor() override;
    void reportUserActivity() override;
    void release() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};
