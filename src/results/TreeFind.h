#pragma once

// Find in the result tree: a find thread walks the shown tree and collects
// every node whose shown name holds the text (case ignored); Next and
// Previous then step through what was found, and Mark All and Unmark All
// mark or unmark all of it.
//
// Threads: the find thread never touches the display. Every change of the
// find's state (results, counts, texts, the abort flag, which thread is the
// find thread) is performed on the main thread, which the find thread waits
// for. A worker that rearranges or frees the tree first stops a running find
// and stands as the find thread itself, so that a find started meanwhile
// waits for it and then walks the tree as it is shown afterwards.

#include "results/NewDirViewHelper.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TreeFind : public std::enable_shared_from_this<TreeFind> {
public:
    // One worker that stands as the find thread; set when it has ended.
    struct Worker {
        std::atomic<bool> finished{false};
    };
    using WorkerHandle = std::shared_ptr<Worker>;

    // What the find shows, called on the main thread.
    struct Display {
        std::function<void(const std::string&)> setFindTextFieldString;
        std::function<void(bool)> setFindAnimation;
        // After a walk: whether anything was found.
        std::function<void(bool)> findThreadComplete;
    };

    // The root shown now (asked on the main thread); nullptr: nothing shown.
    explicit TreeFind(std::function<NewDir*()> dirRootTemp) : dirRootTemp_(std::move(dirRootTemp)) {}
    void setDisplay(Display display) { display_ = std::move(display); }

    // --- main thread ---
    // The Find action: ignored (false) while two finds are pending already;
    // otherwise resets the counts and starts a find thread for the text.
    bool find(const std::string& text);
    // Steps to the next or previous found item and returns its index, or -1
    // when nothing was found (then nothing changes).
    int findNext();
    int findPrev();
    // "%u/%lu highlighted" of the item selected last.
    const std::string& selectedIndexText() const { return selectedIndexText_; }
    // Marks (1) or unmarks (0) every found node in order and returns them.
    std::vector<NewDir*> markAllFound(std::uint8_t flag);
    // Empties the results and zeroes the indexes and the count.
    void clearResults();

    // --- worker threads ---
    // The find thread's body (also callable directly, e.g. headless).
    void findThreadSel(const std::string& text, WorkerHandle self);
    // Pre-order walk from the node, children in order.
    void findString(const std::string& text, NewDir* inDir);
    // Stops a running find and makes the calling worker the find thread;
    // the numFindAttempts count is set to 1 when a find had to be waited for.
    void stopFindAndStandAsFindThread(const WorkerHandle& self);

    // --- state (main thread) ---
    int numFindAttempts() const { return numFindAttempts_.load(); }
    const std::vector<std::unique_ptr<NewDirViewHelper>>& findArray() const { return findArray_; }
    std::size_t findArrayCount() const { return findArray_.size(); }
    std::uint32_t findCount() const { return findCount_; }
    std::int32_t findArrayIndex() const { return findArrayIndex_; }
    std::int32_t findArrayIndexTrend() const { return findArrayIndexTrend_; }
    bool findThreadAbort() const { return findThreadAbort_.load(); }
    void setFindThreadAbort(bool abort) { findThreadAbort_.store(abort); }
    WorkerHandle findThread() const { return findThread_; }
    NewDir* foundNode(std::size_t index) const;

private:
    // Runs fn on the main thread and waits (directly without a controller).
    static void onMain(const std::function<void()>& fn);
    // Waits until no other worker stands as the find thread, then stands as
    // it; true when another one had to be waited for.
    bool takeOver(const WorkerHandle& self);
    void select(std::int32_t index);

    std::function<NewDir*()> dirRootTemp_;
    Display display_;
    // Read by tests from another thread; changed on the main thread only.
    std::atomic<int> numFindAttempts_{0};
    WorkerHandle findThread_;
    std::atomic<bool> findThreadAbort_{false};
    std::vector<std::unique_ptr<NewDirViewHelper>> findArray_;
    std::uint32_t findCount_ = 0;
    std::int32_t findArrayIndex_ = 0;
    std::int32_t findArrayIndexTrend_ = 0;
    std::string selectedIndexText_;
};
