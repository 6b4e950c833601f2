#pragma once

#include "app/WizardScreen.h"

// "Drives List": the disks and volumes that the chosen kind of recovery can
// scan, one row each; the heading says which of them to pick.
class DrivesListScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit DrivesListScreen(QWidget* parent = nullptr);
};
