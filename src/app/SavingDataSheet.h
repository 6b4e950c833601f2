#pragma once

#include "app/SheetWindow.h"

class ProgressIndicator;
class QPushButton;

// The sheet shown while marked files are written to the destination: how
// much is saved, for how long, and the button that stops it.
class SavingDataSheet : public SheetWindow {
    Q_OBJECT
public:
    explicit SavingDataSheet(QWidget* parent = nullptr);

    ProgressIndicator* progressTree() const { return progressTree_; }
    QLabel* textFieldSavedData() const { return textFieldSavedData_; }
    QPushButton* stopSaveButton() const { return stopSaveButton_; }

private:
    ProgressIndicator* progressTree_;
    QLabel* textFieldSavedData_;
    QPushButton* stopSaveButton_;
};
