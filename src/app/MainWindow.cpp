#include "app/MainWindow.h"

#include "app/AboutPanel.h"
#include "app/AppImages.h"
#include "app/DrivesListScreen.h"
#include "app/MainScreen.h"
#include "app/PTListScreen.h"
#include "app/PTScanListScreen.h"
#include "app/PTScanProgressScreen.h"
#include "app/PermissionPanel.h"
#include "app/ProgressScreen.h"
#include "app/ProgressSheet.h"
#include "app/RawSliderScreen.h"
#include "app/RecoverFilesScreen.h"
#include "app/RecoverPartitionsScreen.h"
#include "app/RecoverPhotosScreen.h"
#include "app/SavingDataSheet.h"
#include "app/SignaturesScreen.h"
#include "app/StopScanSheet.h"
#include "app/TreeScanModeScreen.h"
#include "app/TreeScreen.h"
#include "platform/InfoPlist.h"
#include "results/qt/Utf8Text.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QKeySequence>
#include <QMenuBar>
#include <QPushButton>
#include <QStackedWidget>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), tabView_(new QStackedWidget(this)) {
    setWindowTitle(QStringLiteral("Drentic Deleted File Recovery"));
    setObjectName(QStringLiteral("window"));
    setWindowIcon(QIcon(AppImages::imageNamed(QStringLiteral("AppIcon"))));
    setStyleSheet(styleSheet());
    tabView_->setObjectName(QStringLiteral("tabView"));
    setCentralWidget(tabView_);
    connect(tabView_, &QStackedWidget::currentChanged, this, [this] { emit tabSelected(selectedIdentifier()); });
    buildScreens();
    // Outside a dialog a push button leaves Enter alone; on the screens a
    // focused button or choice takes Enter as a click, as it takes Space.
    for (QPushButton* button : tabView_->findChildren<QPushButton*>())
        button->setAutoDefault(true);
    buildSheets();
    buildMenus();
    resize(920, 640);
}

const QStringList& MainWindow::screenIdentifiers() {
    static const QStringList ids = {
        QStringLiteral("Main Screen"),    QStringLiteral("Recover Files"),
        QStringLiteral("Recover Photos"), QStringLiteral("Recover Partitions"),
        QStringLiteral("Drives List"),    QStringLiteral("PT list"),
        QStringLiteral("PT scan prog"),   QStringLiteral("PT scan list"),
        QStringLiteral("Tree scan mode"), QStringLiteral("Signatures"),
        QStringLiteral("Raw slider"),     QStringLiteral("Progress"),
        QStringLiteral("Tree"),
    };
    return ids;
}

void MainWindow::buildScreens() {
    addScreen(QStringLiteral("Main Screen"), mainScreen_ = new MainScreen);
    addScreen(QStringLiteral("Recover Files"), recoverFilesScreen_ = new RecoverFilesScreen);
    addScreen(QStringLiteral("Recover Photos"), recoverPhotosScreen_ = new RecoverPhotosScreen);
    addScreen(QStringLiteral("Recover Partitions"), recoverPartitionsScreen_ = new RecoverPartitionsScreen);
    addScreen(QStringLiteral("Drives List"), drivesListScreen_ = new DrivesListScreen);
    addScreen(QStringLiteral("PT list"), ptListScreen_ = new PTListScreen);
    addScreen(QStringLiteral("PT scan prog"), ptScanProgressScreen_ = new PTScanProgressScreen);
    addScreen(QStringLiteral("PT scan list"), ptScanListScreen_ = new PTScanListScreen);
    addScreen(QStringLiteral("Tree scan mode"), treeScanModeScreen_ = new TreeScanModeScreen);
    addScreen(QStringLiteral("Signatures"), signaturesScreen_ = new SignaturesScreen);
    addScreen(QStringLiteral("Raw slider"), rawSliderScreen_ = new RawSliderScreen);
    addScreen(QStringLiteral("Progress"), progressScreen_ = new ProgressScreen);
    addScreen(QStringLiteral("Tree"), treeScreen_ = new TreeScreen);
}

