#pragma once

#include "app/WizardScreen.h"

class QPushButton;
class QTableView;

// "Drives List": the disks and volumes that the chosen kind of recovery can
// scan, one row each; the heading says which of them to pick.
class DrivesListScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit DrivesListScreen(QWidget* parent = nullptr);

    QTableView* tableViewDrives() const { return tableViewDrives_; }
    QLabel* textFieldHeadingDriveListTab() const { return subtitleLabel(); }
    // The heading for what the list offers: 0 volumes, 1 disks, 2 disks
    // each followed by its volumes; nothing for any other number.
    void showHeading(int drvOrVolOrBoth);
    // What would fill the list, while it has no row.
    QLabel* textFieldEmptyDrivesList() const { return textFieldEmptyDrivesList_; }
    QPushButton* buttonRefreshDrivesList() const { return buttonRefreshDrivesList_; }
    QPushButton* backButtonInDrivesList() const { return backButtonInDrivesList_; }
    QPushButton* nextButtonInDrivesList() const { return nextButtonInDrivesList_; }

private:
    QTableView* tableViewDrives_;
    QLabel* textFieldEmptyDrivesList_;
    QPushButton* buttonRefreshDrivesList_;
    QPushButton* backButtonInDrivesList_;
    QPushButton* nextButtonInDrivesList_;
};
