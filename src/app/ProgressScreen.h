#pragma once

#include "app/WizardScreen.h"

class BusyIndicator;
class ProgressIndicator;
class QPushButton;

// "Progress": a running scan: its status line, the bar, the share and the
// bytes done, the time remaining, what it has found so far and the times.
class ProgressScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit ProgressScreen(QWidget* parent = nullptr);

    // The status line.
    QLabel* textFieldStatus() const { return subtitleLabel(); }
    ProgressIndicator* progress() const { return progress_; }
    BusyIndicator* scanningProgressIndicator() const { return scanningProgressIndicator_; }
    QLabel* textFieldPercentDone() const { return textFieldPercentDone_; }
    QLabel* timeRemainingTextFieldForTree() const { return timeRemainingTextFieldForTree_; }
    QLabel* textFieldSizeDone() const { return textFieldSizeDone_; }
    // What has been found so far.
    QLabel* textFieldEntries() const { return textFieldEntries_; }
    QLabel* textFieldFolders() const { return textFieldFolders_; }
    QLabel* textFieldFiles() const { return textFieldFiles_; }
    QLabel* textFieldData() const { return textFieldData_; }
    QLabel* textFieldScanStartTime() const { return textFieldScanStartTime_; }
    QLabel* textFieldScanTimeElapsed() const { return textFieldScanTimeElapsed_; }
    QPushButton* buttonStopScan() const { return buttonStopScan_; }

private:
    ProgressIndicator* progress_;
    BusyIndicator* scanningProgressIndicator_;
    QLabel* textFieldPercentDone_;
    QLabel* timeRemainingTextFieldForTree_;
    QLabel* textFieldSizeDone_;
    QLabel* textFieldEntries_ = nullptr;
    QLabel* textFieldFolders_ = nullptr;
    QLabel* textFieldFiles_ = nullptr;
    QLabel* textFieldData_ = nullptr;
    QLabel* textFieldScanStartTime_;
    QLabel* textFieldScanTimeElapsed_;
    QPushButton* buttonStopScan_;
};
