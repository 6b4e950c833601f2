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
    auto* table = makeTable(QStringLiteral("tableViewPTList"), {tr("Drives")}, this);
    table->horizontalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(80);
    content()->addWidget(table, 1);
    auto* empty = makeLabel(QStringLiteral("textFieldEmptyPTList"), emptyListText(false), "value", this);
    empty->setWordWrap(true);
    empty->hide();
    content()->addWidget(empty);
    auto* searchAll = new QCheckBox(tr("Search the whole disk for lost volumes"), this);
    searchAll->setObjectName(QStringLiteral("buttonPTListCheckBoxScanForVolumes"));
    content()->addWidget(searchAll);

    addHomeButton(QStringLiteral("buttonGoToHomeFromPTListTab"), 17);
    addHelpButton(QStringLiteral("buttonHelpPTListTab"), QStringLiteral("partitions"));
    addStepButton(tr("Back"), QStringLiteral("buttonPTListBack"));
    addStepButton(tr("Next"), QStringLiteral("buttonPTListNext"), true);
}

QString PTListScreen::emptyListText(bool otherPartitions) {
    if (otherPartitions)
        return tr("No HFS/HFS+ partition was found on this disk: its partitions hold other file systems, which "
                  "the other kinds of recovery offer as volumes. Tick the box below to search the whole disk for "
                  "HFS+ volumes whose partition entry is gone.");
    return tr("No partition was found on this disk. Tick the box below to search the whole disk for volumes whose "
              "partition entry is gone.");
}
