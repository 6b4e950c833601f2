#pragma once

#include "app/WizardScreen.h"

// "PT list": the partitions of the chosen disk, and the choice to search the
// whole disk for volumes whose partition entry is gone.
class PTListScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit PTListScreen(QWidget* parent = nullptr);
};
