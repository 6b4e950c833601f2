#pragma once

#include <QProgressBar>

// A progress bar that takes the engine's numbers as they come: minimum,
// maximum and value are doubles (block and byte counts beyond 2^31), mapped
// onto the bar's int range for display; increments add to the true value, so
// many small steps add up exactly as they would on the real scale. It can be
// indeterminate, and then it moves only while it is animating.
class ProgressIndicator : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressIndicator(QWidget* parent = nullptr);

    void setIndeterminate(bool indeterminate);
    bool isIndeterminate() const { return indeterminate_; }
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return animating_; }

    void setMinValue(double v);
    void setMaxValue(double v);
    void setDoubleValue(double v);
    void incrementBy(double delta);
    double minValue() const { return min_; }
    double maxValue() const { return max_; }
    double doubleValue() const { return value_; }

    // The bar's own int range that the true range is mapped onto.
    static constexpr int kBarScale = 1000000;

private:
    void apply();

    double min_ = 0.0, max_ = 100.0, value_ = 0.0;
    bool indeterminate_ = false;
    bool animating_ = false;
};
