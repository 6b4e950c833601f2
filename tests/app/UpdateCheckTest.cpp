#include "app/UpdateCheck.h"

#include "AppTestSupport.h"
#include "app/WindowElements.h"
#include "app/WorkerRequestBridge.h"
#include "platform/PropertyList.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

using platform::Dict;
namespace fs = std::filesystem;

// A web server on a free local port that answers every request with body;
// with a null body it takes the request and never answers.
struct LocalServer : QTcpServer {
    explicit LocalServer(const QByteArray& body) {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this, body] {
            QTcpSocket* s = nextPendingConnection();
            if (!body.isNull())
                connect(s, &QTcpSocket::readyRead, s, [s, body] {
                    s->write("HTTP/1.0 200 OK\r\n\r\n" + body);
                    s->disconnectFromHost();
                });
        });
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(serverPort()) + "/version list.plist"; }
};

QByteArray plist(const Dict& d) {
    return QByteArray::fromStdString(*platform::PropertyList::toXml(platform::Value(d)));
}

class UpdateCheckTest : public QObject {
    Q_OBJECT
    fs::path folder = testsupport::makeTempDir("update");
    WindowElements elements;
    WorkerRequestBridge requests{elements, {}};

    // A check of version 1.0.1 against the list at url, with an updater that
    // leaves a mark when it runs; every alert is answered with its default
    // button. Returns whether the check ended and what it ended with.
    std::optional<bool> run(const std::string& url, QObject* sender = nullptr, bool* returnedAtOnce = nullptr) {
        testsupport::writeText(folder / "updater", "#!/bin/sh\ntouch \"$0.ran\"\n");
        fs::permissions(folder / "updater", fs::perms::owner_all);
        fs::remove(folder / "updater.ran");
        testsupport::writeText(folder / "Info.plist", plist(Dict{{"CFBundleShortVersionString", "1.0.1"},
                                                                 {"cloudPlistUrl", url},
                                                                 {"updaterPath", (folder / "updater").string()}})
                                                          .toStdString());
        UpdateCheck check(requests);
        check.setInfoPlist(*platform::InfoPlist::load((folder / "Info.plist").string()));
        check.setTimeout(std::chrono::milliseconds(300));
        alert = std::make_unique<AlertAnswerer>(QString(), [](QMessageBox* box) { box->buttons().first()->click(); });
        QSignalSpy finished(&check, &UpdateCheck::checkFinished);
        check.checkForUpdateClicked(sender);
        if (returnedAtOnce) *returnedAtOnce = finished.isEmpty();
        if (!QTest::qWaitFor([&] { return !finished.isEmpty(); }, 5000)) return std::nullopt;
        return finished.first().first().toBool();
    }
    bool updaterRan() {
        return QTest::qWaitFor([this] { return fs::exists(folder / "updater.ran"); }, 2000);
    }
    std::unique_ptr<AlertAnswerer> alert;

private slots:
    // Another published version is offered; the default answer starts the updater.
    void otherVersionOffersTheUpdater() {
        LocalServer server(plist(Dict{{"CFBundleShortVersionString", "2.0"}}));
        QCOMPARE(run(server.url()), true);
        QCOMPARE(alert->title(),
                 QStringLiteral("A newer version of Drentic Deleted File Recovery Software is available"));
        QCOMPARE(alert->buttons(), (QStringList{"YES", "NO"}));
        QVERIFY(updaterRan());
    }

    // The same version shows nothing at launch; asked for, the updater starts all the same.
    void sameVersionShowsNothingAtLaunch() {
        LocalServer server(plist(Dict{{"CFBundleShortVersionString", "1.0.1"}}));
        QCOMPARE(run(server.url()), false);
        QVERIFY(alert->title().isEmpty());
        QCOMPARE(run(server.url(), this), false);
        QVERIFY(updaterRan());
    }

    // A server that takes the request and never answers holds nothing up.
    void silentServerEndsAsNoUpdate() {
        LocalServer server{QByteArray()};
        bool returnedAtOnce = false;
        QCOMPARE(run(server.url(), nullptr, &returnedAtOnce), false);
        QVERIFY(returnedAtOnce && alert->title().isEmpty());
    }

    // Only a small property list from the web counts; with nothing to fetch
    // a manual check says so instead of starting an updater.
    void onlyASmallListFromTheWebCounts() {
        const Dict newer{{"CFBundleShortVersionString", "2.0"}};
        testsupport::writeText(folder / "list.plist", plist(newer).toStdString());
        Dict padded = newer;
        padded.set("padding", std::string(UpdateCheck::kMaxListSize, 'x'));
        LocalServer huge(plist(padded)), garbage("CFBundleShortVersionString = 2.0");
        for (const std::string& url : {"file://" + (folder / "list.plist").string(), huge.url(), garbage.url()}) {
            QCOMPARE(run(url), false);
            QVERIFY(alert->title().isEmpty());
        }
        QCOMPARE(run("", this), false);
        QCOMPARE(alert->message(), QStringLiteral("No update information is available."));
    }
};

QTEST_MAIN(UpdateCheckTest)
#include "UpdateCheckTest.moc"
