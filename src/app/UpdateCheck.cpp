#include "app/UpdateCheck.h"

#include "app/WorkerRequestBridge.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/SystemLog.h"
#include "results/qt/Utf8Text.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTimer>
#include <QUrl>

void UpdateCheck::checkForUpdateClicked(QObject* sender) {
    const bool manual = sender != nullptr;
    std::optional<platform::InfoPlist> info = info_ ? info_ : platform::InfoPlist::loadFromBundle();
    const std::string address = info ? info->cloudPlistUrl() : std::string();
    const QString updater = info ? updaterIfPresent(*info) : QString();
    if (address.empty() || updater.isEmpty()) {
        if (manual) sayNoUpdateInformation();
        emit checkFinished(false);
        return;
    }
    platform::logFormat("%@", address);
    const std::string local = info->shortVersionString();
    const QUrl url(Utf8Text::toQString(address).replace(QLatin1Char(' '), QStringLiteral("%20")));
    // Anything but the web (a local file, say) is not fetched.
    const QString scheme = url.scheme().toLower();
    if (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) {
        platform::logFormat("update list not fetched: %@ is not an http or https address", address);
        fetchFinished({}, manual, local, updater);
        return;
    }
    if (!network_) network_ = new QNetworkAccessManager(this);
    QNetworkReply* reply = network_->get(QNetworkRequest(url));
    // One limit for the whole exchange: a server that answers a byte at a
    // time holds the check no longer than one that does not answer at all.
    QTimer::singleShot(timeout_, reply, &QNetworkReply::abort);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > kMaxListSize || total > kMaxListSize) reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, manual, local, updater] {
        reply->deleteLater();
        const bool fetched = reply->error() == QNetworkReply::NoError;
        if (!fetched) platform::logFormat("update list not read: %@", Utf8Text::fromQString(reply->errorString()));
        fetchFinished(fetched ? reply->read(kMaxListSize + 1) : QByteArray(), manual, local, updater);
    });
}

void UpdateCheck::fetchFinished(QByteArray list, bool manual, const std::string& local, const QString& updater) {
    std::string online;
    if (list.size() <= kMaxListSize)
        if (auto value = platform::PropertyList::read(platform::Data(list.begin(), list.end()));
            value && value->isDict())
            online = value->dictValue().get("CFBundleShortVersionString").stringValue();
    platform::logFormat("%@ %@", online, local);
    const bool otherVersion = !online.empty() && !local.empty() && online != local;
    if (otherVersion) {
        const int answer = requests_.runAlert(
            QStringLiteral("A newer version of Drentic Deleted File Recovery Software is available"),
            QStringLiteral("Do you want to update"), QStringLiteral("YES"), QStringLiteral("NO"), QString());
        if (answer != platform::AlertAlternateReturn) startUpdater(updater);
    } else if (manual) {
        startUpdater(updater);
    }
    emit checkFinished(otherVersion);
}

QString UpdateCheck::updaterIfPresent(const platform::InfoPlist& info) {
    const std::string path = info.updaterPath();
    if (path.empty()) return {};
    const QFileInfo file(QDir(Utf8Text::toQString(platform::executableDir())).filePath(Utf8Text::toQString(path)));
    if (file.isFile() && file.isExecutable()) return file.absoluteFilePath();
    platform::logFormat("no update check: the updater %@ is not there", path);
    return {};
}

void UpdateCheck::startUpdater(const QString& updater) {
    // A separate program that is told nothing and tells nothing back.
    if (!QProcess::startDetached(updater, {}))
        platform::logFormat("the updater %@ did not start", Utf8Text::fromQString(updater));
}

void UpdateCheck::sayNoUpdateInformation() {
    requests_.runAlert(QStringLiteral("Check for Updates"), QStringLiteral("No update information is available."),
                       QStringLiteral("OK"), QString(), QString());
}
