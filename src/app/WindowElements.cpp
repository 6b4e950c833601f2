#include "app/WindowElements.h"

#include "app/MainWindow.h"

#include <QLabel>
#include <QLineEdit>

MainWindow* WindowElements::window() const {
    return window_;
}

void WindowElements::setWindow(MainWindow* window) {
    window_ = window;
}

void WindowElements::registerElement(const QString& identifier, QWidget* widget) {
    if (widget) aliases_.insert(identifier, widget);
}

QWidget* WindowElements::elementIfMade(const QString& identifier) const {
    if (identifier.isEmpty()) return nullptr;
    if (auto it = aliases_.find(identifier); it != aliases_.end() && *it) return *it;
    if (window_) return window_->findChild<QWidget*>(identifier);
    return nullptr;
}

QWidget* WindowElements::element(const QString& identifier) const {
    QWidget* w = elementIfMade(identifier);
    if (!w) qCritical("No widget is named \"%s\"", qPrintable(identifier));
    return w;
}

void WindowElements::reportWrongKind(const QString& identifier, const char* kind) {
    qCritical("The widget named \"%s\" is not a %s", qPrintable(identifier), kind);
}

void WindowElements::setText(const QString& identifier, const QString& text) const {
    QWidget* w = element(identifier);
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(text);
    else if (w)
        reportWrongKind(identifier, "text field");
}
