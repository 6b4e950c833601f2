#include "app/PTListScreen.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

PTListScreen::PTListScreen(QWidget* parent)
    : WizardScreen(tr("Partitions"),
                   tr("Select the partition to recover from, or search the whole disk for lost volumes."), parent) {
    tableViewPTList_ = makeTable(QStringLiteral("tableViewPTList"), {tr("Drives")}, this);
    tableViewPTList_->horizontalHeader()->hide();
    tableViewPTList_->verticalHeader()->setDefaultSectionSize(80);
    content()->addWidget(tableViewPTList_, 1);
    textFieldEmptyPTList_ =
        makeLabel(QStringLiteral("textFieldEmptyPTList"), emptyListText(false, false), "value", this);
    textFieldEmptyPTList_->setWordWrap(true);
    textFieldEmptyPTList_->hide();
    content()->addWidget(textFieldEmptyPTList_);
    buttonPTListCheckBoxScanForVolumes_ = new QCheckBox(tr("Search the whole disk for lost volumes"), this);
    buttonPTListCheckBoxScanForVolumes_->setObjectName(QStringLiteral("buttonPTListCheckBoxScanForVolumes"));
    content()->addWidget(buttonPTListCheckBoxScanForVolumes_);

    addHomeButton(QStringLiteral("buttonGoToHomeFromPTListTab"), 17);
    addHelpButton(QStringLiteral("buttonHelpPTListTab"), QStringLiteral("partitions"));
    buttonPTListBack_ = addStepButton(tr("Back"), QStringLiteral("buttonPTListBack"));
    buttonPTListNext_ = addStepButton(tr("Next"), QStringLiteral("buttonPTListNext"), true);
}

void PTListScreen::clearChoice() {
    buttonPTListCheckBoxScanForVolumes_->setChecked(false);
    tableViewPTList_->clearSelection();
}

QString PTListScreen::emptyListText(bool otherPartitions, bool unreadableSectors) {
    // A partition whose entry lay only there is missing from the list.
    if (unreadableSectors)
        return tr("Sectors of this disk's partition table could not be read. ") + emptyListText(otherPartitions, false);
    if (otherPartitions)
        return tr("No HFS/HFS+ partition was found on this disk: its partitions hold other file systems, which "
                  "the other kinds of recovery offer as volumes. Tick the box below to search the whole disk for "
                  "HFS+ volumes whose partition entry is gone.");
    return tr("No partition was found on this disk. Tick the box below to search the whole disk for volumes whose "
              "partition entry is gone.");
}
