#pragma once

#include <QMainWindow>
#include <QStringList>
#include <functional>

class QAction;
class QStackedWidget;

// The application's one window. Its screens are pages of a stacked view,
// selected by identifier ("Main Screen", "Drives List", "Progress", "Tree",
// ...); the sheets and panels that the program shows over it are its
// children, so every control is found by its name from the window.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    // The identifiers of the wizard's screens, in the order they are added.
    static const QStringList& screenIdentifiers();

    QStackedWidget* tabView() const { return tabView_; }
    // Adds a screen under its identifier; the first one added is shown.
    void addScreen(const QString& identifier, QWidget* screen);
    // Shows the screen with that identifier; false when there is none.
    bool selectTabViewItemWithIdentifier(const QString& identifier);
    QString selectedIdentifier() const;
    QWidget* screen(const QString& identifier) const;

    QAction* openRecoverySessionAction() const { return openSession_; }
    QAction* saveRecoverySessionAction() const { return saveSession_; }
    QAction* quitAction() const { return quit_; }
    QAction* helpAction() const { return help_; }
    QAction* aboutAction() const { return about_; }
    QAction* checkForUpdatesAction() const { return checkForUpdates_; }
    QAction* supportPageAction() const { return supportPage_; }

    // Asked when the window's close button is pressed; true lets it close.
    void setCloseHandler(std::function<bool()> handler) { closeHandler_ = std::move(handler); }

    // The program's look, shared by the window, its sheets and panels.
    static QString styleSheet();

signals:
    void tabSelected(const QString& identifier);
    void windowClosed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildScreens();
    void buildSheets();
    void buildMenus();

    QStackedWidget* tabView_;
    QAction* openSession_ = nullptr;
    QAction* saveSession_ = nullptr;
    QAction* quit_ = nullptr;
    QAction* help_ = nullptr;
    QAction* about_ = nullptr;
    QAction* checkForUpdates_ = nullptr;
    QAction* supportPage_ = nullptr;
    std::function<bool()> closeHandler_;
};
