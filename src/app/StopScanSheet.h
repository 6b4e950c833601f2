#pragma once

#include "app/SheetWindow.h"

class QPushButton;

// The question before a running scan or search is stopped.
class StopScanSheet : public SheetWindow {
    Q_OBJECT
public:
    explicit StopScanSheet(QWidget* parent = nullptr);

    QPushButton* stopButton() const { return stop_; }
    QPushButton* continueButton() const { return continue_; }

private:
    QPushButton* continue_;
    QPushButton* stop_;
};
