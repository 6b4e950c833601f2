#pragma once

// A loop device a test attaches over a file of its own. Other processes on
// the machine attach and detach loop devices too, and the kernel gives a node
// that one let go of to the next that asks: a node is this object's only
// while it holds the attachment made there, and only then is it detached.
// An attachment is known by the sequence number the kernel gives it, which no
// later one shares (where the kernel has none, by its file's device and inode
// numbers), never by the file's path, which may name another file by then.
// tests/support/loop-devices.sh does the same for the scripts.

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>

namespace testsupport {

class LoopDevice {
public:
    // A loop device over `file` at a free node, attached by losetup with
    // `options` ("-r", "-P", "--direct-io=on", "--sector-size 4096"); no
    // path where none could be attached (no root or losetup, no free node).
    explicit LoopDevice(const std::filesystem::path& file, const std::string& options = {});
    ~LoopDevice() { detach(); }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    // The node ("/dev/loopN"); empty when there is none.
    const std::string& path() const { return path_; }
    // Whether the node still holds the attachment this object made there.
    bool stillAttached() const;
    // Detaches the device where it still holds its attachment, and forgets
    // it either way. Where it does not (someone else detached it, and the
    // node may have gone to another process), what it holds is left
    // attached, said on the standard error, and the answer is false. The
    // node is held open from the look to the detach: anyone else's detach
    // meanwhile only marks it to go at its last close, so no other attach
    // comes between the two.
    bool detach();
    // The device's file swapped for `file` at the same node, as a card is
    // swapped in a reader: detached, then attached again there with
    // `options` as soon as whoever held it open (a program listing the
    // drives) has let go. False, with the device forgotten, where another
    // process was given the node in between, or it never came free: nothing
    // of another process's is detached, and the caller may try again at
    // another node.
    bool swapTo(const std::filesystem::path& file, const std::string& options = {});

    // What a loop device node holds, by the name the kernel keeps of its file
    // ("nothing" where it holds none), for messages.
    static std::string holding(const std::string& node);

private:
    // What a node holds: whether it is bound, the kernel's sequence number of
    // its attachment (0 where it keeps none) and its file's device and inode
    // numbers.
    struct Attachment {
        bool bound = false;
        std::uint64_t sequence = 0;
        dev_t device = 0;
        ino_t inode = 0;
    };
    static Attachment heldThrough(int fd);
    bool ours(const Attachment& held) const;
    // Takes the attachment just made at `node` over file_ as this object's,
    // where the node holds that file.
    bool take(const std::string& node);
    std::string path_;
    std::filesystem::path file_;
    Attachment attachment_;
};

} // namespace testsupport
