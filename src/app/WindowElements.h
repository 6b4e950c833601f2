#pragma once

#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>

class MainWindow;

// The widgets of the main window by the identifiers that requests use
// ("button": "saveButton"): a registered alias first, then the window's
// children by object name. A name that finds nothing, or a widget of another
// kind than asked for, is a fault of the program rather than a request to
// do nothing, and is reported (qCritical) with the name.
class WindowElements {
public:
    MainWindow* window() const;
    void setWindow(MainWindow* window);

    void registerElement(const QString& identifier, QWidget* widget);
    QWidget* element(const QString& identifier) const;
    template <class T> T* find(const QString& identifier) const {
        QWidget* w = element(identifier);
        auto* typed = qobject_cast<T*>(w);
        if (w && !typed) reportWrongKind(identifier, T::staticMetaObject.className());
        return typed;
    }
    // For the few widgets that exist only once they are first needed (the
    // preview window): nullptr, quietly, until then.
    QWidget* elementIfMade(const QString& identifier) const;

    // The text of a label or a line edit.
    void setText(const QString& identifier, const QString& text) const;

private:
    static void reportWrongKind(const QString& identifier, const char* kind);

    QPointer<MainWindow> window_;
    QHash<QString, QPointer<QWidget>> aliases_;
};
