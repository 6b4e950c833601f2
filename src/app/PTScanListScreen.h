#pragma once

#include "app/WizardScreen.h"

class QPushButton;
class QTableView;

// "PT scan list": the volumes that the search of the whole disk found, with
// their place on the disk and how intact they are.
class PTScanListScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit PTScanListScreen(QWidget* parent = nullptr);

    QLabel* textFieldNumFoundVolumes() const { return textFieldNumFoundVolumes_; }
    QTableView* tableViewScanPTList() const { return tableViewScanPTList_; }
    QLabel* textFieldEmptyPTScanList() const { return textFieldEmptyPTScanList_; }
    QPushButton* buttonPTScanListBack() const { return buttonPTScanListBack_; }
    QPushButton* buttonPTScanListNext() const { return buttonPTScanListNext_; }
    // The list come back to: how many volumes it holds, none chosen.
    void showAgain(std::size_t volumesFound);

private:
    QLabel* textFieldNumFoundVolumes_;
    QTableView* tableViewScanPTList_;
    QLabel* textFieldEmptyPTScanList_;
    QPushButton* buttonPTScanListBack_;
    QPushButton* buttonPTScanListNext_;
};
