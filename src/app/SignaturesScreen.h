#pragma once

#include "app/WizardScreen.h"

// "Signatures": the file types to search for, by category, with their
// counts, the find, the editing of user types, the estimated speed and the
// choice to narrow the search to a part of the drive.
class SignaturesScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit SignaturesScreen(QWidget* parent = nullptr);
};
