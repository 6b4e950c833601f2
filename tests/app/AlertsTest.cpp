#include "AppTestSupport.h"

#include <QLabel>
#include <QtTest>
#include <atomic>
#include <functional>

using platform::Array;
using platform::Dict;
using platform::Value;

class AlertsTest : public QObject {
    Q_OBJECT
private:
    // A worker asks; the alert is answered with `button`; the worker must
    // still be waiting while the alert is up. Answers what the worker got.
    int askFromWorker(const std::function<int()>& ask, const QString& button) {
        std::atomic<bool> returned{false};
        bool blockedWhileShown = false;
        AlertAnswerer answer(button, [&](QMessageBox*) { blockedWhileShown = !returned; });
        int code = 99;
        onWorker([&] {
            code = ask();
            returned = true;
        });
        [&] { QVERIFY(answer.answered() && blockedWhileShown); }();
        shown_ = QStringList{answer.title(), answer.message()} << answer.buttons();
        return code;
    }
    int askFromWorker(ProgramUnderTest& p, const Dict& request, const QString& button) {
        return askFromWorker([&] { return p.delegate.showAlertPanelWithData(request); }, button);
    }
    QStringList shown_; // the last alert's title, message and buttons

private slots:
    // The dictionary form answers 1, 0 or -1 and shows its body unchanged.
    void dictionaryAlertAnswersOneZeroMinusOneAndShowsTheBodyUnchanged() {
        ProgramUnderTest p;
        const Dict request{{"title", "Do you want to save recovery session?"},
                           {"body", "Keep the result?"},
                           {"defaultButton", "Yes"},
                           {"alternateButton", "No"},
                           {"otherButton", "Cancel"}};
        for (auto [button, code] : {std::pair{"Yes", 1}, {"No", 0}, {"Cancel", -1}}) {
            QCOMPARE(askFromWorker(p, request, button), code);
            QCOMPARE(p.delegate.alertResultValue(), code);
        }
        QCOMPARE(shown_.size(), 2 + 3);
        const Dict saved{{"title", "Recovery Session File Saved"},
                         {"body", "Saving location: /home/u/100% done %@ <b>x</b>.drs"},
                         {"defaultButton", "OK"}};
        QCOMPARE(askFromWorker(p, saved, "OK"), 1);
        QCOMPARE(shown_, (QStringList{"Recovery Session File Saved",
                                      "Saving location: /home/u/100% done %@ <b>x</b>.drs", "OK"}));
    }

    // The array form formats its message and blocks the worker; four items
    // give one button and no arguments, five two buttons, six three.
    void arrayAlertFormatsItsMessageAndItsButtonsFollowTheArraySize() {
        ProgramUnderTest p;
        askFromWorker(
            [&] {
                p.delegate.runAlertPanel(platform::alertRequest("! Could not open drive",
                                                                "A valid fileDesc could not be obtained for drive: %@",
                                                                "OK", Array{Value("/dev/sdz")}));
                return 0;
            },
            "OK");
        QCOMPARE(shown_, (QStringList{"! Could not open drive",
                                      "A valid fileDesc could not be obtained for drive: /dev/sdz", "OK"}));
        const Array requests[] = {Array{"T", "M", "OK", Array{Value(true)}},
                                  Array{"T", "M", "A", "B", Array{Value(true)}},
                                  Array{"T", "M", "A", "B", "C", Array{Value(true)}}};
        const char* last[] = {"OK", "B", "C"};
        for (int i = 0; i < 3; ++i) {
            AlertAnswerer answer(last[i]);
            p.delegate.runAlertPanel(requests[i]);
            QCOMPARE(answer.buttons().size(), i + 1);
            QVERIFY(answer.buttons().contains(last[i]));
            QCOMPARE(answer.message(), QStringLiteral("M"));
        }
    }
};

QTEST_MAIN(AlertsTest)
#include "AlertsTest.moc"
