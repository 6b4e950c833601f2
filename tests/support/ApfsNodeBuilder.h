#pragma once

// Writes APFS file-system-tree nodes into the free blocks of a container
// image that mkapfs made.
//
// mkapfs writes an empty volume, and no Linux tool adds files to it, let
// alone leaves stale copies of tree nodes behind, yet the block scan lives on
// exactly those. This builder writes leaf nodes (and, for the tests that need
// them, index nodes) record by record in the on-disk layout: a checksummed
// object header, the node header with its table of contents, keys growing up
// from the table and values growing down from the end (from the tree
// information when the node is a root), and file data in blocks of its own.
//
//     ApfsNodeBuilder b(ApfsNodeBuilder::makeContainer(dir / "c.img"));
//     const auto data = b.writeData("hello");
//     b.writeNode({.records = {ApfsNodeBuilder::inode({.id = 20, .parent = 2, .name = "a.txt", .size = 5}),
//                              ApfsNodeBuilder::fileExtent(20, 0, 4096, data)}});
//
// A block is free when mkapfs left it zero; the builder never writes over a
// block that is not, nor over one it wrote itself. A node or a file that
// cannot be placed throws, so a badly set-up test fails loudly.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class ApfsNodeBuilder {
public:
    static constexpr std::size_t kBlockSize = 4096;
    // Node flags.
    static constexpr std::uint16_t kRoot = 1, kLeaf = 2, kFixed = 4;
    // Record types, the top four bits of a key's id-and-type word.
    static constexpr std::uint64_t kInodeRecord = 3, kFileExtentRecord = 8, kDirRecord = 9;
    // Extended-field types of an inode.
    static constexpr std::uint8_t kNameField = 4, kDataStreamField = 8;

    // One key and its value, as they go into a node.
    struct Record {
        std::vector<std::uint8_t> key{}, value{};
    };

    // An extended field; the value is padded to eight bytes in the node and
    // its unpadded length is the field's size.
    struct Field {
        std::uint8_t type = 0;
        std::uint8_t flags = 0;
        std::vector<std::uint8_t> value{};
    };

    struct Inode {
        std::uint64_t id = 0;
        std::uint64_t parent = 0;
        std::string name{};
        // The data stream's logical size; no data-stream field when unset.
        std::optional<std::uint64_t> size{};
        bool folder = false;
        // 0: the id, as for every inode that is not a clone.
        std::uint64_t privateId = 0;
        // 0: a folder's or a regular file's mode by `folder`.
        std::uint16_t mode = 0;
        // Nanoseconds since 1970: the change and modification times.
        std::uint64_t time = 1'700'000'000'000'000'000ull;
        // Fields written before the name (and the data stream).
        std::vector<Field> fieldsBefore{};
    };

    struct Node {
        std::vector<Record> records{};
        std::uint16_t flags = kLeaf;
        std::uint16_t level = 0;
        // 0: 2 (a tree's root object) for a root node, 3 (a node) otherwise.
        std::uint16_t objectType = 0;
        // The high half of the object's type word (storage kind and flags).
        std::uint16_t objectFlags = 0;
        std::uint32_t subtype = 14; // a file-system tree
        std::uint64_t oid = 1026;
        std::uint64_t xid = 5;
        // Table-of-contents slots; 0: the records rounded up to 8, so the
        // table is longer than its entries as in a node that has lost some.
        std::size_t tocSlots = 0;
    };

    // The container to write into; blocks are handed out from `firstBlock`
    // on (0: a quarter into the container, well past mkapfs's metadata).
    explicit ApfsNodeBuilder(std::filesystem::path container, std::uint64_t firstBlock = 0);

    // A sparse container of `bytes` made by mkapfs; an empty path when mkapfs
    // is missing or fails (it refuses containers under 128 MiB).
    static std::filesystem::path makeContainer(const std::filesystem::path& file, std::uint64_t bytes = 128ull << 20);

    // Records. A file's extents are keyed by its private id (its id unless
    // cloned); `lengthFlags` lands in the top eight bits of the length word.
    static Record inode(const Inode& inode);
    static Record fileExtent(std::uint64_t owner, std::uint64_t logicalOffset, std::uint64_t length,
                             std::uint64_t physicalBlock, std::uint8_t lengthFlags = 0);
    static Record dirRecord(std::uint64_t parent, const std::string& name, std::uint64_t fileId, bool folder);
    // An index entry: a key of that type and id pointing at a child node.
    static Record pointer(std::uint64_t type, std::uint64_t id, std::uint64_t childOid);

    // The node as one checksummed block.
    static std::vector<std::uint8_t> nodeBlock(const Node& node);
    // Recomputes a block's checksum after a test changed its bytes.
    static void seal(std::vector<std::uint8_t>& block);
    static std::uint64_t checksum(const std::vector<std::uint8_t>& block);

    // Writes the node into the next free block; answers the block.
    std::uint64_t writeNode(const Node& node);
    // Writes a block's bytes into the next free block; answers the block.
    std::uint64_t writeBlock(const std::vector<std::uint8_t>& block);
    // Writes the bytes into consecutive free blocks, the last one zero-padded;
    // answers the first.
    std::uint64_t writeData(std::string_view bytes);

    const std::filesystem::path& container() const { return container_; }
    std::uint64_t blockCount() const { return blockCount_; }

private:
    bool isFree(std::uint64_t block) const;
    void put(std::uint64_t block, const std::uint8_t* bytes, std::size_t length);

    std::filesystem::path container_;
    std::uint64_t blockCount_ = 0;
    std::uint64_t next_ = 0;
};

} // namespace testsupport
