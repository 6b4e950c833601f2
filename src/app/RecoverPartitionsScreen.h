#pragma once

#include "app/RecoveryKindScreen.h"

// "Recover Partitions": the partition recovery and the formatted / reformatted recovery choices.
class RecoverPartitionsScreen : public RecoveryKindScreen {
    Q_OBJECT
public:
    explicit RecoverPartitionsScreen(QWidget* parent = nullptr);
};
