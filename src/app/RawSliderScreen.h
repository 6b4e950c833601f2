#pragma once

#include "app/WizardScreen.h"

class QPushButton;
class QSlider;

// "Raw slider": where on the drive the search starts and ends, in percent of
// the drive, each with the place it stands for.
class RawSliderScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit RawSliderScreen(QWidget* parent = nullptr);

    // The sliders count in tenths of a percent.
    static constexpr int kSliderSteps = 1000;

    QLabel* textFieldSizeOfRawScanDrvVol() const { return textFieldSizeOfRawScanDrvVol_; }
    QSlider* sliderStart() const { return sliderStart_; }
    QSlider* sliderEnd() const { return sliderEnd_; }
    // Each slider's place: its percent and the size it stands for.
    QLabel* textFieldStartSliderStatus() const { return textFieldStartSliderStatus_; }
    QLabel* textFieldEndSliderStatus() const { return textFieldEndSliderStatus_; }
    QPushButton* buttonRawSliderBack() const { return buttonRawSliderBack_; }
    QPushButton* buttonRawSliderNext() const { return buttonRawSliderNext_; }

private:
    QLabel* textFieldSizeOfRawScanDrvVol_;
    QSlider* sliderStart_ = nullptr;
    QSlider* sliderEnd_ = nullptr;
    QLabel* textFieldStartSliderStatus_ = nullptr;
    QLabel* textFieldEndSliderStatus_ = nullptr;
    QPushButton* buttonRawSliderBack_;
    QPushButton* buttonRawSliderNext_;
};
