#include "AppTestSupport.h"

#include <QLabel>
#include <QtTest>
#include <atomic>
#include <thread>

using platform::Array;
using platform::Dict;
using platform::Value;

class AlertsTest : public QObject {
    Q_OBJECT
private:
    // A worker asks; the alert is answered with `button`; the worker must
    // still be waiting while the alert is up.
    int askFromWorker(ProgramUnderTest& p, const Dict& request, const QString& button, AlertAnswerer** out = nullptr) {
        std::atomic<bool> returned{false};
        bool blockedWhileShown = false;
        AlertAnswerer answer(button, [&](QMessageBox*) { blockedWhileShown = !returned; });
        int code = 99;
        std::thread worker([&] {
            code = p.delegate.showAlertPanelWithData(request);
            returned = true;
        });
        while (!returned)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        worker.join();
        [&] {
            QVERIFY(answer.answered());
            QVERIFY(blockedWhileShown);
        }();
        lastTitle_ = answer.title();
        lastMessage_ = answer.message();
        lastButtons_ = answer.buttons();
        return code;
    }
    QString lastTitle_, lastMessage_;
    QStringList lastButtons_;

private slots:
    void dictionaryAlertAnswersOneZeroMinusOne() {
        ProgramUnderTest p;
        const Dict request{{"title", "Do you want to save recovery session?"},
                           {"body", "Keep the result?"},
                           {"defaultButton", "Yes"},
                           {"alternateButton", "No"},
                           {"otherButton", "Cancel"}};
        QCOMPARE(askFromWorker(p, request, "Yes"), 1);
        QCOMPARE(p.delegate.alertResultValue(), 1);
        QCOMPARE(askFromWorker(p, request, "No"), 0);
        QCOMPARE(p.delegate.alertResultValue(), 0);
        QCOMPARE(askFromWorker(p, request, "Cancel"), -1);
        QCOMPARE(p.delegate.alertResultValue(), -1);
        QCOMPARE(lastButtons_.size(), 3);
    }

    void dictionaryAlertWithOneButtonShowsTheBodyUnchanged() {
        ProgramUnderTest p;
        const Dict request{{"title", "Recovery Session File Saved"},
                           {"body", "Saving location: /home/u/100% done %@ <b>x</b>.drs"},
                           {"defaultButton", "OK"}};
        QCOMPARE(askFromWorker(p, request, "OK"), 1);
        QCOMPARE(lastButtons_, QStringList{"OK"});
        QCOMPARE(lastTitle_, QStringLiteral("Recovery Session File Saved"));
        QCOMPARE(lastMessage_, QStringLiteral("Saving location: /home/u/100% done %@ <b>x</b>.drs"));
    }

    void arrayAlertFormatsItsMessageAndBlocksTheWorker() {
        ProgramUnderTest p;
        std::atomic<bool> returned{false};
        bool blockedWhileShown = false;
        AlertAnswerer answer("OK", [&](QMessageBox*) { blockedWhileShown = !returned; });
        std::thread worker([&] {
            p.delegate.runAlertPanel(platform::alertRequest("! Could not open drive",
                                                            "A valid fileDesc could not be obtained for drive: %@",
                                                            "OK", Array{Value("/dev/sdz")}));
            returned = true;
        });
        while (!returned)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        worker.join();
        QVERIFY(blockedWhileShown);
        QCOMPARE(answer.title(), QStringLiteral("! Could not open drive"));
        QCOMPARE(answer.message(), QStringLiteral("A valid fileDesc could not be obtained for drive: /dev/sdz"));
        QCOMPARE(answer.buttons(), QStringList{"OK"});
    }

    void arrayAlertButtonsFollowTheArraySize() {
        ProgramUnderTest p;
        {
            // Four items: one button, no arguments.
            AlertAnswerer answer("OK");
            p.delegate.runAlertPanel(Array{"T", "M", "OK", Array{Value(true)}});
            QCOMPARE(answer.buttons(), QStringList{"OK"});
            QCOMPARE(answer.message(), QStringLiteral("M"));
        }
        {
            AlertAnswerer answer("B");
            p.delegate.runAlertPanel(Array{"T", "M", "A", "B", Array{Value(true)}});
            QCOMPARE(answer.buttons().size(), 2);
            QVERIFY(answer.buttons().contains("B"));
        }
        {
            AlertAnswerer answer("C");
            p.delegate.runAlertPanel(Array{"T", "M", "A", "B", "C", Array{Value(true)}});
            QCOMPARE(answer.buttons().size(), 3);
            QVERIFY(answer.buttons().contains("C"));
        }
    }
};

QTEST_MAIN(AlertsTest)
#include "AlertsTest.moc"
