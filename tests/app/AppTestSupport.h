#pragma once

// Helpers shared by the program's widget tests.

#include "app/MainWindow.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "volume/NewDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// A node of a test tree, attached under parent with its running counts.
inline NewDir* addNode(NewDir* parent, const char16_t* name, std::uint16_t kind, std::uint64_t size, bool deleted) {
    NewDir* n = newdir::allocate();
    n->fileType = kind;
    n->fileSize = size;
    n->fileCount = kind == NewDir::File ? 1 : 0;
    n->deleted = deleted ? 1 : 0;
    n->pndirPointer = parent;
    newdir::setFileName(n, name);
    newdir::appendChild(parent, n);
    return n;
}

// A row of the drive list for a disk (or disk image) at path.
inline platform::Dict diskRow(const std::string& path, unsigned long long size) {
    return platform::Dict{{"Path", path},
                          {"Size", size},
                          {"Preferred Block Size", 512},
                          {"WhetherDiskDict", true},
                          {"device model", "Test"},
                          {"device serial", "0001"},
                          {"device revision", "1.0"},
                          {"bundle path", "nil"},
                          {"Volume and Drive Index", 0}};
}

// While it lives, a critical message (a request naming a widget that does
// not exist, say) fails the test that caused it.
class CriticalMessagesFail {
public:
    CriticalMessagesFail() { previous() = qInstallMessageHandler(&handle); }
    ~CriticalMessagesFail() { qInstallMessageHandler(previous()); }
    CriticalMessagesFail(const CriticalMessagesFail&) = delete;
    CriticalMessagesFail& operator=(const CriticalMessagesFail&) = delete;

private:
    static QtMessageHandler& previous() {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (previous()) previous()(type, context, message);
        if (type == QtCriticalMsg) QTest::qFail(qPrintable(message), context.file ? context.file : "", context.line);
    }
};

// Whether a shown picture is the first page of the fax testsupport::writeFax
// writes: the middle of its box black, the middle of the white below it
// white, wherever the picture was scaled to.
inline bool showsTheFaxFirstPage(const QPixmap& shown) {
    if (shown.isNull()) return false;
    const QImage image = shown.toImage();
    const auto grey = [&](int x, int y) {
        return qGray(image.pixel(x * image.width() / 1728, y * image.height() / 1100));
    };
    return grey(450, 250) < 64 && grey(450, 800) > 192;
}

// The delegate and its window, set up as the program sets them up, with no
// drives unless a test lists some.
struct ProgramUnderTest {
    CriticalMessagesFail failOnCritical;
    Quelvar_Recovery_SoftwareAppDelegate delegate;
    MainWindow window;
    explicit ProgramUnderTest(Quelvar_Recovery_SoftwareAppDelegate::DriveListLoader drives =
                                  [] { return Quelvar_Recovery_SoftwareAppDelegate::DriveLists{}; })
        : delegate(std::move(drives)) {
        delegate.setWindow(&window);
        delegate.awakeFromNib();
    }
    template <class T> T* widget(const char* name) { return window.findChild<T*>(QString::fromLatin1(name)); }
    // The text a label, field or button shows; several at once.
    QString text(const char* name) {
        QWidget* w = widget<QWidget>(name);
        if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
        if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
        if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
        return {};
    }
    QStringList texts(std::initializer_list<const char*> names) {
        QStringList out;
        for (const char* name : names)
            out << text(name);
        return out;
    }
    bool enabled(const char* name) {
        QWidget* w = widget<QWidget>(name);
        return w && w->isEnabled();
    }
};

// Answers the next alert that comes up by pressing the button with that
// title. An alert runs its own event loop, so the answer has to come from a
// timer that fires inside it; `seen` looks at the alert first.
class AlertAnswerer : public QObject {
public:
    // `every`: every alert with the button is answered, and the last one's
    // title and message kept; else the first only.
    explicit AlertAnswerer(QString button, std::function<void(QMessageBox*)> seen = {}, bool every = false)
        : button_(std::move(button)), seen_(std::move(seen)), every_(every) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { look(); });
        timer_.start();
    }
    bool answered() const { return answered_; }
    QString title() const { return title_; }
    QString message() const { return message_; }
    QStringList buttons() const { return buttons_; }

private:
    void look() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible()) continue;
            title_ = box->text();
            message_ = box->informativeText();
            buttons_.clear();
            for (QAbstractButton* b : box->buttons())
                buttons_ << b->text();
            if (seen_) seen_(box);
            const qsizetype at = buttons_.indexOf(button_);
            if (at < 0) continue;
            if (!every_) timer_.stop();
            answered_ = true;
            box->buttons()[at]->click();
            return;
        }
    }
    QString button_;
    std::function<void(QMessageBox*)> seen_;
    bool every_;
    QTimer timer_;
    bool answered_ = false;
    QString title_, message_;
    QStringList buttons_;
};

// Runs fn on a worker thread while the main thread serves its requests, and
// returns when fn has returned.
inline void onWorker(const std::function<void()>& fn) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        fn();
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
}

// Runs action inside the application's event loop; true when the program
// ended that loop (quit) before ms more had passed after action returned.
inline bool programEnds(const std::function<void()>& action, int ms) {
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    QTimer::singleShot(0, &limit, [&] {
        action();
        limit.start(ms);
    });
    return QCoreApplication::exec() == 0;
}
