#include "support/LoopDevice.h"

#include "support/TestSupport.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
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

// A node's descriptor, closed when it goes; while it is open, anyone's
// detach only marks the device to go at its last close, so what it holds
// stays as it was looked at.
struct OpenNode {
    int fd;
    explicit OpenNode(const std::string& node) : fd(::open(node.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~OpenNode() {
        if (fd >= 0) ::close(fd);
    }
    OpenNode(const OpenNode&) = delete;
    OpenNode& operator=(const OpenNode&) = delete;
};

} // namespace

LoopDevice::Attachment LoopDevice::heldThrough(int fd) {
    Attachment held;
    loop_info64 info{};
    // Bound to a file whose numbers cannot be looked up (its FUSE server is
    // gone), the node answers with that error rather than ENXIO.
    if (::ioctl(fd, LOOP_GET_STATUS64, &info) == 0) {
        held.bound = true;
        held.device = static_cast<dev_t>(info.lo_device);
        held.inode = static_cast<ino_t>(info.lo_inode);
    } else {
        held.bound = errno != ENXIO;
    }
#ifdef BLKGETDISKSEQ
    __u64 sequence = 0;
    if (::ioctl(fd, BLKGETDISKSEQ, &sequence) == 0) held.sequence = sequence;
#endif
    return held;
}

bool LoopDevice::ours(const Attachment& held) const {
    if (!held.bound) return false;
    if (attachment_.sequence != 0) return held.sequence == attachment_.sequence;
    return held.device == attachment_.device && held.inode == attachment_.inode;
}

LoopDevice::LoopDevice(const fs::path& file, const std::string& options) {
    std::error_code ec;
    file_ = fs::weakly_canonical(fs::absolute(file), ec);
    const std::string out =
        runCommand("losetup " + options + " -f --show " + shellQuote(file_.string()) + " 2>/dev/null").value_or("");
    take(out.substr(0, out.find('\n')));
}

bool LoopDevice::take(const std::string& node) {
    struct stat st {};
    if (node.empty() || ::stat(file_.c_str(), &st) != 0) return false;
    const OpenNode open(node);
    if (open.fd < 0) return false;
    // The file is there, so no other file has its numbers: the node holds this
    // attachment, or another process's made since.
    const Attachment held = heldThrough(open.fd);
    if (!held.bound || held.device != st.st_dev || held.inode != st.st_ino) {
        std::fprintf(stderr, "%s holds %s, not %s, just after it was attached there\n", node.c_str(),
                     holding(node).c_str(), file_.c_str());
        return false;
    }
    attachment_ = held;
    path_ = node;
    return true;
}

bool LoopDevice::stillAttached() const {
    if (path_.empty()) return false;
    const OpenNode open(path_);
    return open.fd >= 0 && ours(heldThrough(open.fd));
}

bool LoopDevice::detach() {
    if (path_.empty()) return false;
    const std::string node = std::exchange(path_, {});
    const OpenNode open(node);
    if (open.fd < 0 || !ours(heldThrough(open.fd))) {
        std::fprintf(stderr, "%s no longer holds the attachment of %s but %s: it is not this test's to detach\n",
                     node.c_str(), file_.c_str(), holding(node).c_str());
        return false;
    }
    // Gone at the last close: this descriptor's, or that of a reader still
    // holding the device.
    return ::ioctl(open.fd, LOOP_CLR_FD, 0) == 0;
}

bool LoopDevice::swapTo(const fs::path& file, const std::string& options) {
    using namespace std::chrono_literals;
    const std::string node = path_;
    if (!detach()) return false;
    std::error_code ec;
    file_ = fs::weakly_canonical(fs::absolute(file), ec);
    // Polled often: a node let go of is free for any process's attach until
    // this one's comes. While it still holds the attachment just detached, a
    // reader has it open.
    bool taken = false;
    for (int i = 0; i < 2000 && !taken; ++i) {
        std::optional<Attachment> held;
        if (const OpenNode open(node); open.fd >= 0) held = heldThrough(open.fd);
        taken = held && held->bound && !ours(*held);
        if (held && !held->bound &&
            runCommand("losetup " + options + " " + node + " " + shellQuote(file_.string()) + " 2>/dev/null"))
            return take(node);
        if (!taken) std::this_thread::sleep_for(2ms);
    }
    std::fprintf(stderr, "%s %s, so %s is not attached there\n", node.c_str(),
                 taken ? ("went to another process's " + holding(node)).c_str() : "was not let go of by its readers",
                 file_.c_str());
    return false;
}

std::string LoopDevice::holding(const std::string& node) {
    std::string name = readText(fs::path("/sys/block") / fs::path(node).filename() / "loop" / "backing_file");
    name = name.substr(0, name.find('\n'));
    return name.empty() ? std::string("nothing") : name;
}

} // namespace testsupport
