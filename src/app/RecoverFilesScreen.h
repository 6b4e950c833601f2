#pragma once

#include "app/RecoveryKindScreen.h"

// "Recover Files": the fast file recovery and the advanced file recovery choices.
class RecoverFilesScreen : public RecoveryKindScreen {
    Q_OBJECT
public:
    explicit RecoverFilesScreen(QWidget* parent = nullptr);
};
