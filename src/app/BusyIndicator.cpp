#include "app/BusyIndicator.h"

#include <QPainter>
#include <cmath>

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 12;
        update();
    });
}

void BusyIndicator::startAnimation() {
    timer_.start();
    update();
}

void BusyIndicator::stopAnimation() {
    timer_.stop();
    update();
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    if (!timer_.isActive()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double outer = std::min(width(), height()) / 2.0 - 1.0;
    QColor colour = palette().color(QPalette::Highlight);
    for (int i = 0; i < 12; ++i) {
        const double angle = (i * 30.0) * M_PI / 180.0;
        // The spoke the wheel has just reached is darkest; the others fade.
        const int age = (step_ - i + 12) % 12;
        colour.setAlphaF(1.0 - age / 13.0);
        QPen pen(colour, 2.0);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        const QPointF dir(std::sin(angle), -std::cos(angle));
        p.drawLine(centre + dir * outer * 0.45, centre + dir * outer);
    }
}