void MainWindow::buildSheets() {
    new ProgressSheet(QStringLiteral("windowLoadingDrives"), tr("Loading Drives"),
                      tr("Looking for drives, partitions and volumes..."),
                      QStringLiteral("progressIndicatorLoadingDrives"), this);
    alertWindowForAbort_ = new StopScanSheet(this);
    new ProgressSheet(QStringLiteral("windowPreparingTree"), tr("Preparing the List"),
                      tr("Arranging the found files for display..."), QStringLiteral("progressIndicatorPreparingTree"),
                      this);
    windowReturningTree_ = new ProgressSheet(QStringLiteral("windowReturningTree"), tr("Closing the List"),
                                             tr("Releasing the list of found files..."),
                                             QStringLiteral("progressIndicatorReturningTree"), this);
    windowSavingData_ = new SavingDataSheet(this);
    new ProgressSheet(QStringLiteral("windowSavingRecoverySession"), tr("Saving Recovery Session"),
                      tr("Writing the scan's results to the session file..."),
                      QStringLiteral("progressSavingRecoverySession"), this);
    new ProgressSheet(QStringLiteral("windowLoadingRecoverySession"), tr("Opening Recovery Session"),
                      tr("Reading the scan's results from the session file..."),
                      QStringLiteral("progressLoadingRecoverySession"), this);
    new ProgressSheet(QStringLiteral("windowSavingAutoRecoverySession"), tr("Preparing the Search"),
                      tr("Noting where the scan stands, so that it can be resumed if it is interrupted..."),
                      QStringLiteral("progressSavingAutoRecoverySession"), this);
    new ProgressSheet(QStringLiteral("windowLoadingAutoRecoverySession"), tr("Resuming the Scan"),
                      tr("Reading what the interrupted scan had found..."),
                      QStringLiteral("progressLoadingAutoRecoverySession"), this);
    auto info = platform::InfoPlist::loadFromBundle();
    windowAboutPanel_ = new AboutPanel(Utf8Text::toQString(info ? info->shortVersionString() : std::string()), this);
    windowSIPPanel_ = new PermissionPanel(this);
}

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    openSession_ = file->addAction(tr("&Open Recovery Session..."));
    openSession_->setObjectName(QStringLiteral("menuItemOpenRecoverySession"));
    openSession_->setShortcut(QKeySequence::Open);
    saveSession_ = file->addAction(tr("&Save Recovery Session..."));
    saveSession_->setObjectName(QStringLiteral("menuItemSaveRecoverySession"));
    saveSession_->setShortcut(QKeySequence::Save);
    // There is a session to save only on the result screen; the session
    // controller turns this on there.
    saveSession_->setEnabled(false);
    file->addSeparator();
    quit_ = file->addAction(tr("&Quit"));
    quit_->setObjectName(QStringLiteral("menuItemQuit"));
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_->setMenuRole(QAction::QuitRole);

    QMenu* helpMenu = menuBar()->addMenu(tr("&Help"));
    help_ = helpMenu->addAction(tr("Drentic Deleted File Recovery &Help"));
    help_->setObjectName(QStringLiteral("menuItemHelp"));
    help_->setShortcut(QKeySequence::HelpContents);
    checkForUpdates_ = helpMenu->addAction(tr("Check for &Updates..."));
    checkForUpdates_->setObjectName(QStringLiteral("menuItemCheckForUpdates"));
    // Shown by the delegate where a support page is configured.
    supportPage_ = helpMenu->addAction(tr("&Support Page"));
    supportPage_->setObjectName(QStringLiteral("menuItemSupportPage"));
    supportPage_->setVisible(false);
    helpMenu->addSeparator();
    about_ = helpMenu->addAction(tr("&About Drentic Deleted File Recovery"));
    about_->setObjectName(QStringLiteral("menuItemAbout"));
    about_->setMenuRole(QAction::AboutRole);
}

