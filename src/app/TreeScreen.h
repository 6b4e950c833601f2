#pragma once

#include "app/WizardScreen.h"

// "Tree": what the scan found, as an outline of folders and files to mark,
// find, preview and save, with the totals and the session saving.
class TreeScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit TreeScreen(QWidget* parent = nullptr);
};
