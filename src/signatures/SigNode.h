#pragma once

// A row of the file-type list: a category node (kind 1) whose children are
// file-type nodes (kind 2), each holding its own Sig. A list file is a keyed
// archive whose root is the array of category nodes, stored under the class
// name "SigNode"; a node's parent and containsPreInstalledChildren are not
// stored and are set again by the list's loader.

#include "platform/Archivable.h"
#include "signatures/Sig.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SigNode : public platform::Archivable {
public:
    enum : std::uint16_t { Category = 1, FileType = 2 };

    SigNode() = default;
    ~SigNode() override;

    std::uint16_t fileTypeSigNode = 0;
    // 1: marked for the search.
    std::uint8_t selected = 0;
    // A file-type node's mark as the list was made: a mark that differs
    // from it is the user's, and a newer built-in list keeps it.
    bool markedByDefault = false;
    // A category node's row text; a file-type node carries its category's.
    std::string category;
    // YES when a child's Sig came with the list; set by the loader.
    bool containsPreInstalledChildren = false;

    // The file type's record; null for a category node.
    const std::shared_ptr<Sig>& sig() const { return sig_; }
    // Stores a copy, so that each node holds a record of its own.
    void setSig(const Sig& sig) { sig_ = sig.mutableCopy(); }

    // The child nodes in list order, owned through the list.
    const std::vector<std::shared_ptr<SigNode>>& children() const { return children_; }
    std::vector<std::shared_ptr<SigNode>>& children() { return children_; }
    // Appends the node; its parent is the caller's to set.
    void addChild(std::shared_ptr<SigNode> child) { children_.push_back(std::move(child)); }
    void setChildren(std::vector<std::shared_ptr<SigNode>> children) { children_ = std::move(children); }

    // The node above, or null at the root level. Not owned: a node kept
    // after its list was replaced finds no parent rather than a freed one.
    std::shared_ptr<SigNode> parent() const { return parent_.lock(); }
    void setParent(const std::shared_ptr<SigNode>& parent) { parent_ = parent; }

    // Appends a file-type node holding a copy of sig to the category, as its
    // parent, marked (and marked by default) as `selected` says, and returns
    // it.
    static std::shared_ptr<SigNode> addFileType(const std::shared_ptr<SigNode>& category, const Sig& sig,
                                                std::uint8_t selected);

    // Marked nodes, and all nodes, at every depth below this one (the node
    // itself not counted).
    std::uint32_t childrenSelected() const;
    std::uint32_t childrenCount() const;

    // The same fields, the same child nodes in a new list, a copy of the
    // record and the same parent.
    std::shared_ptr<SigNode> mutableCopy() const;

    std::string className() const override { return "SigNode"; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    // Children that are not SigNodes, and a "sig" that is not a Sig, fail
    // the whole read: a list is taken whole or not at all.
    static std::shared_ptr<SigNode> initWithCoder(platform::KeyedUnarchiver& coder);
    // Makes "SigNode" and "Sig" readable by KeyedUnarchiver.
    static void registerArchiveClass();

private:
    std::shared_ptr<Sig> sig_;
    std::vector<std::shared_ptr<SigNode>> children_;
    std::weak_ptr<SigNode> parent_;
};
