#include "app/PTScanListScreen.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

PTScanListScreen::PTScanListScreen(QWidget* parent)
    : WizardScreen(tr("Volumes Found"), tr("Select the volume to recover from. More stars: more of it is intact."),
                   parent) {
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(makeLabel(QString(), tr("Volumes found:"), "caption", this));
    countRow->addWidget(makeLabel(QStringLiteral("textFieldNumFoundVolumes"), QString(), "value", this));
    countRow->addStretch(1);
    content()->addLayout(countRow);
    auto* table = makeTable(QStringLiteral("tableViewScanPTList"), {tr("Drives")}, this);
    table->horizontalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(110);
    content()->addWidget(table, 1);
    auto* empty = makeLabel(QStringLiteral("textFieldEmptyPTScanList"),
                            tr("No lost volume was found on this disk. Go back to choose a partition, or start "
                               "again from the start page with another kind of recovery."),
                            "value", this);
    empty->setWordWrap(true);
    empty->hide();
    content()->addWidget(empty);

    addHomeButton(QStringLiteral("buttonGoToHomeFromPTScanListTab"), 18);
    addHelpButton(QStringLiteral("buttonHelpPTScanListTab"), QStringLiteral("lost-volumes"));
    addStepButton(tr("Back"), QStringLiteral("buttonPTScanListBack"));
    addStepButton(tr("Next"), QStringLiteral("buttonPTScanListNext"), true);
}
