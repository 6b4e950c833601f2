#pragma once

#include "app/SheetWindow.h"

class ProgressIndicator;
class QPushButton;

// The sheet shown while marked files are written to the destination: how
// much is saved, for how long, and the button that stops it. Its message line
// says which pass of the save runs; each save begins with the first's.
class SavingDataSheet : public SheetWindow {
    Q_OBJECT
public:
    explicit SavingDataSheet(QWidget* parent = nullptr);

    ProgressIndicator* progressTree() const { return progressTree_; }
    QLabel* textFieldSavedData() const { return textFieldSavedData_; }
    QPushButton* stopSaveButton() const { return stopSaveButton_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The message line as tall as the longest message it shows needs, the
    // first pass's set.
    void keepRoomForEveryMessage();

    QString firstMessage_;
    ProgressIndicator* progressTree_;
    QLabel* textFieldSavedData_;
    QPushButton* stopSaveButton_;
};
