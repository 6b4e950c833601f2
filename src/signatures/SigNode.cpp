#include "signatures/SigNode.h"

#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"

SigNode::~SigNode() = default;

namespace {
// Depth first in list order. A decoded list is at most as deep as the
// unarchiver's nesting limit, so the recursion is bounded.
void countBelow(const SigNode& node, std::uint32_t& marked, std::uint32_t& all) {
    for (const auto& child : node.children()) {
        if (!child) continue;
        ++all;
        if (child->selected == 1) ++marked;
        countBelow(*child, marked, all);
    }
}
} // namespace

std::uint32_t SigNode::childrenSelected() const {
    std::uint32_t marked = 0, all = 0;
    countBelow(*this, marked, all);
    return marked;
}

std::uint32_t SigNode::childrenCount() const {
    std::uint32_t marked = 0, all = 0;
    countBelow(*this, marked, all);
    return all;
}

std::shared_ptr<SigNode> SigNode::addFileType(const std::shared_ptr<SigNode>& category, const Sig& sig,
                                              std::uint8_t selected) {
    auto node = std::make_shared<SigNode>();
    node->fileTypeSigNode = FileType;
    node->category = category->category;
    node->selected = selected;
    node->markedByDefault = selected != 0;
    node->setSig(sig);
    node->setParent(category);
    category->addChild(node);
    return node;
}

std::shared_ptr<SigNode> SigNode::mutableCopy() const {
    auto copy = std::make_shared<SigNode>();
    copy->fileTypeSigNode = fileTypeSigNode;
    copy->selected = selected;
    copy->markedByDefault = markedByDefault;
    copy->category = category;
    copy->children_ = children_;
    if (sig_) copy->sig_ = sig_->mutableCopy();
    copy->parent_ = parent_;
    return copy;
}

void SigNode::encodeWithCoder(platform::KeyedArchiver& coder) const {
    coder.encodeInt(fileTypeSigNode, "fileType");
    if (children_.empty()) {
        coder.encodeObject(platform::Value(), "children");
    } else {
        platform::Array children;
        children.reserve(children_.size());
        for (const auto& c : children_)
            children.emplace_back(c);
        coder.encodeObject(children, "children");
    }
    coder.encodeInt(selected, "selected");
    coder.encodeObject(category, "category");
    coder.encodeObject(sig_ ? platform::Value(sig_) : platform::Value(), "sig");
    // A key the lists of earlier versions lack; their readers pass over it.
    if (fileTypeSigNode == FileType) coder.encodeBool(markedByDefault, "markedByDefault");
}

std::shared_ptr<SigNode> SigNode::initWithCoder(platform::KeyedUnarchiver& coder) {
    auto n = std::make_shared<SigNode>();
    n->fileTypeSigNode = static_cast<std::uint16_t>(coder.decodeInt("fileType"));
    const platform::Value children = coder.decodeObject("children");
    if (children.isArray()) {
        for (const platform::Value& v : children.arrayValue()) {
            auto child = v.isObject() ? std::dynamic_pointer_cast<SigNode>(v.object()) : nullptr;
            if (!child) {
                coder.failWithError("a child of a SigNode is not a SigNode");
                return nullptr;
            }
            n->children_.push_back(std::move(child));
        }
    } else if (!children.isNull()) {
        coder.failWithError("the children of a SigNode are not an array");
        return nullptr;
    }
    n->selected = static_cast<std::uint8_t>(coder.decodeInt("selected"));
    n->category = coder.decodeObject("category").stringValue();
    n->markedByDefault = coder.decodeBool("markedByDefault");
    const platform::Value sig = coder.decodeObject("sig");
    if (!sig.isNull()) {
        auto s = sig.isObject() ? std::dynamic_pointer_cast<Sig>(sig.object()) : nullptr;
        if (!s) {
            coder.failWithError("the sig of a SigNode is not a Sig");
            return nullptr;
        }
        n->sig_ = std::move(s);
    }
    return n;
}

void SigNode::registerArchiveClass() {
    Sig::registerArchiveClass();
    platform::KeyedUnarchiver::registerClass(
        "SigNode", [](platform::KeyedUnarchiver& coder) -> platform::ObjectPtr { return initWithCoder(coder); });
}
