#pragma once

#include "app/WizardScreen.h"

class QCheckBox;
class QPushButton;
class QTableView;

// "PT list": the partitions of the chosen disk, and the choice to search the
// whole disk for volumes whose partition entry is gone.
class PTListScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit PTListScreen(QWidget* parent = nullptr);

    // What the empty list says: that the disk has no partition table the
    // program reads, or that its table holds partitions of other kinds only;
    // first, when some of the table's sectors could not be read, that too.
    static QString emptyListText(bool otherPartitions, bool unreadableSectors);

    QTableView* tableViewPTList() const { return tableViewPTList_; }
    QLabel* textFieldEmptyPTList() const { return textFieldEmptyPTList_; }
    QCheckBox* buttonPTListCheckBoxScanForVolumes() const { return buttonPTListCheckBoxScanForVolumes_; }
    QPushButton* buttonPTListBack() const { return buttonPTListBack_; }
    QPushButton* buttonPTListNext() const { return buttonPTListNext_; }
    // No partition chosen and no search of the whole disk: the list as it
    // is come back to.
    void clearChoice();

private:
    QTableView* tableViewPTList_;
    QLabel* textFieldEmptyPTList_;
    QCheckBox* buttonPTListCheckBoxScanForVolumes_;
    QPushButton* buttonPTListBack_;
    QPushButton* buttonPTListNext_;
};
