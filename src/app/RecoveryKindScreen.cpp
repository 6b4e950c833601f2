#include "app/RecoveryKindScreen.h"

#include "app/AppImages.h"
#include "app/HoverButton.h"
#include "app/PictureArea.h"
#include "app/WizardScreen.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

RecoveryKindScreen::RecoveryKindScreen(const QString& pictureName, const QString& heading, const QString& question,
                                       const Choice& fast, const Choice& advanced, const Back& back, QWidget* parent)
    : QWidget(parent), pictureArea_(new PictureArea(pictureName, pictureName + QStringLiteral("Imposed"), this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(32, 28, 32, 28);
    row->setSpacing(36);
    row->addWidget(pictureArea_, 0, Qt::AlignVCenter);
    pictureArea_->picture()->setPixmap(AppImages::imageNamed(QStringLiteral("wizard2")));
    pictureArea_->overlay()->setPixmap(AppImages::imageNamed(back.kindExplanation));

    auto* column = new QVBoxLayout;
    column->setSpacing(12);
    column->addStretch(1);
    column->addWidget(WizardScreen::makeLabel(QString(), heading, "screenTitle", this));
    column->addWidget(WizardScreen::makeLabel(QString(), question, "screenSubtitle", this));
    column->addSpacing(14);
    // Each button keeps its hover picture when the pointer leaves it, until
    // another one of the screen is pointed at.
    for (const Choice* c : {&fast, &advanced}) {
        auto* button = (c == &fast ? fast_ : advanced_) = new HoverButton(c->title, this);
        button->setObjectName(c->objectName);
        button->setUpPictures(c->pictures, c->buttonID, false);
        pictureArea_->addChoice(button, c->explanation);
        column->addWidget(button, 0, Qt::AlignLeft);
    }
    column->addStretch(2);
    auto* home = back_ = new HoverButton(tr("Start Page"), this);
    home->setObjectName(back.objectName);
    home->setToolTip(tr("Back to the start page"));
    home->setUpPictures(QStringLiteral("home"), back.buttonID, false);
    pictureArea_->addChoice(home, back.kindExplanation);
    column->addWidget(home, 0, Qt::AlignLeft);
    row->addLayout(column, 1);
}
