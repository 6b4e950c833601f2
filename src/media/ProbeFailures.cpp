#include "media/ProbeFailures.h"

#include "platform/CheckedMath.h"

void ProbeFailures::attached(const std::string& device, const std::string& attachment) {
    std::lock_guard lock(mutex_);
    Device& d = devices_[device];
    if (d.attachment == attachment) return;
    d.attachment = attachment;
    d.failed.clear();
}

bool ProbeFailures::knownToFail(const std::string& device, std::uint64_t offset, std::uint64_t length,
                                bool pastTheCache) const {
    std::lock_guard lock(mutex_);
    const auto d = devices_.find(device);
    if (d == devices_.end() || length == 0) return false;
    const std::uint64_t end = platform::saturatingAdd(offset, length);
    // Those that begin inside the request; one of them may end inside it too.
    for (auto it = d->second.failed.lower_bound(offset); it != d->second.failed.end() && it->first < end; ++it)
        if (it->second.end <= end && (it->second.pastTheCache || !pastTheCache)) return true;
    return false;
}

void ProbeFailures::noteFailed(const std::string& device, std::uint64_t offset, std::uint64_t length,
                               bool pastTheCache) {
    if (length == 0) return;
    std::lock_guard lock(mutex_);
    devices_[device].failed.emplace(offset, Device::Failed{platform::saturatingAdd(offset, length), pastTheCache});
}

std::size_t ProbeFailures::failures(const std::string& device) const {
    std::lock_guard lock(mutex_);
    const auto d = devices_.find(device);
    return d == devices_.end() ? 0 : d->second.failed.size();
}
