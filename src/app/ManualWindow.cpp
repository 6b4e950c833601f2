#include "app/ManualWindow.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

ManualWindow::ManualWindow(QWidget* parent) : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("windowManual"));
    setWindowTitle(tr("Drentic Deleted File Recovery Help"));
    browser_->setObjectName(QStringLiteral("manualBrowser"));
    // The manual's own links move within it; addresses outside it go to
    // the desktop, which may open them where it could not open the manual.
    browser_->setOpenLinks(true);
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(720, 640);
}

void ManualWindow::showManual(const QUrl& url) {
    // The same file is not loaded again: only the section changes.
    browser_->setSource(url);
    show();
    raise();
    activateWindow();
}
