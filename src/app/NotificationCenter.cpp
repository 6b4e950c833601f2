#include "app/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = [] {
        auto* c = new NotificationCenter;
        // Lives on the main thread, whichever thread asked first.
        if (QCoreApplication* app = QCoreApplication::instance()) c->moveToThread(app->thread());
        return c;
    }();
    return *center;
}

void NotificationCenter::addObserver(QObject* observer, const QString& name, Handler handler) {
    registrations_.push_back({observer, name, std::move(handler)});
    connect(observer, &QObject::destroyed, this, [this, observer] { removeObserver(observer); });
}

void NotificationCenter::removeObserver(QObject* observer) {
    std::erase_if(registrations_, [observer](const Registration& r) { return r.observer == observer; });
}

void NotificationCenter::postNotificationName(const QString& name, const QVariant& object) {
    if (QThread::currentThread() == thread())
        deliver(name, object);
    else
        QMetaObject::invokeMethod(
            this, [this, name, object] { deliver(name, object); }, Qt::QueuedConnection);
}

void NotificationCenter::deliver(const QString& name, const QVariant& object) {
    // A handler may add or remove observers: it runs from a copy.
    std::vector<Handler> handlers;
    for (const Registration& r : registrations_)
        if (r.name == name) handlers.push_back(r.handler);
    for (const Handler& h : handlers)
        h(object);
}
