#include "app/RecoveryKindScreen.h"

#include "app/HoverButton.h"
#include "app/PictureArea.h"
#include "app/WizardScreen.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

RecoveryKindScreen::RecoveryKindScreen(const QString& pictureName, const QString& heading, const QString& question,
                                       const Choice& fast, const Choice& advanced, const QString& backName,
                                       QWidget* parent)
    : QWidget(parent), pictureArea_(new PictureArea(pictureName, pictureName + QStringLiteral("Imposed"), this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(32, 28, 32, 28);
    row->setSpacing(36);
    row->addWidget(pictureArea_, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(12);
    column->addStretch(1);
    column->addWidget(WizardScreen::makeLabel(QString(), heading, "screenTitle", this));
    column->addWidget(WizardScreen::makeLabel(QString(), question, "screenSubtitle", this));
    column->addSpacing(14);
    for (const Choice* c : {&fast, &advanced}) {
        auto* button = new HoverButton(c->title, this);
        button->setObjectName(c->objectName);
        column->addWidget(button, 0, Qt::AlignLeft);
    }
    column->addStretch(2);
    auto* back = new HoverButton(tr("Start Page"), this);
    back->setObjectName(backName);
    back->setToolTip(tr("Back to the start page"));
    column->addWidget(back, 0, Qt::AlignLeft);
    row->addLayout(column, 1);
}
