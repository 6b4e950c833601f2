#pragma once

#include "app/RecoveryKindScreen.h"

// "Recover Photos": the fast photo recovery and the advanced photo recovery choices.
class RecoverPhotosScreen : public RecoveryKindScreen {
    Q_OBJECT
public:
    explicit RecoverPhotosScreen(QWidget* parent = nullptr);
};
