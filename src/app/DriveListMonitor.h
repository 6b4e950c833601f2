#pragma once

#include "media/SystemPaths.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <map>
#include <string>

// Notices a drive, a partition or a loop device coming or going, a loop
// device being attached to a file (its size changes), or another medium at a
// node (a card swapped, an image attached at a freed loop device, whatever
// its size): it looks at the names under <sysfs>/block and <sysfs>/class/block
// and at each one's size and medium identity now and then, and says
// changed() when they differ from the last look. Only sysfs attributes are
// read; no device is opened.
class DriveListMonitor : public QObject {
    Q_OBJECT
public:
    explicit DriveListMonitor(std::string sysfsRoot = SystemPaths::system().sysfsRoot,
                              std::chrono::milliseconds interval = std::chrono::seconds(2), QObject* parent = nullptr);

signals:
    void changed();

private:
    // Entry name -> its attachment (SysfsBlockDevice::attachment).
    using Snapshot = std::map<std::string, std::string>;
    Snapshot look() const;
    void poll();

    std::string sysfsRoot_;
    Snapshot last_;
    QTimer timer_;
};
