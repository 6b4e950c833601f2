#pragma once

// The scan's in-memory indexes (found folders by catalog node ID, catalog
// nodes already read, first file blocks, parked orphans, ...) all run on one
// algorithm: a B-tree of order 5 (at most 4 items and 5 branches a node),
// filled by recursive push-down with the middle of five keys rising on a
// split, searched linearly from the right inside a node, never shrunk. Each
// index is a family of three classes (tree, node, item) built from the
// templates here; a family says only what its items carry and what happens
// on a hit or an equal key.
//
// The shapes matter beyond lookups: the orphan passes and the snapshot writer
// walk the nodes themselves (root(), count(), key(i), branch(i)), so the order
// they meet items in is fixed by exactly this insertion algorithm.
//
// Empty links hold noNode, a per-family sentinel node that is never null and
// never holds data; every walker stops at it.
//
// One thread at a time: even a lookup writes the tree's work fields.

#include "volume/NodePool.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

// The item part every family shares: the key, compared as an unsigned number
// of the key's width.
template <class K> class BTreeItem {
public:
    using Key = K;

    constexpr BTreeItem() noexcept = default;
    explicit constexpr BTreeItem(Key key) noexcept : keyField_(key) {}

    // An index holds an item per found entry, made and freed by the million:
    // items and nodes come from the pool the found-file tree uses.
    static void* operator new(std::size_t bytes) { return NodePool::shared().allocate(bytes); }
    static void operator delete(void* item, std::size_t bytes) noexcept { NodePool::shared().release(item, bytes); }

    Key keyField() const noexcept { return keyField_; }
    void setKeyField(Key key) noexcept { keyField_ = key; }

private:
    Key keyField_ = 0;
};

// One sentinel object per node family, exactly once in the program. Only its
// address is ever used, and that is fixed before any constructor runs, so a
// tree built during static initialisation is safe too. Its count stays 0 and
// its branches point at itself, so destroying it at exit frees nothing.
template <class Node> inline Node bTreeNoNodeSentinel;

// A node of family Derived holding items of type ItemT. The node owns what it
// points to: deleting a node deletes its items 0..count-1 and its branches
// 0..count that are not noNode, so a tree goes down from its root.
template <class Derived, class ItemT> class BTreeNode {
public:
    using Item = ItemT;
    static constexpr std::int32_t kMaxItems = 4;
    static constexpr std::int32_t kMaxBranches = kMaxItems + 1;

    BTreeNode() noexcept : keys_{}, branches_{noNode(), noNode(), noNode(), noNode(), noNode()} {}
    BTreeNode(const BTreeNode&) = delete;
    BTreeNode& operator=(const BTreeNode&) = delete;
    static void* operator new(std::size_t bytes) { return NodePool::shared().allocate(bytes); }
    static void operator delete(void* node, std::size_t bytes) noexcept { NodePool::shared().release(node, bytes); }
    ~BTreeNode() { enumerateBTreeForFreeingStartNode(this); }

    static constexpr Derived* noNode() noexcept { return &bTreeNoNodeSentinel<Derived>; }

    // Plain slot reads and writes, unchecked: callers keep to items 0..3 and
    // branches 0..4.
    std::int32_t count() const noexcept { return count_; }
    Item* key(std::int32_t index) const noexcept { return keys_[index]; }
    Derived* branch(std::int32_t index) const noexcept { return branches_[index]; }
    void setKey(Item* item, std::int32_t atIndex) noexcept { keys_[atIndex] = item; }
    void setCount(std::int32_t count) noexcept { count_ = count; }
    void setBranch(Derived* node, std::int32_t atIndex) noexcept { branches_[atIndex] = node; }

    // Frees the node's items 0..count-1 and its subtrees 0..count. The node is
    // left empty, so freeing it twice frees nothing twice. Recursion goes one
    // level per tree level: about ten for millions of items.
    static void enumerateBTreeForFreeingStartNode(BTreeNode* node) noexcept;

private:
    std::int32_t count_ = 0;
    Item* keys_[kMaxItems];
    Derived* branches_[kMaxBranches];
};

