#include "app/MainWindow.h"

#include <QStackedWidget>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), tabView_(new QStackedWidget(this)) {
    setWindowTitle(QStringLiteral("Drentic Deleted File Recovery"));
    setObjectName(QStringLiteral("window"));
    tabView_->setObjectName(QStringLiteral("tabView"));
    setCentralWidget(tabView_);
    resize(900, 640);
}

void MainWindow::addScreen(const QString& identifier, QWidget* screen) {
    screen->setProperty("tabIdentifier", identifier);
    tabView_->addWidget(screen);
}

bool MainWindow::selectTabViewItemWithIdentifier(const QString& identifier) {
    for (int i = 0; i < tabView_->count(); ++i) {
        if (tabView_->widget(i)->property("tabIdentifier").toString() == identifier) {
            tabView_->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

QString MainWindow::selectedIdentifier() const {
    QWidget* w = tabView_->currentWidget();
    return w ? w->property("tabIdentifier").toString() : QString();
}
