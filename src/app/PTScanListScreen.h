#pragma once

#include "app/WizardScreen.h"

// "PT scan list": the volumes that the search of the whole disk found, with
// their place on the disk and how intact they are.
class PTScanListScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit PTScanListScreen(QWidget* parent = nullptr);
};