template <class Derived, class ItemT>
void BTreeNode<Derived, ItemT>::enumerateBTreeForFreeingStartNode(BTreeNode* node) noexcept {
    const std::int32_t n = node->count_;
    for (std::int32_t i = 0; i < n; ++i) {
        delete node->keys_[i];
        node->keys_[i] = nullptr;
    }
    for (std::int32_t i = 0; i <= n; ++i) {
        Derived* b = node->branches_[i];
        if (b != noNode()) delete b;
        node->branches_[i] = noNode();
    }
    node->count_ = 0;
}

// Every node of an index from `node` down, each before its branches,
// branches 0..count in order, each subtree whole before the next: the order
// the passes meet items in. fn(node) may answer false to end the walk (then
// false). An explicit list, so no depth of index costs call stack.
template <class Node, class Fn> bool forEachIndexNode(Node* node, Fn&& fn) {
    std::vector<Node*> pending;
    if (node && node != Node::noNode()) pending.push_back(node);
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        if constexpr (std::is_void_v<std::invoke_result_t<Fn&, Node*>>)
            fn(n);
        else if (!fn(n))
            return false;
        for (std::int32_t i = n->count(); i >= 0; --i)
            if (n->branch(i) != Node::noNode()) pending.push_back(n->branch(i));
    }
    return true;
}

// The tree of family Derived with nodes of type Node. Derived may hide two
// hooks, found by name without virtual calls:
//   void itemRetrieved(Item& item)  -- a lookup hit item (default: nothing);
//   void equalKeyOffered(Item& stored, std::unique_ptr<Item> offered)
//       -- insert met a key already stored (default: the offered item is
//          dropped and the stored one stays as it was).
template <class Derived, class Node> class BTreeTable {
public:
    using Item = typename Node::Item;
    using Key = typename Item::Key;

    BTreeTable(const BTreeTable&) = delete;
    BTreeTable& operator=(const BTreeTable&) = delete;

    static constexpr Node* noNode() noexcept { return Node::noNode(); }

    // Stores the item, which the tree then owns. When its key is already
    // present the tree keeps the item stored first and hands the new one to
    // equalKeyOffered. The answer is always true.
    bool insert(std::unique_ptr<Item> item);

    // Exact-match lookup; nullptr when the key is not stored. The item stays
    // the tree's.
    Item* retrieveKeyField(Key key);

    // For users that walk the nodes themselves.
    Node* root() const noexcept { return root_; }
    std::int64_t numItems() const noexcept { return numItems_; }
    std::int64_t numNodes() const noexcept { return numNodes_; }
    bool empty() const noexcept { return root_ == noNode(); }

protected:
    BTreeTable() noexcept = default;
    ~BTreeTable() {
        if (root_ != noNode()) delete root_;
        root_ = noNode();
    }

    // The steps of insertion and lookup, in the order and with the effects
    // the rest of the scan relies on.

    // Searches currentNode for target. location becomes the slot of the
    // largest key not above target (-1 when there is none); the subtree to
    // follow is branch(location + 1).
    bool searchNodeForTarget(Key target, std::int32_t& location) noexcept;
    // Puts item, with right as its right subtree, into node (which has room)
    // at slot location.
    void addItem(Item* item, Node* right, Node* node, std::int32_t location) noexcept;
    // Splits the full currentRoot around currentItem: of the five keys the two
    // smaller stay, the two larger go to a new node (newRight), and the middle
    // one comes back in newItem to rise.
    void splitCurrentItem(Item* currentItem, Node* currentRight, Node* currentRoot, std::int32_t location,
                          Item*& newItem);
    // Pushes currentItem down into the subtree at currentRoot. moveUp says
    // whether newItem (with newRight) must still be put into the level above.
    void pushDownCurrentItem(Item* currentItem, Node* currentRoot, bool& moveUp, Item*& newItem);

    void itemRetrieved(Item&) noexcept {}
    void equalKeyOffered(Item&, std::unique_ptr<Item>) noexcept {}

private:
    Derived& derived() noexcept { return static_cast<Derived&>(*this); }

    Node* root_ = noNode();
    std::int64_t numNodes_ = 0;
    Node* currentNode_ = noNode();
    Node* newRight_ = noNode();
    Node* rightNode_ = noNode();
    std::int64_t numItems_ = 0;
    // Set by pushDownCurrentItem when the key is already stored.
    Item* equalKeyItem_ = nullptr;
};

