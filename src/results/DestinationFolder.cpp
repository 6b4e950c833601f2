#include "results/DestinationFolder.h"

#include "platform/SystemLog.h"
#include "results/SaveFileName.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough for any name the collision rule can still lengthen or cut; a
// folder that full of near-identical names is not worth waiting for.
constexpr int kMaxNameAttempts = 10000;

std::optional<std::string> resolvedPathOf(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(link, target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(n));
    return target;
}

void closeKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

} // namespace

DestinationFolder::DestinationFolder(int fd, std::shared_ptr<const std::string> root)
    : fd_(fd), root_(std::move(root)) {}

DestinationFolder::DestinationFolder(DestinationFolder&& other) noexcept
    : fd_(other.fd_), root_(std::move(other.root_)) {
    other.fd_ = -1;
}

DestinationFolder& DestinationFolder::operator=(DestinationFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        root_ = std::move(other.root_);
        other.fd_ = -1;
    }
    return *this;
}

DestinationFolder::~DestinationFolder() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<DestinationFolder> DestinationFolder::openDestination(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string root;
    if (auto resolved = resolvedPathOf(fd)) {
        root = *resolved;
    } else if (char* real = ::realpath(path.c_str(), nullptr)) {
        root = real;
        std::free(real);
    } else {
        root = path;
    }
    return DestinationFolder(fd, std::make_shared<const std::string>(std::move(root)));
}

bool DestinationFolder::insideDestination(int fd) const {
    const auto path = resolvedPathOf(fd);
    if (!path) return true;
    const std::string& root = *root_;
    if (root == "/") return !path->empty() && path->front() == '/';
    return path->size() > root.size() && path->compare(0, root.size(), root) == 0 && (*path)[root.size()] == '/';
}

std::optional<DestinationFolder> DestinationFolder::openFolder(const std::string& name) const {
    if (!SaveFileName::isSafeComponent(name)) {
        errno = EINVAL;
        return std::nullopt;
    }
    const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    if (!insideDestination(fd)) {
        platform::logFormat("Folder %@ resolves outside the destination %@; nothing is saved into it", name, *root_);
        closeKeepingErrno(fd);
        errno = EXDEV;
        return std::nullopt;
    }
    return DestinationFolder(fd, root_);
}

std::optional<DestinationFolder> DestinationFolder::makeFolder(const std::string& name,
                                                               std::string& createdName) const {
    std::string candidate = name;
    for (int attempt = 0; attempt < kMaxNameAttempts && !candidate.empty(); ++attempt) {
        if (!SaveFileName::isSafeComponent(candidate)) {
            errno = EINVAL;
            return std::nullopt;
        }
        if (::mkdirat(fd_, candidate.c_str(), 0777) != 0 && errno != EEXIST) return std::nullopt;
        // Made now or there before: either way it must be a real folder.
        if (auto folder = openFolder(candidate)) {
            createdName = candidate;
            return folder;
        }
        if (errno != ENOTDIR && errno != ELOOP) return std::nullopt;
        candidate = SaveFileName::collisionName(candidate);
    }
    errno = EEXIST;
    return std::nullopt;
}

int DestinationFolder::createFile(const std::string& name, std::string& createdName) const {
    std::string candidate = name;
    for (int attempt = 0; attempt < kMaxNameAttempts && !candidate.empty(); ++attempt) {
        if (!SaveFileName::isSafeComponent(candidate)) {
            errno = EINVAL;
            return -1;
        }
        // O_EXCL: an existing file, and a link of any kind, is never opened.
        // Recovered data is never made executable: a found file is whatever
        // the medium held, and one click must not run it.
        // The file is new, made in this folder (checked when it was opened)
        // under a name without a slash: it lies inside the destination.
        const int fd = ::openat(fd_, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            createdName = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
        candidate = SaveFileName::collisionName(candidate);
    }
    errno = EEXIST;
    return -1;
}

int DestinationFolder::reopenFile(const std::string& name, dev_t device, ino_t inode) const {
    if (!SaveFileName::isSafeComponent(name)) {
        errno = EINVAL;
        return -1;
    }
    // Not through a link, and not blocking on a pipe planted in its place.
    const int fd = ::openat(fd_, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != device || st.st_ino != inode) {
        ::close(fd);
        errno = ESTALE;
        return -1;
    }
    return fd;
}

bool DestinationFolder::removeFile(const std::string& name, int fd) const {
    struct stat made {};
    struct stat named {};
    if (!SaveFileName::isSafeComponent(name) || ::fstat(fd, &made) != 0 ||
        ::fstatat(fd_, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || made.st_dev != named.st_dev ||
        made.st_ino != named.st_ino)
        return false;
    return ::unlinkat(fd_, name.c_str(), 0) == 0;
}
