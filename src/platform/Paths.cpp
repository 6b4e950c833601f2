#include "platform/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {
constexpr const char* kAppFolder = "drentic-recovery";

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool isDir(const std::string& p) {
    struct stat st {};
    return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string parentOf(const std::string& p) {
    auto slash = p.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

std::string xdgFolder(const char* var, const char* fallbackBelowHome) {
    std::string override = env("DRENTIC_STATE_DIR");
    if (!override.empty()) return override;
    std::string base = env(var);
    if (base.empty() || base[0] != '/') base = homeDir() + "/" + fallbackBelowHome;
    return base + "/" + kAppFolder;
}

std::string ensured(const std::string& dir) {
    return makeDirectories(dir) ? dir : std::string();
}
} // namespace

std::string executablePath() {
    std::vector<char> buf(PATH_MAX);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

std::string executableDir() {
    std::string exe = executablePath();
    return exe.empty() ? std::string(".") : parentOf(exe);
}

std::string homeDir() {
    std::string home = env("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string resourceDir() {
    std::string override = env("DRENTIC_RESOURCE_DIR");
    if (!override.empty()) return override;
    // A build tree keeps "resources" a few folders above the executable.
    std::string dir = executableDir();
    for (int up = 0; up < 4; ++up) {
        if (isFile(dir + "/resources/Info.plist")) return dir + "/resources";
        if (dir == "/") break;
        dir = parentOf(dir);
    }
    std::string installed = parentOf(executableDir()) + "/share/" + kAppFolder;
    return installed;
}

std::string resourcePath(const std::string& name) {
    return resourceDir() + "/" + name;
}

std::string stateDir() {
    return ensured(xdgFolder("XDG_STATE_HOME", ".local/state"));
}

std::string dataDir() {
    return ensured(xdgFolder("XDG_DATA_HOME", ".local/share"));
}

std::string defaultSessionDir() {
    std::string home = homeDir();
    // user-dirs.dirs names the desktop in the user's language.
    std::string config = env("XDG_CONFIG_HOME");
    if (config.empty()) config = home + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DESKTOP_DIR=\"";
        if (line.rfind(key, 0) != 0) continue;
        std::string v = line.substr(key.size());
        if (auto q = v.find('"'); q != std::string::npos) v.resize(q);
        if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
        if (isDir(v)) return v;
    }
    if (isDir(home + "/Desktop")) return home + "/Desktop";
    return home;
}

bool makeDirectories(const std::string& path, unsigned mode) {
    if (path.empty()) return false;
    if (isDir(path)) return true;
    std::string parent = parentOf(path);
    if (parent != path && !isDir(parent) && !makeDirectories(parent, mode)) return false;
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return false;
    return isDir(path);
}

} // namespace platform
