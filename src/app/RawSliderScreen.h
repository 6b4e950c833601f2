#pragma once

#include "app/WizardScreen.h"

// "Raw slider": where on the drive the search starts and ends, in percent of
// the drive, each with the place it stands for.
class RawSliderScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit RawSliderScreen(QWidget* parent = nullptr);

    // The sliders count in tenths of a percent.
    static constexpr int kSliderSteps = 1000;
};
