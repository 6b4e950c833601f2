#include "app/SheetWindow.h"

#include "app/WizardScreen.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

SheetWindow::SheetWindow(const QString& objectName, const QString& heading, const QString& message, QWidget* parent)
    : QDialog(parent) {
    setObjectName(objectName);
    setWindowTitle(heading);
    setWindowModality(Qt::WindowModal);
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(10);
    layout->addWidget(WizardScreen::makeLabel(QString(), heading, "heading", this));
    if (!message.isEmpty()) {
        auto* text = message_ = WizardScreen::makeLabel(QString(), message, "caption", this);
        text->setWordWrap(true);
        layout->addWidget(text);
    }
    body_ = new QVBoxLayout;
    body_->setSpacing(8);
    layout->addLayout(body_);
    buttons_ = new QHBoxLayout;
    buttons_->addStretch(1);
    layout->addLayout(buttons_);
    setMinimumWidth(420);
}
