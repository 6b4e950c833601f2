#pragma once

// Applies one mark or unmark to one node of the file-type list and keeps the
// list's marks whole: a marked node's ancestors are marked and everything
// below it follows it; an unmarked node leaves nothing marked below it, and
// each ancestor with nothing marked left below it loses its mark.

#include "signatures/SigNode.h"

#include <cstdint>
#include <memory>
#include <vector>

class CheckControllerSig {
public:
    // flag 1 marks, 0 unmarks; any other value does nothing.
    CheckControllerSig(std::shared_ptr<SigNode> node, int flag) : sigNode_(std::move(node)), flag_(flag) {}

    void run() { setSelected(); }
    void setSelected();
    // Sets selected of every node of the array and of all nodes below them.
    static void markAllChildrenSigArray(const std::vector<std::shared_ptr<SigNode>>& nodes, std::uint8_t value);

    const std::shared_ptr<SigNode>& sigNode() const { return sigNode_; }
    int flag() const { return flag_; }

private:
    std::shared_ptr<SigNode> sigNode_;
    int flag_;
};
