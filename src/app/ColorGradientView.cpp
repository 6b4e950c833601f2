#include "app/ColorGradientView.h"

#include <QPainter>
#include <algorithm>

ColorGradientView::ColorGradientView(QWidget* parent) : QWidget(parent) {}

void ColorGradientView::setImage(const QPixmap& image) {
    image_ = image;
    update();
}

void ColorGradientView::setNumMarkedSig(int marked, int total) {
    numMarkedSig_ = marked;
    numTotalSig_ = total;
    update();
}

int ColorGradientView::markedWidth() const {
    // An empty list has no share to show: the whole bar is covered.
    if (numTotalSig_ <= 0) return 0;
    const float unit = static_cast<float>(width()) / static_cast<float>(numTotalSig_);
    return std::clamp(static_cast<int>(unit * static_cast<float>(numMarkedSig_)), 0, width());
}

void ColorGradientView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!image_.isNull()) painter.drawPixmap(rect(), image_);
    const int position = markedWidth();
    painter.fillRect(QRect(position, 0, width() - position, height()),
                     palette().color(QPalette::Inactive, QPalette::Midlight));
}
