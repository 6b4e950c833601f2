#pragma once

#include <QMainWindow>
#include <QStringList>
#include <functional>

class AboutPanel;
class DrivesListScreen;
class MainScreen;
class PTListScreen;
class PTScanListScreen;
class PTScanProgressScreen;
class PermissionPanel;
class ProgressScreen;
class ProgressSheet;
class QAction;
class QStackedWidget;
class RawSliderScreen;
class RecoveryKindScreen;
class SavingDataSheet;
class SignaturesScreen;
class StopScanSheet;
class TreeScanModeScreen;
class TreeScreen;

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

    // The screens, and the sheets and panels the program's own code opens.
    MainScreen* mainScreen() const { return mainScreen_; }
    RecoveryKindScreen* recoverFilesScreen() const { return recoverFilesScreen_; }
    RecoveryKindScreen* recoverPhotosScreen() const { return recoverPhotosScreen_; }
    RecoveryKindScreen* recoverPartitionsScreen() const { return recoverPartitionsScreen_; }
    DrivesListScreen* drivesListScreen() const { return drivesListScreen_; }
    PTListScreen* ptListScreen() const { return ptListScreen_; }
    PTScanProgressScreen* ptScanProgressScreen() const { return ptScanProgressScreen_; }
    PTScanListScreen* ptScanListScreen() const { return ptScanListScreen_; }
    TreeScanModeScreen* treeScanModeScreen() const { return treeScanModeScreen_; }
    SignaturesScreen* signaturesScreen() const { return signaturesScreen_; }
    RawSliderScreen* rawSliderScreen() const { return rawSliderScreen_; }
    ProgressScreen* progressScreen() const { return progressScreen_; }
    TreeScreen* treeScreen() const { return treeScreen_; }
    StopScanSheet* alertWindowForAbort() const { return alertWindowForAbort_; }
    ProgressSheet* windowReturningTree() const { return windowReturningTree_; }
    SavingDataSheet* windowSavingData() const { return windowSavingData_; }
    AboutPanel* windowAboutPanel() const { return windowAboutPanel_; }
    PermissionPanel* windowSIPPanel() const { return windowSIPPanel_; }

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
    MainScreen* mainScreen_ = nullptr;
    RecoveryKindScreen* recoverFilesScreen_ = nullptr;
    RecoveryKindScreen* recoverPhotosScreen_ = nullptr;
    RecoveryKindScreen* recoverPartitionsScreen_ = nullptr;
    DrivesListScreen* drivesListScreen_ = nullptr;
    PTListScreen* ptListScreen_ = nullptr;
    PTScanProgressScreen* ptScanProgressScreen_ = nullptr;
    PTScanListScreen* ptScanListScreen_ = nullptr;
    TreeScanModeScreen* treeScanModeScreen_ = nullptr;
    SignaturesScreen* signaturesScreen_ = nullptr;
    RawSliderScreen* rawSliderScreen_ = nullptr;
    ProgressScreen* progressScreen_ = nullptr;
    TreeScreen* treeScreen_ = nullptr;
    StopScanSheet* alertWindowForAbort_ = nullptr;
    ProgressSheet* windowReturningTree_ = nullptr;
    SavingDataSheet* windowSavingData_ = nullptr;
    AboutPanel* windowAboutPanel_ = nullptr;
    PermissionPanel* windowSIPPanel_ = nullptr;
    QAction* openSession_ = nullptr;
    QAction* saveSession_ = nullptr;
    QAction* quit_ = nullptr;
    QAction* help_ = nullptr;
    QAction* about_ = nullptr;
    QAction* checkForUpdates_ = nullptr;
    QAction* supportPage_ = nullptr;
    std::function<bool()> closeHandler_;
};
