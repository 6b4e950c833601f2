#pragma once

// Writes found-file trees as tree records (HFSPlusDir): a whole subtree in
// pre-order, each node followed by the runs of its children, for recovery
// sessions and the scan snapshot; or one record on its own, which the search
// drivers append to the snapshot as they find files. A node's identity in
// the file is its address in this process, so a snapshot and the records
// appended to it later agree on it.
//
// Names and paths go out whole up to the record's limits (512 and 2048
// units), cut before a character that would not fit whole; extent groups,
// extensions, view arrays and outline items are not stored.

#include "session/HFSPlusDir.h"
#include "session/SessionFileOutput.h"
#include "volume/NewDir.h"

#include <chrono>
#include <cstdint>
#include <functional>

class TreeRecordWriter {
public:
    // everyHundred runs after every hundredth record of a subtree (the
    // progress bar of the session being saved).
    explicit TreeRecordWriter(std::function<void()> everyHundred = {}) : everyHundred_(std::move(everyHundred)) {}

    // The node's record, then for each of its children the child's whole
    // run: in display order with forViewingTree, in list order without.
    // Walks without recursion, so folders nested a hundred thousand deep
    // cost no stack. The file is synced about once a second along the way.
    // False once the file failed (see fileDesc.reason()).
    bool writeDir(const NewDir* dir, SessionFileOutput& fileDesc, bool forViewingTree);
    // One record and its trailer; no children follow it, and its parent is
    // the node's parent link.
    static bool writeDir(const NewDir* dir, SessionFileOutput& fileDesc);

    // The record of a node written under `parent` (nullptr for a root), with
    // the child count of its list.
    static HFSPlusDir convertNDir(const NewDir* dir, const NewDir* parent);
    static std::uint64_t identityOf(const NewDir* dir);

    // Records the subtree writer has written; never reset by it.
    std::uint32_t scanInfoEntryCount() const { return scanInfoEntryCount_; }

private:
    static bool writeRecord(const HFSPlusDir& record, const NewDir* dir, SessionFileOutput& fileDesc);

    std::function<void()> everyHundred_;
    std::uint32_t scanInfoEntryCount_ = 0;
    std::chrono::steady_clock::time_point lastSync_{};
};
