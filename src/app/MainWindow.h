#pragma once

#include <QMainWindow>

class QStackedWidget;

// The application's one window. Its screens are pages of a stacked view,
// selected by identifier ("Main Screen", "Drives List", "Progress", "Tree", ...).
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    QStackedWidget* tabView() const { return tabView_; }
    // Adds a screen under its identifier; the first one added is shown.
    void addScreen(const QString& identifier, QWidget* screen);
    // Shows the screen with that identifier; false when there is none.
    bool selectTabViewItemWithIdentifier(const QString& identifier);
    QString selectedIdentifier() const;

private:
    QStackedWidget* tabView_;
};
