#pragma once

#include <QTimer>
#include <QWidget>

// The small spinning wheel shown while something runs whose end nobody can
// tell (validating a found volume, a find walk, the scan itself). It is
// invisible while stopped, so a finished task leaves no still wheel behind.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return timer_.isActive(); }

    QSize sizeHint() const override { return {20, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int step_ = 0;
};