void MainWindow::addScreen(const QString& identifier, QWidget* screen) {
    screen->setProperty("tabIdentifier", identifier);
    tabView_->addWidget(screen);
}

bool MainWindow::selectTabViewItemWithIdentifier(const QString& identifier) {
    QWidget* w = screen(identifier);
    if (!w) return false;
    tabView_->setCurrentWidget(w);
    return true;
}

QWidget* MainWindow::screen(const QString& identifier) const {
    for (int i = 0; i < tabView_->count(); ++i) {
        if (tabView_->widget(i)->property("tabIdentifier").toString() == identifier) return tabView_->widget(i);
    }
    return nullptr;
}

QString MainWindow::selectedIdentifier() const {
    QWidget* w = tabView_->currentWidget();
    return w ? w->property("tabIdentifier").toString() : QString();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closeHandler_ && !closeHandler_()) {
        event->ignore();
        return;
    }
    event->accept();
    emit windowClosed();
}

QString MainWindow::styleSheet() {
    // One palette for the whole program; the pictures are drawn in the same
    // colours (see tools/art).
    return QStringLiteral(R"(
QMainWindow, QDialog { background: #F3F6FA; }
QStackedWidget > QWidget { background: #F3F6FA; }
QWidget[role="header"] { background: #FFFFFF; border-bottom: 1px solid #D3DCE8; }
QWidget[role="footer"] { background: #FFFFFF; border-top: 1px solid #D3DCE8; }
QLabel { color: #1E2A3A; }
QLabel[role="screenTitle"] { font-size: 20px; font-weight: bold; color: #1E2A3A; }
QLabel[role="screenSubtitle"] { font-size: 13px; color: #5B6B7F; }
QLabel[role="status"] { font-size: 13px; font-weight: bold; color: #2F6FDB; }
QLabel[role="heading"] { font-size: 15px; font-weight: bold; color: #1E2A3A; }
QLabel[role="caption"] { font-size: 12px; color: #5B6B7F; }
QLabel[role="value"] { font-size: 12px; font-weight: bold; color: #1E2A3A; }
QLabel[role="count"] { font-size: 20px; font-weight: bold; color: #1E2A3A; }
QFrame[role="tile"] { background: #FFFFFF; border: 1px solid #D3DCE8; border-radius: 10px; }
QPushButton { background: #FFFFFF; color: #1E2A3A; border: 1px solid #C4CEDB; border-radius: 6px;
              padding: 6px 14px; font-size: 12px; }
QPushButton:hover { border-color: #2F6FDB; }
QPushButton:pressed { background: #E6EDF8; }
QPushButton:disabled { color: #9AA5B1; border-color: #DDE3EB; background: #F7F9FB; }
QPushButton[primary="true"] { background: #2F6FDB; color: #FFFFFF; border-color: #275FBE; font-weight: bold; }
QPushButton[primary="true"]:hover { background: #275FBE; }
QPushButton[primary="true"]:disabled { background: #A9C2EE; border-color: #A9C2EE; color: #FFFFFF; }
HoverButton { background: transparent; border: none; padding: 0px; }
QCommandLinkButton { background: #FFFFFF; border: 1px solid #D3DCE8; border-radius: 10px; padding: 10px; }
QCommandLinkButton:hover { border-color: #2F6FDB; }
QTableView, QTreeView { background: #FFFFFF; alternate-background-color: #F7F9FC; border: 1px solid #D3DCE8;
                        border-radius: 6px; selection-background-color: #2F6FDB; }
QHeaderView::section { background: #EEF2F8; color: #5B6B7F; border: none; border-bottom: 1px solid #D3DCE8;
                       padding: 5px 8px; font-size: 12px; }
QLineEdit { background: #FFFFFF; border: 1px solid #C4CEDB; border-radius: 6px; padding: 4px 8px; }
QLineEdit:focus { border-color: #2F6FDB; }
QCheckBox { color: #1E2A3A; font-size: 12px; }
)");
}
