#include "support/LoopDevice.h"

#include "support/TestSupport.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <linux/loop.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// The node's file as the kernel names it in sysfs; empty where it holds none.
std::string backingFileOf(const std::string& node) {
    std::string name = readText(fs::path("/sys/block") / fs::path(node).filename() / "loop" / "backing_file");
    return name.substr(0, name.find('\n'));
}

// What a node holds, through a descriptor open on it: the kernel looks up
// its file's numbers as stat does.
enum class Held { Nothing, TheFile, Another };
Held heldThrough(int fd, const std::string& node, const fs::path& file, dev_t device, ino_t inode) {
    loop_info64 info{};
    if (::ioctl(fd, LOOP_GET_STATUS64, &info) == 0)
        return info.lo_device == device && info.lo_inode == inode ? Held::TheFile : Held::Another;
    if (errno == ENXIO) return Held::Nothing;
    // Bound to a file whose numbers cannot be looked up (its FUSE server is
    // gone): the descriptor keeps the node bound, so its path says it.
    return backingFileOf(node) == file.string() ? Held::TheFile : Held::Another;
}

std::optional<Held> heldAt(const std::string& node, const fs::path& file, dev_t device, ino_t inode) {
    const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const Held held = heldThrough(fd, node, file, device, inode);
    ::close(fd);
    return held;
}

} // namespace

LoopDevice::LoopDevice(const fs::path& file, const std::string& options) {
    if (!identify(file)) return;
    const std::string out =
        runCommand("losetup " + options + " -f --show " + shellQuote(file_.string()) + " 2>/dev/null").value_or("");
    path_ = out.substr(0, out.find('\n'));
}

bool LoopDevice::identify(const fs::path& file) {
    std::error_code ec;
    file_ = fs::weakly_canonical(fs::absolute(file), ec);
    struct stat st {};
    if (ec || ::stat(file_.c_str(), &st) != 0) return false;
    fileDevice_ = st.st_dev;
    fileInode_ = st.st_ino;
    return true;
}

bool LoopDevice::holdsItsFile() const {
    return !path_.empty() && heldAt(path_, file_, fileDevice_, fileInode_) == Held::TheFile;
}

bool LoopDevice::detach() {
    if (path_.empty()) return false;
    const std::string node = std::exchange(path_, {});
    const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ours = fd >= 0 && heldThrough(fd, node, file_, fileDevice_, fileInode_) == Held::TheFile;
    // With this descriptor open, the kernel only marks the device to go at
    // its last close: this one, or that of a reader still holding it.
    const bool detached = ours && ::ioctl(fd, LOOP_CLR_FD, 0) == 0;
    if (fd >= 0) ::close(fd);
    if (!ours)
        std::fprintf(stderr, "%s no longer holds %s but %s: it is not this test's to detach\n", node.c_str(),
                     file_.c_str(), holding(node).c_str());
    return detached;
}

bool LoopDevice::swapTo(const fs::path& file, const std::string& options) {
    using namespace std::chrono_literals;
    const std::string node = path_;
    const fs::path before = file_;
    const dev_t device = fileDevice_;
    const ino_t inode = fileInode_;
    if (!detach() || !identify(file)) return false;
    // Polled often: a node let go of is free for any process's attach until
    // this one's comes.
    std::optional<Held> held;
    for (int i = 0; i < 2000 && held != Held::Another; ++i) {
        held = heldAt(node, before, device, inode);
        if (held == Held::Nothing &&
            runCommand("losetup " + options + " " + node + " " + shellQuote(file_.string()) + " 2>/dev/null")) {
            path_ = node;
            return true;
        }
        if (held != Held::Another) std::this_thread::sleep_for(2ms);
    }
    std::fprintf(stderr, "%s %s, so %s is not attached there\n", node.c_str(),
                 held == Held::Another ? ("went to another process's " + holding(node)).c_str()
                                       : "was not let go of by its readers",
                 file_.c_str());
    return false;
}

std::string LoopDevice::holding(const std::string& node) {
    const std::string name = backingFileOf(node);
    return name.empty() ? std::string("nothing") : name;
}

} // namespace testsupport
