#include "results/FileSyncQueue.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {
constexpr std::uint64_t kWriteBackFrom = 1 << 20;
} // namespace

FileSyncQueue::FileSyncQueue(int destinationFd, std::size_t batchEntries, std::uint64_t batchBytes)
    : fd_(::fcntl(destinationFd, F_DUPFD_CLOEXEC, 0)), batchEntries_(batchEntries < 1 ? 1 : batchEntries),
      batchBytes_(batchBytes) {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0) device_ = st.st_dev;
    try {
        thread_ = std::thread([this] { work(); });
    } catch (const std::system_error&) {
        // No thread to be had: each batch is synced on the save's thread.
    }
}

FileSyncQueue::~FileSyncQueue() {
    finish();
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

int FileSyncQueue::syncDestination() {
    // Without a descriptor of the destination nothing can be vouched for.
    if (fd_ < 0) return EBADF;
    while (::syncfs(fd_) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

void FileSyncQueue::submit(int fd, std::uint64_t ticket, std::uint64_t bytes) {
    // The device starts on a large file now, so the batch's sync mostly
    // waits for writes already under way; small files go together with the
    // batch, as one request each would cost more than it saves.
    if (bytes >= kWriteBackFrom) ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    int error = 0;
    // A folder of the destination may be where another file system is
    // mounted, which the destination's sync does not reach: a file there is
    // synced with its own file system before it is handed on.
    struct stat st {};
    if (!device_ || ::fstat(fd, &st) != 0 || st.st_dev != *device_) {
        int synced;
        do
            synced = ::syncfs(fd);
        while (synced != 0 && errno == EINTR);
        if (synced != 0) error = errno;
    }
    // A close interrupted on Linux has still closed the descriptor.
    if (::close(fd) != 0 && errno != EINTR) error = errno;
    std::unique_lock lock(mutex_);
    gathering_.push_back({ticket, error});
    gatheringBytes_ += bytes;
    if (gathering_.size() >= batchEntries_ || gatheringBytes_ >= batchBytes_) handOver(lock);
}

void FileSyncQueue::handOver(std::unique_lock<std::mutex>& lock) {
    if (gathering_.empty()) return;
    if (!thread_.joinable()) {
        std::vector<Synced> batch;
        batch.swap(gathering_);
        gatheringBytes_ = 0;
        lock.unlock();
        const int error = syncDestination();
        lock.lock();
        for (Synced& s : batch)
            ended_.push_back({s.ticket, s.error != 0 ? s.error : error});
        return;
    }
    cv_.wait(lock, [this] { return !handed_; });
    handed_.emplace();
    handed_->swap(gathering_);
    gatheringBytes_ = 0;
    cv_.notify_all();
}

void FileSyncQueue::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return closing_ || handed_; });
        if (!handed_) return;
        lock.unlock();
        const int error = syncDestination();
        lock.lock();
        for (Synced& s : *handed_)
            ended_.push_back({s.ticket, s.error != 0 ? s.error : error});
        handed_.reset();
        cv_.notify_all();
    }
}

std::vector<FileSyncQueue::Synced> FileSyncQueue::takeEnded() {
    std::lock_guard lock(mutex_);
    std::vector<Synced> out;
    out.swap(ended_);
    return out;
}

std::vector<FileSyncQueue::Synced> FileSyncQueue::finish() {
    std::unique_lock lock(mutex_);
    handOver(lock);
    cv_.wait(lock, [this] { return !handed_; });
    std::vector<Synced> out;
    out.swap(ended_);
    return out;
}
