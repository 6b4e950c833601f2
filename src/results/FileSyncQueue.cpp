#include "results/FileSyncQueue.h"

#include <cerrno>
#include <system_error>
#include <unistd.h>

FileSyncQueue::FileSyncQueue(unsigned threads, std::size_t maxOpen)
    : maxThreads_(threads), maxOpen_(maxOpen < 1 ? 1 : maxOpen) {}

FileSyncQueue::~FileSyncQueue() {
    finish();
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    waiting_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

int FileSyncQueue::syncAndClose(int fd) {
    int error = 0;
    while (::fsync(fd) != 0) {
        if (errno == EINTR) continue;
        error = errno;
        break;
    }
    // A close interrupted on Linux has still closed the descriptor.
    if (::close(fd) != 0 && errno != EINTR && error == 0) error = errno;
    return error;
}

void FileSyncQueue::submit(int fd, std::uint64_t ticket) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return held_ < maxOpen_; });
    if (idle_ == 0 && threads_.size() < maxThreads_) {
        try {
            threads_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // No thread to be had: the save syncs for itself.
        }
    }
    if (threads_.empty()) {
        lock.unlock();
        const int error = syncAndClose(fd);
        lock.lock();
        ended_.push_back({ticket, error});
        return;
    }
    queue_.emplace_back(fd, ticket);
    ++held_;
    lock.unlock();
    waiting_.notify_one();
}

void FileSyncQueue::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        waiting_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        --idle_;
        if (queue_.empty()) return;
        const auto [fd, ticket] = queue_.front();
        queue_.pop_front();
        lock.unlock();
        const int error = syncAndClose(fd);
        lock.lock();
        ended_.push_back({ticket, error});
        --held_;
        room_.notify_all();
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
    room_.wait(lock, [this] { return held_ == 0; });
    std::vector<Synced> out;
    out.swap(ended_);
    return out;
}
