#include "app/ProgressIndicator.h"

#include <cmath>

ProgressIndicator::ProgressIndicator(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    setRange(0, kBarScale);
    setValue(0);
}

void ProgressIndicator::setIndeterminate(bool indeterminate) {
    indeterminate_ = indeterminate;
    apply();
}

void ProgressIndicator::startAnimation() {
    animating_ = true;
    apply();
}

void ProgressIndicator::stopAnimation() {
    animating_ = false;
    apply();
}

void ProgressIndicator::setMinValue(double v) {
    min_ = v;
    apply();
}

void ProgressIndicator::setMaxValue(double v) {
    max_ = v;
    apply();
}

void ProgressIndicator::setDoubleValue(double v) {
    value_ = v;
    apply();
}

void ProgressIndicator::incrementBy(double delta) {
    value_ += delta;
    apply();
}

void ProgressIndicator::apply() {
    if (indeterminate_) {
        // An empty range is Qt's moving "busy" bar; a stopped one rests empty.
        if (animating_)
            setRange(0, 0);
        else {
            setRange(0, kBarScale);
            setValue(0);
        }
        return;
    }
    setRange(0, kBarScale);
    double fraction = max_ > min_ ? (value_ - min_) / (max_ - min_) : 0.0;
    if (!(fraction >= 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    setValue(static_cast<int>(std::lround(fraction * kBarScale)));
}
