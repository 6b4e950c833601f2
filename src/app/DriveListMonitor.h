#pragma once

#include "media/SystemPaths.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <map>
#include <string>

// Notices a drive, a partition or a loop device coming or going, or a loop
// device being attached to a file (its size changes): it looks at the names
// under <sysfs>/block and <sysfs>/class/block and at each one's size now and
// then, and says changed() when they differ from the last look. Only sysfs
// attributes are read; no device is opened.
class DriveListMonitor : public QObject {
    Q_OBJECT
public:
    explicit DriveListMonitor(std::string sysfsRoot = SystemPaths::system().sysfsRoot,
                              std::chrono::milliseconds interval = std::chrono::seconds(2), QObject* parent = nullptr);

signals:
    void changed();

private:
    // Entry name -> its size attribute.
    using Snapshot = std::map<std::string, std::string>;
    Snapshot look() const;
    void poll();

    std::string sysfsRoot_;
    Snapshot last_;
    QTimer timer_;
};
