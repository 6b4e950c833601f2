#pragma once

// Applies one mark or unmark to one found-file node and keeps the tree's
// marks whole: a marked node's ancestors are marked and its subtree follows
// it; an unmarked node leaves nothing marked below it, and each ancestor
// that has nothing marked left below it loses its mark. Only the child lists
// as currently arranged are visited (the deleted-files view swaps them).

#include "volume/NewDir.h"

#include <cstdint>

class CheckController {
public:
    // flag 1 marks, 0 unmarks; any other value does nothing.
    CheckController(NewDir* hdir, std::uint8_t flag) : hdir_(hdir), flag_(flag) {}

    void run() { setSelected(); }
    void setSelected();
    // Sets the marked byte of at most length entries of the list and of
    // everything below them.
    static void markAllChildrenDirArray(const NodeList& list, std::uint32_t length, std::uint8_t value);

    NewDir* hdir() const { return hdir_; }
    std::uint8_t flag() const { return flag_; }

private:
    NewDir* hdir_;
    std::uint8_t flag_;
};
