#pragma once

#include "app/WizardScreen.h"

// "PT scan prog": the search of a whole disk for lost volumes while it runs:
// its progress, its times, the volume being validated and the volumes found
// so far.
class PTScanProgressScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit PTScanProgressScreen(QWidget* parent = nullptr);
};
