#pragma once

#include "app/WizardScreen.h"

class QAbstractButton;
class QPushButton;

// "Tree scan mode": how the folders of a chosen partition are rebuilt, from
// its catalog as it stands or by searching the volume for catalog fragments.
class TreeScanModeScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit TreeScanModeScreen(QWidget* parent = nullptr);

    QAbstractButton* buttonTreeScanModeStd() const { return buttonTreeScanModeStd_; }
    QAbstractButton* buttonTreeScanModeAdv() const { return buttonTreeScanModeAdv_; }
    QPushButton* buttonTreeScanModeBack() const { return buttonTreeScanModeBack_; }

private:
    QAbstractButton* buttonTreeScanModeStd_;
    QAbstractButton* buttonTreeScanModeAdv_;
    QPushButton* buttonTreeScanModeBack_;
};
