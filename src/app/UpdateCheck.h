#pragma once

#include <QObject>

class QNetworkAccessManager;
class WorkerRequestBridge;

// Compares the version in the online list that Info.plist's "cloudPlistUrl"
// names with the program's own, in the background, and offers the updater
// when they differ; nothing without a URL. No failure is reported.
class UpdateCheck : public QObject {
    Q_OBJECT
public:
    explicit UpdateCheck(WorkerRequestBridge& requests) : requests_(requests) {}

    void checkForUpdateClicked(QObject* sender = nullptr);

private:
    WorkerRequestBridge& requests_;
    QNetworkAccessManager* network_ = nullptr;
};
