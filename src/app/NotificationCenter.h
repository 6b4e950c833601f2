#pragma once

// The stand-in for the platform's default notification centre: observers
// registered under a notification's name run, on the main thread, when a
// notification of that name is posted with its object. An observer's
// registrations end with the observer.

#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <vector>

class NotificationCenter : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QVariant& object)>;

    static NotificationCenter& defaultCenter();

    void addObserver(QObject* observer, const QString& name, Handler handler);
    void removeObserver(QObject* observer);
    // From any thread; the handlers run on the main thread, at once when
    // it is the poster's.
    void postNotificationName(const QString& name, const QVariant& object = {});

private:
    struct Registration {
        QObject* observer;
        QString name;
        Handler handler;
    };
    void deliver(const QString& name, const QVariant& object);

    std::vector<Registration> registrations_;
};
