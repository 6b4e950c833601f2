#pragma once

// Reads tree records (HFSPlusDir) back into found-file nodes: a record with
// its trailer, or runs of sibling subtrees in pre-order under a folder. The
// files come from other machines and may be cut short or damaged, so every
// length and count is held against the bytes the file still has before it is
// used, the runs are read with a list of their own instead of recursion, and
// a file that ends before its records do ends the read with false. Nothing
// read is ever taken as an address: identities only key the folder index.

#include "session/HFSPlusDir.h"
#include "session/SessionFileInput.h"
#include "volume/NewDir.h"

#include <cstdint>
#include <functional>

class BTreeTableClassUInt64_NDIR;

class TreeRecordReader {
public:
    // everyFifty runs after every fiftieth record read by readToDir (the
    // progress bar of the session being opened).
    explicit TreeRecordReader(std::function<void()> everyFifty = {}) : everyFifty_(std::move(everyFifty)) {}

    // The record at the file's position and its trailer, as a new node the
    // caller owns, with the child count and identity the record gives;
    // nullptr when the file ends first or the record holds a name or path
    // longer than any record can. A name or path of 256 units or more is
    // read past and becomes "Untitled"; no name gives "Untitled", a folder
    // without a path "1". A node of size 0 keeps none of its extents.
    NewDir* readDir(SessionFileInput& fileDesc, std::uint32_t& childCount, std::uint64_t* identity = nullptr);
    // A record a search appended to a snapshot, with its identity and its
    // parent's: as readDir, except that the file may end inside its extent
    // list (the program was cut off while appending), which keeps the pairs
    // that are whole and sets extentsCut.
    NewDir* readAppendedDir(SessionFileInput& fileDesc, std::uint64_t& identity, std::uint64_t& parentIdentity,
                            bool& extentsCut);

    // `count` sibling runs appended in order to parent's list (the folders
    // also keyed by identity in btree when one is given). False when the file
    // ends or is damaged first; what was read stays in the tree, owned by
    // parent.
    bool readToDir(NewDir* parent, std::uint32_t count, SessionFileInput& fileDesc, BTreeTableClassUInt64_NDIR* btree);

    // The node's fields from the record; counts, texts and lists are left to
    // the reader.
    static void convertHPDir(const HFSPlusDir& record, NewDir* dir);

    // Records readToDir has read; set to 0 by whoever starts a new file.
    std::uint32_t scanInfoEntryCount = 0;

private:
    static NewDir* readRecord(SessionFileInput& in, bool extentsMayEnd, HFSPlusDir& record, bool* extentsCut);

    std::function<void()> everyFifty_;
};
