#pragma once

// The outline item of one found-file node. An item and its node point at
// each other: the item holds the node, and the node's viewHelper holds the
// item, so the outline reaches a child's item through the child node. The
// item never owns its node; the items of a node's children are owned by the
// node's item (childrenArray), and the root's item by whoever shows the tree.

#include "volume/NewDir.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class NewDirViewHelper {
public:
    // A bare item; its node comes with setNewDir, which leaves the node's
    // back pointer alone (the find results are such items).
    NewDirViewHelper() = default;
    // Points the node's viewHelper at the new item and builds its name and
    // extension.
    static std::unique_ptr<NewDirViewHelper> initWithNewDir(NewDir* node);
    // Points the node at the item and sets the count flag; builds no name.
    static std::unique_ptr<NewDirViewHelper> initWithNewDir(NewDir* node, bool appendChildrenArrayCount);
    // Children's items are released without recursion: a found tree may be
    // hundreds of thousands of folders deep.
    ~NewDirViewHelper();
    NewDirViewHelper(const NewDirViewHelper&) = delete;
    NewDirViewHelper& operator=(const NewDirViewHelper&) = delete;

    // The item of a node, or nullptr when it has none.
    static NewDirViewHelper* of(const NewDir* node) {
        return node ? static_cast<NewDirViewHelper*>(node->viewHelper) : nullptr;
    }

    // Builds fileName and extension again from the node.
    void updateFileName();

    NewDir* newDir() const { return newDir_; }
    void setNewDir(NewDir* node) { newDir_ = node; }
    // The shown name (UTF-8); empty for a node without a name.
    const std::string& fileName() const { return fileName_; }
    void setFileName(std::string name) { fileName_ = std::move(name); }
    // The last "."-separated part of the name (the whole name when it has no
    // "."); empty when there is none.
    const std::string& extension() const { return extension_; }
    bool appendChildrenArrayCount() const { return appendChildrenArrayCount_; }
    void setAppendChildrenArrayCount(bool append) { appendChildrenArrayCount_ = append; }

    // Marked nodes anywhere below the node; 0 when nothing is below it.
    std::uint32_t childrenSelected() const;
    // Marked nodes among at most length entries of the list and below them.
    static std::uint32_t countChildrenSelectedInArray(const NodeList& list, std::uint32_t length);

    // The node's fields as the outline reads them.
    std::uint8_t isFATEntry() const { return newDir_->isFATEntry; }
    std::uint8_t deleted() const { return newDir_->deleted; }
    std::uint8_t complete() const { return newDir_->complete; }
    std::uint8_t selected() const { return newDir_->selected; }
    std::uint16_t fileType() const { return newDir_->fileType; }
    std::uint32_t createDate() const { return newDir_->createDate; }
    std::uint32_t modDate() const { return newDir_->modDate; }
    NewDir* pndirPointer() const { return newDir_->pndirPointer; }
    std::uint64_t fileSize() const { return newDir_->fileSize; }
    std::uint32_t fileCount() const { return newDir_->fileCount; }
    // Entries anywhere below the node.
    std::uint32_t childrenCount() const { return newDir_->childrenCount; }
    // Direct children in the current arrangement.
    std::uint32_t childrenArrayCount() const { return newDir_->childrenArrayCount(); }
    bool expandable() const { return childrenArrayCount() != 0; }
    // The index-th child node; nullptr past the end.
    NewDir* childAtIndex_(std::uint32_t index) const { return newdir::childAtIndex(newDir_, index); }

    // The items of the children, made by whoever builds the items.
    void initChildrenArray() { hasChildrenArray_ = true; }
    bool hasChildrenArray() const { return hasChildrenArray_; }
    std::vector<std::unique_ptr<NewDirViewHelper>>& childrenArray() { return childrenArray_; }

    // The name as the tool tip and the saved folder show it: "%@ [%d]" of
    // the name and the child count when the count flag is set (the
    // extension folders of the file-types view), else the name.
    std::string shownName() const;

private:
    NewDir* newDir_ = nullptr;
    std::vector<std::unique_ptr<NewDirViewHelper>> childrenArray_;
    std::string fileName_;
    std::string extension_;
    bool appendChildrenArrayCount_ = false;
    bool hasChildrenArray_ = false;
};
