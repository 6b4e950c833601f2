#pragma once

#include "app/WizardScreen.h"

// "Progress": a running scan: its status line, the bar, the share and the
// bytes done, the time remaining, what it has found so far and the times.
class ProgressScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit ProgressScreen(QWidget* parent = nullptr);
};
