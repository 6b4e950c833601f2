#include "volume/DoneSectorList.h"

void DoneSectorList::add(std::uint64_t sector) {
    if (members_.insert(sector).second) inOrder_.push_back(sector);
}

void DoneSectorList::clear() {
    members_.clear();
    inOrder_.clear();
}

void DoneSectorList::keepFirst(std::size_t count) {
    while (inOrder_.size() > count) {
        members_.erase(inOrder_.back());
        inOrder_.pop_back();
    }
}
