#include "app/UpdateCheck.h"

#include "app/WorkerRequestBridge.h"
#include "platform/InfoPlist.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/SystemLog.h"
#include "results/qt/Utf8Text.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QUrl>

void UpdateCheck::checkForUpdateClicked(QObject*) {
    auto info = platform::InfoPlist::loadFromBundle();
    if (!info) return;
    const std::string url = info->cloudPlistUrl();
    if (url.empty()) return;
    platform::logFormat("%@", url);
    const std::string local = info->shortVersionString();
    if (!network_) network_ = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(Utf8Text::toQString(url).replace(QLatin1Char(' '), QStringLiteral("%20"))));
    // No answer within a few seconds counts as no network: the check never
    // holds anything up.
    request.setTransferTimeout(8000);
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, local] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) return;
        const QByteArray bytes = reply->readAll();
        auto list = platform::PropertyList::read(platform::Data(bytes.begin(), bytes.end()));
        if (!list || !list->isDict()) return;
        const std::string online = list->dictValue().get("CFBundleShortVersionString").stringValue();
        platform::logFormat("%@ %@", online, local);
        if (online.empty() || local.empty() || online == local) return;
        const int answer = requests_.runAlert(
            QStringLiteral("A newer version of Drentic Deleted File Recovery Software is available"),
            QStringLiteral("Do you want to update"), QStringLiteral("YES"), QStringLiteral("NO"), QString());
        if (answer == platform::AlertAlternateReturn) return;
        // The updater is a separate program, started only when it is there.
        const QString updater = Utf8Text::toQString(platform::executableDir()) + QStringLiteral("/.autoUpd");
        if (QFileInfo(updater).isExecutable()) QProcess::startDetached(updater, {});
    });
}
