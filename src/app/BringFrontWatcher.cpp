#include "app/BringFrontWatcher.h"

#include "app/MainWindow.h"
#include "app/WindowElements.h"
#include "platform/Paths.h"
#include "results/qt/Utf8Text.h"

#include <QFile>
#include <QFileInfo>
#include <QWindow>

BringFrontWatcher::BringFrontWatcher(WindowElements& elements) : elements_(elements) {
    // The look is one stat() call, so the main thread does it between
    // events.
    timer_.setInterval(2000);
    connect(&timer_, &QTimer::timeout, this, &BringFrontWatcher::poll);
}

QString BringFrontWatcher::bringFrontFilePath() {
    const std::string dir = platform::stateDir();
    if (dir.empty()) return {};
    return Utf8Text::toQString(dir) + QStringLiteral("/bringFrontFile.dat");
}

void BringFrontWatcher::poll() {
    const QString path = bringFrontFilePath();
    if (path.isEmpty() || !QFileInfo::exists(path)) return;
    // A file that can't be deleted is seen again at the next look and the
    // request repeats.
    QFile::remove(path);
    bringMainWindowToFront();
}

void BringFrontWatcher::bringMainWindowToFront() {
    MainWindow* window = elements_.window();
    if (!window) return;
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
    QTimer::singleShot(1000, this, &BringFrontWatcher::makeMainWindowFrontThread);
}

void BringFrontWatcher::makeMainWindowFrontThread() {
    MainWindow* window = elements_.window();
    if (!window || !window->isVisible()) return;
    window->raise();
    if (QWindow* handle = window->windowHandle()) handle->requestActivate();
}
