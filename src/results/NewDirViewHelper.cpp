#include "results/NewDirViewHelper.h"

#include <utility>

std::unique_ptr<NewDirViewHelper> NewDirViewHelper::initWithNewDir(NewDir* node) {
    auto helper = std::make_unique<NewDirViewHelper>();
    helper->newDir_ = node;
    if (node) node->viewHelper = helper.get();
    helper->updateFileName();
    return helper;
}

std::unique_ptr<NewDirViewHelper> NewDirViewHelper::initWithNewDir(NewDir* node, bool appendChildrenArrayCount) {
    auto helper = std::make_unique<NewDirViewHelper>();
    helper->newDir_ = node;
    if (node) node->viewHelper = helper.get();
    helper->appendChildrenArrayCount_ = appendChildrenArrayCount;
    return helper;
}

NewDirViewHelper::~NewDirViewHelper() {
    // Take the items below over into one flat list and let them go one by
    // one, each handing its own children over first, so the depth of the
    // tree never becomes the depth of the stack.
    std::vector<std::unique_ptr<NewDirViewHelper>> pending = std::move(childrenArray_);
    while (!pending.empty()) {
        std::unique_ptr<NewDirViewHelper> item = std::move(pending.back());
        pending.pop_back();
        if (!item) continue;
        for (auto& child : item->childrenArray_)
            pending.push_back(std::move(child));
        item->childrenArray_.clear();
    }
}

void NewDirViewHelper::updateFileName() {
    if (!newDir_ || newDir_->nameLength == 0) return;
    const std::u16string name = newdir::fileName(newDir_);
    if (name.empty()) return;
    fileName_ = newdir::utf8(name);
    const std::size_t dot = name.rfind(u'.');
    const std::u16string last = dot == std::u16string::npos ? name : name.substr(dot + 1);
    if (!last.empty()) {
        newDir_->extensionLength = static_cast<std::uint8_t>(last.size() & 0xFF);
        extension_ = newdir::utf8(last);
    }
}

std::uint32_t NewDirViewHelper::childrenSelected() const {
    if (!newDir_ || newDir_->childrenCount == 0) return 0;
    return countChildrenSelectedInArray(newDir_->childList, newDir_->childrenArrayCount());
}

std::uint32_t NewDirViewHelper::countChildrenSelectedInArray(const NodeList& list, std::uint32_t length) {
    std::uint32_t counter = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(length, list.size()); ++i)
        newdir::preOrder(list[i], newdir::childList, newdir::anyChild, [&](const NewDir* n) {
            if (n->selected == 1) ++counter;
        });
    return counter;
}

std::string NewDirViewHelper::shownName() const {
    if (!appendChildrenArrayCount_ || !newDir_) return fileName_;
    return fileName_ + " [" + std::to_string(newDir_->childrenArrayCount()) + "]";
}
