#pragma once

#include "platform/InfoPlist.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <optional>

class QNetworkAccessManager;
class WorkerRequestBridge;

// Compares the version in the online list that Info.plist's "cloudPlistUrl"
// names with the program's own, in the background, and offers the updater
// that "updaterPath" names when they differ. Without both, or without the
// updater on disk, there is nothing to offer: the launch check stays
// silent and the manual one says so. A failed fetch counts as no update.
class UpdateCheck : public QObject {
    Q_OBJECT
public:
    explicit UpdateCheck(WorkerRequestBridge& requests) : requests_(requests) {}

    // Without a sender at launch; with the menu command when the user asks,
    // which starts the updater even when the versions agree, since it may
    // know more than the list does.
    void checkForUpdateClicked(QObject* sender = nullptr);

    // The settings read; the bundle's Info.plist unless set.
    void setInfoPlist(platform::InfoPlist info) { info_ = std::move(info); }
    // How long a fetch may take before it counts as no update.
    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // A version list larger than this is not a version list.
    static constexpr qint64 kMaxListSize = 256 * 1024;

signals:
    // A check has ended; true when the online version differed.
    void checkFinished(bool otherVersion);

private:
    // The updater's absolute path when it is there to start, else empty.
    static QString updaterIfPresent(const platform::InfoPlist& info);
    void fetchFinished(QByteArray list, bool manual, const std::string& local, const QString& updater);
    static void startUpdater(const QString& updater);
    void sayNoUpdateInformation();

    WorkerRequestBridge& requests_;
    QNetworkAccessManager* network_ = nullptr;
    std::optional<platform::InfoPlist> info_;
    std::chrono::milliseconds timeout_{8000};
};
