#include "app/DriveListMonitor.h"

#include "media/SysfsBlockDevice.h"

#include <filesystem>

namespace fs = std::filesystem;

DriveListMonitor::DriveListMonitor(std::string sysfsRoot, std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent), sysfsRoot_(std::move(sysfsRoot)) {
    last_ = look();
    connect(&timer_, &QTimer::timeout, this, &DriveListMonitor::poll);
    timer_.start(interval);
}

DriveListMonitor::Snapshot DriveListMonitor::look() const {
    Snapshot now;
    for (const char* folder : {"block", "class/block"}) {
        std::error_code ec;
        for (fs::directory_iterator it(fs::path(sysfsRoot_) / folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string key = std::string(folder) + "/" + it->path().filename().string();
            // A card swapped at a node for one of the same size, or an image
            // attached at a freed loop device between two looks, keeps the
            // name and the size: only its medium's identity tells.
            const std::optional<SysfsBlockDevice> device = SysfsBlockDevice::open(it->path().string(), sysfsRoot_);
            now[key] = device ? device->attachment() : std::string();
        }
    }
    return now;
}

void DriveListMonitor::poll() {
    Snapshot now = look();
    if (now == last_) return;
    last_ = std::move(now);
    emit changed();
}
