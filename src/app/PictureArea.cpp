#include "app/PictureArea.h"

#include "app/AppImages.h"
#include "app/HoverButton.h"

#include <QLabel>

PictureArea::PictureArea(const QString& pictureName, const QString& overlayName, QWidget* parent)
    : QWidget(parent), picture_(new QLabel(this)), overlay_(new QLabel(this)) {
    setFixedSize(kSide, kSide);
    for (QLabel* label : {picture_, overlay_}) {
        label->setGeometry(0, 0, kSide, kSide);
        label->setAlignment(Qt::AlignCenter);
    }
    picture_->setObjectName(pictureName);
    overlay_->setObjectName(overlayName);
    // The overlay is mostly transparent; it must not swallow the pointer.
    overlay_->setAttribute(Qt::WA_TransparentForMouseEvents);
    overlay_->raise();
}

void PictureArea::addChoice(HoverButton* button, const QString& explanation) {
    choices_.push_back({button, explanation});
}

void PictureArea::showHoveredChoice() {
    for (const Choice& c : choices_) {
        if (!c.button->hovering()) continue;
        picture_->setPixmap(AppImages::imageNamed(QStringLiteral("wizard2")));
        overlay_->setPixmap(AppImages::imageNamed(c.explanation));
        return;
    }
}

void PictureArea::resetChoicesNotHovered() {
    for (const Choice& c : choices_)
        if (!c.button->hovering()) c.button->setImage(c.button->normalImage());
}
