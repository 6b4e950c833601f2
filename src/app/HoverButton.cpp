#include "app/HoverButton.h"

#include "app/AppImages.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"

#include <QCursor>
#include <QEnterEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

HoverButton::HoverButton(const QString& title, QWidget* parent) : QPushButton(title, parent) {
    setCursor(Qt::PointingHandCursor);
    setFlat(true);
    setFocusPolicy(Qt::TabFocus);
    // The title stays the button's name for screen readers and tooltips
    // even while a picture, which carries its own lettering, is shown.
    setAccessibleName(title);
}

void HoverButton::setUpPictures(const QString& prefix, int buttonID, bool resetWhenNotHovering) {
    setImageNormal(AppImages::imageNamed(prefix + QStringLiteral("-normal")),
                   AppImages::imageNamed(prefix + QStringLiteral("-hover")));
    setImage(normalImage_);
    buttonID_ = buttonID;
    resetImageWhenNotHovering_ = resetWhenNotHovering;
}

void HoverButton::setImageNormal(const QPixmap& normal, const QPixmap& hover) {
    normalImage_ = normal;
    hoverImage_ = hover;
    resetImageWhenNotHovering_ = true;
    hovering_ = false;
}

void HoverButton::setAlternateImageNormal(const QPixmap& normal, const QPixmap& hover) {
    normalAlternateImage_ = normal;
    hoverAlternateImage_ = hover;
    hovering_ = false;
}

void HoverButton::setImage(const QPixmap& image) {
    const bool resized = image.size() != image_.size() || image.isNull() != image_.isNull();
    image_ = image;
    if (resized) updateGeometry();
    update();
}

void HoverButton::mouseEntered(QEvent*) {
    hovering_ = true;
    setImage(alternateImagesState_ ? hoverAlternateImage_ : hoverImage_);
    if (buttonID_ < 1 || buttonID_ > 12) return;
    auto* delegate = Quelvar_Recovery_SoftwareAppDelegate::shared();
    if (!delegate) return;
    if (buttonID_ <= 3) {
        delegate->changeMainScreenImages();
        delegate->resetMainScreenImages();
    } else if (buttonID_ <= 6) {
        delegate->changeRecoverFilesTabImages();
        delegate->resetRecoverFilesTabImages();
    } else if (buttonID_ <= 9) {
        delegate->changeRecoverPhotosTabImages();
        delegate->resetRecoverPhotosTabImages();
    } else {
        delegate->changeRecoverPartitionsTabImages();
        delegate->resetRecoverPartitionsTabImages();
    }
}

void HoverButton::mouseExited(QEvent*) {
    hovering_ = false;
    if (resetImageWhenNotHovering_) setImage(alternateImagesState_ ? normalAlternateImage_ : normalImage_);
}

void HoverButton::resetButton() {
    mouseExited(nullptr);
}

void HoverButton::updateTrackingAreas() {
    if (!isVisible()) return;
    const bool inside = rect().contains(mapFromGlobal(QCursor::pos()));
    // Only a change of side counts: a still pointer must not keep resetting
    // pictures that the screen has chosen since.
    if (inside && !hovering_)
        mouseEntered(nullptr);
    else if (!inside && hovering_)
        mouseExited(nullptr);
}

void HoverButton::enterEvent(QEnterEvent* event) {
    mouseEntered(event);
}

void HoverButton::leaveEvent(QEvent* event) {
    mouseExited(event);
}

void HoverButton::resizeEvent(QResizeEvent* event) {
    QPushButton::resizeEvent(event);
    updateTrackingAreas();
}

void HoverButton::moveEvent(QMoveEvent* event) {
    QPushButton::moveEvent(event);
    updateTrackingAreas();
}

QSize HoverButton::sizeHint() const {
    if (!image_.isNull()) return image_.deviceIndependentSize().toSize();
    if (!normalImage_.isNull()) return normalImage_.deviceIndependentSize().toSize();
    return QPushButton::sizeHint();
}

QSize HoverButton::minimumSizeHint() const {
    if (!image_.isNull() || !normalImage_.isNull()) return sizeHint();
    return QPushButton::minimumSizeHint();
}

void HoverButton::paintEvent(QPaintEvent* event) {
    if (image_.isNull()) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    // Pressing highlights nothing: the picture is the whole button.
    if (!isEnabled()) p.setOpacity(0.45);
    const QSizeF size = image_.deviceIndependentSize();
    const QPointF at((width() - size.width()) / 2.0, (height() - size.height()) / 2.0);
    p.drawPixmap(at, image_);
    if (hasFocus() && focusPolicy() != Qt::NoFocus) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}
