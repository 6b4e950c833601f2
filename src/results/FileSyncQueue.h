#pragma once

// Makes what a save wrote durable in batches. A file or folder the save has
// finished is handed over: its write-back starts at once and its descriptor
// is closed; once a batch has gathered enough (a few thousand entries or a
// few hundred megabytes), one sync of the destination's whole file system,
// on a thread of its own while the save writes the next batch, puts the
// batch on the device. One commit per batch instead of one per file is what
// lets many small files be saved near the device's speed. A sync of the file
// system reports any write that failed on it since the last one: every entry
// of a batch whose sync failed counts as failed, so a save never calls
// saved what may not be on the device. The outcome of each entry comes back
// to the save thread by the ticket it was handed over with.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <thread>
#include <vector>

class FileSyncQueue {
public:
    struct Synced {
        std::uint64_t ticket = 0;
        // 0, or the errno of the failed sync or close.
        int error = 0;
    };

    // Syncs the file system that holds `destinationFd` (a descriptor of the
    // destination folder, duplicated here); a batch is due after
    // `batchEntries` entries or `batchBytes` bytes.
    FileSyncQueue(int destinationFd, std::size_t batchEntries, std::uint64_t batchBytes);
    // Syncs whatever is still pending, then ends its thread.
    ~FileSyncQueue();
    FileSyncQueue(const FileSyncQueue&) = delete;
    FileSyncQueue& operator=(const FileSyncQueue&) = delete;

    // Takes fd over (`bytes` written through it). Waits while the batch
    // before the last one is still being synced.
    void submit(int fd, std::uint64_t ticket, std::uint64_t bytes);
    // The entries whose batch has been synced since the last call, without
    // waiting.
    std::vector<Synced> takeEnded();
    // Syncs what is pending, waits for it, and returns what was not taken.
    std::vector<Synced> finish();

private:
    void handOver(std::unique_lock<std::mutex>& lock);
    void work();
    int syncDestination();

    int fd_ = -1;
    // The destination's file system; files on any other are synced alone.
    std::optional<dev_t> device_;
    const std::size_t batchEntries_;
    const std::uint64_t batchBytes_;
    std::mutex mutex_;
    std::condition_variable cv_;
    // Gathered by the save; handed to the thread as one batch.
    std::vector<Synced> gathering_;
    std::uint64_t gatheringBytes_ = 0;
    // The batch being synced, until its sync has ended.
    std::optional<std::vector<Synced>> handed_;
    std::vector<Synced> ended_;
    bool closing_ = false;
    std::thread thread_;
};
