#include "app/MovieView.h"

#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

MovieView::MovieView(QWidget* parent) : QWidget(parent), sink_(new QVideoSink(this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(sink_, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
        frame_ = frame.isValid() ? frame.toImage() : QImage();
        update();
    });
}

void MovieView::clear() {
    frame_ = QImage();
    update();
}

void MovieView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (frame_.isNull() || width() <= 0 || height() <= 0) return;
    const QSize fitted = frame_.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, frame_);
}
