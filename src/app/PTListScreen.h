#pragma once

#include "app/WizardScreen.h"

// "PT list": the partitions of the chosen disk, and the choice to search the
// whole disk for volumes whose partition entry is gone.
class PTListScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit PTListScreen(QWidget* parent = nullptr);

    // What the empty list says: that the disk has no partition table the
    // program reads, or that its table holds partitions of other kinds only.
    static QString emptyListText(bool otherPartitions);
};
