#include "results/TreeFind.h"

#include "platform/AppController.h"
#include "results/CaseInsensitiveText.h"
#include "results/CheckController.h"
#include "results/ViewingTreeOperations.h"

#include <chrono>
#include <thread>

void TreeFind::onMain(const std::function<void()>& fn) {
    if (platform::AppController* controller = platform::appController())
        controller->performOnMainThread(fn, true);
    else
        fn();
}

bool TreeFind::find(const std::string& text) {
    if (++numFindAttempts_ >= 3) {
        --numFindAttempts_;
        return false;
    }
    if (display_.setFindTextFieldString) display_.setFindTextFieldString(" ");
    selectedIndexText_ = " ";
    findArrayIndex_ = 0;
    findArrayIndexTrend_ = 0;
    findCount_ = 0;
    auto self = shared_from_this();
    auto worker = std::make_shared<Worker>();
    std::thread([self, text, worker] {
        self->findThreadSel(text, worker);
        worker->finished = true;
    }).detach();
    return true;
}

bool TreeFind::takeOver(const WorkerHandle& self) {
    // Looked at and taken over in one main-thread step, so that of two
    // workers waiting for the same find only one goes on, and the other
    // waits for it in turn.
    bool hadPrevious = false;
    bool first = true;
    for (;;) {
        bool mine = false;
        onMain([&] {
            const WorkerHandle current = findThread_;
            if (first) hadPrevious = current && current != self;
            if (!current || current == self || current->finished) {
                findThread_ = self;
                mine = true;
            } else {
                findThreadAbort_ = true;
            }
        });
        if (mine) return hadPrevious;
        first = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void TreeFind::findThreadSel(const std::string& text, WorkerHandle self) {
    NewDir* root = nullptr;
    onMain([&] {
        root = dirRootTemp_ ? dirRootTemp_() : nullptr;
        // A find that ends here is over too: left counted, two of them would
        // make the Find action ignore every later press.
        if (!root) --numFindAttempts_;
    });
    if (!root) return;
    if (takeOver(self)) onMain([&] { --numFindAttempts_; });
    // The tree may have been rearranged or freed while this find waited:
    // the walk starts from the root shown now.
    onMain([&] {
        root = dirRootTemp_ ? dirRootTemp_() : nullptr;
        findThreadAbort_ = false;
        findArray_.clear();
        if (display_.setFindTextFieldString) display_.setFindTextFieldString(" ");
        if (display_.setFindAnimation) display_.setFindAnimation(true);
    });
    if (root) findString(text, root);
    onMain([&] {
        if (display_.setFindAnimation) display_.setFindAnimation(false);
        if (display_.setFindTextFieldString)
            display_.setFindTextFieldString(std::to_string(findArray_.size()) + " Matches Found");
        if (display_.findThreadComplete) display_.findThreadComplete(!findArray_.empty());
    });
}

void TreeFind::findString(const std::string& text, NewDir* inDir) {
    newdir::preOrder(inDir, ViewingTreeOperations::shownChildren, newdir::anyChild, [&](NewDir* node) {
        if (findThreadAbort_) return newdir::Walk::Stop;
        const NewDirViewHelper* item = NewDirViewHelper::of(node);
        if (!item || item->fileName().empty()) return newdir::Walk::Skip;
        if (CaseInsensitiveText::contains(item->fileName(), text)) {
            onMain([&] {
                auto found = std::make_unique<NewDirViewHelper>();
                found->setNewDir(node);
                findArray_.push_back(std::move(found));
                ++findCount_;
                if (display_.setFindTextFieldString)
                    display_.setFindTextFieldString(std::to_string(findCount_) + " Matches Found");
            });
        }
        return newdir::Walk::Into;
    });
}

void TreeFind::stopFindAndStandAsFindThread(const WorkerHandle& self) {
    if (takeOver(self)) onMain([&] { numFindAttempts_ = 1; });
}

void TreeFind::clearResults() {
    findArray_.clear();
    findArrayIndex_ = 0;
    findArrayIndexTrend_ = 0;
    findCount_ = 0;
    selectedIndexText_ = " ";
}

NewDir* TreeFind::foundNode(std::size_t index) const {
    return index < findArray_.size() && findArray_[index] ? findArray_[index]->newDir() : nullptr;
}

void TreeFind::select(std::int32_t index) {
    selectedIndexText_ = std::to_string(index + 1) + "/" + std::to_string(findArray_.size()) + " highlighted";
}

int TreeFind::findNext() {
    if (findArray_.empty()) return -1;
    const auto last = static_cast<std::int32_t>(findArray_.size()) - 1;
    if (findArrayIndexTrend_ == -1) findArrayIndex_ += 2;
    if (findArrayIndex_ > last) findArrayIndex_ = 0;
    if (findArrayIndex_ < 0) findArrayIndex_ += 2;
    if (findArrayIndex_ < 0 || findArrayIndex_ > last) findArrayIndex_ = 0;
    const std::int32_t shown = findArrayIndex_;
    select(shown);
    findArrayIndex_ += 1;
    findArrayIndexTrend_ = 1;
    return shown;
}

int TreeFind::findPrev() {
    if (findArray_.empty()) return -1;
    const auto last = static_cast<std::int32_t>(findArray_.size()) - 1;
    if (findArrayIndexTrend_ == 1) findArrayIndex_ -= 2;
    if (findArrayIndex_ < 0) findArrayIndex_ = last;
    if (findArrayIndex_ > last) findArrayIndex_ -= 2;
    if (findArrayIndex_ < 0 || findArrayIndex_ > last) findArrayIndex_ = last;
    const std::int32_t shown = findArrayIndex_;
    select(shown);
    findArrayIndex_ -= 1;
    findArrayIndexTrend_ = -1;
    return shown;
}

std::vector<NewDir*> TreeFind::markAllFound(std::uint8_t flag) {
    std::vector<NewDir*> nodes;
    for (const auto& item : findArray_) {
        NewDir* node = item ? item->newDir() : nullptr;
        if (!node) continue;
        CheckController(node, flag).run();
        nodes.push_back(node);
    }
    return nodes;
}
