#pragma once

#include "app/WizardScreen.h"

// "Tree scan mode": how the folders of a chosen partition are rebuilt, from
// its catalog as it stands or by searching the volume for catalog fragments.
class TreeScanModeScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit TreeScanModeScreen(QWidget* parent = nullptr);
};
