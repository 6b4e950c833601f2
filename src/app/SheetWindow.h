#pragma once

#include <QDialog>

class QLabel;
class QVBoxLayout;
class QHBoxLayout;

// A sheet: a small window that belongs to the main window and blocks it (but
// nothing else) while it is shown. It is opened with show(), never exec(),
// so the main thread goes on serving the workers that asked for it; the
// program opens and closes it by request.
class SheetWindow : public QDialog {
    Q_OBJECT
public:
    SheetWindow(const QString& objectName, const QString& heading, const QString& message, QWidget* parent = nullptr);

    // The line under the heading; null on a sheet without one.
    QLabel* messageLabel() const { return message_; }

protected:
    QVBoxLayout* body() const { return body_; }
    QHBoxLayout* buttons() const { return buttons_; }
    // A sheet ends only when the program ends it: Escape and the window's
    // close button would leave its worker waiting for nothing.
    void reject() override {}

private:
    QLabel* message_ = nullptr;
    QVBoxLayout* body_;
    QHBoxLayout* buttons_;
};
