#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class WindowElements;

// Another process asks the window to come to the front by creating
// "bringFrontFile.dat" in the state folder; only its existence counts. The
// file is looked for every two seconds for as long as the program runs.
class BringFrontWatcher : public QObject {
    Q_OBJECT
public:
    explicit BringFrontWatcher(WindowElements& elements);

    static QString bringFrontFilePath();
    void start() { timer_.start(); }
    void bringMainWindowToFront();
    void makeMainWindowFrontThread();

private:
    void poll();

    WindowElements& elements_;
    QTimer timer_;
};
