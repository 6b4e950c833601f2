#pragma once

#include "app/WizardScreen.h"

class BusyIndicator;
class ProgressIndicator;
class QPushButton;
class QTableWidget;

// "PT scan prog": the search of a whole disk for lost volumes while it runs:
// its progress, its times, the volume being validated and the volumes found
// so far.
class PTScanProgressScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit PTScanProgressScreen(QWidget* parent = nullptr);

    ProgressIndicator* progressIndicatorScanForVolumes() const { return progressIndicatorScanForVolumes_; }
    QLabel* textFieldScanForVolumesStartTime() const { return textFieldScanForVolumesStartTime_; }
    QLabel* textFieldScanForVolumesTimeElapsed() const { return textFieldScanForVolumesTimeElapsed_; }
    QLabel* textFieldETAScanForVolumes() const { return textFieldETAScanForVolumes_; }
    // The volume being validated: its caption, its time remaining, its spinner.
    QLabel* pleaseWaitForValidatingVolumeTextField() const { return pleaseWaitForValidatingVolumeTextField_; }
    QLabel* textFieldETAValidityScan() const { return textFieldETAValidityScan_; }
    BusyIndicator* progressIndicatorScanForVolumesValidityScan() const {
        return progressIndicatorScanForVolumesValidityScan_;
    }
    QTableWidget* tableViewScanForVolumes() const { return tableViewScanForVolumes_; }
    QPushButton* buttonStopScanForVolumes() const { return buttonStopScanForVolumes_; }

private:
    ProgressIndicator* progressIndicatorScanForVolumes_;
    QLabel* textFieldScanForVolumesStartTime_;
    QLabel* textFieldScanForVolumesTimeElapsed_;
    QLabel* textFieldETAScanForVolumes_;
    QLabel* pleaseWaitForValidatingVolumeTextField_;
    QLabel* textFieldETAValidityScan_;
    BusyIndicator* progressIndicatorScanForVolumesValidityScan_;
    QTableWidget* tableViewScanForVolumes_;
    QPushButton* buttonStopScanForVolumes_;
};
