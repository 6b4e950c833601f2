#pragma once

// Syncs the files and folders a save has finished writing, on a few threads
// of its own: the save goes on with the next file while the device takes
// this one, and syncs that wait together share the destination file
// system's journal commits, where one after the other each would pay for a
// commit of its own. Each descriptor handed over is synced once and then
// closed, both checked; the outcome comes back to the save thread by the
// ticket it was handed over with.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class FileSyncQueue {
public:
    struct Synced {
        std::uint64_t ticket = 0;
        // 0, or the errno of the failed sync or close.
        int error = 0;
    };

    // At most `threads` syncs at a time, and at most `maxOpen` descriptors
    // held (waiting or being synced).
    FileSyncQueue(unsigned threads, std::size_t maxOpen);
    // Ends every sync handed over, then its threads.
    ~FileSyncQueue();
    FileSyncQueue(const FileSyncQueue&) = delete;
    FileSyncQueue& operator=(const FileSyncQueue&) = delete;

    // Takes fd over. Waits while maxOpen descriptors are held; syncs on the
    // caller's thread when no thread can be started.
    void submit(int fd, std::uint64_t ticket);
    // The syncs ended since the last call, without waiting.
    std::vector<Synced> takeEnded();
    // Waits until every sync handed over has ended, and returns those not
    // taken yet.
    std::vector<Synced> finish();

    // Syncs and closes fd on this thread: 0 or the errno of what failed.
    static int syncAndClose(int fd);

private:
    void work();

    const unsigned maxThreads_;
    const std::size_t maxOpen_;
    std::mutex mutex_;
    std::condition_variable waiting_, room_;
    std::deque<std::pair<int, std::uint64_t>> queue_;
    std::vector<Synced> ended_;
    std::size_t held_ = 0; // waiting in the queue or being synced
    unsigned idle_ = 0;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};