template <class Derived, class Node>
bool BTreeTable<Derived, Node>::searchNodeForTarget(Key target, std::int32_t& location) noexcept {
    Node* node = currentNode_;
    if (target < node->key(0)->keyField()) {
        location = -1;
        return false;
    }
    std::int32_t loc = node->count() - 1;
    while (target < node->key(loc)->keyField() && loc > 0)
        --loc;
    location = loc;
    return target == node->key(loc)->keyField();
}

template <class Derived, class Node>
void BTreeTable<Derived, Node>::addItem(Item* item, Node* right, Node* node, std::int32_t location) noexcept {
    for (std::int32_t i = node->count(); i > location; --i) {
        node->setKey(node->key(i - 1), i);
        node->setBranch(node->branch(i), i + 1);
    }
    node->setKey(item, location);
    node->setBranch(right, location + 1);
    node->setCount(node->count() + 1);
}

template <class Derived, class Node>
void BTreeTable<Derived, Node>::splitCurrentItem(Item* currentItem, Node* currentRight, Node* currentRoot,
                                                 std::int32_t location, Item*& newItem) {
    rightNode_ = new Node;
    Node* right = rightNode_;
    const std::int32_t median = location < 2 ? 2 : 3;
    for (std::int32_t i = median; i < Node::kMaxItems; ++i) {
        right->setKey(currentRoot->key(i), i - median);
        right->setBranch(currentRoot->branch(i + 1), i - median + 1);
    }
    right->setCount(Node::kMaxItems - median);
    currentRoot->setCount(median);
    if (location < 2)
        addItem(currentItem, currentRight, currentRoot, location + 1);
    else
        addItem(currentItem, currentRight, right, location - 2);
    newItem = currentRoot->key(currentRoot->count() - 1);
    right->setBranch(currentRoot->branch(currentRoot->count()), 0);
    currentRoot->setCount(currentRoot->count() - 1);
    ++numNodes_;
    newRight_ = right;
}

template <class Derived, class Node>
void BTreeTable<Derived, Node>::pushDownCurrentItem(Item* currentItem, Node* currentRoot, bool& moveUp,
                                                    Item*& newItem) {
    if (currentRoot == noNode()) {
        moveUp = true;
        newItem = currentItem;
        newRight_ = noNode();
        return;
    }
    currentNode_ = currentRoot;
    std::int32_t location;
    if (searchNodeForTarget(currentItem->keyField(), location)) {
        moveUp = false;
        equalKeyItem_ = currentRoot->key(location);
        return;
    }
    pushDownCurrentItem(currentItem, currentRoot->branch(location + 1), moveUp, newItem);
    if (!moveUp) return;
    if (currentRoot->count() < Node::kMaxItems) {
        moveUp = false;
        addItem(newItem, newRight_, currentRoot, location + 1);
    } else {
        splitCurrentItem(newItem, newRight_, currentRoot, location, newItem);
    }
}

template <class Derived, class Node> bool BTreeTable<Derived, Node>::insert(std::unique_ptr<Item> item) {
    // The tree holds the item by plain pointer from here on; it goes back
    // into a unique_ptr only if the key turns out to be stored already.
    Item* offered = item.release();
    equalKeyItem_ = nullptr;
    newRight_ = noNode();
    bool moveUp = false;
    Item* rising = nullptr;
    pushDownCurrentItem(offered, root_, moveUp, rising);
    if (moveUp) {
        Node* node = new Node;
        node->setCount(1);
        node->setKey(rising, 0);
        node->setBranch(root_, 0);
        node->setBranch(newRight_, 1);
        ++numNodes_;
        root_ = node;
    }
    if (equalKeyItem_ != nullptr) {
        Item* stored = equalKeyItem_;
        equalKeyItem_ = nullptr;
        derived().equalKeyOffered(*stored, std::unique_ptr<Item>(offered));
    } else {
        ++numItems_;
    }
    return true;
}

template <class Derived, class Node> auto BTreeTable<Derived, Node>::retrieveKeyField(Key key) -> Item* {
    currentNode_ = root_;
    while (currentNode_ != noNode()) {
        std::int32_t location;
        if (searchNodeForTarget(key, location)) {
            Item* hit = currentNode_->key(location);
            derived().itemRetrieved(*hit);
            return hit;
        }
        currentNode_ = currentNode_->branch(location + 1);
    }
    return nullptr;
}
