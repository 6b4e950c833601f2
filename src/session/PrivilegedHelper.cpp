#include "session/PrivilegedHelper.h"

#include "platform/Paths.h"
#include "platform/SystemLog.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

std::string privilegedHelperPath() {
    return platform::executableDir() + "/Drentic Deleted File Recovery Helper";
}

int LaunchPrivilegedHelper() {
    return launchPrivilegedHelperAt(privilegedHelperPath());
}

int launchPrivilegedHelperAt(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0) {
        platform::logFormat("No privileged helper started: there is no executable at %@", path);
        return -1;
    }
    // Already root: nothing to ask for. Otherwise pkexec asks the user for
    // the rights and starts the helper with them.
    const bool root = ::geteuid() == 0;
    std::string pkexec = "pkexec";
    std::vector<char*> argv;
    if (!root) argv.push_back(pkexec.data());
    std::string helper = path;
    argv.push_back(helper.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = root ? ::posix_spawn(&pid, helper.c_str(), nullptr, nullptr, argv.data(), environ)
                             : ::posix_spawnp(&pid, "pkexec", nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) {
        platform::logFormat("The privileged helper %@ could not be started: %@", path, std::strerror(spawned));
        return -1;
    }
    // The helper runs on its own; its end is only collected, so that it
    // leaves no zombie behind.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return 0;
}
