#pragma once

#include "app/SheetWindow.h"

// The sheet shown while marked files are written to the destination: how
// much is saved, for how long, and the button that stops it.
class SavingDataSheet : public SheetWindow {
    Q_OBJECT
public:
    explicit SavingDataSheet(QWidget* parent = nullptr);
};
